#pragma once

#include <QDialog>
#include <cstdint>

namespace kestrel {

// Set to 1 by the main window's start-up timer; the dashboard reads and clears
// it when it is first shown (it then centres its design area on the screen).
extern std::uint8_t DashboardFirstShow;

// Dashboard: the full-screen black instrument panel that polls the dashboard request list.
// Opened modally from the main window.
class TForm5 : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 792;
  static constexpr int kClientHeight = 480;

  explicit TForm5(QWidget* parent = nullptr);
  ~TForm5() override;
};

}  // namespace kestrel
