// The simulated adapter and ECU as an in-process serial port.
//
// SimEcu holds one Engine behind a lock, on the steady clock, and lives
// across sessions like a car does (cleared codes stay cleared). SimPort is the
// SerialPort a session opens on it; install it with
//   kestrel::SetPortFactory(kestrel::ecusim::SimPort::Factory(ecu));
// Break calls reach the ECU with their times, so it checks the wake-up and
// 5-baud timing; writes take as long as the bytes need on the line.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ecusim/engine.h"
#include "link/serial_port.h"

namespace kestrel::ecusim {

// Microseconds on the steady clock (CLOCK_MONOTONIC).
Micros SteadyMicros();

class SimEcu {
 public:
  SimEcu(Scenario scenario, EngineOptions options);

  // Runs f(engine) under the lock (tests look at codes, actuators, phase).
  template <class F>
  auto Inspect(F&& f) {
    std::lock_guard lock(mutex_);
    return f(engine_);
  }
  // Bytes sent and received so far, for tests that count traffic.
  std::size_t BytesFromTester() const;

 private:
  friend class SimPort;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  Engine engine_;
  bool open_ = false;
  bool vanished_ = false;
  std::size_t from_tester_ = 0;
  std::vector<std::uint8_t> rx_;  // due and not yet read

  bool VanishedLocked(Micros now);
};

class SimPort : public SerialPort {
 public:
  explicit SimPort(std::shared_ptr<SimEcu> ecu) : ecu_(std::move(ecu)) {}
  ~SimPort() override { Close(); }

  static PortFactory Factory(std::shared_ptr<SimEcu> ecu);

  std::uint16_t Open(const std::string& device, std::uint32_t baud) override;
  void Close() override;
  bool IsOpen() const override { return open_; }
  bool SetBreak(bool on) override;
  WriteResult Write(const std::uint8_t* data, std::size_t count, int timeoutMs) override;
  WaitResult WaitInput(int timeoutMs) override;
  int Queued() override;
  int Read(std::uint8_t* buffer, std::size_t count) override;
  std::string LastErrorText() const override { return error_; }
  // Ends a WaitInput in progress (or the next one) with Timeout, so a session
  // stops without waiting out the receiver's 500 ms.
  void CancelWait() override;

 private:
  std::shared_ptr<SimEcu> ecu_;
  std::atomic<bool> open_{false};
  bool cancel_ = false;  // guarded by the ECU's lock
  std::string error_;
};

}  // namespace kestrel::ecusim
