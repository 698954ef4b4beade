#pragma once

#include <QDialog>

namespace kestrel {

// Graphs: up to eight live parameters as scrolling charts, with recording and playback.
// Opened modally from the main window.
class TForm9 : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 792;
  static constexpr int kClientHeight = 446;

  explicit TForm9(QWidget* parent = nullptr);
  ~TForm9() override;
};

}  // namespace kestrel
