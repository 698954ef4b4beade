#pragma once

#include <QDialog>

namespace kestrel {

// ECU information: supported identifier lists, OBD type, oxygen sensors, identification.
// Opened modally from the main window.
class TForm8 : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 792;
  static constexpr int kClientHeight = 446;

  explicit TForm8(QWidget* parent = nullptr);
  ~TForm8() override;
};

}  // namespace kestrel
