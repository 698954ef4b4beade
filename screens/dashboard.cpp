#include "screens/dashboard.h"

#include <QPalette>
#include <QToolButton>

#include "common/cp1251.h"
#include "uikit/ui_support.h"

namespace kestrel {

using namespace kestrel::cp1251_literals;

std::uint8_t DashboardFirstShow = 0;

TForm5::TForm5(QWidget* parent) : QDialog(parent) {
  // A black panel without a border, shown maximised for use while driving.
  setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
  setWindowTitle(ui::Text("Приборная панель"_cpsv));
  setMinimumSize(kClientWidth, kClientHeight);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::black);
  setPalette(pal);
  setAutoFillBackground(true);
  setWindowState(Qt::WindowMaximized);

  auto* exitButton = new QToolButton(this);
  exitButton->setObjectName(QStringLiteral("SpeedButton2"));
  exitButton->setGeometry(48, 8, 38, 38);
  exitButton->setToolTip(ui::Text("Выход"_cpsv));
  exitButton->setIcon(ui::Glyph(QStringLiteral("exit.bmp")));
  exitButton->setIconSize(QSize(32, 32));
  exitButton->setAutoRaise(true);
  connect(exitButton, &QToolButton::clicked, this, &QDialog::accept);
}

TForm5::~TForm5() = default;

}  // namespace kestrel
