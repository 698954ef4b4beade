// Qt helpers of the window tests: the one application object of a test
// program (offscreen unless the environment chose a platform), waits that
// keep the event loop running, and a watch that acts on a modal window once
// it is shown.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <functional>
#include <memory>

class QWidget;

namespace kestrel::testing {

// Creates the QApplication on first use (on the offscreen platform unless
// QT_QPA_PLATFORM is set); later calls do nothing.
void EnsureApp();

// Runs the event loop until `done` returns true (true) or `timeoutMs` pass
// (false).
bool ProcessUntil(const std::function<bool()>& done, int timeoutMs = 8000);

// Watches for a modal window (a 10 ms poll) and calls `act` with it once it is
// shown. Watching ends with the first window, after `timeoutMs`, or when the
// watch is destroyed.
class ModalWatch {
 public:
  ModalWatch(std::function<QWidget*()> find, std::function<void(QWidget*)> act, int timeoutMs);
  ~ModalWatch();
  bool Seen() const { return seen_; }
  bool operator*() const { return seen_; }

 private:
  QTimer timer_;
  QElapsedTimer clock_;
  bool seen_ = false;
};

template <typename T>
std::unique_ptr<ModalWatch> OnModal(std::function<void(T*)> act, int timeoutMs = 15000) {
  return std::make_unique<ModalWatch>(
      [] { return qobject_cast<T*>(QApplication::activeModalWidget()); },
      [act](QWidget* w) { act(static_cast<T*>(w)); }, timeoutMs);
}

}  // namespace kestrel::testing
