#include "config/catalogue.h"

#include <algorithm>

#include "config/settings_model.h"
#include "test_support.h"

namespace kestrel::testing {
namespace {

TEST(HexToWord, FourDigitsAndInvalidCharacters) {
  EXPECT_EQ(HexToWord(""), 0);
  EXPECT_EQ(HexToWord("A"), 10);
  EXPECT_EQ(HexToWord("x"), 65535);
  EXPECT_EQ(HexToWord("0171"), 0x0171);
  EXPECT_EQ(HexToWord("C123FF"), 0xC123);  // only the first four count
  EXPECT_EQ(HexToWord("01"), static_cast<std::uint16_t>(0x0100 - 16 - 1));  // missing ones -1
  EXPECT_EQ(HexToWord("017a"), static_cast<std::uint16_t>(0x0170 - 1));     // lower case -1
}

TEST(CatalogueColumns, WidthsArePartsOf777) {
  const auto w = CatalogueColumnWidths(777);
  EXPECT_EQ(w[0], 34);
  EXPECT_EQ(w[1], 444);
  EXPECT_EQ(w[2], 230);
  EXPECT_EQ(w[3], 45);
  EXPECT_EQ(w[4], 0);
  EXPECT_EQ(CatalogueColumnWidths(400)[1], 229);  // 228.57 rounded
}

class CatalogueTest : public ConfigTest {
 protected:
  void WriteEcuFolder() {
    WriteDefinitions({"0105", "Температура ОЖ", "°C", "00", "0902", "VIN", "", "00"});
    WriteCp1251("ECU/TEST/dtc.ini", {"0171", "Бедная смесь", "0300", "Пропуски зажигания"});
  }
};

TEST_F(CatalogueTest, TroubleCodeTextsEdgeCases) {
  WriteCp1251("d1.ini", {"0171", "Первый", "0420", "Катализатор", "0171", "Второй", "05"});
  ASSERT_TRUE(LoadDtcTextsFrom("d1.ini").Ok());
  ASSERT_EQ(DtcTexts.Count, 4);
  EXPECT_EQ(Utf8(*DtcTexts.Find(0x0171)), "Первый");  // the first of two
  EXPECT_EQ(DtcTexts.Entries[3].Code, HexToWord("05"));
  EXPECT_EQ(DtcTexts.Entries[3].Text, "");  // last code without its text
  EXPECT_EQ(DtcTexts.Find(0x0500), nullptr);

  WriteRaw("empty.ini", "");
  ASSERT_TRUE(LoadDtcTextsFrom("empty.ini").Ok());
  EXPECT_EQ(DtcTexts.Count, 0);
  EXPECT_EQ(DtcTexts.Find(0x0171), nullptr);  // nothing left of the earlier file

  WriteCp1251("lower.ini", {"p0171", "строчные"});
  ASSERT_TRUE(LoadDtcTextsFrom("lower.ini").Ok());
  EXPECT_EQ(DtcTexts.Count, 1);
  EXPECT_EQ(LoadDtcTextsFrom("none.ini").Result, LoadResult::Missing);
}

TEST_F(CatalogueTest, MoreThan1001TextsAreRefused) {
  std::vector<std::string> lines;
  for (int i = 0; i < 1001; ++i) {
    char code[8];
    std::snprintf(code, sizeof code, "%04X", i);
    lines.push_back(code);
    lines.push_back("t");
  }
  WriteCp1251("full.ini", lines);
  ASSERT_TRUE(LoadDtcTextsFrom("full.ini").Ok());
  EXPECT_EQ(DtcTexts.Count, 1001);
  lines.push_back("1001");
  lines.push_back("лишний");
  WriteCp1251("over.ini", lines);
  const LoadOutcome out = LoadDtcTextsFrom("over.ini");
  ASSERT_EQ(out.Result, LoadResult::Failed);
  EXPECT_EQ(out.Line, 2003);
  EXPECT_NE(out.Error.find("over.ini"), std::string::npos);
  EXPECT_EQ(DtcTexts.Count, 0);
}

TEST_F(CatalogueTest, ListingColumnsAndOrder) {
  WriteCp1251("ECU/b_corolla.ini", {"Corolla", "4A-FE"});
  WriteCp1251("ECU/A_Camry.INI", {"Камри"});  // no second line
  WriteCp1251("ECU/notes.txt", {"x"});
  std::filesystem::create_directories("ECU/TOYOTA");
  const auto rows = ListCatalogue();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].Cells[kCatNumber], "0001");
  EXPECT_EQ(Utf8(rows[0].Cells[kCatCar]), "Камри");
  EXPECT_EQ(rows[0].Cells[kCatEcu], "");
  EXPECT_EQ(rows[0].Cells[kCatShort], "A_Camry");
  EXPECT_EQ(rows[0].Cells[kCatFile], "A_Camry.INI");
  EXPECT_EQ(rows[1].Cells[kCatNumber], "0002");
  EXPECT_EQ(rows[1].Cells[kCatEcu], "4A-FE");
  EXPECT_TRUE(ListCatalogue("NOWHERE").empty());
  EXPECT_TRUE(EmptyCatalogueOutcome().Quit);
}

