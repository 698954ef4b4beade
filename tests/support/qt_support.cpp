#include "tests/support/qt_support.h"

#include <QWidget>
#include <chrono>
#include <thread>

namespace kestrel::testing {

void EnsureApp() {
  static int argc = 1;
  static char name[] = "kestrel-tests";
  static char* argv[] = {name, nullptr};
  if (QApplication::instance() != nullptr) return;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  new QApplication(argc, argv);  // lives as long as the test program
}

bool ProcessUntil(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

ModalWatch::ModalWatch(std::function<QWidget*()> find, std::function<void(QWidget*)> act,
                       int timeoutMs) {
  clock_.start();
  QObject::connect(&timer_, &QTimer::timeout, [this, find, act, timeoutMs] {
    QWidget* window = find();
    if (window != nullptr && window->isVisible()) {
      seen_ = true;
      timer_.stop();
      act(window);
    } else if (clock_.elapsed() > timeoutMs) {
      timer_.stop();
    }
  });
  timer_.start(10);
}

ModalWatch::~ModalWatch() {
  timer_.stop();
}

}  // namespace kestrel::testing
