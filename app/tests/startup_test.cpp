// Start-up of the program: windows, start-up load, the one-second timer,
// catalogue choices, module binding and the silent ends.
#include "app/startup.h"

#include <dlfcn.h>

#include <QAction>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>
#include <QToolButton>
#include <algorithm>

#include "app/main_window.h"
#include "app/single_instance.h"
#include "app/tests/test_support.h"
#include "common/cp1251.h"
#include "config/catalogue.h"
#include "config/config_globals.h"
#include "config/module_binding.h"
#include "config/ui/catalogue_window.h"
#include "screens/dashboard.h"
#include "uikit/ui_support.h"

namespace kestrel {
namespace {

using testing::ConfigLines;
using testing::OnModal;
using testing::ProcessUntil;
using testing::TestLists;
using testing::WriteCp1251;

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::ResetProgramState(); }
  void TearDown() override {
    form_.reset();
    testing::ResetProgramState();
  }

  std::string Utf8(const QString& s) { return s.toStdString(); }

  testing::ScratchDir dir_;
  std::unique_ptr<TForm1> form_;
};

TEST_F(StartupTest, WithEcuIniShowsItsNamesAndBindsAfterOneSecondWithoutCatalogue) {
  testing::MakeCatalogue();
  WriteCp1251("ecu.ini", ConfigLines("Ниссан Санни", "QG15", "ECU\\ONE"));
  auto catalogueShown = OnModal<TForm11>([](TForm11* w) { w->Button2Click(); }, 60000);

  QElapsedTimer clock;
  clock.start();
  form_ = StartProgram();
  ASSERT_FALSE(ui::QuitRequested());
  EXPECT_EQ(ConfigMissing, 0);
  EXPECT_EQ(ConfigFileName, "ecu.ini");
  EXPECT_EQ(Utf8(form_->Edit1()->text()), "Ниссан Санни");
  EXPECT_EQ(Utf8(form_->Edit2()->text()), "QG15");
  EXPECT_EQ(DtcTexts.Count, 2);
  EXPECT_FALSE(VehicleModule.Bound()) << "the module is bound by the timer, not at creation";

  ASSERT_TRUE(ProcessUntil([] { return VehicleModule.Bound(); }, 10000));
  EXPECT_GE(clock.elapsed(), 900);
  EXPECT_EQ(ModulePath(), "ECU/ONE/VORTA.so");
  EXPECT_EQ(DashboardFirstShow, 1);
  ProcessUntil([] { return false; }, 300);
  EXPECT_FALSE(catalogueShown->Seen());
  EXPECT_FALSE(ui::QuitRequested());
}

TEST_F(StartupTest, WithoutEcuIniTheCatalogueChoiceLoadsTheConfigurationAndBinds) {
  testing::MakeCatalogue();
  QElapsedTimer clock;
  qint64 shownAfter = -1;
  auto shown = OnModal<TForm11>([&](TForm11* w) {
    shownAfter = clock.elapsed();
    EXPECT_EQ(w->Grid()->rowCount(), 2);
    w->Grid()->setCurrentCell(1, kCatCar);
    w->Button1Click();
  });
  clock.start();
  form_ = StartProgram();
  EXPECT_EQ(ConfigMissing, 1);
  EXPECT_EQ(ConfigFileName, "ecu.ini");
  EXPECT_TRUE(form_->Edit1()->text().isEmpty());
  EXPECT_FALSE(form_->SpeedButton(TForm1::kButtonLive)->isEnabled());
  EXPECT_FALSE(form_->MenuItem(TForm1::kItemDashboard)->isEnabled());

  ASSERT_TRUE(ProcessUntil([] { return VehicleModule.Bound(); }, 10000));
  EXPECT_TRUE(shown->Seen());
  EXPECT_GE(shownAfter, 900);
  EXPECT_EQ(ConfigFileName, "ECU/B.ini");
  EXPECT_EQ(Utf8(form_->Edit1()->text()), "Тойота Королла");
  EXPECT_EQ(ModulePath(), "ECU/TWO/VORTA.so");
  EXPECT_TRUE(form_->SpeedButton(TForm1::kButtonLive)->isEnabled());
  EXPECT_FALSE(ui::QuitRequested());
}

