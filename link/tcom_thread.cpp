#include "link/tcom_thread.h"

#include "link/precise_wait.h"

namespace kestrel {

TComThread::TComThread(SerialPort& port, const RxSettings& settings, const RxTargets& targets,
                       std::string logFileName)
    : port_(port), error_(targets.Error), parser_(settings, targets, std::move(logFileName)) {
  parser_.Reset();
}

TComThread::~TComThread() {
  Terminate();
  Join();
}

void TComThread::SetError(std::uint16_t bits) {
  if (error_ != nullptr) error_->fetch_or(bits);
}

// Reads and drops what is queued: the bytes are lost anyway, and leaving them
// would make every later wait return at once.
void TComThread::Discard(int queued) {
  while (queued > 0) {
    const int n = port_.Read(buffer_.data(), buffer_.size());
    if (n <= 0) return;
    queued -= n;
  }
}

void TComThread::Execute() {
  // Pause after a cycle that read nothing although input was reported, so a
  // port in a strange state cannot keep this thread spinning.
  auto idle = [] { SleepUntil(MonoNow() + Ms(1)); };
  while (!Terminated()) {
    const SerialPort::WaitResult r = port_.WaitInput(kWaitMs);
    if (r == SerialPort::WaitResult::Error) {
      SetError(kErrRxOverflow);
      break;
    }
    if (r == SerialPort::WaitResult::Timeout) continue;
    int queued = port_.Queued();
    if (queued < 0) {
      SetError(kErrRxState);
      queued = kMaxQueued;  // read what is there, at most a full buffer
    }
    if (queued > kMaxQueued) {
      SetError(kErrRxOverflow);
      Discard(queued);
      continue;
    }
    const int n = queued > 0 ? port_.Read(buffer_.data(), static_cast<std::size_t>(queued)) : 0;
    if (n < 0) {
      SetError(kErrRead);
      idle();
      continue;
    }
    if (n == 0) {
      idle();
      continue;
    }
    parser_.Push(buffer_.data(), static_cast<std::size_t>(n));
    parser_.Parse();
  }
}

}  // namespace kestrel
