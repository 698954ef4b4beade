// The trouble codes window: reads the ECU's current and stored trouble codes
// in one pass, shows them with their descriptions from dtc.ini, clears them
// (optionally with the requests that reset the ECU's internal memory) and
// copies both lists into a "Kadr" file. Opened modally from the main window.
// What it computes is in screenlogic/trouble_codes.h; this only shows it.
#pragma once

#include <QDialog>

#include "screenlogic/trouble_codes.h"

class QCheckBox;
class QLabel;
class QTableWidget;
class QTimer;
class QToolButton;

namespace kestrel {

class TForm7 : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 792;
  static constexpr int kClientHeight = 446;

  explicit TForm7(QWidget* parent = nullptr);
  ~TForm7() override;

  // Handlers, named after their controls.
  void FormActivate();       // opening: column widths, ResetCount, check box, timer on
  void FormClose();          // closing: timer off (a running session goes on)
  void Timer1Timer();        // the tick: status, controls, decoding
  void SpeedButton1Click();  // read the codes
  void SpeedButton2Click();  // clear the codes, after a confirmation
  void SpeedButton3Click();  // exit
  void SpeedButton4Click();  // copy both lists into a file

  // What the last decode gave (both lists as the grids show them).
  const DtcLists& Lists() const { return lists_; }

  // The controls, for tests and screenshots.
  QLabel* Label1 = nullptr;             // "Текущие ошибки:"
  QTableWidget* StringGrid1 = nullptr;  // current codes
  QLabel* Label2 = nullptr;             // "Сохраненные ошибки:"
  QTableWidget* StringGrid2 = nullptr;  // stored codes
  QLabel* Label3 = nullptr;             // "K-Line:"
  QLabel* Label4 = nullptr;             // the link status
  QLabel* Label5 = nullptr;             // "Количество ошибок:"
  QLabel* Label6 = nullptr;             // current count
  QLabel* Label7 = nullptr;             // "/"
  QLabel* Label8 = nullptr;             // stored count
  QToolButton* SpeedButton1 = nullptr;  // read
  QToolButton* SpeedButton2 = nullptr;  // clear
  QToolButton* SpeedButton3 = nullptr;  // exit
  QToolButton* SpeedButton4 = nullptr;  // export
  QCheckBox* CheckBox1 = nullptr;       // with the memory reset
  QTimer* Timer1 = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void done(int result) override;

 private:
  void EnableControls(bool buttons, bool resetBox);
  void ShowList(QTableWidget* grid, QLabel* count, const DtcListView& list);
  void PlaceCounts();
  bool ConfirmClear();

  DtcTicker ticker_;
  DtcLists lists_;
};

}  // namespace kestrel
