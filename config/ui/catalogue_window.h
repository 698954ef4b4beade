#pragma once

#include <QDialog>
#include <string>

#include "config/catalogue.h"

class QTableWidget;
class QPushButton;

namespace kestrel {

// The catalogue window "Выбор ECU": one row per configuration file of the
// folder "ECU". Choosing a row ("Выбрать авто и начать работу" or a double
// click) closes the window and loads that configuration, its trouble-code
// texts and PID names; closing without a choice, "Выход" or an empty
// catalogue end the program. The window does not end the program itself: it
// leaves the decision in Outcome() and QuitStatus() for its caller.
class TForm11 : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 792;
  static constexpr int kClientHeight = 446;

  explicit TForm11(QWidget* parent = nullptr);
  ~TForm11() override;

  // The catalogue folder (default "ECU"; tests point it elsewhere).
  void SetFolder(std::string folder) { folder_ = std::move(folder); }

  // What the last closing came to, and the exit status when it ends the
  // program: 0 when the user left without a choice, kConfigQuitStatus for a
  // configuration problem.
  const ConfigOutcome& Outcome() const { return outcome_; }
  int QuitStatus() const { return quitStatus_; }

  int ChosenRow() const { return chosenRow_; }
  bool Chosen() const { return chosen_; }
  QTableWidget* Grid() const { return grid_; }

  void Button1Click();  // "Выбрать авто и начать работу"
  void Button2Click();  // "Выход"

 public slots:
  void done(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FillGrid();

  QTableWidget* grid_ = nullptr;
  QPushButton* chooseButton_ = nullptr;
  QPushButton* quitButton_ = nullptr;
  std::string folder_ = "ECU";
  int chosenRow_ = 0;
  bool chosen_ = false;
  bool empty_ = false;
  ConfigOutcome outcome_;
  int quitStatus_ = 0;
};

}  // namespace kestrel
