// The trouble codes window against the simulated ECU in-process, with the
// shipped catalogue: every configuration's codes with their texts and the
// export line by line, and clearing with and without the memory-reset
// requests behind the confirmation.
#include "screens/trouble_codes.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
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

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// The scenarios' codes as the grids show them (cells joined by a blank).
const Lines kCurrent = {" 001  P0171 Слишком бедная смесь (Головка 1)"};
const Lines kStored = {
    " 001  P0171 Слишком бедная смесь (Головка 1)",
    " 002  P0300 Случайные / множественные пропуски зажигания",
    " 003  P0420 Эффективность катализатора ниже порога (Головка 1)",
    " 004  P0500 Датчик скорости автомобиля: неисправность",
};

class TroubleCodesTest : public testing::WindowTest {
 protected:
  void TearDown() override {
    form_.reset();
    WindowTest::TearDown();
  }

  // A catalogue configuration as the program loads it, its simulated car, the window.
  TForm7& Open(const std::string& config, const char* scenario) {
    fs::create_directory_symlink(fs::path(KESTREL_DATA_DIR) / "ECU", Dir() / "ECU");
    EXPECT_TRUE(LoadInit("ECU/" + config).Ok() && LoadDtcTexts().Ok()) << config;
    UseSimulator(*ecusim::LoadScenario(scenario).scenario);
    form_ = std::make_unique<TForm7>();
    form_->show();
    QApplication::processEvents();
    return *form_;
  }

  // Waits for the session just started to end and a tick to show it.
  static void WaitForTheEnd(TForm7& f) {
    EXPECT_FALSE(f.SpeedButton3->isEnabled());  // no exit while it runs
    ASSERT_TRUE(testing::ProcessUntil([&] { return f.SpeedButton1->isEnabled(); }, 20000));
  }

  // Presses the clear button and answers the confirmation.
  static void Clear(TForm7& f, QMessageBox::StandardButton answer) {
    QString text;
    auto watch = testing::OnModal<QMessageBox>([&](QMessageBox* box) {
      text = box->text();
      EXPECT_NE(box->button(QMessageBox::Cancel), nullptr);
      box->button(answer)->click();
    });
    f.SpeedButton2->click();
    EXPECT_EQ(text.toStdString(), "Вы действительно хотите удалить все ошибки с ECU?");
    if (answer == QMessageBox::Ok) WaitForTheEnd(f);
  }

  static Lines Rows(const QTableWidget* grid) {
    Lines rows(grid->rowCount());
    for (int r = 0; r < grid->rowCount(); ++r) {
      for (int c = 0; c < 3; ++c) {
        rows[r] +=
            (c > 0 ? " " : "") + (grid->item(r, c) ? grid->item(r, c)->text() : "").toStdString();
      }
    }
    return rows;
  }

  std::unique_ptr<TForm7> form_;
};

struct Shipped {
  const char *config, *scenario;
  bool resetBox;  // the clearing list ends with memory-reset requests
};
// Printed as its scenario, so that the test names CTest lists stay the same.
void PrintTo(const Shipped& s, std::ostream* os) {
  *os << s.scenario;
}
class TroubleCodesReadTest : public TroubleCodesTest,
                             public ::testing::WithParamInterface<Shipped> {};

TEST_P(TroubleCodesReadTest, ReadShowsTheCodesWithTheirTextsAndTheExportHoldsThem) {
  const Shipped& c = GetParam();
  TForm7& f = Open(c.config, c.scenario);
  EXPECT_EQ(f.StringGrid1->columnWidth(0), 40);
  EXPECT_EQ(f.StringGrid1->columnWidth(1), 50);
  EXPECT_EQ(f.StringGrid2->columnWidth(2), 663);
  f.SpeedButton1->click();
  EXPECT_FALSE(f.CheckBox1->isEnabled());
  WaitForTheEnd(f);
  EXPECT_EQ(f.Label4->text().toStdString(), "Простой");
  EXPECT_EQ(Rows(f.StringGrid1), kCurrent);
  EXPECT_EQ(Rows(f.StringGrid2), kStored);
  EXPECT_EQ(f.Label6->text() + f.Label8->text(), QStringLiteral("14"));
  EXPECT_EQ(f.CheckBox1->isEnabled(), c.resetBox);

  const std::time_t now = std::time(nullptr);
  f.SpeedButton4->click();
  const Lines lines = testing::ReadLinesUtf8(Dir() / "Kadr" / "ErrECU_1.txt");
  ASSERT_FALSE(lines.empty());
  std::tm local{};
  localtime_r(&now, &local);  // the date and the time without seconds
  EXPECT_EQ(lines[0], cp1251::ToUtf8(cp1251::FromUtf8("Дата: ") + ExportDateText(local) +
                                     cp1251::FromUtf8(" Время: ") + ExportShortTimeText(local)));
  Lines expected = {"",
                    "Автомобиль: " + cp1251::ToUtf8(CarName),
                    "Тип ECU: " + cp1251::ToUtf8(EcuType),
                    "",
                    "Текущие ошибки ECU (1)",
                    kCurrent[0],
                    "",
                    "Сохраненные ошибки ECU (4)"};
  expected.insert(expected.end(), kStored.begin(), kStored.end());
  EXPECT_EQ(Lines(lines.begin() + 1, lines.end()), expected);
  EXPECT_TRUE(errors_.empty());
}

INSTANTIATE_TEST_SUITE_P(Shipped, TroubleCodesReadTest,
                         ::testing::Values(Shipped{"CAMRY_2AZ.ini", "camry_2az_fast", true},
                                           Shipped{"COROLLA_3ZZ.ini", "corolla_3zz_5baud", true},
                                           Shipped{"CARINA_7AFE.ini", "carina_7afe_9141", false}),
                         [](const ::testing::TestParamInfo<Shipped>& p) {
                           // The scenario's name: the same test name in every build.
                           return std::string(p.param.scenario);
                         });

TEST_F(TroubleCodesTest, ClearAsksFirstAndSendsTheResetRequestsOnlyWithTheBoxTicked) {
  TForm7& f = Open("CAMRY_2AZ.ini", "camry_2az_fast");
  Clear(f, QMessageBox::Cancel);
  EXPECT_TRUE(f.SpeedButton1->isEnabled());
  EXPECT_EQ(frames_.Count("81 10 F1 04"), 0);

  // Without the box: all but the last ResetCount requests (11 01).
  Clear(f, QMessageBox::Ok);
  EXPECT_EQ(frames_.Count("81 10 F1 04"), 1);
  EXPECT_EQ(frames_.Count("83 10 F1 14 FF 00"), 1);
  EXPECT_EQ(frames_.Count("82 10 F1 11"), 0);
  EXPECT_TRUE(ecu_->Inspect([](ecusim::Engine& e) { return e.StoredCodes().empty(); }));

  // The next read finds nothing: one empty row and "0" in each list.
  f.SpeedButton1->click();
  WaitForTheEnd(f);
  EXPECT_EQ(Rows(f.StringGrid1), Lines{"  "});
  EXPECT_EQ(Rows(f.StringGrid2), Lines{"  "});
  EXPECT_EQ(f.Label6->text() + f.Label8->text(), QStringLiteral("00"));

  // With the box ticked every request goes, the memory reset included.
  frames_.Clear();
  f.CheckBox1->setChecked(true);
  Clear(f, QMessageBox::Ok);
  EXPECT_EQ(frames_.Count("81 10 F1 04"), 1);
  EXPECT_EQ(frames_.Count("82 10 F1 11 01"), 1);
}

}  // namespace
}  // namespace kestrel
