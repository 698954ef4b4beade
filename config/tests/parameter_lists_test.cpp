#include "config/parameter_lists.h"

#include "test_support.h"

namespace kestrel::testing {
namespace {

vorta::RequestTable& Table(int index, const std::vector<std::string>& lines) {
  vorta::RequestTable& t = RequestTables[index];
  t.Count = 0;
  for (const std::string& line : lines) EXPECT_TRUE(ParseRequestLine(line, t.Entries[t.Count++]));
  return t;
}

std::vector<ParameterDefinition> Defs(const std::vector<std::vector<std::string>>& records) {
  std::vector<ParameterDefinition> defs;
  for (const auto& r : records) {
    ParameterDefinition d;
    d.Code = r[0];
    d.Name = cp1251::FromUtf8(r[1]);
    d.Unit = cp1251::FromUtf8(r[2]);
    d.Selector = r[3];
    d.Line = static_cast<int>(defs.size()) * 4 + 1;
    defs.push_back(d);
  }
  return defs;
}

std::string Cell(const ParameterTable& t, int row, int col) {
  return Utf8(t.Rows[row].Cells[col]);
}

using ParameterListsTest = ConfigTest;

TEST_F(ParameterListsTest, LiveRowsFollowDefinitionOrderWithSixColumns) {
  const auto& live = Table(kLiveTable, {"82 10 F1 01 0C", "82 10 F1 21 01", "82 10 F1 21 05"});
  const auto defs = Defs({{"2101", "Блок 1", "", "00"},
                          {"210105", "Никогда", "", "00"},  // request's 6th byte is 0
                          {"010C", "Обороты", "об/мин", "00"},
                          {"2101", "Бит 3", "", "13"},
                          {"2199", "Нет запроса", "", "00"}});
  ASSERT_TRUE(LivePassOn(defs, live, "VORTA.ini").Ok());
  ASSERT_EQ(LiveRows.RowCount, 3);
  EXPECT_EQ(Cell(LiveRows, 0, kColNumber), " 001");
  EXPECT_EQ(Cell(LiveRows, 0, kColCode), " 2101");
  EXPECT_EQ(Cell(LiveRows, 0, kColName), "Блок 1");
  EXPECT_EQ(Cell(LiveRows, 1, kColCode), " 010C");
  EXPECT_EQ(Cell(LiveRows, 1, kColUnit), "об/мин");
  EXPECT_EQ(Cell(LiveRows, 1, kColValue), "");
  EXPECT_EQ(Cell(LiveRows, 2, kColNumber), " 003");
  EXPECT_EQ(Cell(LiveRows, 2, kColSelector), "13");
  // The graph channel lists follow the rows, after "Нет".
  for (const GraphChannelList& ch : GraphChannels) {
    ASSERT_EQ(ch.Count, 4);
    EXPECT_EQ(Utf8(ch.Items[0]), "Нет");
    EXPECT_EQ(Utf8(ch.Items[2]), "Обороты");
    EXPECT_EQ(ch.Selected, 0);
  }
  // Identifiers and selectors are read back from the cells.
  const RowIds ids = RowIdsOf(LiveRows.Rows[1]);
  EXPECT_EQ(ids.Service, 0x01);
  EXPECT_EQ(ids.Id1, 0x0C);
  EXPECT_EQ(ids.Id2, 0);
  EXPECT_EQ(LiveFormatOf(LiveRows.Rows[2]), 0x13);
}

TEST_F(ParameterListsTest, SecondIdentifierDecidesOnlyForSixDigitCodes) {
  const auto defs = Defs({{"2101", "Четыре", "", "00"},
                          {"210103", "Шесть", "", "00"},
                          {"22F1", "Любой F1", "", "00"},
                          {"22F190", "Только F190", "", "00"}});
  Table(kLiveTable, {"83 10 F1 21 01 03", "83 10 F1 22 F1 80"});
  ASSERT_TRUE(LivePassOn(defs, RequestTables[kLiveTable], "f").Ok());
  ASSERT_EQ(LiveRows.RowCount, 3);
  EXPECT_EQ(Cell(LiveRows, 1, kColName), "Шесть");
  EXPECT_EQ(Cell(LiveRows, 2, kColName), "Любой F1");

  Table(kLiveTable, {"82 10 F1 21 01", "83 10 F1 22 F1 90"});
  ASSERT_TRUE(LivePassOn(defs, RequestTables[kLiveTable], "f").Ok());
  ASSERT_EQ(LiveRows.RowCount, 3);
  EXPECT_EQ(Cell(LiveRows, 0, kColName), "Четыре");
  EXPECT_EQ(Cell(LiveRows, 2, kColName), "Только F190");

  // FindPID compares the second identifier for service 22 only.
  EXPECT_EQ(FindLivePID(0x22, 0xF1, 0x90), 1);
  EXPECT_EQ(FindLivePID(0x22, 0xF1, 0x91), -1);
  EXPECT_EQ(FindLivePID(0x21, 0x01, 0x77), 0);
  EXPECT_EQ(FindLivePID(0x21, 0x02, 0x00), -1);
}

TEST_F(ParameterListsTest, ServiceThirtyDefinitionsBecomeTests) {
  const auto defs = Defs({{"3005", "Тест 5", "", "80"},
                          {"3105", "Не тест", "", "00"},
                          {"301302", "Насос", "", "01"},
                          {"3099", "Без запроса", "", "00"}});
  TestList[1].Id2 = 0x55;  // left from an earlier load
  Table(kLiveTable, {"82 10 F1 30 05", "83 10 F1 30 13", "83 10 F1 30 05 01"});
  ASSERT_TRUE(LivePassOn(defs, RequestTables[kLiveTable], "f").Ok());
  EXPECT_TRUE(LiveRows.Empty());    // tests add no rows; 3105 matches nothing
  ASSERT_EQ(TestSelectorCount, 4);  // "Нет", Тест 5 twice (two requests), Насос
  EXPECT_EQ(Utf8(TestSelectorItems[0]), "Нет");
  EXPECT_EQ(Utf8(TestSelectorItems[1]), "Тест 5");
  EXPECT_EQ(Utf8(TestSelectorItems[2]), "Тест 5");
  EXPECT_EQ(Utf8(TestSelectorItems[3]), "Насос");
  EXPECT_EQ(TestList[1].Service, 0x30);
  EXPECT_EQ(TestList[1].Id1, 0x05);
  EXPECT_EQ(TestList[1].Flags, 0x80);
  EXPECT_EQ(TestList[1].Id2, 0x55);  // four-digit code: Id2 untouched
  EXPECT_EQ(TestList[3].Id2, 0x02);
  EXPECT_EQ(TestList[3].Flags, 0x01);
}

TEST_F(ParameterListsTest, NothingMatchedLeavesOneEmptyRowAndNoTests) {
  Table(kLiveTable, {"82 10 F1 21 01"});
  LivePassOn(Defs({{"2101", "A", "", "00"}, {"3001", "T", "", "01"}}), RequestTables[kLiveTable],
             "f");
  Table(kLiveTable, {"82 10 F1 21 7F"});
  ASSERT_TRUE(LivePassOn(Defs({{"2101", "A", "", "00"}}), RequestTables[kLiveTable], "f").Ok());
  EXPECT_TRUE(LiveRows.Empty());
  EXPECT_EQ(LiveRows.Rows[0].Cells[kColName], "");
  EXPECT_EQ(TestSelectorCount, 1);
  EXPECT_EQ(GraphChannels[7].Count, 1);
}

TEST_F(ParameterListsTest, FreezeRowsShowServiceTwo) {
  Table(kFreezeTable, {"83 10 F1 02 02 00", "83 10 F1 02 05 00", "83 10 F1 01 0C"});
  const auto defs = Defs({{"0105", "Тож", "°C", "00"},
                          {"020C", "Обороты", "об/мин", "00"},  // no 020C request
                          {"2105", "Локальный", "", "00"},      // wrong service
                          {"0202", "Код", "", "10"}});
  ASSERT_TRUE(FreezePassOn(defs, RequestTables[kFreezeTable], "f").Ok());
  ASSERT_EQ(FreezeRows.RowCount, 2);
  EXPECT_EQ(Cell(FreezeRows, 0, kColCode), " 0205");
  EXPECT_EQ(Cell(FreezeRows, 0, kColUnit), "°C");
  EXPECT_EQ(Cell(FreezeRows, 1, kColCode), " 0202");
  EXPECT_EQ(Cell(FreezeRows, 1, kColNumber), " 002");
  EXPECT_EQ(FreezeFormatOf(FreezeRows.Rows[1]), 0x10);
  EXPECT_EQ(FindFreezePID(0x02, 0x05, 0x00), 1);
}

TEST_F(ParameterListsTest, PidNamesLastDefinitionWinsAndSid09EndsAtPid20) {
  PidNamePassOn(Defs({{"0105", "Первый", "", "00"},
                      {"0205", "Стоп", "", "00"},
                      {"0105", "Второй", "", "00"},
                      {"21FF", "Последний", "", "00"},
                      {"3018", "ХХ", "", "80"},
                      {"0902", "VIN", "", "00"},
                      {"0921", "Вне списка", "", "00"},
                      {"1001", "Чужой", "", "00"}}));
  EXPECT_EQ(Utf8(PidNames.Sid01[5]), "PID=05 Второй");
  EXPECT_EQ(Utf8(PidNames.Sid02[5]), "PID=05 Второй");  // the last of services 01 and 02
  EXPECT_EQ(PidNames.Sid01[0], "PID=00 ");
  EXPECT_EQ(Utf8(PidNames.Sid21[255]), "PID=FF Последний");
  EXPECT_EQ(Utf8(PidNames.Sid30[0x18]), "PID=18 ХХ");
  EXPECT_EQ(PidNames.Sid09[2], "PID=02 VIN");
  EXPECT_EQ(PidNames.Sid09.size(), 33u);
  EXPECT_EQ(PidNames.Sid09[32], "PID=20 ");
  EXPECT_EQ(PidNames.Sid01[1], "PID=01 ");  // service 10 is ignored
}

TEST_F(ParameterListsTest, DefinitionFileRecordsAndShortLastRecord) {
  WriteRaw("ECU/TEST/VORTA.ini", "010C\r\nRPM\r\nrpm\r\n00\r\n0105\r\nECT");
  std::vector<ParameterDefinition> defs;
  ASSERT_TRUE(ReadDefinitions("ECU/TEST/VORTA.ini", defs).Ok());
  ASSERT_EQ(defs.size(), 2u);
  EXPECT_EQ(defs[1].Line, 5);
  EXPECT_EQ(defs[1].Name, "ECT");
  EXPECT_EQ(defs[1].Selector, "");
  EXPECT_EQ(ReadDefinitions("ECU/NONE/VORTA.ini", defs).Error, "File not found");
}

TEST_F(ParameterListsTest, MoreRowsOrTestsThanTheWindowsHoldAreRefused) {
  // 1001 requests, and definitions for all of them twice over.
  vorta::RequestTable& live = RequestTables[kLiveTable];
  live.Count = 1001;
  for (int e = 0; e < 1001; ++e) {
    live.Entries[e].Data[3] = 0x22;
    live.Entries[e].Data[4] = static_cast<std::uint8_t>(e >> 8);
    live.Entries[e].Data[5] = static_cast<std::uint8_t>(e & 0xFF);
  }
  std::vector<std::vector<std::string>> records;
  for (int e = 0; e < 1001; ++e) {
    char code[8];
    std::snprintf(code, sizeof code, "22%04X", e);
    records.push_back({code, "P", "", "00"});
  }
  ASSERT_TRUE(LivePassOn(Defs(records), live, "f").Ok());
  EXPECT_EQ(LiveRows.RowCount, 1001);
  EXPECT_EQ(Cell(LiveRows, 999, kColNumber), " 000");  // the last three digits of 1000
  EXPECT_EQ(GraphChannels[0].Count, 1002);
  records.push_back({"220000", "Лишняя", "", "00"});
  const LoadOutcome out = LivePassOn(Defs(records), live, "ECU/X/VORTA.ini");
  ASSERT_EQ(out.Result, LoadResult::Failed);
  EXPECT_EQ(out.Line, 1001 * 4 + 1);
  EXPECT_NE(out.Error.find("ECU/X/VORTA.ini"), std::string::npos);

  // One test definition matching 1001 requests: 1000 positions after "Нет".
  for (int e = 0; e < 1001; ++e) {
    live.Entries[e].Data[3] = 0x30;
    live.Entries[e].Data[4] = 0x01;
  }
  EXPECT_EQ(LivePassOn(Defs({{"3001", "T", "", "01"}}), live, "f").Result, LoadResult::Failed);
  EXPECT_LE(TestSelectorCount, kMaxTestPositions);
}

}  // namespace
}  // namespace kestrel::testing
