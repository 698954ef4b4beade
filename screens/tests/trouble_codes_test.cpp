// The trouble codes window against the simulated ECU in-process, with the
// shipped catalogue: reading every configuration's codes with their texts,
// clearing with and without the memory-reset requests behind the
// confirmation, the export line by line, and a read cut short by the link.
#include "screens/trouble_codes.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/cp1251.h"
#include "config/catalogue.h"
#include "config/config_globals.h"
#include "config/load_init.h"
#include "ecusim/scenario.h"
#include "link/link_globals.h"
#include "screenlogic/export.h"
#include "tests/support/window_test.h"
#include "uikit/ui_support.h"

namespace kestrel {
namespace {

using namespace cp1251_literals;
namespace fs = std::filesystem;

struct Configuration {
  const char* file;
  const char* scenario;
  const char* car;
  const char* ecu;
  bool resetRequests;  // the clearing list ends with memory-reset requests
};
const Configuration kCamry = {"CAMRY_2AZ.ini", "camry_2az_fast", "Toyota Camry (ACV30) 2.4",
                              "2AZ-FE, АКПП U241E, ISO 14230 Fast init", true};
const Configuration kCorolla = {"COROLLA_3ZZ.ini", "corolla_3zz_5baud",
                                "Toyota Corolla (ZZE121) 1.6",
                                "3ZZ-FE, МКПП, ISO 14230 5-baud init", true};
const Configuration kCarina = {"CARINA_7AFE.ini", "carina_7afe_9141", "Toyota Carina E (AT190) 1.8",
                               "7A-FE, ISO 9141-2", false};

// The scenarios' codes as the window lists them, with the shipped texts.
const std::vector<std::string> kCurrentRows = {" 001  P0171 Слишком бедная смесь (Головка 1)"};
const std::vector<std::string> kStoredRows = {
    " 001  P0171 Слишком бедная смесь (Головка 1)",
    " 002  P0300 Случайные / множественные пропуски зажигания",
    " 003  P0420 Эффективность катализатора ниже порога (Головка 1)",
    " 004  P0500 Датчик скорости автомобиля: неисправность",
};

std::string Utf8(const QString& s) {
  return s.toStdString();
}

class TroubleCodesTest : public testing::WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    fs::create_directory_symlink(fs::path(KESTREL_DATA_DIR) / "ECU", Dir() / "ECU");
  }

  void TearDown() override {
    form_.reset();
    WindowTest::TearDown();
  }

  // The configuration as the catalogue loads it, and its simulated car.
  void Load(const Configuration& c, ecusim::Faults faults = {}) {
    ASSERT_TRUE(LoadInit(std::string("ECU/") + c.file).Ok()) << c.file;
    ASSERT_TRUE(LoadDtcTexts().Ok());
    const ecusim::ScenarioResult s = ecusim::LoadScenario(c.scenario);
    ASSERT_TRUE(s.scenario) << s.error;
    UseSimulator(*s.scenario, faults);
  }

  TForm7& Open() {
    form_ = std::make_unique<TForm7>();
    form_->show();
    QApplication::processEvents();
    return *form_;
  }

  static bool Ended() { return LinkStatus.load() == lsIdle || LinkStatus.load() == lsError; }

  // Waits for the session just started and the tick that shows its end.
  static void WaitForTheEnd(TForm7& f) {
    ASSERT_TRUE(
        testing::ProcessUntil([&] { return Ended() && f.SpeedButton1->isEnabled(); }, 20000))
        << cp1251::ToUtf8(CurrentLinkStatusText());
  }

  void Read(TForm7& f) {
    f.SpeedButton1->click();
    EXPECT_FALSE(f.SpeedButton3->isEnabled());  // no exit while the session runs
    EXPECT_FALSE(f.CheckBox1->isEnabled());
    WaitForTheEnd(f);
  }

  // Presses the clear button and answers the confirmation; returns its text.
  QString Clear(TForm7& f, bool ok) {
    QString text;
    bool bothButtons = false;
    auto watch = testing::OnModal<QMessageBox>([&](QMessageBox* box) {
      text = box->text();
      bothButtons =
          box->button(QMessageBox::Ok) != nullptr && box->button(QMessageBox::Cancel) != nullptr;
      box->button(ok ? QMessageBox::Ok : QMessageBox::Cancel)->click();
    });
    f.SpeedButton2->click();
    EXPECT_TRUE(watch->Seen());
    EXPECT_TRUE(bothButtons);
    if (ok) WaitForTheEnd(f);
    return text;
  }

