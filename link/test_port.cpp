#include "link/test_port.h"

#include <algorithm>
#include <chrono>

namespace kestrel {

namespace {

// What a session gets from the factory: a handle that forwards to the shared
// TestPort, so the test keeps the port and its record after the session ends.
class TestPortHandle final : public SerialPort {
 public:
  explicit TestPortHandle(std::shared_ptr<TestPort> port) : port_(std::move(port)) {}
  std::uint16_t Open(const std::string& device, std::uint32_t baud) override {
    return port_->Open(device, baud);
  }
  void Close() override { port_->Close(); }
  bool IsOpen() const override { return port_->IsOpen(); }
  bool SetBreak(bool on) override { return port_->SetBreak(on); }
  WriteResult Write(const std::uint8_t* data, std::size_t count, int timeoutMs) override {
    return port_->Write(data, count, timeoutMs);
  }
  WaitResult WaitInput(int timeoutMs) override { return port_->WaitInput(timeoutMs); }
  int Queued() override { return port_->Queued(); }
  int Read(std::uint8_t* buffer, std::size_t count) override { return port_->Read(buffer, count); }
  std::string LastErrorText() const override { return port_->LastErrorText(); }
  void CancelWait() override { port_->CancelWait(); }

 private:
  std::shared_ptr<TestPort> port_;
};

}  // namespace

PortFactory TestPort::Factory(std::shared_ptr<TestPort> port) {
  return [port]() -> std::unique_ptr<SerialPort> { return std::make_unique<TestPortHandle>(port); };
}

void TestPort::Record(Event e) {
  events_.push_back(std::move(e));
}

void TestPort::SetAutoEcho(bool on) {
  std::lock_guard lock(mutex_);
  autoEcho_ = on;
}

void TestPort::SetWriteHook(WriteHook hook) {
  std::lock_guard lock(mutex_);
  hook_ = std::move(hook);
}

void TestPort::SetOpenResult(std::uint16_t errorBits, std::string text) {
  std::lock_guard lock(mutex_);
  openBits_ = errorBits;
  openText_ = std::move(text);
}

void TestPort::SetWriteResult(WriteResult result) {
  std::lock_guard lock(mutex_);
  writeResult_ = result;
}

void TestPort::SetLineSpeed(std::uint32_t baud) {
  std::lock_guard lock(mutex_);
  lineSpeed_ = baud;
}

void TestPort::SetRecordReceiveCalls(bool on) {
  std::lock_guard lock(mutex_);
  recordReceive_ = on;
}

VirtualClock& TestPort::UseVirtualClock() {
  if (!virtualClock_) {
    virtualClock_ = std::make_unique<VirtualClock>();
    virtualClock_->SetSettle([this] { WaitReceiverIdle(); });
    clock_.store(virtualClock_.get(), std::memory_order_release);
  }
  return *virtualClock_;
}

MonoNs TestPort::WireTime(std::size_t count, std::uint32_t baud) {
  return baud == 0 ? 0 : static_cast<MonoNs>(count) * 10 * 1'000'000'000 / baud;
}

void TestPort::WaitReceiverIdle() {
  std::unique_lock lock(mutex_);
  // A port gone is idle once the receiver has been told (it then ends).
  idleCv_.wait_for(lock, std::chrono::seconds(5), [this] {
    return !open_ || (hungUp_ ? goneReported_ : waiting_ > 0 && input_.empty());
  });
}

void TestPort::Feed(const std::vector<std::uint8_t>& bytes) {
  {
    std::lock_guard lock(mutex_);
    input_.insert(input_.end(), bytes.begin(), bytes.end());
  }
  inputCv_.notify_all();
}

void TestPort::HangUp() {
  {
    std::lock_guard lock(mutex_);
    hungUp_ = true;
  }
  inputCv_.notify_all();
  idleCv_.notify_all();
}

std::vector<TestPort::Event> TestPort::Events() const {
  std::lock_guard lock(mutex_);
  return events_;
}

void TestPort::ClearEvents() {
  std::lock_guard lock(mutex_);
  events_.clear();
}

std::vector<std::vector<std::uint8_t>> TestPort::Writes() const {
  std::lock_guard lock(mutex_);
  std::vector<std::vector<std::uint8_t>> out;
  for (const Event& e : events_) {
    if (e.op == Op::Write) out.push_back(e.bytes);
  }
  return out;
}

std::string TestPort::Device() const {
  std::lock_guard lock(mutex_);
  return device_;
}

std::size_t TestPort::Pending() const {
  std::lock_guard lock(mutex_);
  return input_.size();
}

bool TestPort::IsOpenNow() const {
  std::lock_guard lock(mutex_);
  return open_;
}

std::uint16_t TestPort::Open(const std::string& device, std::uint32_t baud) {
  const MonoNs t = Now();
  std::lock_guard lock(mutex_);
  device_ = device;
  open_ = openBits_ == 0;
  cancel_ = false;
  Record({Op::Open, t, Now(), {}, static_cast<int>(baud)});
  return openBits_;
}

void TestPort::Close() {
  const MonoNs t = Now();
  std::lock_guard lock(mutex_);
  if (!open_) return;
  open_ = false;
  Record({Op::Close, t, t, {}, 0});
  idleCv_.notify_all();
}

bool TestPort::SetBreak(bool on) {
  const MonoNs t = Now();
  std::lock_guard lock(mutex_);
  Record({on ? Op::BreakOn : Op::BreakOff, t, t, {}, 0});
  return open_;
}

SerialPort::WriteResult TestPort::Write(const std::uint8_t* data, std::size_t count,
                                        int /*timeoutMs*/) {
  const MonoNs t = Now();
  std::vector<std::uint8_t> bytes(data, data + count);
  WriteResult result;
  std::uint32_t speed;
  {
    std::lock_guard lock(mutex_);
    result = open_ ? writeResult_ : WriteResult::Short;
    speed = lineSpeed_;
  }
  if (result == WriteResult::Ok && speed != 0) {
    // The simulated wire takes exactly its bit times: sleep, then spin out
    // the last part so wake-up latency does not lengthen the frame.
    const MonoNs end = t + WireTime(count, speed);
    if (virtualClock_) {
      virtualClock_->AdvanceTo(end);
    } else {
      SleepUntil(end - 300 * kNsPerUs);
      while (Now() < end) {
      }
    }
  }
  WriteHook hook;
  {
    std::lock_guard lock(mutex_);
    Record({Op::Write, t, Now(), bytes, static_cast<int>(result)});
    if (result == WriteResult::Ok) {
      if (autoEcho_) input_.insert(input_.end(), bytes.begin(), bytes.end());
      hook = hook_;
    }
  }
  if (result == WriteResult::Ok) {
    inputCv_.notify_all();
    if (hook) hook(*this, bytes);
  }
  return result;
}

SerialPort::WaitResult TestPort::WaitInput(int timeoutMs) {
  const MonoNs t = Now();
  std::unique_lock lock(mutex_);
  ++waiting_;
  idleCv_.notify_all();
  const bool woken = inputCv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] {
    return !input_.empty() || hungUp_ || cancel_ || !open_;
  });
  --waiting_;
  WaitResult result = WaitResult::Timeout;
  if (hungUp_ || !open_) {
    result = WaitResult::Error;
    goneReported_ = true;
    idleCv_.notify_all();
  } else if (woken && !input_.empty()) {
    result = WaitResult::Ready;
  }
  cancel_ = false;
  if (recordReceive_) Record({Op::Wait, t, Now(), {}, static_cast<int>(result)});
  return result;
}

int TestPort::Queued() {
  const MonoNs t = Now();
  std::lock_guard lock(mutex_);
  const int n = static_cast<int>(input_.size());
  if (recordReceive_) Record({Op::Queued, t, t, {}, n});
  return n;
}

int TestPort::Read(std::uint8_t* buffer, std::size_t count) {
  const MonoNs t = Now();
  std::lock_guard lock(mutex_);
  if (!open_) return -1;
  const std::size_t n = std::min(count, input_.size());
  std::copy_n(input_.begin(), n, buffer);
  input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(n));
  if (recordReceive_) Record({Op::Read, t, t, std::vector<std::uint8_t>(buffer, buffer + n), 0});
  return static_cast<int>(n);
}

std::string TestPort::LastErrorText() const {
  std::lock_guard lock(mutex_);
  return openText_;
}

void TestPort::CancelWait() {
  {
    std::lock_guard lock(mutex_);
    cancel_ = true;
  }
  inputCv_.notify_all();
}

}  // namespace kestrel