TEST_F(CatalogueTest, EveryListedRowLoadsItsOwnFile) {
  // A backslash is read as a separator, so "a\b.ini" cannot be loaded; the
  // two names whose letters the code page lacks both read "??.ini", which
  // leads to one of them only.
  WriteCp1251("ECU/a\\b.ini", {"Backslash"});
  WriteCp1251("ECU/日本.ini", {"Nihon"});
  WriteCp1251("ECU/中国.ini", {"Zhongguo"});
  const auto rows = ListCatalogue();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].Cells[kCatFile], "??.ini");
  EXPECT_EQ(rows[0].Cells[kCatCar], "Zhongguo");  // the file "??.ini" opens
}

TEST_F(CatalogueTest, ChoiceLoadsConfigurationTextsAndNames) {
  WriteEcuFolder();
  WriteCp1251("ECU/CAR.ini", ConfigText{}.Lines());
  const ConfigOutcome out = LoadChosenConfiguration(true, "CAR.ini");
  EXPECT_FALSE(out.Quit);
  EXPECT_EQ(out.Error, "");
  EXPECT_EQ(ConfigFileName, "ECU/CAR.ini");
  EXPECT_EQ(DtcTexts.Count, 2);
  EXPECT_EQ(Utf8(PidNames.Sid01[5]), "PID=05 Температура ОЖ");
  EXPECT_EQ(PidNames.Sid09[2], "PID=02 VIN");
}

TEST_F(CatalogueTest, ChoiceQuitDecisions) {
  WriteEcuFolder();
  WriteCp1251("ECU/CAR.ini", ConfigText{}.Lines());
  EXPECT_TRUE(LoadChosenConfiguration(false, "CAR.ini").Quit);
  EXPECT_TRUE(LoadChosenConfiguration(true, "").Quit);
  const ConfigOutcome gone = LoadChosenConfiguration(true, "GONE.ini");
  EXPECT_TRUE(gone.Quit);
  EXPECT_NE(gone.StderrLine.find("ECU/GONE.ini"), std::string::npos);
  EXPECT_EQ(ConfigFileName, "ecu.ini");

  std::filesystem::remove("ECU/TEST/dtc.ini");
  const ConfigOutcome nodtc = LoadChosenConfiguration(true, "CAR.ini");
  EXPECT_TRUE(nodtc.Quit);
  EXPECT_NE(nodtc.StderrLine.find("ECU/TEST/dtc.ini"), std::string::npos);
}

