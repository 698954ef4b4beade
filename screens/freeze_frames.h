#pragma once

#include <QDialog>

namespace kestrel {

// Freeze frames: reads one stored freeze frame and shows it like the live table.
// Opened modally from the main window.
class TForm6 : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 792;
  static constexpr int kClientHeight = 446;

  explicit TForm6(QWidget* parent = nullptr);
  ~TForm6() override;
};

}  // namespace kestrel
