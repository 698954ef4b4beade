// A serial port for tests and benchmarks, with no device behind it.
//
// TestPort records every call - open, close, break on/off, writes with their
// bytes, input waits, queue queries and reads - with a time stamp of its
// clock (CLOCK_MONOTONIC, or virtual time), so a test can check line states
// and timings that a pseudo-terminal cannot show. Received bytes come from the test: Feed() queues
// them, the auto-echo option (on by default) queues every written byte as a K-Line adapter would,
// and a write hook lets a test answer like an ECU.
//
// A session creates its own port through CreatePort(); to let it use a
// TestPort that the test keeps, install TestPort::Factory(port). To run the
// session on virtual time, give it the port's UseVirtualClock().
//
// All members are safe to call from any thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/link_clock.h"
#include "link/precise_wait.h"
#include "link/serial_port.h"

namespace kestrel {

class TestPort final : public SerialPort {
 public:
  enum class Op { Open, Close, BreakOn, BreakOff, Write, Wait, Queued, Read };

  struct Event {
    Op op;
    MonoNs time;                      // when the call began
    MonoNs endTime;                   // when it returned
    std::vector<std::uint8_t> bytes;  // Write: bytes written; Read: bytes read
    int value = 0;  // Open: baud; Wait: result (0 ready, 1 timeout, 2 error); Queued: count
  };

  // Called on the writing thread after each successful write, with the bytes
  // written (already echoed when auto-echo is on). It may call Feed().
  using WriteHook = std::function<void(TestPort& port, const std::vector<std::uint8_t>& bytes)>;

  TestPort() = default;

  // A factory for SetPortFactory that hands out this port (each created port
  // forwards to it; the session's Close is recorded as usual).
  static PortFactory Factory(std::shared_ptr<TestPort> port);

  // ---- behaviour
  void SetAutoEcho(bool on);
  void SetWriteHook(WriteHook hook);
  void SetOpenResult(std::uint16_t errorBits, std::string text = {});
  // Every later write returns this result (Ok again to heal).
  void SetWriteResult(WriteResult result);
  // Simulated line speed: a write then takes exactly 10 bit times per byte,
  // as on a wire (the writing thread spins its last 0.3 ms); 0 (the default)
  // makes writes instant.
  void SetLineSpeed(std::uint32_t baud);
  // Whether Wait/Queued/Read calls are recorded (they are by default).
  void SetRecordReceiveCalls(bool on);
  // Switches the port to virtual time, before the session starts: calls are
  // stamped with the returned clock, a line speed advances it instead of
  // taking real time, and every wait on it first lets the receiver read and
  // parse whatever the port holds. The session gets the clock through
  // SessionRecord::Clock. The clock lives as long as the port.
  VirtualClock& UseVirtualClock();
  // How long count bytes take on the wire at the given speed (10 bits each).
  static MonoNs WireTime(std::size_t count, std::uint32_t baud);

  // Queues bytes for the receiver.
  void Feed(const std::vector<std::uint8_t>& bytes);
  // From now on every wait reports the port gone (adapter unplugged).
  void HangUp();

  // ---- what happened
  std::vector<Event> Events() const;
  void ClearEvents();
  std::vector<std::vector<std::uint8_t>> Writes() const;  // bytes of each write call
  std::string Device() const;                             // last device opened
  std::size_t Pending() const;                            // bytes fed and not yet read
  bool IsOpenNow() const;

  // ---- SerialPort
  std::uint16_t Open(const std::string& device, std::uint32_t baud) override;
  void Close() override;
  bool IsOpen() const override { return IsOpenNow(); }
  bool SetBreak(bool on) override;
  WriteResult Write(const std::uint8_t* data, std::size_t count, int timeoutMs) override;
  WaitResult WaitInput(int timeoutMs) override;
  int Queued() override;
  int Read(std::uint8_t* buffer, std::size_t count) override;
  std::string LastErrorText() const override;
  void CancelWait() override;

 private:
  void Record(Event e);
  MonoNs Now() const { return clock_.load(std::memory_order_acquire)->Now(); }
  // Returns once the receiver waits for input with nothing queued (so it has
  // parsed all it read), or has been told the port is gone, or the port is
  // closed; at most a few seconds of real time.
  void WaitReceiverIdle();

  mutable std::mutex mutex_;
  std::condition_variable inputCv_;
  std::condition_variable idleCv_;
  std::unique_ptr<VirtualClock> virtualClock_;
  std::atomic<LinkClock*> clock_{&SystemClock()};
  int waiting_ = 0;  // threads inside WaitInput
  std::deque<std::uint8_t> input_;
  std::vector<Event> events_;
  WriteHook hook_;
  std::string device_;
  std::string openText_;
  std::uint16_t openBits_ = 0;
  WriteResult writeResult_ = WriteResult::Ok;
  std::uint32_t lineSpeed_ = 0;
  bool autoEcho_ = true;
  bool recordReceive_ = true;
  bool open_ = false;
  bool hungUp_ = false;
  bool goneReported_ = false;  // a wait has returned Error
  bool cancel_ = false;
};

}  // namespace kestrel
