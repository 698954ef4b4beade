#pragma once

#include <QDialog>
#include <string>

class QLabel;
class QToolButton;

namespace kestrel {

// The nine lines of the About text, separated by CR LF, code page 1251.
std::string AboutText();

// The About window "О программе": the program's purpose, where updates are
// published, an invitation to support it, the authors and the version.
class TForm10 : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 500;
  static constexpr int kClientHeight = 214;

  explicit TForm10(QWidget* parent = nullptr);
  ~TForm10() override;

  QLabel* Label1() const { return label_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QLabel* label_ = nullptr;
  QToolButton* exitButton_ = nullptr;
};

}  // namespace kestrel
