#include "app/about.h"

#include <QLabel>
#include <QShowEvent>
#include <QToolButton>

#include "common/cp1251.h"
#include "uikit/ui_support.h"

namespace kestrel {

using namespace kestrel::cp1251_literals;

std::string AboutText() {
  constexpr std::string_view kLines[] = {
      "  Программа \"Тестер ECU Kestrel\" предназначена для диагностики"_cpsv,
      "автомобильных ECU, работающих по протоколам ISO-9141/14230."_cpsv,
      ""_cpsv,
      "Обновление: раздел выпусков в репозитории проекта Kestrel."_cpsv,
      ""_cpsv,
      "Если программа вам помогла, поддержите её развитие:"_cpsv,
      "пожертвования принимает команда проекта Kestrel."_cpsv,
      ""_cpsv,
      "Автор: команда разработчиков Kestrel   Текущая версия: 2.1.3"_cpsv,
  };
  std::string text;
  for (std::size_t i = 0; i < std::size(kLines); ++i) {
    if (i > 0) text += "\r\n";
    text += kLines[i];
  }
  return text;
}

TForm10::TForm10(QWidget* parent) : QDialog(parent) {
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setWindowTitle(ui::Text("О программе"_cpsv));

  label_ = new QLabel(this);
  label_->setObjectName(QStringLiteral("Label1"));
  label_->setGeometry(12, 10, kClientWidth - 24, kClientHeight - 60);
  label_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label_->setTextFormat(Qt::PlainText);

  exitButton_ = new QToolButton(this);
  exitButton_->setObjectName(QStringLiteral("SpeedButton1"));
  exitButton_->setGeometry(kClientWidth - 8 - 38, kClientHeight - 8 - 38, 38, 38);
  exitButton_->setToolTip(ui::Text("Выход"_cpsv));
  const QPixmap glyph = ui::Glyph(QStringLiteral("exit.bmp"));
  if (glyph.isNull()) {
    exitButton_->setText(ui::Text("Выход"_cpsv));
  } else {
    exitButton_->setIcon(glyph);
    exitButton_->setIconSize(QSize(32, 32));
  }
  connect(exitButton_, &QToolButton::clicked, this, &QDialog::accept);

  ui::FixAndCentre(this, kClientWidth, kClientHeight);
}

TForm10::~TForm10() = default;

void TForm10::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    QString text = ui::Text(AboutText());
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    label_->setText(text);
  }
  QDialog::showEvent(event);
}

}  // namespace kestrel
