#include "link/link_clock.h"

namespace kestrel {

namespace {

class MonotonicClock final : public LinkClock {
 public:
  static constexpr MonoNs kSpinTail = 100 * kNsPerUs;

  MonoNs Now() const override { return MonoNow(); }
  bool WaitUntil(MonoNs deadline, const std::atomic<bool>* abort) override {
    return SleepUntil(deadline, abort, kSpinTail);
  }
  bool Real() const override { return true; }
};

}  // namespace

LinkClock& SystemClock() {
  static MonotonicClock clock;
  return clock;
}

void VirtualClock::AdvanceTo(MonoNs t) {
  if (settle_) settle_();
  if (t > Now()) now_.store(t, std::memory_order_release);
}

bool VirtualClock::WaitUntil(MonoNs deadline, const std::atomic<bool>* abort) {
  if (abort != nullptr && abort->load(std::memory_order_acquire)) return false;
  AdvanceTo(deadline > Now() ? deadline + late_.load() : deadline);
  return abort == nullptr || !abort->load(std::memory_order_acquire);
}

}  // namespace kestrel
