// ECU information: reads, with one pass of the ECU-information requests,
// what the ECU says about itself and shows it, decoded anew from the response
// store on every tick: its identification, the OBD standard it conforms to,
// where its oxygen sensors sit, and which identifiers it supports under the
// services 01, 02, 21, 30 and 09 (one tab each, a check list whose ticks only
// the decoding sets). Copies all of it into "Kadr/InfoECU.txt".
// Opened modally from the main window.
#pragma once

#include <array>

#include "screenlogic/ecu_info.h"
#include "uikit/widgets.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QTabWidget;
class QTimer;
class QToolButton;

namespace kestrel {

class TForm8 : public ui::DiagnosticWindow {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 792;
  static constexpr int kClientHeight = 446;

  explicit TForm8(QWidget* parent = nullptr);
  ~TForm8() override;

  // Handlers, named after their controls.
  void FormActivate() override;  // opening: check list items, glyphs, timer on
  void FormClose() override;     // closing: timer off
  void Timer1Timer();            // the tick: status, buttons, decoding
  void SpeedButton1Click();      // read
  void SpeedButton2Click();      // exit
  void SpeedButton3Click();      // copy to file

  // Fills the check lists from the PID name lists of the last configuration
  // load. Lists whose texts changed lose their ticks; otherwise nothing
  // changes. Done on every opening.
  void FillLists();

  // The controls, for tests and screenshots.
  QToolButton* SpeedButton1 = nullptr;
  QToolButton* SpeedButton2 = nullptr;
  QToolButton* SpeedButton3 = nullptr;
  QLabel* Label1 = nullptr;  // "ID ECU:"
  QLabel* Label2 = nullptr;  // "Тип OBD:"
  QLabel* Label3 = nullptr;  // "Датчики кислорода и их расположение:"
  QLabel* Label4 = nullptr;    // the sensor texts, one a line
  QLabel* Label5 = nullptr;    // "K-Line:"
  QLabel* Label6 = nullptr;    // link status
  QLineEdit* Edit1 = nullptr;  // identification
  QLineEdit* Edit2 = nullptr;  // OBD type
  QTabWidget* PageControl1 = nullptr;
  std::array<QListWidget*, kSupportLists> CheckListBox{};  // SID01, SID02, SID21, SID30, SID09
  QTimer* Timer1 = nullptr;

 private:
  void ShowView();
  void ShowTicks();

  SupportItems items_;
  SupportTicks ticks_;
  InfoView view_;
};

}  // namespace kestrel
