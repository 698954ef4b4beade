// "Сохранить как...": the file it writes, the Skip side effect and the
// atomic replace.
#include "app/save_as.h"

#include <QAction>
#include <QLineEdit>
#include <QSpinBox>

#include "app/main_window.h"
#include "app/startup.h"
#include "app/tests/test_support.h"
#include "common/cp1251.h"
#include "common/program_folder.h"
#include "config/config_globals.h"
#include "config/load_init.h"
#include "config/settings_model.h"
#include "config/ui/settings_window.h"
#include "link/link_globals.h"
#include "uikit/ui_support.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using testing::ConfigLines;
using testing::ReadLinesUtf8;
using testing::TestLists;
using testing::WriteCp1251;

// A live list whose first request (21 01) feeds two rows, one request (01 00)
// no row maps to; VORTA.ini with two definitions of 2101.
class SaveAsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ResetProgramState();
    testing::MakeEcuFolder("ECU/ONE");
    WriteCp1251("ECU/ONE/VORTA.ini", {"2101", "Первый", "-", "00",   //
                                      "010C", "Обороты", "-", "00",  //
                                      "2101", "Второй", "-", "00",   //
                                      "010D", "Скорость", "-", "00"});
    lists_.Live = {"82 10 F1 21 01", "82 10 F1 01 0C", "82 10 F1 01 00", "82 10 F1 01 0D"};
    lists_.Freeze = {"83 10 F1 02 0C 00", "83 10 F1 02 0D 00"};
    lines_ = ConfigLines("Старое имя", "Старый ECU", "ECU\\ONE", lists_);
    lines_.push_back("хвост после списков");  // kept by the copy of the rest
    WriteCp1251("ecu.ini", lines_);
    WriteCp1251("ECU/target.ini", {"old"});
    ASSERT_TRUE(LoadInit("ecu.ini").Ok());
    ConfigFileName = "ecu.ini";
    ASSERT_EQ(LiveRows.RowCount, 4);  // Первый, Обороты, Второй, Скорость (definition order)
  }
  void TearDown() override { testing::ResetProgramState(); }

  SaveAsInput Input() {
    SaveAsInput in;
    in.ConfigFile = "ecu.ini";
    in.TargetFile = "ECU/target.ini";
    in.CarName = cp1251::FromUtf8("Новое имя");
    in.EcuType = cp1251::FromUtf8("Новый ECU");
    in.SettingsLines = FieldLines(FieldsFromSettings());
    return in;
  }
  SaveAsOutcome Save(const SaveAsInput& in) {
    return SaveConfigurationAs(in, RequestTables[kLiveTable], LiveRows, RequestTables[kFreezeTable],
                               FreezeRows);
  }

  testing::ScratchDir dir_;
  TestLists lists_;
  std::vector<std::string> lines_;
};

TEST_F(SaveAsTest, WritesNamesSettingsAndListsWithoutRequestsOfInactiveRows) {
  LiveRows.RowInactive[0] = 1;    // "Первый" (21 01) inactive, "Второй" (21 01) active
  FreezeRows.RowInactive[1] = 1;  // 02 0D
  SaveAsInput in = Input();
  in.SettingsLines[2] = "777";  // line 6 (W5) as the settings window shows it
  ASSERT_EQ(Save(in).Result, SaveAsResult::Saved);

  const std::vector<std::string> got = ReadLinesUtf8("ECU/target.ini");
  std::vector<std::string> want = lines_;
  want[0] = "Новое имя";
  want[1] = "Новый ECU";
  want[5] = "777";
  // Dashboard: line 28 count 1, line 29. Live: count at 30, requests 31..34.
  ASSERT_EQ(want[29], "4");
  want[29] = "3";
  want.erase(want.begin() + 30);  // 21 01 left out though an active row uses it too
  // Freeze: count then 02 0C, 02 0D.
  ASSERT_EQ(want[33], "2");
  want[33] = "1";
  want.erase(want.begin() + 35);
  EXPECT_EQ(got, want);

  // The request no row maps to (01 00) stayed; Skip in memory equals what was written.
  const auto& live = RequestTables[kLiveTable];
  EXPECT_EQ(GetSkip(live.Entries[0]), 1);
  EXPECT_EQ(GetSkip(live.Entries[1]), 0);
  EXPECT_EQ(GetSkip(live.Entries[2]), 0);
  EXPECT_EQ(GetSkip(live.Entries[3]), 0);
  EXPECT_EQ(GetSkip(RequestTables[kFreezeTable].Entries[1]), 1);
  EXPECT_FALSE(fs::exists("ECU/$.$$$"));

  // The saved file is a configuration that loads.
  ASSERT_TRUE(LoadInit("ECU/target.ini").Ok());
  EXPECT_EQ(RequestTables[kLiveTable].Count, 3);
  EXPECT_EQ(ValueQuery.InjectorFlow, 210);
}

