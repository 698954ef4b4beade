#pragma once

#include <QDialog>

namespace kestrel {

// Live data table: lists the real-time parameters, polls them in a cycle and runs actuator tests.
class TForm3 : public QDialog {
  Q_OBJECT

 public:
  explicit TForm3(QWidget* parent = nullptr);
  ~TForm3() override;
};

}  // namespace kestrel
