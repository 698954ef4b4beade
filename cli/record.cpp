#include "cli/record.h"

#include <algorithm>
#include <chrono>
#include <iostream>
#include <thread>

#include "cli/cli_report.h"
#include "cli/exit_status.h"
#include "common/disk_path.h"
#include "config/load_init.h"
#include "config/module_binding.h"
#include "link/link_globals.h"
#include "link/session.h"
#include "screenlogic/graphs.h"
#include "screenlogic/sessions.h"

namespace kestrel::cli {

namespace {

// The row of one list item, as a selector item; -1 when none matches.
int ItemOf(const std::string& text, const ParameterTable& rows) {
  if (text == "-") return 0;
  const std::size_t slash = text.find('/');
  const std::string_view code = std::string_view(text).substr(0, slash);
  const std::string_view selector =
      slash == std::string::npos ? std::string_view() : std::string_view(text).substr(slash + 1);
  if (rows.Empty()) return -1;
  const int count = std::clamp(rows.RowCount, 0, kMaxRows);
  for (int r = 0; r < count; ++r) {
    const ParameterRow& row = rows.Rows[r];
    if (!SameNameIgnoringCase(WithoutLeadingBlank(row.Cells[kColCode]), code)) continue;
    const std::string_view own = row.Cells[kColSelector];
    if (!selector.empty() &&
        !SameNameIgnoringCase(own.substr(own.size() - std::min<std::size_t>(2, own.size())),
                              selector)) {
      continue;
    }
    return r + 1;
  }
  return -1;
}

}  // namespace

bool ChannelItems(const std::string& list, const ParameterTable& rows,
                  std::array<int, kGraphChannels>& items, std::string& error) {
  items.fill(0);
  if (list.empty()) {
    const int count = rows.Empty() ? 0 : std::clamp(rows.RowCount, 0, kGraphChannels);
    for (int c = 0; c < count; ++c) items[c] = c + 1;
    return true;
  }
  std::size_t from = 0;
  for (int c = 0;; ++c) {
    const std::size_t comma = list.find(',', from);
    const std::string item = list.substr(from, comma == std::string::npos ? comma : comma - from);
    if (c == kGraphChannels) {
      error = "--channels takes at most 8 channels";
      return false;
    }
    items[c] = ItemOf(item, rows);
    if (items[c] < 0) {
      error = "--channels: no live-data row " + item;
      return false;
    }
    if (comma == std::string::npos) return true;
    from = comma + 1;
  }
}

int Record(const Options& options, const std::atomic<bool>& interrupted) {
  using Clock = std::chrono::steady_clock;
  std::array<int, kGraphChannels> items{};
  std::string error;
  if (!ChannelItems(options.Channels, LiveRows, items, error)) {
    std::cerr << "kestrel-cli: " << error << "\n";
    return kExitConfig;
  }
  GraphChannelKeys keys;
  for (int c = 0; c < kGraphChannels; ++c) keys[c] = ChannelKeyOf(items[c], LiveRows);
  if (std::none_of(keys.begin(), keys.end(), [](const auto& k) { return k.has_value(); })) {
    std::cerr << "kestrel-cli: no channel to record\n";
    return kExitConfig;
  }

  // The user's name (UTF-8) in the program's own form.
  const std::string file = FromDiskPath(options.File);
  UpdateChannelRequests(RequestTables[kLiveTable], keys);
  StartGraphPolling();
  GraphsLogic logic;
  logic.GrafInit();
  bool recording = false;
  bool created = true;
  const auto limit = std::chrono::seconds(options.Seconds);
  Clock::time_point started{};
  auto tick = Clock::now();
  // The graphs window's tick: recording starts as soon as its record button
  // would be usable and ends when the link leaves the exchange.
  for (;;) {
    const std::uint16_t status = LinkStatus.load();
    const GraphControls c = GraphTickControls(status, RecordEnabled.load(), 0, 0, RunFlag.load());
    if (c.EndRecording) RecordEnabled.store(0);
    if (!recording && c.Record == Enable::On) {
      if (!StartRecording(file, RecordingHeader(keys, LinkSettings.P2, LinkSettings.P3), error)) {
        created = false;
        break;
      }
      recording = true;
      started = Clock::now();
    }
    if (c.Sample) logic.SampleAndDraw(keys, ResponseBlock, VehicleModule.PIDVAL);
    if (NoLink(status) || (recording && RecordEnabled.load() == 0) || interrupted.load()) break;
    if (recording && options.Seconds != 0 && Clock::now() - started >= limit) break;
    tick += std::chrono::milliseconds(kGraphTickMs);
    std::this_thread::sleep_until(tick);
  }
  // The last responses of the pass in progress are still recorded.
  RunFlag.store(0);
  while (!WaitLinkIdle(100)) {
    if (interrupted.load()) StopSession();
  }
  RecordEnabled.store(0);
  StopSession();

  if (!created) {
    std::cerr << "kestrel-cli: " << Utf8(error) << "\n";
    return kExitExport;
  }
  if (recording) {
    RtdReader reader;
    const std::size_t records = reader.Open(ToDiskPath(file), error) ? reader.RecordCount() : 1;
    std::cout << "Записан файл " << Utf8(file) << ", записей: " << records - 1 << "\n";
    for (int c = 0; c < kGraphChannels; ++c) {
      if (items[c] == 0) continue;
      std::cout << c + 1 << "\t" << RowLine(LiveRows.Rows[items[c] - 1], logic.Labels(c).Value)
                << "\n";
    }
  }
  if (LinkStatus.load() == lsError || LinkError.load() != 0) {
    std::cerr << Utf8(CurrentLinkStatusText()) << "\n";
    return kExitLink;
  }
  return kExitOk;
}

}  // namespace kestrel::cli
