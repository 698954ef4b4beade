#include "config/load_init.h"

#include "config/settings_model.h"
#include "link/session.h"
#include "link/test_port.h"
#include "test_support.h"

namespace kestrel::testing {
namespace {

TEST(HexToByte, DigitsPairsAndInvalidCharacters) {
  EXPECT_EQ(HexToByte(""), 0);
  EXPECT_EQ(HexToByte("7"), 7);
  EXPECT_EQ(HexToByte("F"), 15);
  EXPECT_EQ(HexToByte("G"), 255);  // one non-digit
  EXPECT_EQ(HexToByte("8F"), 0x8F);
  EXPECT_EQ(HexToByte("8F77"), 0x8F);  // further characters ignored
  EXPECT_EQ(HexToByte("8f"), 127);     // lower case is not a digit: 16*8 - 1
  EXPECT_EQ(HexToByte("g0"), 240);     // -16 modulo 256
  EXPECT_EQ(HexToByte("zz"), 239);     // -17 modulo 256
}

TEST(HexToBytes, SeparatorsLowerCaseAndLoneDigit) {
  std::uint8_t a[8] = {};
  std::uint8_t b[8] = {};
  EXPECT_EQ(HexToBytes("82 10 F1 21 01 5", a, sizeof a), 5u);
  EXPECT_EQ(HexToBytes("8210f12101", b, sizeof b), 5u);
  EXPECT_EQ(0, std::memcmp(a, b, 5));
  EXPECT_EQ(a[2], 0xF1);
  EXPECT_EQ(HexToBytes("82-10;F1,21", a, sizeof a), 4u);
  // The count is reported beyond the capacity, nothing is written past it.
  std::uint8_t small[3] = {0xAA, 0xAA, 0xAA};
  EXPECT_EQ(HexToBytes("01 02 03 04", small, 2), 4u);
  EXPECT_EQ(small[2], 0xAA);
}

TEST(Conversions, IntegersFloatsAndBooleans) {
  std::int32_t i = 0;
  EXPECT_TRUE(ParseInteger("19200", i));
  EXPECT_EQ(i, 19200);
  EXPECT_TRUE(ParseInteger("-1", i));
  EXPECT_EQ(i, -1);
  EXPECT_FALSE(ParseInteger("", i));
  EXPECT_FALSE(ParseInteger("12a", i));
  EXPECT_FALSE(ParseInteger("99999999999", i));
  double d = 0;
  EXPECT_TRUE(ParseFloat("210.5", d));  // C locale in the tests
  EXPECT_DOUBLE_EQ(d, 210.5);
  EXPECT_FALSE(ParseFloat("210,5", d));
  EXPECT_FALSE(ParseFloat("inf", d));
  EXPECT_FALSE(ParseFloat("", d));
  bool b = false;
  EXPECT_TRUE(ParseBoolean("-1", b));
  EXPECT_TRUE(b);
  EXPECT_TRUE(ParseBoolean("0", b));
  EXPECT_FALSE(b);
  EXPECT_TRUE(ParseBoolean("tRuE", b));
  EXPECT_TRUE(b);
  EXPECT_TRUE(ParseBoolean("False", b));
  EXPECT_FALSE(b);
  EXPECT_FALSE(ParseBoolean("yes", b));
  EXPECT_EQ(ConversionError(kNotInteger, "x1"), "'x1' is not a valid integer value");
}

class LoadInitTest : public ConfigTest {
 protected:
  void WriteConfig(const ConfigText& cfg, const std::string& name = "ecu.ini") {
    WriteCp1251(name, cfg.Lines());
  }
  void SetUp() override {
    ConfigTest::SetUp();
    WriteDefinitions({"2101", "Блок", "", "00", "010C", "Обороты", "об/мин", "00"});
  }
};

TEST_F(LoadInitTest, CompleteLoadStoresEveryLineAsWritten) {
  ConfigText cfg;
  cfg.settings[4] = "19200";  // kept although the window offers 9600/10400
  cfg.settings[8] = "10";     // P3 below the window's minimum is kept
  cfg.settings[19] = "8f";    // lower case: 16*8 - 1
  cfg.settings[22] = "210.5";
  WriteConfig(cfg);
  LiveRows.RowInactive[5] = 1;
  FreezeRows.RowInactive[1000] = 1;
  ResponseStore[vorta::kLocal21Offset + 256 * 1 + 255] = 7;

  const LoadOutcome out = LoadInit("ecu.ini");
  ASSERT_TRUE(out.Ok()) << Utf8(out.Error);

  EXPECT_EQ(Utf8(CarName), "Тестовый автомобиль");
  EXPECT_EQ(EcuType, "3S-FE");
  EXPECT_EQ(EcuFolder, "ECU\\TEST");
  EXPECT_EQ(LinkSettings.PortName, "COM3");
  EXPECT_EQ(LinkSettings.BaudRate, 19200);
  EXPECT_EQ(LinkSettings.W5, 300);
  EXPECT_EQ(LinkSettings.P3, 10);
  EXPECT_EQ(LinkSettings.P4, 0);
  EXPECT_EQ(LinkSettings.PWakeUpH, 25);
  EXPECT_EQ(LinkSettings.Protocol, 1);
  EXPECT_EQ(LogEnabled.load(), 0);
  EXPECT_EQ(StartRequest, 1);
  EXPECT_EQ(ReconnectTime, 15);
  EXPECT_EQ(LinkSettings.EcuAddress, 0x10);
  EXPECT_EQ(LinkSettings.Kw2, 127);
  EXPECT_EQ(LinkSettings.TesterAddress, 0xF1);
  EXPECT_EQ(LinkSettings.RequestAddress, 0x33);
  EXPECT_DOUBLE_EQ(ValueQuery.InjectorFlow, 210.5);
  EXPECT_EQ(ValueQuery.Cylinders, 4);
  EXPECT_EQ(ValueQuery.Displacement, 2362);
  EXPECT_EQ(ValueQuery.FuelFactor, 760);
  EXPECT_EQ(ValueQuery.MapCorrection, 100);

  EXPECT_EQ(RequestTables[kLiveTable].Count, 2);
  const vorta::RequestEntry& e = RequestTables[kLiveTable].Entries[1];
  EXPECT_EQ(e.Length, 5);
  EXPECT_EQ(e.Data[3], 0x01);
  EXPECT_EQ(e.Data[4], 0x0C);
  EXPECT_EQ(e.Data[5], 0x00);  // nothing left over behind the request
  EXPECT_EQ(RequestTables[kDtcClearTable].Count, 2);
  EXPECT_EQ(RequestTables[kDtcClearTable].ResetCount, 1);
  EXPECT_EQ(RequestTables[kInfoTable].Entries[0].Data[3], 0x09);

  EXPECT_TRUE(ListsEnabled.Dashboard && ListsEnabled.Live && ListsEnabled.Freeze &&
              ListsEnabled.Dtc && ListsEnabled.Info);
  EXPECT_EQ(LiveRows.RowInactive[5], 0);
  EXPECT_EQ(FreezeRows.RowInactive[1000], 0);
  EXPECT_EQ(ResponseStore[vorta::kLocal21Offset + 256 * 1 + 255], 0);
  EXPECT_EQ(LiveRows.RowCount, 2);  // the live pass ran

  // The settings window shows the clamped values; closing stores them.
  EXPECT_EQ(SettingsWindowFields.Value[kFieldBaud], 1);
  EXPECT_EQ(SettingsWindowFields.Value[kFieldP3], 12);
  StoreFields(SettingsWindowFields);
  EXPECT_EQ(LinkSettings.BaudRate, 10400);
  EXPECT_EQ(LinkSettings.P3, 12);
}

TEST_F(LoadInitTest, AnyLineEndsAndAByteOrderMarkLoadTheSame) {
  std::string text;
  for (const std::string& line : ConfigText{}.Lines()) text += cp1251::FromUtf8(line) + "\n";
  auto with = [&](const std::string& end) {
    std::string out;
    for (char c : text) out += c == '\n' ? end : std::string(1, c);
    return out;
  };
  const std::string bom = "\xEF\xBB\xBF";
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {{"CR LF", with("\r\n")},
                        {"LF", with("\n")},
                        {"CR", with("\r")},
                        {"mark, CR LF", bom + with("\r\n")},
                        {"mark, CR, no last end", bom + with("\r").substr(0, text.size() - 1)}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetConfigGlobals();
    WriteRaw("ecu.ini", c.bytes);
    const LoadOutcome out = LoadInit("ecu.ini");
    ASSERT_TRUE(out.Ok()) << Utf8(out.Error);
    EXPECT_EQ(Utf8(CarName), "Тестовый автомобиль");
    EXPECT_EQ(LinkSettings.Kw2, 0x8F);
    EXPECT_EQ(RequestTables[kInfoTable].Count, 1);
    EXPECT_EQ(LiveRows.RowCount, 2);
  }
}

TEST_F(LoadInitTest, MissingFileOnlyClearsRowStateAndStore) {
  LinkSettings.PortName = "COM7";
  CarName = "old";
  LiveRows.RowInactive[0] = 1;
  ResponseStore[255] = 3;
  const LoadOutcome out = LoadInit("ecu.ini");
  EXPECT_EQ(out.Result, LoadResult::Missing);
  EXPECT_EQ(LinkSettings.PortName, "COM7");
  EXPECT_EQ(CarName, "old");
  EXPECT_EQ(LiveRows.RowInactive[0], 0);
  EXPECT_EQ(ResponseStore[255], 0);
}

TEST_F(LoadInitTest, EmptyListsDisableTheirWindows) {
  ConfigText cfg;
  cfg.dashboard.clear();
  cfg.freeze.clear();
  cfg.info.clear();
  cfg.dtcClear.clear();  // reading list present, clearing list empty
  cfg.resetCount = 0;
  WriteConfig(cfg);
  ListsEnabled = {true, true, true, true, true};
  ASSERT_TRUE(LoadInit("ecu.ini").Ok());
  EXPECT_FALSE(ListsEnabled.Dashboard);
  EXPECT_TRUE(ListsEnabled.Live);
  EXPECT_FALSE(ListsEnabled.Freeze);
  EXPECT_FALSE(ListsEnabled.Dtc);
  EXPECT_FALSE(ListsEnabled.Info);
  EXPECT_TRUE(FreezeRows.Empty());

  cfg = ConfigText{};
  cfg.dtcRead.clear();  // clearing list alone does not enable the window either
  WriteConfig(cfg);
  ASSERT_TRUE(LoadInit("ecu.ini").Ok());
  EXPECT_FALSE(ListsEnabled.Dtc);
}

TEST_F(LoadInitTest, BadNumberStopsTheLoadKeepingEarlierValues) {
  LinkSettings.P2 = 999;
  ReconnectTime = 42;
  ListsEnabled.Dashboard = true;
  SettingsWindowFields.Value[kFieldP2] = 1234;
  ConfigText cfg;
  cfg.settings[8] = "6O";  // line 9, P3: letter O instead of a zero
  WriteConfig(cfg);
  const LoadOutcome out = LoadInit("ecu.ini");
  ASSERT_EQ(out.Result, LoadResult::Failed);
  EXPECT_EQ(out.Error, "'6O' is not a valid integer value");
  EXPECT_EQ(out.Line, 9);
  EXPECT_EQ(LinkSettings.W4, 50);                         // line 8: new value
  EXPECT_EQ(LinkSettings.P2, 999);                        // line 10: old value
  EXPECT_EQ(ReconnectTime, 42);                           // untouched
  EXPECT_TRUE(ListsEnabled.Dashboard);                    // enabling did not happen
  EXPECT_EQ(SettingsWindowFields.Value[kFieldP2], 1234);  // no refresh
}

TEST_F(LoadInitTest, FloatAndBooleanLinesReportTheirOwnTexts) {
  ConfigText cfg;
  cfg.settings[22] = "210,5";  // the C locale's separator is '.'
  WriteConfig(cfg);
  LoadOutcome out = LoadInit("ecu.ini");
  EXPECT_EQ(out.Error, "'210,5' is not a valid floating point value");
  EXPECT_EQ(out.Line, 23);

  cfg = ConfigText{};
  cfg.settings[15] = "Да";
  WriteConfig(cfg);
  out = LoadInit("ecu.ini");
  EXPECT_EQ(Utf8(out.Error), "'Да' is not a valid boolean value");
  EXPECT_EQ(out.Line, 16);
}

TEST_F(LoadInitTest, MissingLinesAtTheEndFailWhereANumberIsExpected) {
  ConfigText cfg;
  std::vector<std::string> lines = cfg.Lines();
  lines.resize(lines.size() - 2);  // the information list's count and request are gone
  WriteCp1251("ecu.ini", lines);
  ListsEnabled.Info = true;
  const LoadOutcome out = LoadInit("ecu.ini");
  ASSERT_EQ(out.Result, LoadResult::Failed);
  EXPECT_EQ(out.Error, "'' is not a valid integer value");
  EXPECT_TRUE(ListsEnabled.Dtc);   // set before the failing line
  EXPECT_TRUE(ListsEnabled.Info);  // kept

  WriteCp1251("ecu.ini", {"only", "two"});
  EXPECT_EQ(LoadInit("ecu.ini").Line, 5);  // line 4 is text; line 5 is the first number
}

TEST_F(LoadInitTest, LimitsAreRefusedWithFileAndLine) {
  ConfigText cfg;
  std::vector<std::string> lines = cfg.Lines();
  lines[27] = "1002";  // dashboard count
  WriteCp1251("ecu.ini", lines);
  LoadOutcome out = LoadInit("ecu.ini");
  ASSERT_EQ(out.Result, LoadResult::Failed);
  EXPECT_EQ(out.Line, 28);
  EXPECT_NE(out.Error.find("ecu.ini"), std::string::npos);
  EXPECT_NE(Utf8(out.Error).find("строка 28"), std::string::npos);

  lines[27] = "-1";
  WriteCp1251("ecu.ini", lines);
  EXPECT_EQ(LoadInit("ecu.ini").Line, 28);

  // 254 bytes fit a frame, 255 do not.
  cfg = ConfigText{};
  cfg.dashboard = {std::string(254 * 2, 'A')};
  WriteConfig(cfg);
  ASSERT_TRUE(LoadInit("ecu.ini").Ok());
  EXPECT_EQ(RequestTables[kDashboardTable].Entries[0].Length, 254);
  cfg.dashboard = {"81 10 F1 21 01", std::string(255 * 2, 'B')};
  WriteConfig(cfg);
  out = LoadInit("ecu.ini");
  ASSERT_EQ(out.Result, LoadResult::Failed);
  EXPECT_EQ(out.Line, 30);
  EXPECT_EQ(RequestTables[kDashboardTable].Count, 1);  // only the whole request before it

  cfg.dashboard = {"81 10 F1"};  // no service byte
  WriteConfig(cfg);
  EXPECT_EQ(LoadInit("ecu.ini").Result, LoadResult::Failed);

  cfg = ConfigText{};
  cfg.settings[13] = "3";  // protocol index
  WriteConfig(cfg);
  out = LoadInit("ecu.ini");
  EXPECT_EQ(out.Line, 14);
  cfg.settings[13] = "2";
  cfg.settings[23] = "300";  // cylinders do not fit their byte
  WriteConfig(cfg);
  EXPECT_EQ(LoadInit("ecu.ini").Line, 24);
}

TEST_F(LoadInitTest, FullTablesLoadWithoutOverrun) {
  ConfigText cfg;
  cfg.live.assign(1001, "82 10 F1 21 01");
  cfg.live.back() = "82 10 F1 21 02";
  WriteConfig(cfg);
  ASSERT_TRUE(LoadInit("ecu.ini").Ok());
  EXPECT_EQ(RequestTables[kLiveTable].Count, 1001);
  EXPECT_EQ(RequestTables[kLiveTable].Entries[1000].Data[4], 0x02);
  EXPECT_EQ(RequestTables[kFreezeTable].Count, 1);
}

TEST_F(LoadInitTest, MissingDefinitionFileStopsTheLoad) {
  std::filesystem::remove("ECU/TEST/VORTA.ini");
  WriteConfig(ConfigText{});
  ListsEnabled.Freeze = false;
  const LoadOutcome out = LoadInit("ecu.ini");
  ASSERT_EQ(out.Result, LoadResult::Failed);
  EXPECT_EQ(out.Error, "File not found");
  EXPECT_EQ(out.File, "ECU/TEST/VORTA.ini");  // backslash read as '/'
  EXPECT_FALSE(ListsEnabled.Freeze);          // the freeze list was not reached
}

TEST_F(LoadInitTest, ARunningSessionEndsBeforeTheTablesAreReplaced) {
  auto port = std::make_shared<TestPort>();  // echoes, no ECU behind it
  const PortFactory old = SetPortFactory(TestPort::Factory(port));
  LinkSettings.PortName = "COM1";
  LinkSettings.Protocol = kProtoFast;
  LinkSettings.W5 = 60;
  LinkSettings.P3 = 12;
  LinkSettings.P2 = 20;
  LinkSettings.PWakeUpL = 25;
  LinkSettings.PWakeUpH = 25;
  vorta::RequestTable& table = RequestTables[kDashboardTable];
  ASSERT_TRUE(ParseRequestLine("81 10 F1 3E", table.Entries[0]));
  table.Count = 1;
  StartSession(table, LinkSettings.P2, 1);  // cyclic, as the dashboard polls
  WriteConfig(ConfigText{});
  ASSERT_TRUE(LoadInit("ecu.ini").Ok());
  const std::uint16_t status = LinkStatus.load();
  EXPECT_TRUE(status == lsIdle || status == lsError) << status;
  EXPECT_EQ(RunFlag.load(), 0);
  SetPortFactory(old);
}

}  // namespace
}  // namespace kestrel::testing
