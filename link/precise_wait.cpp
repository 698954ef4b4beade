#include "link/precise_wait.h"

#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <time.h>

#include <cerrno>

namespace kestrel {

namespace {

// Longest single sleep while an abort flag is watched.
constexpr MonoNs kAbortSlice = Ms(20);

timespec ToTimespec(MonoNs ns) {
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
  ts.tv_nsec = static_cast<long>(ns % 1'000'000'000);
  return ts;
}

void SleepAbsolute(MonoNs deadline) {
  const timespec ts = ToTimespec(deadline);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
  }
}

}  // namespace

MonoNs MonoNow() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<MonoNs>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

bool SleepUntil(MonoNs deadline, const std::atomic<bool>* abort, MonoNs spinTail) {
  const MonoNs wakeAt = deadline - spinTail;
  if (abort == nullptr) {
    SleepAbsolute(wakeAt);
  } else {
    for (;;) {
      if (abort->load(std::memory_order_acquire)) return false;
      const MonoNs now = MonoNow();
      if (now >= wakeAt) break;
      SleepAbsolute(wakeAt - now > kAbortSlice ? now + kAbortSlice : wakeAt);
    }
  }
  while (MonoNow() < deadline) {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  }
  return true;
}

void MinimiseTimerSlack() {
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

RealtimeScope::RealtimeScope() {
  sched_param old{};
  if (pthread_getschedparam(pthread_self(), &oldPolicy_, &old) != 0) return;
  oldPriority_ = old.sched_priority;
  sched_param rt{};
  // A middle priority: above every ordinary thread, below the kernel's own
  // real-time helpers.
  rt.sched_priority = (sched_get_priority_min(SCHED_FIFO) + sched_get_priority_max(SCHED_FIFO)) / 2;
  active_ = pthread_setschedparam(pthread_self(), SCHED_FIFO, &rt) == 0;
}

RealtimeScope::~RealtimeScope() {
  if (!active_) return;
  sched_param old{};
  old.sched_priority = oldPriority_;
  pthread_setschedparam(pthread_self(), oldPolicy_, &old);
}

}  // namespace kestrel