TEST_F(SaveAsTest, CopiedLinesKeepTheirBytesAndAnEmptyFreezeListStaysZero) {
  lists_.Freeze.clear();
  lines_ = ConfigLines("A", "B", "ECU\\ONE", lists_);
  WriteCp1251("ecu.ini", lines_);
  // A last line without its line end and odd bytes in copied lines stay as they were.
  std::string bytes = testing::ReadRaw("ecu.ini");
  bytes += "\xC0\xC1 tail\tline";
  std::ofstream("ecu.ini", std::ios::binary) << bytes;
  ASSERT_TRUE(LoadInit("ecu.ini").Ok());
  ASSERT_TRUE(FreezeRows.Empty());

  SaveAsInput in = Input();
  in.CarName = "A";
  in.EcuType = "B";
  ASSERT_EQ(Save(in).Result, SaveAsResult::Saved);
  const std::string saved = testing::ReadRaw("ECU/target.ini");
  EXPECT_EQ(saved, bytes) << "nothing inactive, same names and settings: the same file";

  const std::vector<std::string> got = ReadLinesUtf8("ECU/target.ini");
  const auto freezeCount = std::find(got.begin() + 30, got.end(), "0");
  ASSERT_NE(freezeCount, got.end());
  EXPECT_EQ(*(freezeCount + 1), "1") << "the reading list follows the freeze count directly";
}

TEST_F(SaveAsTest, RefusesWithoutTouchingTheChosenFile) {
  const std::string before = testing::ReadRaw("ECU/target.ini");
  // The configuration in use has gone: nothing happens.
  fs::rename("ecu.ini", "gone.ini");
  EXPECT_EQ(Save(Input()).Result, SaveAsResult::NothingDone);
  fs::rename("gone.ini", "ecu.ini");

  // The live list in the file no longer matches the one in memory.
  std::vector<std::string> edited = lines_;
  edited[29] = "3";
  edited.erase(edited.begin() + 30);
  WriteCp1251("ecu.ini", edited);
  SaveAsOutcome out = Save(Input());
  EXPECT_EQ(out.Result, SaveAsResult::Failed);
  EXPECT_NE(cp1251::ToUtf8(out.Error).find("изменился"), std::string::npos);

  // A file cut short.
  WriteCp1251("ecu.ini", std::vector<std::string>(lines_.begin(), lines_.begin() + 20));
  EXPECT_EQ(Save(Input()).Result, SaveAsResult::Failed);
  WriteCp1251("ecu.ini", lines_);

  // The temporary file cannot be created.
  fs::create_directory("ECU/$.$$$");
  out = Save(Input());
  EXPECT_EQ(out.Result, SaveAsResult::Failed);
  EXPECT_NE(cp1251::ToUtf8(out.Error).find("$.$$$"), std::string::npos);
  fs::remove("ECU/$.$$$");

  // The chosen file must exist.
  SaveAsInput in = Input();
  in.TargetFile = "ECU/none.ini";
  EXPECT_EQ(Save(in).Result, SaveAsResult::Failed);
  EXPECT_FALSE(fs::exists("ECU/none.ini"));

  EXPECT_EQ(testing::ReadRaw("ECU/target.ini"), before);
  EXPECT_FALSE(fs::exists("ECU/$.$$$"));
}

TEST_F(SaveAsTest, MenuCommandSavesWhatTheWindowsShow) {
  auto form = StartProgram();
  ASSERT_FALSE(ui::QuitRequested());
  EXPECT_EQ(TForm1::SaveAsFolder(), QCoreApplication::applicationDirPath() + "/ECU/");
  // Installed, the launcher names the user's working folder instead.
  ::setenv(kProgramDirVariable, "/home/u/.local/share/kestrel/", 1);
  EXPECT_EQ(TForm1::SaveAsFolder(), "/home/u/.local/share/kestrel/ECU/");
  ::unsetenv(kProgramDirVariable);
  form->Edit1()->setText(QStringLiteral("Из окна"));
  static_cast<QSpinBox*>(form->Forms().Form12->Editor(kFieldW4))->setValue(33);

  QString folderSeen;
  form->SetSaveAsChooser([&](QWidget*, const QString& folder) {
    folderSeen = folder;
    return QString();  // cancelled
  });
  const std::string before = testing::ReadRaw("ECU/target.ini");
  form->SaveAs1Click();
  EXPECT_EQ(folderSeen, TForm1::SaveAsFolder());
  EXPECT_EQ(testing::ReadRaw("ECU/target.ini"), before);

  form->SetSaveAsChooser([](QWidget*, const QString&) { return QStringLiteral("ECU/target.ini"); });
  form->SaveAs1Click();
  const std::vector<std::string> got = ReadLinesUtf8("ECU/target.ini");
  ASSERT_GT(got.size(), 27u);
  EXPECT_EQ(got[0], "Из окна");
  EXPECT_EQ(got[1], "Старый ECU");
  EXPECT_EQ(got[7], "33");  // line 8: W4 from the settings window's field

  // A failure shows the error box.
  std::vector<QString> boxes;
  ui::SetErrorBoxHandler([&](const QString& text) { boxes.push_back(text); });
  fs::create_directory("ECU/$.$$$");
  form->SaveAs1Click();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_TRUE(boxes[0].contains(QStringLiteral("$.$$$")));
}

}  // namespace
}  // namespace kestrel
