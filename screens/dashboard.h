// The dashboard: a full-screen black instrument panel for use while driving.
// It polls the dashboard request list and, ten times a second, shows what the
// vehicle module's Panel computes: engine speed on an arc, road speed, the
// three bar gauges, gear and shift lever, check-engine lamp, stored code
// count and fuel consumption. Polling goes on after the window closes. What
// each tick shows is decided in screenlogic/dashboard.h; this only shows it.
#pragma once

#include <QDialog>
#include <QStringList>
#include <cstdint>

#include "screenlogic/dashboard.h"

class QLabel;
class QTimer;
class QToolButton;

namespace kestrel {

// Set to 1 by the main window's start-up timer; the dashboard reads and clears
// it when it is first shown (it then centres its design area on the screen).
extern std::uint8_t DashboardFirstShow;

class TForm5 : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 792;
  static constexpr int kClientHeight = 480;
  // The controls are laid out on this area and centred on the first showing.
  static constexpr int kDesignWidth = 800;
  static constexpr int kDesignHeight = 480;

  explicit TForm5(QWidget* parent = nullptr);
  ~TForm5() override;

  // The font families of every text, in the order asked for: the design's
  // display face, then the packaged face that stands in for it.
  static QStringList FontFamilies();

  // Handlers, named after their controls.
  void FormShow();           // maximised, centred on the first showing, pictures black
  void FormActivate();       // everything is shown anew, sums from zero, timer on
  void FormDeactivate();     // timer off; polling goes on
  void Timer1Timer();        // the tick
  void StartStopPolling();   // start/stop button and start requests
  void SpeedButton2Click();  // exit
  void SpeedButton3Click();  // minimise

  const DashboardLogic& Logic() const { return logic_; }

  // The controls, named as designed, for tests and screenshots.
  QWidget* Image1 = nullptr;  // engine speed arc
  QLabel* Image2 = nullptr;   // shift-lever picture
  QLabel* Image3 = nullptr;   // check-engine lamp
  QLabel* Image4 = nullptr;   // gauge icons: coolant, fluid temperature, load
  QLabel* Image5 = nullptr;   // overdrive off
  QLabel* Image6 = nullptr;
  QLabel* Image7 = nullptr;
  QWidget* Image8 = nullptr;  // bars: coolant, fluid temperature, load
  QWidget* Image9 = nullptr;
  QWidget* Image10 = nullptr;
  QLabel* Label1 = nullptr;             // engine speed
  QLabel* Label2 = nullptr;             // "rpm "
  QLabel* Label3 = nullptr;             // road speed
  QLabel* Label4 = nullptr;             // "km/h "
  QLabel* Label5 = nullptr;             // link status
  QLabel* Label6 = nullptr;             // gear
  QLabel* Label7 = nullptr;             // "K-Line:"
  QLabel* Label8 = nullptr;             // "ECU Error:"
  QLabel* Label9 = nullptr;             // stored code count
  QLabel* Label10 = nullptr;            // load value
  QLabel* Label11 = nullptr;            // coolant value
  QLabel* Label12 = nullptr;            // fluid temperature value
  QLabel* Label13 = nullptr;            // fuel used
  QLabel* Label14 = nullptr;            // instant ml/h
  QLabel* Label15 = nullptr;            // "ml/h"
  QLabel* Label18 = nullptr;            // instant l/100 km
  QLabel* Label19 = nullptr;            // "L/100km"
  QLabel* Label21 = nullptr;            // average l/100 km
  QLabel* Label22 = nullptr;            // average ml/h
  QToolButton* SpeedButton1 = nullptr;  // start/stop
  QToolButton* SpeedButton2 = nullptr;  // exit
  QToolButton* SpeedButton3 = nullptr;  // minimise
  QTimer* Timer1 = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void done(int result) override;
  void reject() override;

 private:
  void SetStartGlyph(bool polling);
  void ShowTick(const DashboardTick& tick);

  DashboardLogic logic_;
  bool active_ = false;
};

}  // namespace kestrel
