// The live data window against the simulated ECU in-process: polling, the
// requests a poll sends, actuator tests, row operations, export and link
// errors. Offscreen; the module is the built VORTA.so.
#include "screens/live_table.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QToolButton>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/cp1251.h"
#include "config/config_globals.h"
#include "config/load_init.h"
#include "config/module_binding.h"
#include "config/parameter_lists.h"
#include "ecusim/sim_port.h"
#include "link/link_globals.h"
#include "link/session.h"
#include "screenlogic/export.h"
#include "screens/param_grid.h"
#include "tests/support/window_test.h"
#include "uikit/ui_support.h"

namespace kestrel {
namespace {

using namespace cp1251_literals;
namespace fs = std::filesystem;

// The window's waits keep the event loop running.
bool WaitUntil(const std::function<bool()>& done, int ms = 8000) {
  return testing::ProcessUntil(done, ms);
}

// Request lines of the live list and the definitions joined with them.
const char* const kRequests[] = {
    "82 10 F1 21 01",        // 0: rows 0 and 1 share it
    "82 10 F1 21 05",        // 1: coolant
    "82 10 F1 21 0C",        // 2: engine speed
    "82 10 F1 21 E1",        // 3: actuator states
    "84 10 F1 30 18 64 00",  // 4: idle speed test (numeric)
    "84 10 F1 30 13 01 00",  // 5: fuel pump test (on/off, bit 1)
    "83 10 F1 10 01 00",     // 6: test mode on
    "82 10 F1 10 00",        // 7: test mode off
};
enum : int { kReq2101, kReq2105, kReq210C, kReq21E1, kReqIdle, kReqPump, kReqModeOn, kReqModeOff };

std::vector<ParameterDefinition> Definitions() {
  auto def = [](const char* code, const char* name, const char* unit, const char* sel) {
    return ParameterDefinition{code, cp1251::FromUtf8(name), cp1251::FromUtf8(unit), sel, 0};
  };
  return {
      def("2101", "Лампа неисправности (MIL)", "", "08"),
      def("2101", "Количество кодов неисправностей", "шт.", "00"),
      def("2105", "Температура охлаждающей жидкости", "°C", "00"),
      def("210C", "Обороты двигателя", "об/мин", "00"),
      def("21E1", "Топливный насос", "", "01"),
      def("3018", "Обороты ХХ", "", "80"),
      def("3013", "Топливный насос", "", "01"),
  };
}
enum : int { kRowMil, kRowCodes, kRowCoolant, kRowRpm, kRowPump };

class LiveTableTest : public testing::WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    vorta::RequestTable& live = RequestTables[kLiveTable];
    std::memset(&live, 0, sizeof live);
    for (const char* line : kRequests)
      ASSERT_TRUE(ParseRequestLine(line, live.Entries[live.Count++]));
    LiveRows.RowInactive.fill(0);
    ASSERT_TRUE(LivePassOn(Definitions(), live, "VORTA.ini").Ok());
    ASSERT_EQ(LiveRows.RowCount, 5);
    ASSERT_EQ(TestSelectorCount, 3);
    CarName = "Toyota Camry";
    EcuType = "2AZ-FE";
  }

  void TearDown() override {
    form_.reset();
    WindowTest::TearDown();
  }

  TForm3& Open() {
    form_ = std::make_unique<TForm3>();
    form_->show();
    QApplication::processEvents();
    return *form_;
  }

  std::string Value(int row) const { return LiveRows.Rows[row].Cells[kColValue]; }
  std::uint8_t Skip(int entry) const { return GetSkip(RequestTables[kLiveTable].Entries[entry]); }
  bool Exchanging() const { return LinkStatus.load() == lsExchange; }

  void StartPolling(TForm3& f) {
    f.SpeedButton1->click();
    // Exchanging, and a tick has seen it (the start/stop button is usable again).
    ASSERT_TRUE(WaitUntil([&] { return Exchanging() && f.SpeedButton1->isEnabled(); }))
        << CurrentLinkStatusText();
  }

  // Stops polling and waits for the session to end.
  void StopPolling(TForm3& f) {
    if (RunFlag.load() != 0) f.SpeedButton1->click();
    ASSERT_TRUE(
        WaitUntil([] { return LinkStatus.load() == lsIdle || LinkStatus.load() == lsError; }));
  }

  std::unique_ptr<TForm3> form_;
};

// ---------------------------------------------------------------- polling

