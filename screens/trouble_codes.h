#pragma once

#include <QDialog>

namespace kestrel {

// Trouble codes: reads, shows, clears and exports current and stored trouble codes.
// Opened modally from the main window.
class TForm7 : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 792;
  static constexpr int kClientHeight = 446;

  explicit TForm7(QWidget* parent = nullptr);
  ~TForm7() override;
};

}  // namespace kestrel
