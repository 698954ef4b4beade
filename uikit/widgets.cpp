#include "uikit/widgets.h"

#include <QCloseEvent>
#include <QFont>
#include <QLabel>
#include <QShowEvent>
#include <QToolButton>
#include <algorithm>

#include "link/link_error_hint.h"
#include "link/link_globals.h"
#include "link/txd.h"
#include "uikit/ui_support.h"

namespace kestrel::ui {

DiagnosticWindow::DiagnosticWindow(QWidget* parent, std::string_view title, int clientWidth,
                                   int clientHeight)
    : QDialog(parent), clientWidth_(clientWidth), clientHeight_(clientHeight) {
  setWindowTitle(Text(title));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  QFont base(QStringLiteral("MS Sans Serif"));
  base.setPixelSize(11);
  setFont(base);
  setFixedSize(clientWidth, clientHeight);
}

void DiagnosticWindow::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;
  FixAndCentre(this, clientWidth_, clientHeight_);
  FormActivate();
}

void DiagnosticWindow::closeEvent(QCloseEvent* event) {
  FormClose();
  QDialog::closeEvent(event);
}

void DiagnosticWindow::done(int result) {
  FormClose();
  QDialog::done(result);
}

int Overhang(const QLabel* label) {
  return label->font().italic() ? (label->fontMetrics().ascent() + 4) / 5 : 1;
}

void ShowAutoSized(QLabel* label, const QString& text) {
  if (label->text() == text) return;
  const int right = label->x() + label->width();
  label->setText(text);
  const int width = label->fontMetrics().horizontalAdvance(text) + Overhang(label);
  const int x = (label->alignment() & Qt::AlignRight) ? right - width : label->x();
  label->setGeometry(x, label->y(), width, label->height());
}

QFont StatusFont() {
  QFont font(QStringLiteral("Times New Roman"));
  font.setPixelSize(15);
  font.setBold(true);
  return font;
}

QToolButton* MakeSpeedButton(QWidget* parent, int x, int y, int size, std::string_view hint) {
  auto* b = new QToolButton(parent);
  b->setGeometry(x, y, size, size);
  b->setToolTip(Text(hint));
  b->setFocusPolicy(Qt::NoFocus);  // speed buttons take no focus
  const int icon = size > 20 ? 32 : 15;
  b->setIconSize(QSize(icon, icon));
  return b;
}

void SetGlyph(QToolButton* button, const char* file) {
  const QPixmap glyph = Glyph(QString::fromLatin1(file));
  button->setIcon(glyph.isNull() ? QIcon() : QIcon(glyph));
}

StatusPair MakeStatusPair(QWidget* parent, int x, int y, int statusX, int right, const QFont& font,
                          const QString& initial) {
  StatusPair pair;
  pair.Caption = new QLabel(QStringLiteral("K-Line:"), parent);
  pair.Caption->setFont(font);
  pair.Caption->move(x, y);
  pair.Caption->adjustSize();
  pair.Status = new QLabel(initial, parent);
  pair.Status->setFont(font);
  const int at = std::max(statusX, pair.Caption->x() + pair.Caption->width() + 4);
  pair.Status->setGeometry(at, y, std::max(right - at, 1), pair.Caption->height());
  return pair;
}

void ShowLinkStatus(QLabel* label, std::uint16_t status, std::uint16_t error, bool dashboard) {
  const QString text = Text(LinkStatusText(status, error, dashboard));
  if (label->text() == text) return;
  label->setText(text);
  ShowLinkErrorTip(label, status, error);
}

void ShowLinkErrorTip(QWidget* widget, std::uint16_t status, std::uint16_t error) {
  // The error word alone tells a user little: the tool tip says what each
  // set bit means and, for a port that did not open, what to do.
  QString tip;
  if (status == lsError) {
    tip = Text(LinkErrorHint(error, LinkSettings.PortName, LastPortErrorText())).trimmed();
  }
  if (widget->toolTip() != tip) widget->setToolTip(tip);
}

}  // namespace kestrel::ui