TEST_F(LiveTableTest, PollingFillsValuesThatChangeAndStopKeepsThem) {
  UseSimulator();
  TForm3& f = Open();
  EXPECT_EQ(f.Label2->text(), ui::Text("Простой"_cpsv));
  StartPolling(f);
  EXPECT_FALSE(f.SpeedButton2->isEnabled());  // no exit while a session runs
  EXPECT_EQ(f.Label2->text(), ui::Text("Обмен по ISO-14230/9141"_cpsv));

  ASSERT_TRUE(WaitUntil([this] {
    return !Value(kRowCoolant).empty() && !Value(kRowRpm).empty() && !Value(kRowMil).empty();
  }));
  EXPECT_EQ(f.ValueCache()[kRowRpm], Value(kRowRpm));
  const std::string rpm = Value(kRowRpm), coolant = Value(kRowCoolant);
  EXPECT_TRUE(WaitUntil([&] { return Value(kRowRpm) != rpm || Value(kRowCoolant) != coolant; }))
      << "values did not move: " << rpm << " " << coolant;

  StopPolling(f);
  EXPECT_EQ(RunFlag.load(), 0);
  ASSERT_TRUE(WaitUntil([&] { return f.SpeedButton2->isEnabled(); }));
  EXPECT_TRUE(f.SpeedButton1->isEnabled());
  EXPECT_TRUE(f.SpeedButton3->isEnabled());
  EXPECT_FALSE(Value(kRowRpm).empty());  // the last values stay on screen
}

TEST_F(LiveTableTest, InactiveRowsAreNotPolledEvenWhenTheirRequestFeedsActiveRows) {
  UseSimulator();
  TForm3& f = Open();
  // Row 1 shares 21 01 with the active row 0; the whole request is left out.
  f.StringGrid1->SelectCell(kRowCodes, 2);
  f.StringGrid1DblClick();
  ASSERT_EQ(LiveRows.RowInactive[kRowMil], 1);  // the double click took both rows
  LiveRows.RowInactive[kRowMil] = 0;            // row 0 active again, row 1 not
  LiveRows.RowInactive[kRowCoolant] = 1;

  StartPolling(f);
  ASSERT_TRUE(WaitUntil([this] { return frames_.Count("82 10 F1 21 0C") >= 3; }));
  StopPolling(f);
  EXPECT_EQ(frames_.Count("82 10 F1 21 01"), 0);
  EXPECT_EQ(frames_.Count("82 10 F1 21 05"), 0);
  EXPECT_GE(frames_.Count("82 10 F1 21 E1"), 3);
  EXPECT_EQ(frames_.Count("84 10 F1 30"), 0);        // tests are never polled
  EXPECT_EQ(frames_.Count("83 10 F1 10 01 00"), 0);  // nor test mode on
  // Nothing was filed for the requests left out.
  EXPECT_EQ(ResponseStore[vorta::kLocal21Offset + 0x05 * vorta::kSlotSize + vorta::kSlotCountByte],
            0);
  EXPECT_NE(ResponseStore[vorta::kLocal21Offset + 0x0C * vorta::kSlotSize + vorta::kSlotCountByte],
            0);
}

TEST_F(LiveTableTest, DeactivateAllThenStartPollsNothing) {
  UseSimulator();
  TForm3& f = Open();
  f.SpeedButton5->click();
  StartPolling(f);
  // The first pass sends test mode off (a 0x10 request is not held back) and nothing else.
  WaitUntil([] { return false; }, 600);
  StopPolling(f);
  EXPECT_EQ(frames_.Count("82 10 F1 21"), 0);
  EXPECT_EQ(frames_.Count("84 10 F1 30"), 0);
}

// ---------------------------------------------------------------- actuator tests

TEST_F(LiveTableTest, OnOffTestIsSentOnceAndItsControlsWaitForTheAnswer) {
  UseSimulator();
  TForm3& f = Open();
  StartPolling(f);
  ASSERT_TRUE(WaitUntil([&] { return f.ComboBox1->isEnabled(); }));
  EXPECT_FALSE(f.SpeedButton8->isEnabled());  // "Нет": nothing to switch

  f.ComboBox1->setCurrentIndex(2);  // fuel pump, on/off
  f.ComboBox1Change();
  EXPECT_EQ(f.ValueHint(), "Min=0\r\nMax=1");
  EXPECT_TRUE(f.SpeedButton8->isEnabled());
  EXPECT_TRUE(f.SpeedButton9->isEnabled());
  EXPECT_FALSE(f.Edit1->isEnabled());

  frames_.Clear();
  f.SpeedButton8->click();
  EXPECT_EQ(Skip(kReqPump), 0);  // armed
  EXPECT_FALSE(f.SpeedButton8->isEnabled());
  EXPECT_FALSE(f.ComboBox1->isEnabled());
  // The next ticks keep everything disabled until the ECU has answered.
  f.Timer1Timer();
  if (Skip(kReqPump) == 0) {
    EXPECT_FALSE(f.ComboBox1->isEnabled());
    EXPECT_FALSE(f.SpeedButton9->isEnabled());
  }
  ASSERT_TRUE(WaitUntil([&] { return f.SpeedButton8->isEnabled() && f.ComboBox1->isEnabled(); }));
  EXPECT_EQ(Skip(kReqPump), 1);
  // The pump row shows the forced state.
  ASSERT_TRUE(WaitUntil([this] { return Value(kRowPump) == "Вкл"_cp; }))
      << cp1251::ToUtf8(Value(kRowPump));
  EXPECT_EQ(frames_.Count("84 10 F1 30 13 01 01"), 1);

  f.SpeedButton9->click();
  ASSERT_TRUE(WaitUntil([this] { return Value(kRowPump) == "Выкл"_cp; }));
  EXPECT_EQ(frames_.Count("84 10 F1 30 13 01 00"), 1);
  EXPECT_EQ(frames_.Count("84 10 F1 30 13"), 2);
}

