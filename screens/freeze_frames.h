// Freeze frames: reads one stored freeze frame (service 02) with one pass of
// the freeze-frame requests and shows it in the parameter table of the live
// data window; the frame number is chosen from 0 to 255, rows can be left out
// of the read and hidden, and the table is copied into a "Kadr" file.
// Opened modally from the main window.
#pragma once

#include <cstdint>

#include "screenlogic/table_rows.h"
#include "screens/param_grid.h"
#include "uikit/widgets.h"

class QLabel;
class QSpinBox;
class QTimer;
class QToolButton;

namespace kestrel {

class TForm6 : public ui::DiagnosticWindow {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 792;
  static constexpr int kClientHeight = 446;

  explicit TForm6(QWidget* parent = nullptr);
  ~TForm6() override;

  // Handlers, named after their controls.
  void FormActivate() override;  // opening: rows, column widths, glyphs, timer on
  void FormClose() override;     // closing: timer off (a read runs to its end)
  void Timer1Timer();            // the tick
  void SpeedButton1Click();      // read the frame
  void SpeedButton2Click();      // exit
  void SpeedButton3Click();      // copy to file
  void SpeedButton4Click();      // activate all
  void SpeedButton5Click();      // deactivate all
  void SpeedButton6Click();      // show all
  void SpeedButton7Click();      // hide inactive
  void SpinEdit1Change();        // frame number changed
  void StringGrid1DblClick();    // toggle the rows of the selected row's request

  // The frame number chosen (0 when the window is created).
  std::uint8_t FrameNumber() const { return frame_; }
  const ValueCacheArray& ValueCache() const { return StringGrid1->ValueCache(); }

  // The controls, for tests and screenshots.
  ParamGrid* StringGrid1 = nullptr;
  QToolButton* SpeedButton1 = nullptr;
  QToolButton* SpeedButton2 = nullptr;
  QToolButton* SpeedButton3 = nullptr;
  QToolButton* SpeedButton4 = nullptr;
  QToolButton* SpeedButton5 = nullptr;
  QToolButton* SpeedButton6 = nullptr;
  QToolButton* SpeedButton7 = nullptr;
  QLabel* Label1 = nullptr;  // "K-Line:"
  QLabel* Label2 = nullptr;  // link status
  QLabel* Label3 = nullptr;  // "№ кадра:"
  QSpinBox* SpinEdit1 = nullptr;
  QTimer* Timer1 = nullptr;

 private:
  void EnableReadControls(bool on);

  RowButtons rowButtons_;
  std::uint8_t frame_ = 0;
};

}  // namespace kestrel