TEST_F(StartupTest, MenuCatalogueChoiceReloadsAndRebindsTheModule) {
  testing::MakeCatalogue();
  WriteCp1251("ecu.ini", ConfigLines("Старт", "X", "ECU\\ONE"));
  form_ = StartProgram();
  form_->Timer1Timer();  // what the timer does after one second
  ASSERT_TRUE(VehicleModule.Bound());

  // Choosing without touching the grid takes the first row.
  auto shown = OnModal<TForm11>([](TForm11* w) { w->Button1Click(); });
  form_->SelectEcu1Click();
  EXPECT_TRUE(shown->Seen());
  EXPECT_EQ(ConfigFileName, "ECU/A.ini");
  EXPECT_EQ(Utf8(form_->Edit1()->text()), "Тойота Камри");
  ASSERT_TRUE(VehicleModule.Bound());
  EXPECT_EQ(ModulePath(), "ECU/ONE/VORTA.so");

  // A double click on the second row chooses it; the module of its folder is bound.
  shown = OnModal<TForm11>([](TForm11* w) {
    w->Grid()->setCurrentCell(1, kCatCar);  // the first click of the double click
    emit w->Grid()->cellDoubleClicked(1, kCatCar);
  });
  form_->SelectEcu1Click();
  EXPECT_TRUE(shown->Seen());
  EXPECT_EQ(ConfigFileName, "ECU/B.ini");
  ASSERT_TRUE(VehicleModule.Bound());
  EXPECT_EQ(ModulePath(), "ECU/TWO/VORTA.so");
  Dl_info where{};
  ASSERT_NE(dladdr(reinterpret_cast<void*>(VehicleModule.PIDVAL), &where), 0);
  EXPECT_NE(std::string(where.dli_fname).find("ECU/TWO/VORTA.so"), std::string::npos)
      << where.dli_fname;
  EXPECT_FALSE(ui::QuitRequested());
}

TEST_F(StartupTest, AFailedCatalogueChoiceKeepsTheCarAndModuleInUse) {
  testing::MakeCatalogue();
  std::vector<std::string> bad = ConfigLines("Сломанная", "X", "ECU\\TWO");
  bad[7] = "x";  // line 8 (W4), after the names, the folder and the port
  WriteCp1251("ECU/C.ini", bad);
  std::vector<std::string> boxes;
  ui::SetErrorBoxHandler([&](const QString& text) { boxes.push_back(text.toStdString()); });
  auto choose = [](int row) {
    return [row](TForm11* w) {
      w->Grid()->setCurrentCell(row, kCatCar);
      w->Button1Click();
    };
  };

  // Without ecu.ini: after the failed choice the catalogue comes back.
  std::unique_ptr<testing::ModalWatch> second;
  auto first = OnModal<TForm11>([&](TForm11* w) {
    choose(2)(w);
    second = OnModal<TForm11>(choose(0));
  });
  form_ = StartProgram();
  form_->Timer1Timer();
  ASSERT_TRUE(second && second->Seen());
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], "'x' is not a valid integer value");
  EXPECT_EQ(ConfigFileName, "ECU/A.ini");
  ASSERT_TRUE(VehicleModule.Bound());
  EXPECT_EQ(ModulePath(), "ECU/ONE/VORTA.so");

  // From the menu: the error, and the car, its file and its module stay.
  void* const handle = VehicleModule.ModuleHandle;
  auto again = OnModal<TForm11>(choose(2));
  form_->SelectEcu1Click();
  ASSERT_TRUE(again->Seen());
  EXPECT_EQ(boxes.size(), 2u);
  EXPECT_EQ(Utf8(form_->Edit1()->text()), "Тойота Камри");
  EXPECT_EQ(ConfigFileName, "ECU/A.ini");
  EXPECT_EQ(ModulePath(), "ECU/ONE/VORTA.so");
  EXPECT_EQ(VehicleModule.ModuleHandle, handle) << "the module was rebound";
  EXPECT_TRUE(form_->SpeedButton(TForm1::kButtonLive)->isEnabled());
  EXPECT_FALSE(ui::QuitRequested());
}

TEST_F(StartupTest, CatalogueNamesOnDiskInUtf8AndFoldersInAnotherCaseAreUsedAsShown) {
  testing::MakeEcuFolder("ECU/ТОЙОТА");
  WriteCp1251("ECU/Иж Королла.ini", ConfigLines("Королла", "4A-FE", "ecu\\тойота"));
  WriteCp1251("ECU/Копия.ini", {"old"});
  QString shownName;
  auto shown = OnModal<TForm11>([&](TForm11* w) {
    shownName = w->Grid()->item(0, kCatShort)->text();
    w->Button1Click();
  });
  form_ = StartProgram();
  form_->Timer1Timer();
  ASSERT_TRUE(shown->Seen());
  EXPECT_EQ(Utf8(shownName), "Иж Королла");
  ASSERT_FALSE(ui::QuitRequested()) << "the choice of a name with И did not load";
  EXPECT_EQ(cp1251::ToUtf8(ConfigFileName), "ECU/Иж Королла.ini");
  ASSERT_TRUE(VehicleModule.Bound());
  EXPECT_EQ(DtcTexts.Count, 2);

  form_->SetSaveAsChooser([](QWidget*, const QString&) { return QStringLiteral("ECU/Копия.ini"); });
  form_->SaveAs1Click();
  const std::vector<std::string> saved = testing::ReadLinesUtf8("ECU/Копия.ini");
  ASSERT_GT(saved.size(), 27u);
  EXPECT_EQ(saved[0], "Королла");
  EXPECT_EQ(saved[2], "ecu\\тойота");
}

