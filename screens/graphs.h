// The graphs window: up to eight live parameters as scrolling line charts,
// four on each of two charts, polled ten times a second; the session's
// response frames can be recorded into a "*.rtd" file in "Kadr" and played
// back through the same decoding and drawing, with pause and a position
// slider, and exported to a workbook beside it (the window stays responsive
// meanwhile and shows the progress on Gauge1). What it computes and draws
// lives in screenlogic/graphs.h; this only shows it and takes input.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "screenlogic/graphs.h"
#include "uikit/widgets.h"

class QCheckBox;
class QComboBox;
class QFileDialog;
class QLabel;
class QProgressBar;
class QSlider;
class QTimer;
class QToolButton;

namespace kestrel {

class PixelView;

class TForm9 : public ui::DiagnosticWindow {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 792;
  static constexpr int kClientHeight = 446;

  explicit TForm9(QWidget* parent = nullptr);
  ~TForm9() override;

  // Handlers, named after their controls.
  void FormActivate() override;      // GrafInit, Timer1 on, flags cleared, the channels' requests
  void FormClose() override;         // playback, recording and polling end, Timer1 off
  void Timer1Timer();                // status, controls, sampling and drawing
  void Timer2Timer();                // playback: the next record
  void SpeedButton1Click();          // start/stop polling
  void SpeedButton2Click();          // exit
  void SpeedButton3Click();          // record
  void SpeedButton4Click();          // play
  void SpeedButton5Click();          // stop recording or playback
  void SpeedButton7Click();          // pause playback
  void SpeedButton8Click();          // open a recording
  void ExportButtonClick();          // spreadsheet export of the recording
  void ExportTimerTimer();           // a turn of the running export
  void ComboBoxChange(int channel);  // channel 0..7 chose another parameter
  void CheckBoxClick(int channel);   // channel 0..7 shown or hidden
  void GrafInit();                   // both charts cleared, every value 0

  GraphsLogic& Logic() { return logic_; }

  // The controls, named as designed (ComboBox[0] is ComboBox1, ...).
  PixelView* Image1 = nullptr;  // channels 1-4
  PixelView* Image2 = nullptr;  // channels 5-8
  std::array<QComboBox*, kGraphChannels> ComboBox{};
  std::array<QCheckBox*, kGraphChannels> CheckBox{};
  struct ChannelLabelSet {
    QLabel* Value = nullptr;
    QLabel* Unit = nullptr;
    QLabel* Min = nullptr;
    QLabel* Middle = nullptr;
    QLabel* Max = nullptr;
  };
  std::array<ChannelLabelSet, kGraphChannels> Channel{};
  QToolButton* SpeedButton1 = nullptr;  // start/stop
  QToolButton* SpeedButton2 = nullptr;  // exit
  QToolButton* SpeedButton3 = nullptr;  // record
  QToolButton* SpeedButton4 = nullptr;  // play
  QToolButton* SpeedButton5 = nullptr;  // stop
  QToolButton* SpeedButton6 = nullptr;  // spreadsheet export
  QToolButton* SpeedButton7 = nullptr;  // pause
  QToolButton* SpeedButton8 = nullptr;  // open
  QLabel* Label1 = nullptr;             // "K-Line:"
  QLabel* Label2 = nullptr;             // link status
  QLabel* Label3 = nullptr;             // "№записи"
  QLabel* Label4 = nullptr;             // the slider's position
  QProgressBar* Gauge1 = nullptr;       // export progress
  QSlider* TrackBar1 = nullptr;         // playback position
  QFileDialog* OpenDialog1 = nullptr;   // "Открытие файла архива"
  QTimer* Timer1 = nullptr;
  QTimer* Timer2 = nullptr;
  QTimer* ExportTimer = nullptr;  // turns of the running export

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void SetStartGlyph(bool polling);
  void UpdateChannelRequests();
  // Shows the parameter chosen in a channel's selector: hint, unit label.
  void ShowChannel(int channel);
  void SyncSelectors();
  void ShowCaption();
  void ShowLabels();
  void ShowAll();  // both charts whole and every label
  void PlaceUnit(int channel);
  void ShowCharts(const std::array<ChartDamage, kCharts>& damage);
  void ShowSliderPos();
  // The open dialog; the chosen file in code page 1251, "" after a cancel.
  std::string ChooseRecording();
  // When no file named RecordFileName exists: the open dialog, its choice
  // (or nothing) as RecordFileName, the caption, and false.
  bool RecordingExists();
  // The spreadsheet export of RecordFileName: started here, stepped by
  // ExportTimer, ended by EndExport.
  void ExportRecording();
  void EndExport(RecordingExport::State end);
  void DragSliderTo(int x);

  GraphsLogic logic_;
  // Start was pressed while the previous session still ran its last pass:
  // the tick starts polling once the link is idle.
  bool startPending_ = false;
  std::array<std::vector<std::string>, kGraphChannels> selectorItems_;
};

}  // namespace kestrel