TEST_F(LiveTableTest, NumericTestSendsTheTypedValueAndMovesTheEngine) {
  UseSimulator();
  TForm3& f = Open();
  StartPolling(f);
  ASSERT_TRUE(WaitUntil([&] { return f.ComboBox1->isEnabled(); }));
  f.ComboBox1->setCurrentIndex(1);  // idle speed, numeric
  f.ComboBox1Change();
  EXPECT_EQ(f.ValueHint(), "Min=-100\r\nMax=100");
  EXPECT_TRUE(f.Edit1->toolTip().contains(QStringLiteral("Max=100")));
  EXPECT_FALSE(f.SpeedButton8->isEnabled());
  ASSERT_TRUE(f.Edit1->isEnabled());

  // Not a number: the error box, nothing armed, the inputs stay usable.
  f.Edit1->setText(QStringLiteral("abc"));
  f.Edit1DblClick();
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(errors_[0], QStringLiteral("'abc' is not a valid floating point value"));
  EXPECT_EQ(Skip(kReqIdle), 1);
  EXPECT_TRUE(f.Edit1->isEnabled());
  EXPECT_TRUE(f.ComboBox1->isEnabled());

  ASSERT_TRUE(WaitUntil([this] { return !Value(kRowRpm).empty(); }));
  frames_.Clear();
  f.Edit1->setText(QStringLiteral("50"));  // +500 rpm on the idle target
  f.Edit1DblClick();
  EXPECT_FALSE(f.Edit1->isEnabled());
  EXPECT_FALSE(f.ComboBox1->isEnabled());
  ASSERT_TRUE(WaitUntil([&] { return f.Edit1->isEnabled(); }));
  EXPECT_EQ(frames_.Count("84 10 F1 30 18 96 00"), 1);  // 50 + 100 = 0x96, sent once
  ASSERT_TRUE(ecu_->Inspect([](ecusim::Engine& e) { return e.Overrides().idle_delta_rpm; }));
  EXPECT_DOUBLE_EQ(*ecu_->Inspect([](ecusim::Engine& e) { return e.Overrides().idle_delta_rpm; }),
                   500.0);
}

TEST_F(LiveTableTest, TestModeButtonsArmTheirOwnRequests) {
  TForm3& f = Open();
  vorta::RequestTable& live = RequestTables[kLiveTable];
  for (int i = 0; i < live.Count; ++i) SetSkip(live.Entries[i], 1);
  f.SpeedButton10Click();
  EXPECT_EQ(Skip(kReqModeOn), 0);
  EXPECT_EQ(Skip(kReqModeOff), 1);
  EXPECT_EQ(f.CurrentTest().ModeOn, 0);  // cleared by the module
  SetSkip(live.Entries[kReqModeOn], 1);
  f.SpeedButton11Click();
  EXPECT_EQ(Skip(kReqModeOn), 1);
  EXPECT_EQ(Skip(kReqModeOff), 0);
  for (int i : {kReq2101, kReqIdle, kReqPump}) EXPECT_EQ(Skip(i), 1) << i;
}