TEST_F(StartupTest, AutostartOpensTheDashboardAfterBinding) {
  testing::MakeCatalogue();
  WriteCp1251("ecu.ini", ConfigLines("Авто", "ECU", "ECU\\ONE", {}, /*autostart=*/true));
  bool boundWhenShown = false;
  auto shown = OnModal<TForm5>([&](TForm5* w) {
    boundWhenShown = VehicleModule.Bound();
    w->accept();
  });
  form_ = StartProgram();
  ASSERT_TRUE(ProcessUntil([&] { return shown->Seen(); }, 10000));
  EXPECT_TRUE(boundWhenShown);
  EXPECT_EQ(AutostartDashboard, 1);
}

TEST_F(StartupTest, ButtonsAndMenuItemsFollowTheListsOfEachLoad) {
  testing::MakeEcuFolder("ECU/ONE");
  struct Case {
    const char* name;
    TestLists lists;
    bool dashboard, live, freeze, dtc, info;
  };
  std::vector<Case> cases;
  cases.push_back({"all lists", {}, true, true, true, true, true});
  TestLists noClear;
  noClear.DtcClear.clear();
  cases.push_back({"empty clearing list", noClear, true, true, true, false, true});
  TestLists noRead;
  noRead.DtcRead.clear();
  cases.push_back({"empty reading list", noRead, true, true, true, false, true});
  TestLists few;
  few.Dashboard.clear();
  few.Live.clear();
  few.Freeze.clear();
  few.Info.clear();
  cases.push_back({"only trouble codes", few, false, false, false, true, false});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::ResetProgramState();
    WriteCp1251("ecu.ini", ConfigLines("A", "B", "ECU\\ONE", c.lists));
    form_ = StartProgram();
    ASSERT_FALSE(ui::QuitRequested());
    auto on = [&](TForm1::Button b, TForm1::Item i) {
      EXPECT_EQ(form_->SpeedButton(b)->isEnabled(), form_->MenuItem(i)->isEnabled());
      return form_->SpeedButton(b)->isEnabled();
    };
    EXPECT_EQ(on(TForm1::kButtonDashboard, TForm1::kItemDashboard), c.dashboard);
    EXPECT_EQ(on(TForm1::kButtonLive, TForm1::kItemLive), c.live);
    EXPECT_EQ(on(TForm1::kButtonGraphs, TForm1::kItemGraphs), c.live);
    EXPECT_EQ(on(TForm1::kButtonFreeze, TForm1::kItemFreeze), c.freeze);
    EXPECT_EQ(on(TForm1::kButtonDtc, TForm1::kItemDtc), c.dtc);
    EXPECT_EQ(on(TForm1::kButtonInfo, TForm1::kItemInfo), c.info);
    // The commands that need no list stay available.
    EXPECT_TRUE(form_->SpeedButton(TForm1::kButtonExit)->isEnabled());
    EXPECT_TRUE(form_->MenuItem(TForm1::kItemSettings)->isEnabled());
    EXPECT_TRUE(form_->MenuItem(TForm1::kItemCatalogue)->isEnabled());
    form_.reset();
  }
}

TEST_F(StartupTest, ConfigurationProblemsEndTheProgramWithOneStderrLine) {
  // No dtc.ini in the folder of ecu.ini: ends during the start-up load.
  testing::MakeEcuFolder("ECU/ONE", /*withDtc=*/false);
  WriteCp1251("ecu.ini", ConfigLines("A", "B", "ECU\\ONE"));
  ::testing::internal::CaptureStderr();
  form_ = StartProgram();
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_TRUE(ui::QuitRequested());
  EXPECT_EQ(ui::QuitStatus(), kConfigQuitStatus);
  EXPECT_NE(err.find("dtc.ini"), std::string::npos) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  form_.reset();

  // No module in the folder: ends when the timer binds.
  testing::ResetProgramState();
  std::filesystem::remove_all("ECU");
  testing::MakeEcuFolder("ECU/ONE");
  std::filesystem::remove("ECU/ONE/VORTA.so");
  form_ = StartProgram();
  ASSERT_FALSE(ui::QuitRequested());
  ::testing::internal::CaptureStderr();
  form_->Timer1Timer();
  err = ::testing::internal::GetCapturedStderr();
  EXPECT_TRUE(ui::QuitRequested());
  EXPECT_EQ(ui::QuitStatus(), kConfigQuitStatus);
  EXPECT_NE(err.find("VORTA.so"), std::string::npos) << err;
}

