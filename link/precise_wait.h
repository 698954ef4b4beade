// Precise waits for the K-Line timings.
//
// Every wait of a session is a sleep until an absolute deadline on
// CLOCK_MONOTONIC (clock_nanosleep with TIMER_ABSTIME): a wait that wakes up
// late does not push the deadlines after it, so the ten 200 ms cells of a
// 5-baud address add up to 2 s without drift. Long waits sleep in slices so
// that an abort request ends them early; the last slice still ends exactly on
// the deadline.
#pragma once

#include <atomic>
#include <cstdint>

namespace kestrel {

// Nanoseconds on CLOCK_MONOTONIC.
using MonoNs = std::int64_t;

inline constexpr MonoNs kNsPerMs = 1'000'000;
inline constexpr MonoNs kNsPerUs = 1'000;

MonoNs MonoNow();

inline constexpr MonoNs Ms(std::int64_t ms) {
  return ms * kNsPerMs;
}

// Sleeps until the deadline. Returns false when *abort became true first (the
// wait then ends within a few milliseconds), true otherwise. With a spin tail
// the sleep ends that long before the deadline and the rest is spent polling
// the clock: a sleeping thread wakes up 50..100 us late even at real-time
// priority, a spinning one within a microsecond or two.
bool SleepUntil(MonoNs deadline, const std::atomic<bool>* abort = nullptr, MonoNs spinTail = 0);

// Lets the calling thread's sleeps end on time instead of up to 50 us late
// (the default timer slack of ordinary threads).
void MinimiseTimerSlack();

// Asks for real-time scheduling (SCHED_FIFO) for the calling thread while the
// object lives, and restores the previous policy afterwards. Where real-time
// scheduling is not permitted nothing changes and nothing is reported: the
// waits are then only as precise as ordinary threads wake up.
class RealtimeScope {
 public:
  RealtimeScope();
  ~RealtimeScope();
  RealtimeScope(const RealtimeScope&) = delete;
  RealtimeScope& operator=(const RealtimeScope&) = delete;

  bool Active() const { return active_; }

 private:
  bool active_ = false;
  int oldPolicy_ = 0;
  int oldPriority_ = 0;
};

}  // namespace kestrel
