// The trouble-code window's logic: codes as the grid shows them, the lists
// decoded through the module, the clearing with and without the memory
// reset, and the export lines.
#include "screenlogic/trouble_codes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "common/cp1251.h"
#include "link/link_globals.h"
#include "module/response_store.h"

namespace kestrel {
namespace {

using namespace cp1251_literals;

TEST(TroubleCodes, CodeAndRowTexts) {
  struct Case {
    std::uint16_t code;
    const char* text;
  };
  for (const Case& c : {Case{0x0301, " P0301"}, Case{0x4123, " C0123"}, Case{0x8001, " B0001"},
                        Case{0xC100, " U0100"}, Case{0xFFFF, " U3FFF"}}) {
    EXPECT_EQ(DtcCodeText(c.code), c.text);
  }
  EXPECT_EQ(DtcRowNumber(1), " 001");
  EXPECT_EQ(DtcRowNumber(768), " 768");
  EXPECT_EQ(SplitCodes("01710300C123", 3), (std::vector<std::uint16_t>{0x0171, 0x0300, 0xC123}));
  EXPECT_EQ(SplitCodes("0171", 3).size(), 1u);  // the text is shorter than the count
  EXPECT_TRUE(SplitCodes(nullptr, 2).empty());
}

const char* g_codes = "";
int g_count = 0;
std::uint8_t g_list = 0;
void FakeDtcError(vorta::DtcQuery* q) {
  g_list = q->List;
  q->Text = g_codes;
  q->Count = g_count;
}

TEST(TroubleCodes, ListRowsTakeTheFirstTextAndEmptyCellsWithoutOne) {
  auto texts = std::make_unique<DtcTextTable>();
  texts->Count = 3;
  texts->Entries[0] = {"Бедная смесь"_cp, 0x0171};
  texts->Entries[1] = {"вторая запись того же кода"_cp, 0x0171};
  texts->Entries[2] = {"Пропуски"_cp, 0x0300};
  g_codes = "017104200300";
  g_count = 3;
  const DtcListView view = DecodeDtcList(FakeDtcError, ResponseStore, kDtcStored, *texts);
  EXPECT_EQ(g_list, 2);
  ASSERT_EQ(view.Count(), 3);
  EXPECT_EQ(view.Rows[0].Number, " 001");
  EXPECT_EQ(view.Rows[0].Code, " P0171");
  EXPECT_EQ(view.Rows[0].Text, "Бедная смесь"_cp);
  EXPECT_EQ(view.Rows[1].Text, "");  // no description: the cell is empty
  EXPECT_EQ(view.Rows[2].Text, "Пропуски"_cp);

  // More codes than a byte counts: every one is listed and numbered.
  std::string many;
  for (int i = 0; i < 300; ++i) many += "0" + std::to_string(100 + i);
  g_codes = many.c_str();
  g_count = 300;
  const DtcLists lists = DecodeDtcLists(FakeDtcError, ResponseStore, *texts);
  ASSERT_EQ(lists.Stored.Count(), 300);
  EXPECT_EQ(lists.Stored.Rows.size(), 300u);
  EXPECT_EQ(lists.Stored.Rows[299].Number, " 300");
  EXPECT_EQ(lists.Stored.Rows[299].Code, " P0399");
  EXPECT_EQ(g_list, 2);  // current first, then stored

  g_count = 0;
  const DtcListView none = DecodeDtcList(FakeDtcError, ResponseStore, kDtcCurrent, *texts);
  EXPECT_EQ(none.Count(), 0);
  ASSERT_EQ(none.Rows.size(), 1u);  // one empty row
  EXPECT_TRUE(none.Rows[0].Code.empty());
  EXPECT_EQ(DecodeDtcList(nullptr, ResponseStore, kDtcCurrent, *texts).Count(), 0);
}

TEST(TroubleCodes, ClearSendsTheResetRequestsOnlyWhenAsked) {
  auto table = std::make_unique<vorta::RequestTable>();
  struct Case {
    std::uint16_t count, reset;
    bool withReset;
    std::uint16_t resetAfter;
    int skipped;  // entries left out, counted from the end
  };
  for (const Case& c : {Case{5, 2, false, 2, 2}, Case{5, 2, true, 2, 0}, Case{5, 7, false, 0, 0},
                        Case{5, 5, false, 5, 5}, Case{0, 0, false, 0, 0}}) {
    std::memset(table.get(), 0, sizeof *table);
    table->Count = c.count;
    table->ResetCount = c.reset;
    for (int e = 0; e < 6; ++e) table->Entries[e].Skip = 9;
    PrepareDtcClear(*table, c.withReset);
    EXPECT_EQ(table->ResetCount, c.resetAfter);
    for (int e = 0; e < c.count; ++e) {
      EXPECT_EQ(table->Entries[e].Skip, e >= c.count - c.skipped ? 1 : 0)
          << "count " << c.count << " reset " << c.reset << " entry " << e;
    }
    EXPECT_EQ(table->Entries[c.count].Skip, 9);  // nothing past the table
  }
}

TEST(TroubleCodes, ReadClearsOnlyTheCodeAreas) {
  auto memory = std::make_unique<vorta::ResponseMemory>();
  std::uint8_t* store = memory->Store;
  const std::uint8_t bytes[2] = {1, 2};
  vorta::FileSlotBytes(vorta::Slot(store, vorta::kAreaMode07, 3), bytes, 2);
  vorta::FileSlotBytes(vorta::Slot(store, vorta::kAreaDtc, 255), bytes, 2);
  vorta::FileSlotBytes(vorta::Slot(store, vorta::kAreaMode01, 0x0C), bytes, 2);
  auto table = std::make_unique<vorta::RequestTable>();
  table->Count = 2;
  table->Entries[0].Skip = table->Entries[1].Skip = 1;
  PrepareDtcRead(*table, store);
  EXPECT_EQ(table->Entries[0].Skip + table->Entries[1].Skip, 0);
  EXPECT_FALSE(vorta::HasData(vorta::Slot(store, vorta::kAreaMode07, 3)));
  EXPECT_EQ(vorta::Slot(store, vorta::kAreaDtc, 255)[0], 0);  // data zeroed too
  EXPECT_TRUE(vorta::HasData(vorta::Slot(store, vorta::kAreaMode01, 0x0C)));
}

TEST(TroubleCodes, TickDecodesOnceAfterEverySessionThatReachedTheExchange) {
  // Each step: the status a tick sees, PassCount, and what the tick does.
  struct Step {
    std::uint16_t status;
    std::uint32_t passes;
    bool started;  // the window started a session just before this tick
    bool enable, decode;
  };
  struct Case {
    const char* what;
    std::vector<Step> steps;
  };
  const std::vector<Case> cases = {
      {"window opened on an idle link", {{lsIdle, 0, false, true, false}}},
      {"read seen exchanging",
       {{lsOpenPort, 0, true, false, false},
        {lsInitFast, 0, false, false, false},
        {lsFirstPass, 0, false, false, false},
        {lsExchange, 1, false, false, false},
        {lsIdle, 1, false, true, true},
        {lsIdle, 1, false, true, false}}},  // once only
      {"error after the exchange still decodes",
       {{lsFirstPass, 0, true, false, false}, {lsError, 0, false, true, true}}},
      {"error during the initialisation decodes nothing",
       {{lsInit5Baud, 0, true, false, false}, {lsError, 0, false, true, false}}},
      {"a pass too short for any tick to see",
       {{lsOpenPort, 0, true, false, false}, {lsIdle, 1, false, true, true}}},
      {"another window's passes are not this window's",
       {{lsIdle, 5, false, true, false}, {lsIdle, 5, false, true, false}}},
      {"the dashboard still polling when the window opens",
       {{lsExchange, 9, false, false, false}, {lsIdle, 9, false, true, true}}},
  };
  for (const Case& c : cases) {
    DtcTicker ticker;
    int n = 0;
    for (const Step& s : c.steps) {
      if (s.started) ticker.SessionStarted();
      const DtcTickActions a = ticker.Tick(s.status, s.passes, 2);
      EXPECT_EQ(a.enableControls, s.enable) << c.what << ", step " << n;
      EXPECT_EQ(a.enableResetBox, s.enable) << c.what << ", step " << n;
      EXPECT_EQ(a.decode, s.decode) << c.what << ", step " << n;
      ++n;
    }
  }
  DtcTicker ticker;
  EXPECT_FALSE(ticker.Tick(lsIdle, 0, 0).enableResetBox);  // no reset requests: the box stays off
}

TEST(TroubleCodes, ExportLinesHoldBothListsWithTheirCounts) {
  DtcLists lists;
  lists.Current.Rows.emplace_back();  // no codes: one empty row
  lists.Stored.Codes = {0x0171, 0x0300};
  lists.Stored.Rows = {{" 001", " P0171", "Бедная смесь"_cp}, {" 002", " P0300", ""}};
  const std::vector<std::string> lines =
      DtcExportLines("05.03.2012", "9:07", "Camry", "2AZ-FE", lists);
  const std::vector<std::string> expected = {
      "Дата: 05.03.2012 Время: 9:07"_cp,
      "",
      "Автомобиль: Camry"_cp,
      "Тип ECU: 2AZ-FE"_cp,
      "",
      "Текущие ошибки ECU (0)"_cp,
      "  ",
      "",
      "Сохраненные ошибки ECU (2)"_cp,
      " 001  P0171 "_cp + std::string("Бедная смесь"_cp),
      " 002  P0300 ",
  };
  EXPECT_EQ(lines, expected);
}

}  // namespace
}  // namespace kestrel
