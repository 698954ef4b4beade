// kestrel: the diagnostic tester.
#include <QApplication>
#include <cstdio>

#include "app/single_instance.h"
#include "app/startup.h"
#include "screens/ui_support.h"

namespace {
// Exit status of a second start while the program runs.
constexpr int kAlreadyRunningStatus = 2;
}  // namespace

int main(int argc, char** argv) {
  // A second copy ends at once: no window, no message box.
  kestrel::SingleInstanceLock lock;
  const std::string lockPath = kestrel::SingleInstanceLock::LockPath();
  switch (lock.Acquire(lockPath)) {
    case kestrel::SingleInstanceLock::Result::Acquired:
      break;
    case kestrel::SingleInstanceLock::Result::AlreadyRunning:
      std::fprintf(stderr, "kestrel: already running (lock %s)\n", lockPath.c_str());
      return kAlreadyRunningStatus;
    case kestrel::SingleInstanceLock::Result::Unavailable:
      std::fprintf(stderr, "kestrel: cannot check for another instance: %s\n",
                   lock.ErrorText().c_str());
      break;
  }

  QApplication app(argc, argv);  // also takes LC_NUMERIC etc. from the environment
  QApplication::setApplicationName(kestrel::ui::AppTitle());

  std::unique_ptr<kestrel::TForm1> form1 = kestrel::StartProgram();
  if (kestrel::ui::QuitRequested()) return kestrel::ui::QuitStatus();
  form1->show();
  const int status = app.exec();
  return kestrel::ui::QuitRequested() ? kestrel::ui::QuitStatus() : status;
}
