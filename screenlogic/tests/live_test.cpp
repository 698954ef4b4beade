#include "screenlogic/live.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "common/cp1251.h"
#include "link/link_globals.h"

namespace kestrel {
namespace {

using namespace cp1251_literals;

void AddRequest(vorta::RequestTable& t, std::initializer_list<std::uint8_t> body) {
  vorta::RequestEntry& e = t.Entries[t.Count++];
  const std::uint8_t header[3] = {static_cast<std::uint8_t>(0x80 + body.size()), 0x13, 0xF1};
  std::memcpy(e.Data, header, 3);
  std::size_t i = 3;
  for (std::uint8_t b : body) e.Data[i++] = b;
  e.Length = static_cast<std::uint16_t>(i);
  e.Skip = 0;
}

void SetRow(ParameterTable& t, int r, const std::string& code, const std::string& name,
            const std::string& selector = "00") {
  auto& c = t.Rows[r].Cells;
  c[kColNumber] = " " + std::string(r + 1 < 10 ? "00" : "0") + std::to_string(r + 1);
  c[kColCode] = " " + code;
  c[kColName] = name;
  c[kColValue].clear();
  c[kColUnit] = "u" + std::to_string(r);
  c[kColSelector] = selector;
  t.RowCount = std::max(t.RowCount, r + 1);
  t.RowInactive[r] = 0;
}

struct Fixture : ::testing::Test {
  std::unique_ptr<vorta::RequestTable> table = std::make_unique<vorta::RequestTable>();
  std::unique_ptr<ParameterTable> rows = std::make_unique<ParameterTable>();
  std::uint8_t Skip(int i) const { return table->Entries[i].Skip; }
};

// ---------------------------------------------------------------- polling

using PrepareSkipsTest = Fixture;

TEST_F(PrepareSkipsTest, HoldsBackTestsAndInactiveRequestsEvenWhenShared) {
  AddRequest(*table, {0x21, 0x01});        // 0: rows 0 and 1 (row 1 inactive)
  AddRequest(*table, {0x21, 0x02});        // 1: row 2, active
  AddRequest(*table, {0x30, 0x05, 0, 0});  // 2: actuator test
  AddRequest(*table, {0x10, 0x01});        // 3: test mode on
  AddRequest(*table, {0x10, 0x00});        // 4: test mode off: polled like any request
  AddRequest(*table, {0x22, 0x01, 0xA2});  // 5
  AddRequest(*table, {0x22, 0x01, 0xB3});  // 6: row 4, inactive
  for (int i = 0; i < table->Count; ++i) table->Entries[i].Skip = 7;  // left from before

  SetRow(*rows, 0, "2101", "a");
  SetRow(*rows, 1, "210103", "b");  // second byte ignored for service 21: entry 0
  SetRow(*rows, 2, "2102", "c");
  SetRow(*rows, 3, "2201A2", "d");
  SetRow(*rows, 4, "2201B3", "e");
  SetRow(*rows, 5, "2177", "no request");
  rows->RowInactive[1] = 1;
  rows->RowInactive[4] = 1;
  rows->RowInactive[5] = 1;

  PrepareLiveSkips(*table, *rows);
  EXPECT_EQ(Skip(0), 1);  // shared with active row 0, still left out
  EXPECT_EQ(Skip(1), 0);
  EXPECT_EQ(Skip(2), 1);
  EXPECT_EQ(Skip(3), 1);
  EXPECT_EQ(Skip(4), 0);
  EXPECT_EQ(Skip(5), 0);  // service 22 compares the second byte
  EXPECT_EQ(Skip(6), 1);

  // All rows active again: only the test requests stay held back.
  SetAllInactive(*rows, false);
  PrepareLiveSkips(*table, *rows);
  for (int i : {0, 1, 4, 5, 6}) EXPECT_EQ(Skip(i), 0) << i;
  EXPECT_EQ(Skip(2), 1);
  EXPECT_EQ(Skip(3), 1);
}

// ---------------------------------------------------------------- controls

using TickControlsTest = Fixture;

TEST_F(TickControlsTest, ButtonsFollowTheLinkState) {
  vorta::TestRequest test{};
  for (std::uint16_t s : {lsIdle, lsError}) {
    const LiveControls c = TickControls(s, 0, 3, 1, test, *table);
    EXPECT_EQ(c.startStop, Enable::On);
    EXPECT_EQ(c.copy, Enable::On);
    EXPECT_EQ(c.exit, Enable::On);
    for (Enable e : {c.selector, c.switchOn, c.switchOff, c.valueBox, c.modeOn, c.modeOff}) {
      EXPECT_EQ(e, Enable::Off);
    }
  }
  for (std::uint16_t s = lsOpenPort; s <= lsFirstPass; ++s) {
    const LiveControls c = TickControls(s, 1, 1, 0, test, *table);
    EXPECT_EQ(c.startStop, Enable::Keep) << s;  // disabled by the start, not by the tick
    EXPECT_EQ(c.copy, Enable::Keep);
    EXPECT_EQ(c.exit, Enable::Keep);
    EXPECT_EQ(c.modeOn, Enable::On);
    EXPECT_EQ(c.modeOff, Enable::On);
    EXPECT_EQ(c.selector, Enable::Keep);  // only "Нет": the test controls are never touched
    EXPECT_EQ(c.switchOn, Enable::Keep);
  }
  const LiveControls x = TickControls(lsExchange, 1, 1, 0, test, *table);
  EXPECT_EQ(x.startStop, Enable::On);
  EXPECT_EQ(x.copy, Enable::On);
  EXPECT_EQ(x.exit, Enable::Keep);

  // Only the first tick that sees the error with polling requested stops it.
  EXPECT_TRUE(TickControls(lsError, 1, 1, 0, test, *table).stopPolling);
  EXPECT_FALSE(TickControls(lsError, 0, 1, 0, test, *table).stopPolling);
  EXPECT_FALSE(TickControls(lsExchange, 1, 1, 0, test, *table).stopPolling);
}

TEST_F(TickControlsTest, TestControlsFollowTheSelectedTestAndItsSkip) {
  AddRequest(*table, {0x21, 0x01});
  AddRequest(*table, {0x30, 0x05, 0, 0});
  AddRequest(*table, {0x30, 0x18, 0, 0});
  vorta::TestRequest onOff{};
  onOff.Service = 0x30;
  onOff.Id1 = 0x05;
  onOff.Flags = 0x03;
  vorta::TestRequest numeric = onOff;
  numeric.Id1 = 0x18;
  numeric.Flags = 0x80;

  // "Нет" selected: the selector is usable, the inputs are not.
  LiveControls c = TickControls(lsExchange, 1, 3, 0, onOff, *table);
  EXPECT_EQ(c.selector, Enable::On);
  EXPECT_EQ(c.switchOn, Enable::Off);
  EXPECT_EQ(c.valueBox, Enable::Off);

  // Answered (Skip set): on/off test gets its switches, numeric test its value box.
  table->Entries[1].Skip = 1;
  table->Entries[2].Skip = 1;
  c = TickControls(lsExchange, 1, 3, 1, onOff, *table);
  EXPECT_EQ(c.selector, Enable::On);
  EXPECT_EQ(c.switchOn, Enable::On);
  EXPECT_EQ(c.switchOff, Enable::On);
  EXPECT_EQ(c.valueBox, Enable::Off);
  c = TickControls(lsFirstPass, 1, 3, 2, numeric, *table);
  EXPECT_EQ(c.switchOn, Enable::Off);
  EXPECT_EQ(c.switchOff, Enable::Off);
  EXPECT_EQ(c.valueBox, Enable::On);

  // Armed and not yet answered: everything of the test stays disabled.
  table->Entries[1].Skip = 0;
  c = TickControls(lsExchange, 1, 3, 1, onOff, *table);
  for (Enable e : {c.selector, c.switchOn, c.switchOff, c.valueBox}) EXPECT_EQ(e, Enable::Off);
  EXPECT_EQ(c.modeOn, Enable::On);

  // A test without a request entry is never waiting.
  vorta::TestRequest orphan = onOff;
  orphan.Id1 = 0x77;
  c = TickControls(lsExchange, 1, 3, 1, orphan, *table);
  EXPECT_EQ(c.selector, Enable::On);
  EXPECT_EQ(c.switchOn, Enable::On);
}

TEST(TestInputsTest, HintAndInputsForFlags) {
  EXPECT_TRUE(InputsForFlags(0x0003).switches);
  EXPECT_FALSE(InputsForFlags(0x0003).valueBox);
  EXPECT_FALSE(InputsForFlags(0x0080).switches);
  EXPECT_TRUE(InputsForFlags(0x0080).valueBox);
  EXPECT_EQ(MinMaxHint(-12.5, 24.72), "Min=-12.5\r\nMax=24.72");
  EXPECT_EQ(MinMaxHint(0, 125), "Min=0\r\nMax=125");
  EXPECT_EQ(GeneralNumber(0.1 + 0.2), "0.3");
}

// ---------------------------------------------------------------- values

struct Seen {
  std::uint8_t service, id1, id2, format;
};
std::vector<Seen> g_seen;
std::string g_text;
const char* g_texts[4];

// Answers each row with a text chosen by its first identifier byte.
void FakePidval(std::uint8_t* store) {
  auto& q = reinterpret_cast<vorta::ResponseMemory*>(store)->Query;
  g_seen.push_back({q.Service, q.Id1, q.Id2, q.Format});
  q.Text = g_texts[q.Id1 % 4];
}

using RefreshValuesTest = Fixture;

TEST_F(RefreshValuesTest, EveryRowIsAskedAndOnlyChangedTextsAreWritten) {
  SetRow(*rows, 0, "2100", "a", "3A");
  SetRow(*rows, 1, "2101", "b", "1C5");  // the last two characters are the Format
  SetRow(*rows, 2, "0102", "c");
  SetRow(*rows, 3, "2203A2", "d", "");
  rows->RowInactive[2] = 1;  // inactive rows are decoded too
  auto cache = std::make_unique<ValueCacheArray>();
  std::vector<int> changed;
  g_texts[0] = "10";
  g_texts[1] = "вкл"_cp;
  g_texts[2] = nullptr;  // no text: an empty cell
  g_texts[3] = "";
  g_seen.clear();

  EXPECT_EQ(RefreshRowValues(*rows, ResponseBlock, FakePidval, RowKeys::Live(), *cache, changed),
            2);
  ASSERT_EQ(g_seen.size(), 4u);
  EXPECT_EQ(g_seen[0].service, 0x21);
  EXPECT_EQ(g_seen[0].format, 0x3A);
  EXPECT_EQ(g_seen[1].format, 0xC5);
  EXPECT_EQ(g_seen[2].service, 0x01);
  EXPECT_EQ(g_seen[3].service, 0x22);
  EXPECT_EQ(g_seen[3].id1, 0x03);
  EXPECT_EQ(g_seen[3].id2, 0xA2);
  EXPECT_EQ(g_seen[3].format, 0);
  EXPECT_EQ(changed, (std::vector<int>{0, 1}));
  EXPECT_EQ(rows->Rows[1].Cells[kColValue], "вкл"_cp);
  EXPECT_EQ((*cache)[0], "10");

  // Nothing new: nothing written. One text changes: only its row.
  changed.clear();
  EXPECT_EQ(RefreshRowValues(*rows, ResponseBlock, FakePidval, RowKeys::Live(), *cache, changed),
            0);
  g_texts[0] = "11";
  EXPECT_EQ(RefreshRowValues(*rows, ResponseBlock, FakePidval, RowKeys::Live(), *cache, changed),
            1);
  EXPECT_EQ(changed, (std::vector<int>{0}));
  EXPECT_EQ(rows->Rows[0].Cells[kColValue], "11");

  // A text that empties clears the cell.
  changed.clear();
  g_texts[1] = "";
  EXPECT_EQ(RefreshRowValues(*rows, ResponseBlock, FakePidval, RowKeys::Live(), *cache, changed),
            1);
  EXPECT_EQ(rows->Rows[1].Cells[kColValue], "");

  // Freeze-frame rows: the frame number as second identifier and the first
  // two characters of the selector.
  g_seen.clear();
  RefreshRowValues(*rows, ResponseBlock, FakePidval, RowKeys::FreezeFrame(7), *cache, changed);
  ASSERT_EQ(g_seen.size(), 4u);
  EXPECT_EQ(g_seen[1].id2, 7);
  EXPECT_EQ(g_seen[1].format, 0x1C);
  EXPECT_EQ(g_seen[3].id2, 7);

  // Without a module nothing is asked and nothing changes.
  g_seen.clear();
  EXPECT_EQ(RefreshRowValues(*rows, ResponseBlock, nullptr, RowKeys::Live(), *cache, changed), 0);
  EXPECT_TRUE(g_seen.empty());
}

// ---------------------------------------------------------------- rows and export

using RowOpsTest = Fixture;

TEST_F(RowOpsTest, ToggleChangesEveryRowOfTheSameRequest) {
  SetRow(*rows, 0, "2101", "a");
  SetRow(*rows, 1, "2102", "b");
  SetRow(*rows, 2, "2101", "c");
  rows->RowInactive[2] = 5;  // any non-zero value counts as inactive

  ASSERT_TRUE(ToggleRequestRows(*rows, 0));  // row 0 active: the request becomes inactive
  EXPECT_EQ(rows->RowInactive[0], 1);
  EXPECT_EQ(rows->RowInactive[1], 0);
  EXPECT_EQ(rows->RowInactive[2], 1);
  ASSERT_TRUE(ToggleRequestRows(*rows, 2));
  EXPECT_EQ(rows->RowInactive[0], 0);
  EXPECT_EQ(rows->RowInactive[2], 0);
  EXPECT_FALSE(ToggleRequestRows(*rows, 3));
  EXPECT_FALSE(ToggleRequestRows(*rows, -1));

  SetAllInactive(*rows, true);
  EXPECT_EQ(rows->RowInactive[1], 1);
  EXPECT_EQ(rows->RowInactive[3], 0);  // beyond the rows: untouched
}

TEST_F(RowOpsTest, ExportBodyHoldsActiveRowsUnlessAskedForAll) {
  SetRow(*rows, 0, "2101", "Обороты"_cp);
  SetRow(*rows, 1, "2102", "hidden");
  SetRow(*rows, 2, "2103", "Темп."_cp);
  rows->Rows[0].Cells[kColValue] = "750";
  rows->RowInactive[1] = 1;
  EXPECT_EQ(TableExportBody(*rows, true).size(), 3u);  // the freeze-frame export
  const auto body = TableExportBody(*rows, false);
  ASSERT_EQ(body.size(), 2u);
  EXPECT_EQ(body[0], " 001  2101 " + std::string("Обороты"_cp) + std::string(56, ' ') + " " +
                         std::string(17, ' ') + "750 u0");
  EXPECT_EQ(body[1].substr(0, 11), " 003  2103 ");
  EXPECT_EQ(LiveExportTitle(), "Кадр параметров реального времени"_cpsv);
}

}  // namespace
}  // namespace kestrel
