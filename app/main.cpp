// kestrel: the diagnostic tester.
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QIcon>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>

#include "app/single_instance.h"
#include "app/startup.h"
#include "link/session.h"
#include "uikit/ui_support.h"

namespace {

// Exit status of a second start while the program runs.
constexpr int kAlreadyRunningStatus = 2;

// Ctrl-C and SIGTERM end the program like closing it does (the running
// session is stopped first): the handler only writes the signal number into
// a socket pair that the user-interface thread watches.
int signalPipe[2] = {-1, -1};

void OnSignal(int signo) {
  const unsigned char b = static_cast<unsigned char>(signo);
  [[maybe_unused]] const ssize_t n = ::write(signalPipe[0], &b, 1);
}

void EndOnSignals(QObject* owner) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return;
  auto* notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, owner);
  QObject::connect(notifier, &QSocketNotifier::activated, owner, [] {
    unsigned char b = 0;
    if (::read(signalPipe[1], &b, 1) == 1) kestrel::ui::RequestQuit(128 + b);
  });
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);
}

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
  // Installed, the desktop entry and the icon theme's picture of the program.
  QGuiApplication::setDesktopFileName(QStringLiteral("kestrel"));
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("kestrel")));
  kestrel::InstallQtTranslations();
  EndOnSignals(&app);

  std::unique_ptr<kestrel::TForm1> form1 = kestrel::StartProgram();
  if (kestrel::ui::QuitRequested()) return kestrel::ui::QuitStatus();
  form1->show();
  const int status = app.exec();
  // The dashboard's polling may outlive its window: end any session before
  // the program, so that no link thread outlives main.
  kestrel::StopSession();
  form1.reset();
  return kestrel::ui::QuitRequested() ? kestrel::ui::QuitStatus() : status;
}
