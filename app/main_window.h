#pragma once

#include <QMainWindow>
#include <array>
#include <functional>

class QAction;
class QDialog;
class QLabel;
class QLineEdit;
class QTimer;
class QToolButton;

namespace kestrel {

class TForm3;
class TForm5;
class TForm6;
class TForm7;
class TForm8;
class TForm9;
class TForm10;
class TForm11;
class TForm12;

// The main window "Тестер ECU Kestrel": names the car and ECU in use and opens
// every other window, always modally. Closing it ends the program.
class TForm1 : public QMainWindow {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 454;
  static constexpr int kClientHeight = 134;
  static constexpr int kStartupDelayMs = 1000;

  // The seven picture buttons, left to right.
  enum Button : int {
    kButtonDashboard,
    kButtonLive,
    kButtonFreeze,
    kButtonDtc,
    kButtonInfo,
    kButtonGraphs,
    kButtonExit,
    kButtonCount
  };
  // The menu items.
  enum Item : int {
    kItemSaveAs,
    kItemCatalogue,
    kItemSettings,
    kItemExit,
    kItemDashboard,
    kItemLive,
    kItemFreeze,
    kItemDtc,
    kItemInfo,
    kItemGraphs,
    kItemAbout,
    kItemCount
  };

  // The windows the main window opens; created by the start-up in their
  // order and owned by the main window.
  struct Windows {
    TForm3* Form3 = nullptr;    // live table
    TForm5* Form5 = nullptr;    // dashboard
    TForm6* Form6 = nullptr;    // freeze frames
    TForm7* Form7 = nullptr;    // trouble codes
    TForm8* Form8 = nullptr;    // ECU information
    TForm9* Form9 = nullptr;    // graphs
    TForm10* Form10 = nullptr;  // About
    TForm11* Form11 = nullptr;  // catalogue
    TForm12* Form12 = nullptr;  // settings
  };

  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  Windows& Forms() { return forms_; }

  // After every configuration load: the name boxes from the configuration,
  // the buttons and menu items from the lists it holds.
  void ConfigLoaded();

  QLineEdit* Edit1() const { return edit1_; }  // car name
  QLineEdit* Edit2() const { return edit2_; }  // ECU type
  QToolButton* SpeedButton(Button b) const { return buttons_[b]; }
  QAction* MenuItem(Item i) const { return items_[i]; }
  QTimer* Timer1() const { return timer1_; }

  // The one-shot start-up timer: catalogue when there was no ecu.ini, the
  // module binding, the dashboard with autostart.
  void Timer1Timer();

  // Shows the catalogue modally and carries out its outcome (error box, end
  // of the program, refresh of this window). True when the chosen
  // configuration was loaded; false when the program ends or the choice
  // failed to load (the previous configuration and module stay).
  bool RunCatalogue();

  // Opens a window modally unless the program is ending.
  void OpenModal(QDialog* window);

  // The commands.
  void SaveAs1Click();
  void SelectEcu1Click();
  void Settings1Click();
  void About1Click();
  void SpeedButton1Click();  // dashboard
  void SpeedButton2Click();  // live table
  void SpeedButton3Click();  // freeze frames
  void SpeedButton4Click();  // trouble codes
  void SpeedButton5Click();  // ECU information
  void SpeedButton6Click();  // graphs
  void SpeedButton7Click();  // exit

  // The initial folder of the "Сохранить как..." dialog: the program's
  // folder (ProgramFolder(): the user's working folder when installed)
  // followed by "ECU/".
  static QString SaveAsFolder();
  // The file chosen in the "Сохранить как..." dialog; tests replace the dialog.
  using SaveAsChooser = std::function<QString(QWidget* parent, const QString& folder)>;
  void SetSaveAsChooser(SaveAsChooser chooser) { chooser_ = std::move(chooser); }

 private:
  void Enable(Button b, Item i, bool on);

  QLabel* label1_ = nullptr;
  QLabel* label2_ = nullptr;
  QLineEdit* edit1_ = nullptr;
  QLineEdit* edit2_ = nullptr;
  std::array<QToolButton*, kButtonCount> buttons_{};
  std::array<QAction*, kItemCount> items_{};
  QTimer* timer1_ = nullptr;
  Windows forms_;
  SaveAsChooser chooser_;
};

}  // namespace kestrel
