#include "link/kline_init.h"

#include "link/checksum.h"
#include "link/link_globals.h"

namespace kestrel {

std::uint8_t InitAddress(std::uint8_t protocol, std::uint8_t addressing, std::uint8_t ecuAddress,
                         std::uint8_t requestAddress) {
  return (protocol != kProto5Baud || addressing == kFunctional) ? requestAddress : ecuAddress;
}

std::array<std::uint8_t, 5> StartCommunicationFrame(std::uint8_t addressing,
                                                    std::uint8_t ecuAddress,
                                                    std::uint8_t requestAddress,
                                                    std::uint8_t testerAddress) {
  const bool functional = addressing == kFunctional;
  std::array<std::uint8_t, 5> frame = {
      static_cast<std::uint8_t>(functional ? 0xC1 : 0x81),
      functional ? requestAddress : ecuAddress,
      testerAddress,
      0x81,  // StartCommunication
      0,
  };
  frame[4] = Checksum(frame.data(), 4);
  return frame;
}

bool SendWakeUpPattern(SerialPort& port, LinkClock& clock, int lowMs, int highMs,
                       const std::atomic<bool>* abort) {
  const MonoNs t = clock.Now();
  port.SetBreak(true);
  const bool lowDone = clock.WaitUntil(t + Ms(lowMs), abort);
  port.SetBreak(false);
  return lowDone && clock.WaitUntil(t + Ms(lowMs) + Ms(highMs), abort);
}

bool SendFiveBaudAddress(SerialPort& port, LinkClock& clock, std::uint8_t address,
                         const std::atomic<bool>* abort, MonoNs& start) {
  const unsigned word = (static_cast<unsigned>(address) << 1) | 0x200u;
  start = clock.Now();
  for (int bit = 0; bit < 10; ++bit) {
    port.SetBreak(((word >> bit) & 1u) == 0);  // 0: line low (break)
    if (!clock.WaitUntil(start + Ms(kFiveBaudBitMs * (bit + 1)), abort)) {
      port.SetBreak(false);
      return false;
    }
  }
  return true;
}

}  // namespace kestrel