  // A grid's rows as the export writes them: the three cells with a blank between.
  static std::vector<std::string> Rows(const QTableWidget* grid) {
    std::vector<std::string> rows;
    for (int r = 0; r < grid->rowCount(); ++r) {
      std::string line;
      for (int c = 0; c < 3; ++c) {
        const QTableWidgetItem* item = grid->item(r, c);
        if (c > 0) line += ' ';
        if (item != nullptr) line += Utf8(item->text());
      }
      rows.push_back(line);
    }
    return rows;
  }

  std::unique_ptr<TForm7> form_;
};

// ---------------------------------------------------------------- reading

TEST_F(TroubleCodesTest, ReadShowsTheCodesOfEveryShippedConfigurationAndExportsThem) {
  for (const Configuration& c : {kCamry, kCorolla, kCarina}) {
    SCOPED_TRACE(c.file);
    Load(c);
    TForm7& f = Open();
    EXPECT_EQ(f.StringGrid1->columnWidth(0), 40);
    EXPECT_EQ(f.StringGrid1->columnWidth(1), 50);
    EXPECT_EQ(f.StringGrid2->columnWidth(2), 663);
    EXPECT_EQ(f.CheckBox1->isEnabled(), c.resetRequests);
    EXPECT_EQ(f.Label6->text(), QStringLiteral("0"));

    Read(f);
    EXPECT_EQ(f.Label4->text(), ui::Text("Простой"_cpsv));
    EXPECT_EQ(Rows(f.StringGrid1), kCurrentRows);
    EXPECT_EQ(Rows(f.StringGrid2), kStoredRows);
    EXPECT_EQ(f.Label6->text(), QStringLiteral("1"));
    EXPECT_EQ(f.Label8->text(), QStringLiteral("4"));
    EXPECT_EQ(f.CheckBox1->isEnabled(), c.resetRequests);

    std::time_t now = std::time(nullptr);
    f.SpeedButton4->click();
    ASSERT_TRUE(errors_.empty()) << Utf8(errors_[0]);
    const std::vector<std::string> lines = testing::ReadLinesUtf8(Dir() / "Kadr" / "ErrECU_1.txt");
    ASSERT_GE(lines.size(), 1u);
    // The date and the time without seconds, as the locale writes them short.
    std::vector<std::string> firstLines;
    for (std::time_t t : {now, now + 60}) {
      std::tm local{};
      localtime_r(&t, &local);
      firstLines.push_back(cp1251::ToUtf8("Дата: "_cp + ExportDateText(local) + " Время: "_cp +
                                          ExportShortTimeText(local)));
    }
    EXPECT_TRUE(lines[0] == firstLines[0] || lines[0] == firstLines[1]) << lines[0];
    std::vector<std::string> expected = {"", std::string("Автомобиль: ") + c.car,
                                         std::string("Тип ECU: ") + c.ecu, "",
                                         "Текущие ошибки ECU (1)"};
    expected.insert(expected.end(), kCurrentRows.begin(), kCurrentRows.end());
    expected.insert(expected.end(), {"", "Сохраненные ошибки ECU (4)"});
    expected.insert(expected.end(), kStoredRows.begin(), kStoredRows.end());
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end()), expected);

    form_.reset();
    fs::remove(Dir() / "Kadr" / "ErrECU_1.txt");
    ResetExportCounters();
  }
}

// ---------------------------------------------------------------- clearing

