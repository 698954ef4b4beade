#include "uikit/ui_support.h"

#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>
#include <QMessageBox>
#include <QScreen>
#include <QWidget>
#include <cstdio>
#include <utility>

#include "common/cp1251.h"

namespace kestrel::ui {

using namespace kestrel::cp1251_literals;

namespace {
bool quitRequested = false;
int quitStatus = 0;

ErrorBoxHandler& Handler() {
  static ErrorBoxHandler handler;
  return handler;
}
}  // namespace

QString Text(std::string_view cp1251) {
  return QString::fromStdString(cp1251::ToUtf8(cp1251));
}

std::string Cp(const QString& text) {
  return cp1251::FromUtf8(text.toStdString());
}

QString AppTitle() {
  return Text("Тестер ECU Kestrel"_cpsv);
}

QPixmap Glyph(const QString& name) {
  QImage image;
  if (!image.load(QStringLiteral("pic/") + name)) return {};
  image = image.convertToFormat(QImage::Format_ARGB32);
  const QRgb key = image.pixel(0, image.height() - 1);
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (image.pixel(x, y) == key) image.setPixel(x, y, qRgba(0, 0, 0, 0));
    }
  }
  return QPixmap::fromImage(image);
}

ErrorBoxHandler SetErrorBoxHandler(ErrorBoxHandler handler) {
  return std::exchange(Handler(), std::move(handler));
}

void ShowErrorBox(QWidget* parent, std::string_view cp1251) {
  const QString text = Text(cp1251);
  if (Handler()) {
    Handler()(text);
    return;
  }
  QMessageBox::critical(parent, AppTitle(), text);
}

void RequestQuit(int status, const std::string& stderrLine) {
  if (!stderrLine.empty()) {
    std::fprintf(stderr, "%s\n", stderrLine.c_str());
    std::fflush(stderr);
  }
  if (!quitRequested) {
    quitRequested = true;
    quitStatus = status;
  }
  QCoreApplication::exit(quitStatus);
}

bool QuitRequested() {
  return quitRequested;
}

int QuitStatus() {
  return quitStatus;
}

void ResetQuit() {
  quitRequested = false;
  quitStatus = 0;
}

void FixAndCentre(QWidget* window, int width, int height) {
  window->setFixedSize(width, height);
  QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect area = screen->availableGeometry();
  // The client area is placed, not the frame: the window manager's frame is
  // known only once the window has been shown, and centring by the frame
  // moved a window by its title bar between its first and later openings.
  window->setGeometry(QRect(area.center() - QPoint(width / 2, height / 2), QSize(width, height)));
}

}  // namespace kestrel::ui