TEST_F(LiveTableTest, TestControlsAreDisabledWithoutALinkAndWithoutTests) {
  TForm3& f = Open();
  f.Timer1Timer();
  for (QWidget* w :
       {static_cast<QWidget*>(f.ComboBox1), static_cast<QWidget*>(f.SpeedButton8),
        static_cast<QWidget*>(f.SpeedButton9), static_cast<QWidget*>(f.Edit1),
        static_cast<QWidget*>(f.SpeedButton10), static_cast<QWidget*>(f.SpeedButton11)}) {
    EXPECT_FALSE(w->isEnabled());
  }
  EXPECT_EQ(f.ComboBox1->count(), 3);
  // With only "Нет" a running session never enables the selector.
  form_.reset();
  TestSelectorCount = 1;
  TForm3& g = Open();
  LinkStatus = lsExchange;
  g.Timer1Timer();
  EXPECT_EQ(g.ComboBox1->count(), 1);
  EXPECT_FALSE(g.ComboBox1->isEnabled());
  EXPECT_TRUE(g.SpeedButton10->isEnabled());
  LinkStatus = lsIdle;
}

// ---------------------------------------------------------------- rows

TEST_F(LiveTableTest, RowOperationsOnlyWithoutALink) {
  TForm3& f = Open();
  ParamGrid& grid = *f.StringGrid1;
  // Double click toggles every row of the selected row's request.
  grid.SelectCell(kRowMil, 0);
  f.StringGrid1DblClick();
  EXPECT_EQ(LiveRows.RowInactive[kRowMil], 1);
  EXPECT_EQ(LiveRows.RowInactive[kRowCodes], 1);
  EXPECT_EQ(LiveRows.RowInactive[kRowCoolant], 0);

  // "Скрыть неактивные" hides them, "Показать все" shows them, states unchanged.
  f.SpeedButton7->click();
  EXPECT_TRUE(grid.isRowHidden(kRowMil));
  EXPECT_TRUE(grid.isRowHidden(kRowCodes));
  EXPECT_FALSE(grid.isRowHidden(kRowRpm));
  f.SpeedButton6->click();
  EXPECT_FALSE(grid.isRowHidden(kRowMil));
  EXPECT_EQ(LiveRows.RowInactive[kRowMil], 1);

  // "Деактивизировать все" hides nothing; "Активизировать все" activates and shows.
  f.SpeedButton5->click();
  for (int r = 0; r < LiveRows.RowCount; ++r) {
    EXPECT_EQ(LiveRows.RowInactive[r], 1);
    EXPECT_FALSE(grid.isRowHidden(r));
  }
  f.SpeedButton7->click();
  EXPECT_TRUE(grid.isRowHidden(kRowRpm));
  f.SpeedButton4->click();
  for (int r = 0; r < LiveRows.RowCount; ++r) {
    EXPECT_EQ(LiveRows.RowInactive[r], 0);
    EXPECT_FALSE(grid.isRowHidden(r));
    EXPECT_EQ(grid.rowHeight(r), ParamGrid::kRowHeight + 1);
  }

  // While a session runs nothing of this happens.
  LinkStatus = lsExchange;
  grid.SelectCell(kRowRpm, 1);
  f.StringGrid1DblClick();
  f.SpeedButton5Click();
  f.SpeedButton7Click();
  EXPECT_EQ(LiveRows.RowInactive[kRowRpm], 0);
  EXPECT_FALSE(grid.isRowHidden(kRowRpm));
  LinkStatus = lsError;  // an ended session allows it again
  f.StringGrid1DblClick();
  EXPECT_EQ(LiveRows.RowInactive[kRowRpm], 1);
  LinkStatus = lsIdle;
}

TEST_F(LiveTableTest, ReopeningAfterAReloadShowsValuesAgain) {
  // The response store holds a coolant temperature.
  std::uint8_t* slot = ResponseStore + vorta::kLocal21Offset + 0x05 * vorta::kSlotSize;
  slot[0] = 130;
  slot[vorta::kSlotCountByte] = 1;
  TForm3& f = Open();
  f.Timer1Timer();
  const std::string shown = Value(kRowCoolant);
  ASSERT_FALSE(shown.empty());
  f.close();
  // A reload rebuilds the rows with empty values; the same text must come back.
  ASSERT_TRUE(LivePassOn(Definitions(), RequestTables[kLiveTable], "VORTA.ini").Ok());
  ASSERT_EQ(Value(kRowCoolant), "");
  f.show();
  f.Timer1Timer();
  EXPECT_EQ(Value(kRowCoolant), shown);
  EXPECT_EQ(f.StringGrid1->Model()->Cell(kRowCoolant, kColValue), ui::Text(shown));
}

// ---------------------------------------------------------------- export

