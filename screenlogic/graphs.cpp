#include "screenlogic/graphs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>

#include "common/disk_path.h"
#include "link/link_globals.h"
#include "module/response_store.h"
#include "screenlogic/export.h"

namespace kestrel {

namespace {

Enable On(bool on) {
  return on ? Enable::On : Enable::Off;
}

bool Exchanging(std::uint16_t status) {
  return status == lsFirstPass || status == lsExchange;
}

// A module value as the charts take it: a number that is not finite counts
// as 0, and one beyond +-1e15 as that bound, so that scales, rows and labels
// stay finite numbers.
double ChartValue(double v) {
  constexpr double kLimit = 1e15;
  if (!std::isfinite(v)) return 0.0;
  return std::clamp(v, -kLimit, kLimit);
}

}  // namespace

// ---------------------------------------------------------------- channels

std::optional<ParameterKey> ChannelKeyOf(int item, const ParameterTable& rows) {
  const int row = item - 1;
  if (row < 0 || row >= std::clamp(rows.RowCount, 0, kMaxRows) || rows.Empty()) return {};
  return RowKeys::Live().Of(rows.Rows[row]);
}

GraphChannelKeys SelectedChannelKeys(const std::array<GraphChannelList, kGraphChannels>& lists,
                                     const ParameterTable& rows) {
  GraphChannelKeys keys;
  for (int c = 0; c < kGraphChannels; ++c) keys[c] = ChannelKeyOf(lists[c].Selected, rows);
  return keys;
}

std::string ChannelUnit(int item, const ParameterTable& rows) {
  if (!ChannelKeyOf(item, rows)) return "-";
  return rows.Rows[item - 1].Cells[kColUnit];
}

int MatchChannel(const ChannelDescriptor& descriptor, const ParameterTable& rows, int itemCount) {
  if (rows.Empty()) return 0;
  const int row = LiveRowOf(descriptor, rows);
  return row >= 0 && row + 1 < itemCount ? row + 1 : 0;
}

// ---------------------------------------------------------------- the tick

GraphControls GraphTickControls(std::uint16_t status, std::uint8_t recordEnabled,
                                std::uint8_t playing, std::uint8_t exportBusy,
                                std::uint8_t runFlag) {
  GraphControls c;
  if (Exchanging(status)) {
    c.Record = On(recordEnabled == 0);
    c.Stop = On(recordEnabled != 0);
  } else {
    c.Record = Enable::Off;
    c.EndRecording = recordEnabled != 0;
  }
  if (NoLink(status)) {
    // An export replays a recording through the response store: no other
    // file choice, export or playback meanwhile.
    c.Open = c.Play = c.Selectors = c.Export = On(playing == 0 && exportBusy == 0);
    c.Stop = On(playing != 0);
  } else {
    c.Open = c.Export = c.Play = c.Selectors = Enable::Off;
    c.EndPlaying = playing != 0;
    playing = 0;
  }
  // Nor a link session: its receiver would write the store under the export.
  if (exportBusy != 0) {
    c.StartStop = Enable::Off;
  } else if (status == lsIdle || status == lsExchange || status == lsError) {
    c.StartStop = Enable::On;
  }
  c.Exit = On(NoLink(status));
  c.StopPolling = status == lsError && runFlag != 0;
  c.Pause = On(playing != 0);
  c.Sample = Exchanging(status) || playing != 0;
  return c;
}

// ---------------------------------------------------------------- recording

std::string RecordingName(const std::tm& when) {
  auto two = [](int v) {
    v = ((v % 100) + 100) % 100;
    return std::string{static_cast<char>('0' + v / 10), static_cast<char>('0' + v % 10)};
  };
  return two(when.tm_mday) + two(when.tm_mon + 1) + two(when.tm_year + 1900) + "_" +
         two(when.tm_hour) + two(when.tm_min) + two(when.tm_sec) + ".rtd";
}

std::string RecordingPath(const std::tm& when) {
  std::string folder;
  char cwd[PATH_MAX];
  if (::getcwd(cwd, sizeof cwd) != nullptr) folder = FromDiskPath(cwd);
  if (!folder.empty() && folder.back() != '/') folder += '/';
  folder += kExportFolder;
  ::mkdir(ToDiskPath(folder).c_str(), 0777);  // it may exist; a failure shows at the creation
  // A second recording started within the same second would truncate the
  // first: it gets the next free number after its name instead.
  const std::string name = folder + "/" + RecordingName(when);
  const std::string stem = name.substr(0, name.size() - 4);
  std::string path = name;
  for (int n = 2; n < 1000 && ::access(ToDiskPath(path).c_str(), F_OK) == 0; ++n) {
    path = stem + "_" + std::to_string(n) + ".rtd";
  }
  return path;
}

RtdHeader RecordingHeader(const GraphChannelKeys& channels, std::int32_t p2, std::int32_t p3) {
  RtdHeader header;
  header.IntervalMs = PlaybackInterval(p2, p3);
  for (int c = 0; c < kRtdChannels; ++c) {
    if (channels[c]) header.Channels[c] = *channels[c];
  }
  return header;
}

bool StartRecording(const std::string& file, const RtdHeader& header, std::string& error) {
  if (!CreateRecording(ToDiskPath(file), header, error, file)) return false;
  RecordFileName.Set(file);
  RecordEnabled.store(1);
  return true;
}

// ---------------------------------------------------------------- the slider

std::int32_t SliderPosition(std::int32_t max, int width, int x) {
  if (max <= 0) return 0;
  const int track = width - 18;
  if (track <= 0) return 0;
  const double position = std::trunc(static_cast<double>(max) / track * (x - 9));
  return static_cast<std::int32_t>(std::clamp(position, 0.0, static_cast<double>(max)));
}

// ---------------------------------------------------------------- the window's state

void GraphsLogic::GrafInit() {
  for (Chart& chart : charts_) chart.Init();
}

void GraphsLogic::SetVisible(int channel, bool visible) {
  if (channel < 0 || channel >= kGraphChannels) return;
  charts_[channel / kChartChannels].Visible[channel % kChartChannels] = visible;
  for (Chart& chart : charts_) chart.Redraw = 1;
}

std::array<ChartDamage, kCharts> GraphsLogic::SampleAndDraw(const GraphChannelKeys& channels,
                                                            vorta::ResponseMemory& memory,
                                                            vorta::PidValProc pidval) {
  for (int c = 0; c < kGraphChannels; ++c) {
    double value = 0.0;
    if (channels[c]) value = ChartValue(QueryModule(memory, pidval, *channels[c]).Value);
    charts_[c / kChartChannels].Values[c % kChartChannels] = value;
  }
  return {charts_[0].Draw(), charts_[1].Draw()};
}

const ChannelLabels& GraphsLogic::Labels(int channel) const {
  channel = std::clamp(channel, 0, kGraphChannels - 1);
  return charts_[channel / kChartChannels].Labels(channel % kChartChannels);
}

bool GraphsLogic::OpenPlayback(const std::string& diskPath, std::string& error,
                               std::string_view shownName) {
  Playing = 0;
  return reader_.Open(diskPath, error, shownName);
}

std::int32_t GraphsLogic::LastRecord() const {
  const std::size_t count = reader_.RecordCount();
  if (count == 0) return 0;
  return static_cast<std::int32_t>(std::min<std::size_t>(count - 1, INT32_MAX));
}

int GraphsLogic::PlaybackIntervalMs() const {
  // An interval of 0 would fire the timer without pause and starve the
  // window: 1 ms at least.
  return std::max<int>(reader_.Header().IntervalMs, 1);
}

void GraphsLogic::BeginPlayback(std::uint8_t* store, const GraphChannelKeys& channels) {
  vorta::ClearAreaCounts(store, vorta::kAreaMode01);
  vorta::ClearAreaCounts(store, vorta::kAreaLocal21);
  for (const std::optional<ParameterKey>& key : channels) {
    if (key && key->Service == 0x22) {
      vorta::Slot(store, vorta::kAreaCommon22,
                  vorta::Common22Slot(key->Id1, key->Id2))[vorta::kSlotCountByte] = 0;
    }
  }
  GrafInit();
  SliderPos = 0;
  Playing = 1;
  RestartPacing();
}

PlaybackStep GraphsLogic::PlaybackTick(std::uint8_t* store, double nowMs) {
  PlaybackStep step;
  if (Playing == 0) {
    reader_.Close();
    step.StopTimer = true;
    return step;
  }
  const double interval = PlaybackIntervalMs();
  if (paceStartMs_ < 0 || nowMs < paceStartMs_) {
    paceStartMs_ = nowMs - interval;
    pacePlayed_ = 0;
  }
  const auto due = static_cast<std::uint64_t>((nowMs - paceStartMs_) / interval);
  const std::uint64_t records =
      std::clamp<std::uint64_t>(due > pacePlayed_ ? due - pacePlayed_ : 0, 1, kMaxCatchUp);
  for (std::uint64_t i = 0; i < records; ++i) {
    const std::size_t index = reader_.Position();
    RtdRecord record{};
    if (!reader_.Read(record)) {
      Playing = 0;
      step.Ended = true;
      return step;
    }
    ++pacePlayed_;
    if (Dragging == 0) {
      SliderPos = static_cast<std::int32_t>(std::min<std::size_t>(index, INT32_MAX));
      step.Moved = true;
    }
    FileRtdRecord(record, store);
  }
  return step;
}

void GraphsLogic::EndDrag() {
  Dragging = 0;
  if (Playing == 0) return;
  // Record 0 is the header: its fourth byte, 'A', would pass for a Mode 01
  // answer. Playing from the start plays from record 1.
  reader_.Seek(std::max<std::size_t>(static_cast<std::size_t>(std::max(SliderPos, 0)), 1));
  RestartPacing();
  GrafInit();
}

void GraphsLogic::EndPlayback() {
  Playing = 0;
  reader_.Close();
}

// ---------------------------------------------------------------- export

RecordingExport::State GraphsLogic::StartExport(const std::string& file, const ParameterTable& rows,
                                                vorta::ResponseMemory& memory,
                                                vorta::PidValProc pidval) {
  const RecordingExport::State s = export_.Start(file, ExportFormat::Xlsx, rows, memory, pidval);
  ExportBusy = Exporting() ? 1 : 0;
  return s;
}

RecordingExport::State GraphsLogic::ExportTurn() {
  const RecordingExport::State s = export_.StepFor(kExportTurn);
  ExportBusy = Exporting() ? 1 : 0;
  return s;
}

void GraphsLogic::CancelExport() {
  export_.Cancel();
  ExportBusy = 0;
}

}  // namespace kestrel
