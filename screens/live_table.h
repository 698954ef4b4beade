// The live data table: lists the real-time parameters of the selected ECU,
// polls them in an endless cycle and shows their values ten times a second;
// rows can be left out of the poll, hidden and copied into a "Kadr" file, and
// the ECU's actuator tests are run from here through the vehicle module.
#pragma once

#include <string>
#include <vector>

#include "module/vorta.h"
#include "screenlogic/live.h"
#include "screenlogic/table_rows.h"
#include "screens/param_grid.h"
#include "uikit/widgets.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QTimer;
class QToolButton;

namespace kestrel {

class TForm3 : public ui::DiagnosticWindow {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 792;
  static constexpr int kClientHeight = 446;

  explicit TForm3(QWidget* parent = nullptr);
  ~TForm3() override;

  // Handlers, named after their controls.
  void FormActivate() override;  // opening: rows, column widths, glyphs, timer on
  void FormClose() override;     // closing: polling stops, timer off
  void Timer1Timer();            // the tick
  void SpeedButton1Click();      // start/stop
  void SpeedButton2Click();      // exit
  void SpeedButton3Click();      // copy to file
  void SpeedButton4Click();      // activate all
  void SpeedButton5Click();      // deactivate all
  void SpeedButton6Click();      // show all
  void SpeedButton7Click();      // hide inactive
  void SpeedButton8Click();      // switch the test on
  void SpeedButton9Click();      // switch the test off
  void SpeedButton10Click();     // test mode on
  void SpeedButton11Click();     // test mode off
  void ComboBox1Change();        // test selected
  void Edit1DblClick();          // send the typed value
  void StringGrid1DblClick();    // toggle the rows of the selected row's request

  // Forgets every value text shown, so the next tick writes every row anew.
  // Done on every opening: the configuration may have been reloaded meanwhile.
  void ResetValueCache();

  // State, readable by tests.
  const ValueCacheArray& ValueCache() const { return StringGrid1->ValueCache(); }
  const vorta::TestRequest& CurrentTest() const { return testRequest_; }
  const std::string& ValueHint() const { return valueHint_; }  // code page 1251
  bool Polling() const;
  bool StartPending() const { return startPending_; }

  // The controls, for the main window's tests and screenshots.
  ParamGrid* StringGrid1 = nullptr;
  QToolButton* SpeedButton1 = nullptr;
  QToolButton* SpeedButton2 = nullptr;
  QToolButton* SpeedButton3 = nullptr;
  QToolButton* SpeedButton4 = nullptr;
  QToolButton* SpeedButton5 = nullptr;
  QToolButton* SpeedButton6 = nullptr;
  QToolButton* SpeedButton7 = nullptr;
  QToolButton* SpeedButton8 = nullptr;
  QToolButton* SpeedButton9 = nullptr;
  QToolButton* SpeedButton10 = nullptr;
  QToolButton* SpeedButton11 = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QComboBox* ComboBox1 = nullptr;
  QLineEdit* Edit1 = nullptr;
  QTimer* Timer1 = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void SetStartGlyph(bool polling);
  void ApplyControls(const LiveControls& c);
  void SyncTestSelector();
  void CallTest();  // ACTTESTProc with testRequest_; nothing without a module

  RowButtons rowButtons_;
  // Start was pressed while the previous session still ran its last pass:
  // the tick starts polling once the link is idle, so the window never
  // blocks waiting for it.
  bool startPending_ = false;
  vorta::TestRequest testRequest_{};
  std::string valueHint_;
  std::vector<std::string> selectorItems_;
};

}  // namespace kestrel
