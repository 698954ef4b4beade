#include "config/settings_model.h"

#include "test_support.h"

namespace kestrel::testing {
namespace {

TEST(SettingsFieldInfo, RangesDefaultsAndLinesOfTheWindow) {
  struct Expect {
    FieldId id;
    int min, max, def, line;
  };
  const Expect expected[] = {
      {kFieldW5, 300, 5000, 400, 6},
      {kFieldW1to4, 94, 394, 120, 7},
      {kFieldW4, 10, 50, 50, 8},
      {kFieldP3, 12, 5000, 60, 9},
      {kFieldP2, 2, 5000, 80, 10},
      {kFieldP4, 0, 20, 5, 11},
      {kFieldReconnect, 0, 50, 15, 18},
      {kFieldFuelFactor, 0, 99999, 760, 26},
      {kFieldMapCorrection, 0, 200, 100, 27},
      {kFieldPWakeUpL, 0, 50, 35, 12},
      {kFieldPWakeUpH, 0, 50, 15, 13},
      {kFieldInjectorFlow, 0, 2000, 210, 23},
      {kFieldCylinders, 0, 16, 4, 24},
      {kFieldDisplacement, 0, 99999, 1495, 25},
      {kFieldPort, 0, 14, 1, 4},
      {kFieldBaud, 0, 1, 0, 5},
      {kFieldProtocol, 0, 2, 0, 14},
      {kFieldAddressing, 0, 1, 0, 15},
  };
  for (const Expect& e : expected) {
    const FieldInfo& f = FieldInfoOf(e.id);
    EXPECT_EQ(f.Id, e.id);
    EXPECT_EQ(f.Min, e.min) << f.Caption;
    EXPECT_EQ(f.Max, e.max) << f.Caption;
    EXPECT_EQ(f.Default, e.def) << f.Caption;
    EXPECT_EQ(f.Line, e.line) << f.Caption;
  }
  // Every line 4..27 belongs to exactly one field.
  int lines[28] = {};
  for (const FieldInfo& f : SettingsFieldInfo()) ++lines[f.Line];
  for (int l = 4; l <= 27; ++l) EXPECT_EQ(lines[l], 1) << "line " << l;
  EXPECT_EQ(Utf8(FieldInfoOf(kFieldP2).Hint), "Тайминг P2+Tпрм: 50<=Sum<=5000");
  EXPECT_EQ(FieldInfoOf(kFieldAddressing).Hint, nullptr);
  EXPECT_EQ(Utf8(FieldInfoOf(kFieldAddressing).Items[1]), "Функц");
  EXPECT_STREQ(FieldInfoOf(kFieldKw2).DefaultText, "8F");
  EXPECT_STREQ(FieldInfoOf(kFieldPort).Items[14], "COM15");
}

TEST(SettingsFields, ClampingAndTextEntry) {
  SettingsFields f = SettingsFields::Defaults();
  EXPECT_EQ(f.Value[kFieldDisplacement], 1495);
  EXPECT_EQ(f.Text[kFieldEcuAddress], "13");
  f.Set(kFieldP3, 10);
  EXPECT_EQ(f.Value[kFieldP3], 12);
  f.Set(kFieldW5, 1LL << 40);
  EXPECT_EQ(f.Value[kFieldW5], 5000);
  f.SetFromText(kFieldW1to4, "abc");  // not a number: the minimum
  EXPECT_EQ(f.Value[kFieldW1to4], 94);
  f.SetFromText(kFieldP4, "7");
  EXPECT_EQ(f.Value[kFieldP4], 7);
  f.Set(kFieldProtocol, 9);
  EXPECT_EQ(f.Value[kFieldProtocol], 2);
  f.Set(kFieldLog, -1);
  EXPECT_EQ(f.Value[kFieldLog], 1);
}

class SettingsTest : public ConfigTest {};

TEST_F(SettingsTest, ActivationAndClosingRoundTrip) {
  LinkSettings.PortName = "COM12";
  LinkSettings.BaudRate = 19200;
  LinkSettings.P3 = 10;
  LinkSettings.W5 = 9000;
  LinkSettings.Protocol = 2;
  LinkSettings.EcuAddress = 0x0A;
  ValueQuery.InjectorFlow = 215.9;
  AutostartDashboard = 1;
  SettingsFields f = FieldsFromSettings();
  EXPECT_EQ(f.Value[kFieldPort], 11);
  EXPECT_EQ(f.Value[kFieldBaud], 1);
  EXPECT_EQ(f.Value[kFieldP3], 12);
  EXPECT_EQ(f.Value[kFieldW5], 5000);
  EXPECT_EQ(f.Value[kFieldProtocol], 2);
  EXPECT_EQ(f.Text[kFieldEcuAddress], "0A");
  EXPECT_EQ(f.Value[kFieldInjectorFlow], 215);  // fraction cut off
  EXPECT_EQ(f.Value[kFieldAutostart], 1);

  f.Text[kFieldKw2] = "8f";
  StoreFields(f);
  EXPECT_EQ(LinkSettings.PortName, "COM12");
  EXPECT_EQ(LinkSettings.BaudRate, 10400);
  EXPECT_EQ(LinkSettings.P3, 12);
  EXPECT_EQ(LinkSettings.Kw2, 127);
  EXPECT_DOUBLE_EQ(ValueQuery.InjectorFlow, 215.0);

  LinkSettings.PortName = "COM99";  // out of the list: nearest item
  EXPECT_EQ(FieldsFromSettings().Value[kFieldPort], 14);
  ValueQuery.InjectorFlow = -1e300;
  EXPECT_EQ(FieldsFromSettings().Value[kFieldInjectorFlow], 0);
}

TEST_F(SettingsTest, FieldLinesAreWrittenAsTheFileHoldsThem) {
  SettingsFields f = SettingsFields::Defaults();
  f.Value[kFieldLog] = 1;
  f.Value[kFieldBaud] = 1;
  f.Text[kFieldEcuAddress] = "1";  // as typed
  const auto lines = FieldLines(f);
  EXPECT_EQ(lines[0], "COM2");
  EXPECT_EQ(lines[1], "10400");
  EXPECT_EQ(lines[9 - 4], "60");
  EXPECT_EQ(lines[14 - 4], "0");
  EXPECT_EQ(lines[16 - 4], "-1");
  EXPECT_EQ(lines[17 - 4], "0");
  EXPECT_EQ(lines[19 - 4], "1");
  EXPECT_EQ(lines[20 - 4], "8F");
  EXPECT_EQ(lines[27 - 4], "100");
}

TEST_F(SettingsTest, WriterKeepsLinesOneToThreeAndTheRestByteForByte) {
  const std::string head = cp1251::FromUtf8("Авто\r\nЭБУ\nECU\\TEST\r\n");
  std::string middle;
  for (int l = 4; l <= 27; ++l) middle += "0\r\n";
  const std::string tail = cp1251::FromUtf8("1\r\n81 10 f1 21 01\n\r\nхвост без конца строки\t ");
  WriteRaw("cfg.ini", head + middle + tail);
  SettingsFields f = SettingsFields::Defaults();
  f.Value[kFieldP2] = 333;
  ASSERT_TRUE(WriteFieldsToFile("cfg.ini", f).Ok());
  std::string expected = head;
  for (const std::string& line : FieldLines(f)) expected += line + "\r\n";
  expected += tail;
  EXPECT_EQ(ReadRaw("cfg.ini"), expected);
  EXPECT_FALSE(std::filesystem::exists("$.$$$"));

  // Reading the fields back gives what was written.
  SettingsFields back;
  ASSERT_TRUE(ReadFieldsFromFile("cfg.ini", back).Ok());
  EXPECT_EQ(back.Value, f.Value);
  EXPECT_EQ(back.Text, f.Text);

  // A byte-order mark and CR line ends stay where lines are copied.
  std::string crMiddle;
  for (int l = 4; l <= 27; ++l) crMiddle += "0\r";
  WriteRaw("mac.ini",
           "\xEF\xBB\xBF"
           "A\rB\rC\r" +
               crMiddle + "1\r81 10 F1 21 01\r");
  ASSERT_TRUE(WriteFieldsToFile("mac.ini", f).Ok());
  expected =
      "\xEF\xBB\xBF"
      "A\rB\rC\r";
  for (const std::string& line : FieldLines(f)) expected += line + "\r\n";
  EXPECT_EQ(ReadRaw("mac.ini"), expected + "1\r81 10 F1 21 01\r");
}

TEST_F(SettingsTest, WriterInASubfolderAndOnShortFiles) {
  WriteRaw("ECU/short.ini", "A\r\nB");
  SettingsFields f = SettingsFields::Defaults();
  ASSERT_TRUE(WriteFieldsToFile("ECU\\short.ini", f).Ok());
  const std::string text = ReadRaw("ECU/short.ini");
  EXPECT_EQ(text.substr(0, 11), "A\r\nB\r\n\r\nCOM");  // missing line 3 written empty
  EXPECT_FALSE(std::filesystem::exists("ECU/$.$$$"));
  EXPECT_EQ(WriteFieldsToFile("none.ini", f).Result, LoadResult::Missing);
  EXPECT_FALSE(std::filesystem::exists("none.ini"));
}

TEST_F(SettingsTest, ReaderFillsFieldsOnlyAndStopsOnBadLines) {
  ConfigText cfg;
  cfg.settings[3] = "COM12";
  cfg.settings[4] = "19200";
  cfg.settings[8] = "10";
  cfg.settings[18] = "zz";
  WriteCp1251("ecu.ini", cfg.Lines());
  LinkSettings.P3 = 77;
  SettingsFields f = SettingsFields::Defaults();
  ASSERT_TRUE(ReadFieldsFromFile("ecu.ini", f).Ok());
  EXPECT_EQ(f.Value[kFieldPort], 11);
  EXPECT_EQ(f.Value[kFieldBaud], 1);
  EXPECT_EQ(f.Value[kFieldP3], 12);
  EXPECT_EQ(f.Text[kFieldEcuAddress], "zz");  // unchecked
  EXPECT_EQ(f.Value[kFieldAutostart], 1);
  EXPECT_EQ(f.Value[kFieldDisplacement], 2362);
  EXPECT_EQ(LinkSettings.P3, 77);  // the settings change only on closing

  cfg.settings[22] = "210.5";  // must be an integer here
  cfg.settings[9] = "81";
  WriteCp1251("ecu.ini", cfg.Lines());
  f = SettingsFields::Defaults();
  const LoadOutcome out = ReadFieldsFromFile("ecu.ini", f);
  ASSERT_EQ(out.Result, LoadResult::Failed);
  EXPECT_EQ(out.Error, "'210.5' is not a valid integer value");
  EXPECT_EQ(out.Line, 23);
  EXPECT_EQ(f.Value[kFieldP2], 81);        // before the bad line
  EXPECT_EQ(f.Value[kFieldCylinders], 4);  // after it: unchanged default
  SettingsFields untouched = SettingsFields::Defaults();
  EXPECT_EQ(ReadFieldsFromFile("none.ini", untouched).Result, LoadResult::Missing);
  EXPECT_EQ(untouched.Value, SettingsFields::Defaults().Value);
}

}  // namespace
}  // namespace kestrel::testing