TEST_F(CatalogueTest, ChoiceWithABadLineShowsTheErrorAndKeepsThePreviousConfiguration) {
  WriteEcuFolder();
  WriteCp1251("ECU/CAR.ini", ConfigText{}.Lines());
  ASSERT_TRUE(LoadChosenConfiguration(true, "CAR.ini").Loaded);
  AutostartDashboard = StartRequest;  // as the start-up timer takes it
  LiveRows.RowInactive[1] = 1;        // a row the user hid
  const SettingsFields carFields = SettingsWindowFields;
  const std::string carFile = ReadRaw("ECU/CAR.ini");

  // Another car whose file fails in its live list, after its names, folder,
  // settings and first list have been read.
  ConfigText other;
  other.settings[0] = "Другой автомобиль";
  other.settings[2] = "ECU\\OTHER";
  other.settings[3] = "COM7";
  other.settings[23] = "6";
  other.dashboard = {"81 10 F1 21 02", "81 10 F1 21 03"};
  other.live = {"82 10 F1 21 01", "x"};
  WriteCp1251("ECU/OTHER/VORTA.ini", {"2101", "Обороты", "", "00"});
  WriteCp1251("ECU/BAD.ini", other.Lines());
  const ConfigOutcome out = LoadChosenConfiguration(true, "BAD.ini");
  EXPECT_FALSE(out.Quit);
  EXPECT_FALSE(out.Loaded) << "the caller must not rebind the module";
  EXPECT_NE(out.Error, "");

  // Everything in memory is still the first car's, so writing the settings
  // into ConfigFileName cannot carry the other car's values into its file.
  EXPECT_EQ(ConfigFileName, "ECU/CAR.ini");
  EXPECT_EQ(Utf8(CarName), "Тестовый автомобиль");
  EXPECT_EQ(EcuFolder, "ECU\\TEST");
  EXPECT_EQ(LinkSettings.PortName, "COM3");
  EXPECT_EQ(ValueQuery.Cylinders, 4);
  EXPECT_EQ(RequestTables[kDashboardTable].Count, 1);
  EXPECT_EQ(RequestTables[kLiveTable].Count, 2);
  EXPECT_EQ(LiveRows.RowInactive[1], 1);
  EXPECT_EQ(DtcTexts.Count, 2);
  EXPECT_EQ(SettingsWindowFields.Value, carFields.Value);
  ASSERT_TRUE(WriteFieldsToFile(ConfigFileName, FieldsFromSettings()).Ok());
  EXPECT_EQ(ReadRaw("ECU/CAR.ini"), carFile);
}

TEST_F(CatalogueTest, CatalogueFromWindowsWithUtf8NamesAndFoldersInAnotherCase) {
  // On disk: UTF-8 names; in the files: code page 1251 and another letter case.
  WriteCp1251("ECU/ТОЙОТА/VORTA.ini", {"2101", "Обороты", "", "00"});
  WriteCp1251("ECU/ТОЙОТА/DTC.INI", {"0171", "Бедная смесь"});
  ConfigText cfg;
  cfg.settings[2] = "ecu\\тойота";
  cfg.settings[16] = "0";  // autostart, which the settings window writes from elsewhere
  WriteCp1251("ECU/Иж Королла.ini", cfg.Lines());

  const auto rows = ListCatalogue();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(Utf8(rows[0].Cells[kCatShort]), "Иж Королла");
  const ConfigOutcome out = LoadChosenConfiguration(true, rows[0].Cells[kCatFile]);
  ASSERT_TRUE(out.Loaded) << out.StderrLine << Utf8(out.Error);
  EXPECT_EQ(Utf8(ConfigFileName), "ECU/Иж Королла.ini");
  EXPECT_EQ(DtcTexts.Count, 1);
  EXPECT_EQ(LiveRows.RowCount, 1);
  EXPECT_EQ(Utf8(LiveRows.Rows[0].Cells[kColName]), "Обороты");

  // The settings writer rewrites that very file, and no other appears.
  SettingsFields fields = FieldsFromSettings();
  fields.Set(kFieldW4, 33);
  ASSERT_TRUE(WriteFieldsToFile(ConfigFileName, fields).Ok());
  std::vector<std::string> expected = cfg.Lines();
  expected[7] = "33";  // W4
  std::string bytes;
  for (const std::string& line : expected) bytes += cp1251::FromUtf8(line) + "\r\n";
  EXPECT_EQ(ReadRaw("ECU/Иж Королла.ini"), bytes);
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator("ECU"))
    names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Иж Королла.ini", "ТОЙОТА"}));
}

TEST_F(CatalogueTest, StartupLoadWithAndWithoutEcuIni) {
  ConfigOutcome out = StartupLoad();
  EXPECT_FALSE(out.Quit);
  EXPECT_EQ(ConfigMissing, 1);
  EXPECT_EQ(ConfigFileName, "ecu.ini");

  WriteEcuFolder();
  WriteCp1251("ecu.ini", ConfigText{}.Lines());
  out = StartupLoad();
  EXPECT_FALSE(out.Quit);
  EXPECT_EQ(ConfigMissing, 0);
  EXPECT_EQ(DtcTexts.Count, 2);

  std::filesystem::remove("ECU/TEST/dtc.ini");
  EXPECT_TRUE(StartupLoad().Quit);
}

}  // namespace
}  // namespace kestrel::testing