TEST_F(TroubleCodesTest, ClearAsksFirstAndSendsTheResetRequestsOnlyWithTheBoxTicked) {
  Load(kCamry);
  TForm7& f = Open();
  Read(f);
  ASSERT_EQ(f.Label8->text(), QStringLiteral("4"));
  ASSERT_TRUE(f.CheckBox1->isEnabled());

  // Cancel: nothing is sent.
  frames_.Clear();
  EXPECT_EQ(Clear(f, false), ui::Text("Вы действительно хотите удалить все ошибки с ECU?"_cpsv));
  EXPECT_TRUE(f.SpeedButton1->isEnabled());
  EXPECT_EQ(frames_.Count("81 10 F1 04"), 0);

  // Without the box: the clearing requests but not the last ResetCount (11 01).
  Clear(f, true);
  EXPECT_EQ(frames_.Count("81 10 F1 04"), 1);
  EXPECT_EQ(frames_.Count("83 10 F1 14 FF 00"), 1);
  EXPECT_EQ(frames_.Count("82 10 F1 11"), 0);
  EXPECT_TRUE(ecu_->Inspect([](ecusim::Engine& e) { return e.StoredCodes().empty(); }));

  // The next read finds nothing: one empty row and "0" in each list.
  Read(f);
  EXPECT_EQ(f.StringGrid1->rowCount(), 1);
  EXPECT_EQ(Rows(f.StringGrid1), std::vector<std::string>{"  "});
  EXPECT_EQ(Rows(f.StringGrid2), std::vector<std::string>{"  "});
  EXPECT_EQ(f.Label6->text(), QStringLiteral("0"));
  EXPECT_EQ(f.Label8->text(), QStringLiteral("0"));

  // With the box ticked every request goes, the memory reset included.
  frames_.Clear();
  f.CheckBox1->setChecked(true);
  Clear(f, true);
  EXPECT_EQ(frames_.Count("81 10 F1 04"), 1);
  EXPECT_EQ(frames_.Count("83 10 F1 14 FF 00"), 1);
  EXPECT_EQ(frames_.Count("82 10 F1 11 01"), 1);
}

TEST_F(TroubleCodesTest, AResetCountBeyondTheListIsDroppedAndTheBoxStaysOff) {
  Load(kCamry);
  RequestTables[kDtcClearTable].ResetCount = 9;  // the list holds 3 requests
  TForm7& f = Open();
  EXPECT_EQ(RequestTables[kDtcClearTable].ResetCount, 0);
  EXPECT_FALSE(f.CheckBox1->isEnabled());
  f.Timer1Timer();
  EXPECT_FALSE(f.CheckBox1->isEnabled());
  EXPECT_TRUE(f.SpeedButton2->isEnabled());
  // The hint keeps its four lines.
  EXPECT_EQ(f.CheckBox1->toolTip().split(QLatin1Char('\n')).size(), 4);
  EXPECT_TRUE(f.CheckBox1->toolTip().startsWith(ui::Text("ВНИМАНИЕ!!!\nПосле этого сброса"_cpsv)));
}

// ---------------------------------------------------------------- export

TEST_F(TroubleCodesTest, ExportsAreNumberedOnSkippingFilesThatExist) {
  CarName = "Camry";
  EcuType = "2AZ-FE";
  TForm7& f = Open();
  testing::WriteRaw(Dir() / "Kadr" / "ErrECU_2.txt", "kept");
  f.SpeedButton4->click();
  f.SpeedButton4->click();
  ASSERT_TRUE(errors_.empty());
  EXPECT_EQ(testing::ReadRaw(Dir() / "Kadr" / "ErrECU_2.txt"), "kept");
  EXPECT_TRUE(fs::exists(Dir() / "Kadr" / "ErrECU_3.txt"));
  // Before any read: both lists empty, one line of empty cells each.
  const std::vector<std::string> lines = testing::ReadLinesUtf8(Dir() / "Kadr" / "ErrECU_1.txt");
  const std::vector<std::string> body(lines.begin() + 1, lines.end());
  EXPECT_EQ(body, (std::vector<std::string>{"", "Автомобиль: Camry", "Тип ECU: 2AZ-FE", "",
                                            "Текущие ошибки ECU (0)", "  ", "",
                                            "Сохраненные ошибки ECU (0)", "  "}));
}

// ---------------------------------------------------------------- link failure

TEST_F(TroubleCodesTest, AReadCutShortByTheLinkShowsWhatArrivedAndTheError) {
  ecusim::Faults faults;
  faults.vanish_after = 2;  // the adapter goes after the answer to 03
  Load(kCamry, faults);
  TForm7& f = Open();
  Read(f);
  ASSERT_EQ(LinkStatus.load(), lsError);
  EXPECT_TRUE(f.Label4->text().startsWith(ui::Text("Ошибка "_cpsv))) << Utf8(f.Label4->text());
  EXPECT_EQ(Rows(f.StringGrid2), kStoredRows);
  EXPECT_EQ(f.Label6->text(), QStringLiteral("0"));
  EXPECT_TRUE(f.SpeedButton2->isEnabled());
}

}  // namespace
}  // namespace kestrel