TEST_F(LiveTableTest, ExportWritesHeaderAndActiveRows) {
  TForm3& f = Open();
  LiveRows.Rows[kRowRpm].Cells[kColValue] = "750";
  LiveRows.RowInactive[kRowCoolant] = 1;
  f.SpeedButton3->click();
  ASSERT_TRUE(errors_.empty());
  const fs::path file = Dir() / "Kadr" / "kadrM1_1.txt";
  ASSERT_TRUE(fs::exists(file));
  std::ifstream in(file, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t end = bytes.find("\r\n", at);
    ASSERT_NE(end, std::string::npos) << "every line ends with CR LF";
    lines.push_back(bytes.substr(at, end - at));
    at = end + 2;
  }
  ASSERT_EQ(lines.size(), 6u + 4u);
  EXPECT_EQ(lines[0].rfind("Дата: "_cp, 0), 0u);
  EXPECT_NE(lines[0].find(" Время: "_cp), std::string::npos);
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[2], "Автомобиль: Toyota Camry"_cp);
  EXPECT_EQ(lines[3], "Тип ECU: 2AZ-FE"_cp);
  EXPECT_EQ(lines[4], "Кадр параметров реального времени"_cp);
  EXPECT_EQ(lines[5], "");
  const std::string name = "Обороты двигателя"_cp;
  EXPECT_EQ(lines[6].substr(0, 11), " 001  2101 ");
  EXPECT_EQ(lines[8], " 004  210C " + name + std::string(63 - name.size(), ' ') + " " +
                          std::string(17, ' ') + "750 " + "об/мин"_cp);
  EXPECT_EQ(lines[9].substr(0, 11), " 005  21E1 ");  // row 003 (inactive) left out

  // The next export takes the next number.
  f.SpeedButton3->click();
  EXPECT_TRUE(fs::exists(Dir() / "Kadr" / "kadrM1_2.txt"));
  EXPECT_EQ(ExportCounter[kExportLive], 2);
}

TEST_F(LiveTableTest, ExportFailureShowsTheErrorBox) {
  TForm3& f = Open();
  std::ofstream(Dir() / "Kadr") << "not a folder";
  f.SpeedButton3->click();
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_TRUE(errors_[0].startsWith(ui::Text("Не удается создать файл"_cpsv)))
      << errors_[0].toStdString();
  EXPECT_EQ(ExportCounter[kExportLive], 1);
}

// ---------------------------------------------------------------- link failure

TEST_F(LiveTableTest, LinkErrorStopsPollingAndReenablesTheButtons) {
  ecusim::Faults faults;
  faults.vanish_after = 6;  // the adapter disappears while polling
  UseSimulator(faults);
  TForm3& f = Open();
  f.SpeedButton1->click();
  EXPECT_EQ(RunFlag.load(), 1);
  ASSERT_TRUE(WaitUntil([] { return LinkStatus.load() == lsError; }, 15000));
  ASSERT_TRUE(WaitUntil([] { return RunFlag.load() == 0; }));  // cleared by the tick
  const std::uint16_t error = LinkError.load();
  EXPECT_NE(error, 0);
  char hex[8];
  std::snprintf(hex, sizeof hex, "%04X", error);
  EXPECT_EQ(f.Label2->text(), ui::Text("Ошибка "_cp + std::string(hex)));
  EXPECT_TRUE(f.SpeedButton1->isEnabled());
  EXPECT_TRUE(f.SpeedButton2->isEnabled());
  EXPECT_TRUE(f.SpeedButton3->isEnabled());
  EXPECT_FALSE(f.SpeedButton10->isEnabled());
}

TEST_F(LiveTableTest, StartAfterStopWaitsForThePreviousSessionWithoutBlocking) {
  UseSimulator();
  TForm3& f = Open();
  StartPolling(f);
  f.SpeedButton1->click();  // stop: the session finishes its pass
  ASSERT_EQ(RunFlag.load(), 0);
  ASSERT_TRUE(WaitUntil([&] { return f.SpeedButton1->isEnabled(); }));
  // Start again at once: the old session must end before the new one starts,
  // and the new one must cycle. The click does not wait for the old session:
  // while it still runs, the start is left to the tick.
  f.SpeedButton1Click();
  if (f.StartPending()) {
    EXPECT_EQ(RunFlag.load(), 0);
    EXPECT_FALSE(NoLink(LinkStatus.load()));
  }
  ASSERT_TRUE(WaitUntil([&] { return RunFlag.load() == 1 && Exchanging(); }));
  EXPECT_FALSE(f.StartPending());
  frames_.Clear();
  ASSERT_TRUE(WaitUntil([this] { return frames_.Count("82 10 F1 21 0C") >= 2; }));
  f.close();  // closing stops polling
  EXPECT_EQ(RunFlag.load(), 0);
  EXPECT_FALSE(f.Timer1->isActive());
  ASSERT_TRUE(WaitUntil([] { return LinkStatus.load() == lsIdle; }));
}

}  // namespace
}  // namespace kestrel
