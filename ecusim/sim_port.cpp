#include "ecusim/sim_port.h"

#include <algorithm>
#include <thread>

namespace kestrel::ecusim {

namespace {
using Clock = std::chrono::steady_clock;
Clock::time_point ToTime(Micros us) {
  return Clock::time_point(
      std::chrono::duration_cast<Clock::duration>(std::chrono::microseconds(us)));
}
constexpr std::uint16_t kOpenFailed = 0x0001;
}  // namespace

Micros SteadyMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch())
      .count();
}

SimEcu::SimEcu(Scenario scenario, EngineOptions options)
    : engine_(std::move(scenario), std::move(options), SteadyMicros()) {}

std::size_t SimEcu::BytesFromTester() const {
  std::lock_guard lock(mutex_);
  return from_tester_;
}

bool SimEcu::VanishedLocked(Micros now) {
  if (!vanished_ && engine_.VanishAt() && now >= *engine_.VanishAt()) vanished_ = true;
  return vanished_;
}

PortFactory SimPort::Factory(std::shared_ptr<SimEcu> ecu) {
  return [ecu]() -> std::unique_ptr<SerialPort> { return std::make_unique<SimPort>(ecu); };
}

std::uint16_t SimPort::Open(const std::string& device, std::uint32_t baud) {
  std::lock_guard lock(ecu_->mutex_);
  const Micros now = SteadyMicros();
  if (open_) return 0;
  if (ecu_->VanishedLocked(now)) {
    error_ = device + ": the simulated adapter is gone";
    return kOpenFailed;
  }
  if (ecu_->open_) {
    error_ = device + ": the simulated adapter is in use";
    return kOpenFailed;
  }
  ecu_->open_ = true;
  open_ = true;
  ecu_->engine_.SetTesterBaud(baud);
  ecu_->engine_.Purge(now);
  ecu_->rx_.clear();
  return 0;
}

void SimPort::Close() {
  if (!open_) return;
  std::lock_guard lock(ecu_->mutex_);
  open_ = false;
  ecu_->open_ = false;
  ecu_->rx_.clear();
  ecu_->changed_.notify_all();
}

bool SimPort::SetBreak(bool on) {
  std::lock_guard lock(ecu_->mutex_);
  const Micros now = SteadyMicros();
  if (!open_ || ecu_->VanishedLocked(now)) return false;
  ecu_->engine_.Break(on, now);
  ecu_->changed_.notify_all();
  return true;
}

SerialPort::WriteResult SimPort::Write(const std::uint8_t* data, std::size_t count, int timeoutMs) {
  Micros done = 0;
  {
    std::lock_guard lock(ecu_->mutex_);
    const Micros now = SteadyMicros();
    if (!open_ || ecu_->VanishedLocked(now)) return WriteResult::Short;
    ecu_->engine_.Receive(data, count, now);
    ecu_->from_tester_ += count;
    ecu_->changed_.notify_all();
    // The write returns when the last byte has left, like a drained output queue.
    const Micros line =
        static_cast<Micros>(count) * static_cast<Micros>(10e6 / ecu_->engine_.scenario().baud);
    done = now + std::min<Micros>(line, static_cast<Micros>(timeoutMs) * 1000);
  }
  std::this_thread::sleep_until(ToTime(done));
  return WriteResult::Ok;
}

SerialPort::WaitResult SimPort::WaitInput(int timeoutMs) {
  std::unique_lock lock(ecu_->mutex_);
  const Micros deadline = SteadyMicros() + static_cast<Micros>(std::max(0, timeoutMs)) * 1000;
  for (;;) {
    const Micros now = SteadyMicros();
    if (!open_ || ecu_->VanishedLocked(now)) return WaitResult::Error;
    if (cancel_) {
      cancel_ = false;
      return WaitResult::Timeout;
    }
    ecu_->engine_.Take(now, ecu_->rx_);
    if (!ecu_->rx_.empty()) return WaitResult::Ready;
    if (now >= deadline) return WaitResult::Timeout;
    Micros wake = deadline;
    if (auto next = ecu_->engine_.NextEvent()) wake = std::min(wake, std::max(*next, now));
    ecu_->changed_.wait_until(lock, ToTime(wake));
  }
}

void SimPort::CancelWait() {
  std::lock_guard lock(ecu_->mutex_);
  cancel_ = true;
  ecu_->changed_.notify_all();
}

int SimPort::Queued() {
  std::lock_guard lock(ecu_->mutex_);
  const Micros now = SteadyMicros();
  if (!open_ || ecu_->VanishedLocked(now)) return -1;
  ecu_->engine_.Take(now, ecu_->rx_);
  return static_cast<int>(std::min<std::size_t>(ecu_->rx_.size(), 1u << 30));
}

int SimPort::Read(std::uint8_t* buffer, std::size_t count) {
  std::lock_guard lock(ecu_->mutex_);
  if (!open_ || ecu_->VanishedLocked(SteadyMicros())) return -1;
  const std::size_t n = std::min(count, ecu_->rx_.size());
  std::copy_n(ecu_->rx_.begin(), n, buffer);
  ecu_->rx_.erase(ecu_->rx_.begin(), ecu_->rx_.begin() + static_cast<std::ptrdiff_t>(n));
  return static_cast<int>(n);
}

}  // namespace kestrel::ecusim