TEST_F(StartupTest, LeavingOrFindingAnEmptyCatalogueEndsTheProgram) {
  // Empty catalogue: the window closes at once, status and stderr of a configuration problem.
  std::filesystem::create_directory("ECU");
  form_ = StartProgram();
  ::testing::internal::CaptureStderr();
  form_->Timer1Timer();
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_TRUE(ui::QuitRequested());
  EXPECT_EQ(ui::QuitStatus(), kConfigQuitStatus);
  EXPECT_NE(err.find("ECU"), std::string::npos) << err;
  EXPECT_FALSE(VehicleModule.Bound()) << "nothing is bound once the program ends";
  form_.reset();

  // "Выход" (or the title bar) without a choice: the user's decision, status 0, no stderr.
  testing::ResetProgramState();
  testing::MakeCatalogue();
  form_ = StartProgram();
  auto shown = OnModal<TForm11>([](TForm11* w) { w->close(); });
  ::testing::internal::CaptureStderr();
  form_->Timer1Timer();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_TRUE(shown->Seen());
  EXPECT_TRUE(ui::QuitRequested());
  EXPECT_EQ(ui::QuitStatus(), 0);
  EXPECT_FALSE(VehicleModule.Bound());
}

TEST(QtTranslations, BoxesAndFileDialogsShowRussianButtons) {
  ASSERT_TRUE(InstallQtTranslations());
  EXPECT_TRUE(InstallQtTranslations()) << "a second call keeps the first";
  QMessageBox box(QMessageBox::Question, QStringLiteral("t"), QStringLiteral("?"),
                  QMessageBox::Ok | QMessageBox::Cancel | QMessageBox::Yes | QMessageBox::No);
  std::vector<std::string> texts;
  for (auto b : {QMessageBox::Ok, QMessageBox::Cancel, QMessageBox::Yes, QMessageBox::No}) {
    texts.push_back(box.button(b)->text().remove(QLatin1Char('&')).toStdString());
  }
  // Qt's Russian translation keeps "OK" as it is.
  EXPECT_EQ(texts, (std::vector<std::string>{"OK", "Отмена", "Да", "Нет"}));

  QFileDialog dialog(nullptr, QStringLiteral("t"), QDir::currentPath());
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  const auto* buttons = dialog.findChild<QDialogButtonBox*>();
  ASSERT_NE(buttons, nullptr);
  texts.clear();
  for (const QAbstractButton* b : buttons->buttons()) {
    texts.push_back(b->text().remove(QLatin1Char('&')).toStdString());
  }
  std::sort(texts.begin(), texts.end());
  EXPECT_EQ(texts, (std::vector<std::string>{"Отмена", "Сохранить"}));
}

TEST_F(StartupTest, SecondInstanceEndsSilentlyWhileTheFirstRuns) {
  const std::string runtime = dir_.Path().string();
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(runtime));
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

  auto run = [&](int timeoutMs) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(QString::fromStdString(runtime));
    p.start(QStringLiteral(KESTREL_TEST_PROGRAM), {});
    EXPECT_TRUE(p.waitForFinished(timeoutMs));
    return std::tuple{p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
  };

  SingleInstanceLock first;
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  ASSERT_EQ(first.Acquire(SingleInstanceLock::LockPath()), SingleInstanceLock::Result::Acquired);
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(SingleInstanceLock::LockPath().rfind("/tmp/Proj-", 0), 0u);

  // Status 2 is the guard's: the second copy ended before creating any window.
  auto [status, out, err] = run(10000);
  EXPECT_EQ(status, 2);
  EXPECT_TRUE(out.isEmpty());

  // Once the first has ended, a start gets past the guard: here it finds an
  // empty catalogue one second later and ends as a configuration problem.
  first.Release();
  std::filesystem::create_directory("ECU");
  std::tie(status, out, err) = run(20000);
  EXPECT_EQ(status, kConfigQuitStatus);
  EXPECT_TRUE(err.contains("ECU")) << err.toStdString();
}

}  // namespace
}  // namespace kestrel
