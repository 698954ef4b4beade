// The clock a session's waits run on.
//
// The session thread reads the time and waits for its deadlines only through
// a LinkClock. SystemClock() is the real one: CLOCK_MONOTONIC with the
// precise waits of precise_wait.h (absolute deadlines, a short spin at the
// end), and the session asks for real-time scheduling while it times the
// line. A VirtualClock moves to each deadline at once, so a test runs a whole
// session in milliseconds and sees every edge exactly where the session put
// it, however busy the machine is.
#pragma once

#include <atomic>
#include <functional>

#include "link/precise_wait.h"

namespace kestrel {

class LinkClock {
 public:
  virtual ~LinkClock() = default;

  virtual MonoNs Now() const = 0;

  // Waits until the deadline. Returns false when *abort (if given) became
  // true first, true otherwise.
  virtual bool WaitUntil(MonoNs deadline, const std::atomic<bool>* abort) = 0;

  // True when waits take real time, so that how promptly the thread wakes
  // up matters (the session then asks for real-time scheduling).
  virtual bool Real() const = 0;
};

// CLOCK_MONOTONIC; every wait ends with a spin of at most 100 us, so it ends
// on its deadline to the microsecond (about 0.5 % of a core at the default
// timings).
LinkClock& SystemClock();

// Virtual time, for tests. Now() only moves when the waiting thread moves it:
// a wait for a later deadline ends at once with the clock on the deadline
// (plus the late wake-up, if one is set). Before time moves on, the settle
// function lets other threads finish what they do with what has happened so
// far (the test port lets the receiver read and parse everything queued), so
// a session on virtual time runs the same way every time. Now() may be read
// from any thread; the waits come from one thread at a time.
class VirtualClock final : public LinkClock {
 public:
  explicit VirtualClock(MonoNs start = 0) : now_(start) {}

  MonoNs Now() const override { return now_.load(std::memory_order_acquire); }
  bool WaitUntil(MonoNs deadline, const std::atomic<bool>* abort) override;
  bool Real() const override { return false; }

  // Settles, then sets the clock to t if that is later (no late wake-up: a
  // simulated wire takes exactly its time).
  void AdvanceTo(MonoNs t);

  // Every wait for a later deadline ends this much after it, as the waits of
  // a thread that wakes up late do.
  void SetLateWakeUp(MonoNs late) { late_.store(late); }

  // Set before the clock is used.
  void SetSettle(std::function<void()> settle) { settle_ = std::move(settle); }

 private:
  std::atomic<MonoNs> now_;
  std::atomic<MonoNs> late_{0};
  std::function<void()> settle_;
};

}  // namespace kestrel
