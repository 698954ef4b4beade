#include "screenlogic/trouble_codes.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "common/cp1251.h"
#include "link/link_globals.h"
#include "module/response_store.h"
#include "screenlogic/export.h"

namespace kestrel {

using namespace cp1251_literals;

namespace {

int CountOf(const vorta::RequestTable& table) {
  return std::min<int>(table.Count, vorta::kMaxRequests);
}

// Longest code text the module can give: 256 slots of three codes.
constexpr std::size_t kMaxCodeText = 256 * 3 * 4;

}  // namespace

void PrepareDtcRead(vorta::RequestTable& table, std::uint8_t* store) {
  for (int e = 0; e < CountOf(table); ++e) SetSkip(table.Entries[e], 0);
  vorta::ClearArea(store, vorta::kAreaMode07);
  vorta::ClearArea(store, vorta::kAreaDtc);
}

std::uint16_t NormalizeResetCount(vorta::RequestTable& table) {
  if (table.ResetCount > table.Count) table.ResetCount = 0;
  return table.ResetCount;
}

void PrepareDtcClear(vorta::RequestTable& table, bool withReset) {
  const int count = CountOf(table);
  const int reset = NormalizeResetCount(table);
  for (int e = 0; e < count; ++e) {
    const bool resetRequest = e >= count - reset;
    SetSkip(table.Entries[e], resetRequest && !withReset ? 1 : 0);
  }
}

DtcTickActions DtcTicker::Tick(std::uint16_t status, std::uint32_t passes,
                               std::uint16_t resetCount) {
  DtcTickActions actions;
  const bool ended = status == lsIdle || status == lsError;
  if (ended) {
    actions.enableControls = true;
    actions.enableResetBox = resetCount != 0;
  }
  if (status == lsFirstPass || status == lsExchange) reached_ = true;
  if (ended) {
    if (started_ && passes > 0) reached_ = true;
    started_ = false;
    if (reached_) {
      reached_ = false;
      decode_ = true;
    }
  }
  if (decode_) {
    actions.decode = true;
    decode_ = false;  // the window decodes in this same tick
  }
  return actions;
}

std::vector<std::uint16_t> SplitCodes(const char* text, int count) {
  std::vector<std::uint16_t> codes;
  if (text == nullptr || count <= 0) return codes;
  const std::size_t length = strnlen(text, kMaxCodeText);
  for (int i = 0; i < count && 4 * static_cast<std::size_t>(i) + 4 <= length; ++i) {
    unsigned v = 0;
    for (int d = 0; d < 4; ++d) {
      const char c = text[4 * i + d];
      const unsigned digit =
          c >= 'A' ? static_cast<unsigned>(c - 'A' + 10) : static_cast<unsigned>(c - '0');
      v = v * 16 + (digit & 0x0F);
    }
    codes.push_back(static_cast<std::uint16_t>(v));
  }
  return codes;
}

std::string DtcCodeText(std::uint16_t code) {
  static const char kLetters[] = {'P', 'C', 'B', 'U'};
  char text[8];
  std::snprintf(text, sizeof text, " %c%04X", kLetters[code >> 14], code & 0x3FFFu);
  return text;
}

std::string DtcRowNumber(int number) {
  char text[16];
  std::snprintf(text, sizeof text, " %03d", number);
  return text;
}

DtcListView DecodeDtcList(vorta::DtcErrorProc dtcError, const std::uint8_t* store, DtcList list,
                          const DtcTextTable& texts) {
  DtcListView view;
  if (dtcError != nullptr) {
    vorta::DtcQuery query{};
    query.Store = store;
    query.List = list;
    dtcError(&query);
    view.Codes = SplitCodes(query.Text, query.Count);
  }
  for (std::size_t i = 0; i < view.Codes.size(); ++i) {
    const std::uint16_t code = view.Codes[i];
    const std::string* text = texts.Find(code);
    view.Rows.push_back({DtcRowNumber(static_cast<int>(i) + 1), DtcCodeText(code),
                         text != nullptr ? *text : std::string()});
  }
  if (view.Rows.empty()) view.Rows.emplace_back();
  return view;
}

DtcLists DecodeDtcLists(vorta::DtcErrorProc dtcError, const std::uint8_t* store,
                        const DtcTextTable& texts) {
  DtcLists lists;
  lists.Current = DecodeDtcList(dtcError, store, kDtcCurrent, texts);
  lists.Stored = DecodeDtcList(dtcError, store, kDtcStored, texts);
  return lists;
}

std::vector<std::string> DtcExportLines(std::string_view date, std::string_view time,
                                        std::string_view car, std::string_view ecuType,
                                        const DtcLists& lists) {
  std::vector<std::string> lines;
  lines.push_back(std::string("Дата: "_cpsv) + std::string(date) + " Время: "_cp +
                  std::string(time));
  lines.emplace_back();
  lines.push_back(std::string("Автомобиль: "_cpsv) + std::string(car));
  lines.push_back(std::string("Тип ECU: "_cpsv) + std::string(ecuType));
  lines.emplace_back();
  auto list = [&lines](std::string_view heading, const DtcListView& view) {
    lines.push_back(std::string(heading) + std::to_string(view.Count()) + ")");
    for (const DtcRow& row : view.Rows)
      lines.push_back(row.Number + " " + row.Code + " " + row.Text);
  };
  list("Текущие ошибки ECU ("_cpsv, lists.Current);
  lines.emplace_back();
  list("Сохраненные ошибки ECU ("_cpsv, lists.Stored);
  return lines;
}

std::vector<std::string> DtcExportLines(std::string_view car, std::string_view ecuType,
                                        const DtcLists& lists) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return DtcExportLines(ExportDateText(local), ExportShortTimeText(local), car, ecuType, lists);
}

ExportResult WriteDtcExport(std::string_view car, std::string_view ecuType, const DtcLists& lists,
                            std::string_view folder) {
  return WriteExport(kExportDtc, DtcExportLines(car, ecuType, lists), folder);
}

}  // namespace kestrel
