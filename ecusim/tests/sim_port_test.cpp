// The in-process port on its own: exclusive use, waiting, reading, vanishing.
#include "ecusim/sim_port.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "line_rig.h"

namespace kestrel::ecusim::test {
namespace {

using Clock = std::chrono::steady_clock;

TEST(SimPort, OneOpenerAtATimeAndEchoesOnTheLine) {
  auto ecu = std::make_shared<SimEcu>(DefaultScenario(), EngineOptions{});
  SimPort a(ecu), b(ecu);
  EXPECT_EQ(a.Open("COM2", 10400), 0);
  EXPECT_EQ(b.Open("COM2", 10400), 0x0001);
  EXPECT_NE(b.LastErrorText().find("in use"), std::string::npos);
  EXPECT_EQ(b.WaitInput(10), SerialPort::WaitResult::Error);

  const Bytes req{0x81, 0x10, 0xF1, 0x81, 0x03};
  const auto t0 = Clock::now();
  EXPECT_EQ(a.Write(req.data(), req.size(), 2000), SerialPort::WriteResult::Ok);
  EXPECT_GE(Clock::now() - t0, std::chrono::microseconds(4500));  // five bytes on the line
  // No wake-up pattern: the echo only, and nothing more within P2.
  Bytes got;
  while (a.WaitInput(100) == SerialPort::WaitResult::Ready) {
    std::uint8_t buf[64];
    const int n = a.Read(buf, static_cast<std::size_t>(a.Queued()));
    ASSERT_GE(n, 0);
    got.insert(got.end(), buf, buf + n);
  }
  EXPECT_EQ(got, req);
  a.Close();
  EXPECT_EQ(b.Open("COM2", 10400), 0);
}

TEST(SimPort, CancelWaitEndsAWaitFromAnotherThread) {
  auto ecu = std::make_shared<SimEcu>(DefaultScenario(), EngineOptions{});
  SimPort p(ecu);
  ASSERT_EQ(p.Open("COM2", 10400), 0);
  // A cancel before the wait is kept for it; one during the wait ends it.
  p.CancelWait();
  const auto t0 = Clock::now();
  EXPECT_EQ(p.WaitInput(20000), SerialPort::WaitResult::Timeout);
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    p.CancelWait();
  });
  EXPECT_EQ(p.WaitInput(20000), SerialPort::WaitResult::Timeout);
  canceller.join();
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(10));  // far from the 2 x 20 s the waits allow
}

TEST(SimPort, WakeUpThroughBreakCallsAndVanishing) {
  EngineOptions o;
  AddFault(o.faults, "vanish:1");
  auto ecu = std::make_shared<SimEcu>(DefaultScenario(), o);
  SimPort p(ecu);
  ASSERT_EQ(p.Open("COM1", 10400), 0);
  auto read_for = [&](int ms) {
    Bytes got;
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) {
      if (p.WaitInput(10) != SerialPort::WaitResult::Ready) continue;
      std::uint8_t buf[64];
      const int n = p.Read(buf, sizeof buf);
      if (n > 0) got.insert(got.end(), buf, buf + n);
    }
    return got;
  };
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(p.SetBreak(true));
  std::this_thread::sleep_for(std::chrono::milliseconds(25));
  EXPECT_TRUE(p.SetBreak(false));
  std::this_thread::sleep_for(std::chrono::milliseconds(25));
  const Bytes start{0x81, 0x10, 0xF1, 0x81, 0x03};
  p.Write(start.data(), start.size(), 2000);
  EXPECT_EQ(read_for(150).size(), 12u);  // echo and C1 EF 8F
  const Bytes req = Request({0x3E});
  p.Write(req.data(), req.size(), 2000);
  read_for(150);
  // The adapter is gone: every call fails from now on.
  EXPECT_EQ(p.WaitInput(10), SerialPort::WaitResult::Error);
  EXPECT_EQ(p.Queued(), -1);
  EXPECT_FALSE(p.SetBreak(true));
  EXPECT_EQ(p.Write(req.data(), req.size(), 2000), SerialPort::WriteResult::Short);
  p.Close();
  EXPECT_EQ(p.Open("COM1", 10400), 0x0001);
}

}  // namespace
}  // namespace kestrel::ecusim::test
