// TComThread: the receiving half of a link session.
//
// Started by the session once the port is configured, it waits for received
// bytes (500 ms at a time, so a request to terminate is noticed within half a
// second - at once on ports that support CancelWait), reads exactly what is
// queued into the ring and parses it (RxParser). It is the only reader of the
// port. Failures become LinkError bits: 0x2000 queue query failed, 0x4000 read
// failed, 0x8000 more than 1001 bytes queued (they are discarded) or the port
// has gone (hang-up or wait error; the receiver then ends).
#pragma once

#include <array>
#include <string>

#include "link/link_thread.h"
#include "link/rx_parser.h"
#include "link/serial_port.h"

namespace kestrel {

class TComThread final : public LinkThread {
 public:
  static constexpr int kWaitMs = 500;
  static constexpr int kMaxQueued = 1001;

  TComThread(SerialPort& port, const RxSettings& settings, const RxTargets& targets,
             std::string logFileName);
  ~TComThread() override;

  bool EchoSeen() const { return parser_.EchoSeen(); }
  bool ResponseSeen() const { return parser_.ResponseSeen(); }
  // For inspection once the thread has ended.
  const RxParser& Parser() const { return parser_; }

 protected:
  void Execute() override;
  void OnTerminate() override { port_.CancelWait(); }

 private:
  void SetError(std::uint16_t bits);
  void Discard(int queued);

  SerialPort& port_;
  std::atomic<std::uint16_t>* error_;
  RxParser parser_;
  std::array<std::uint8_t, kMaxQueued> buffer_{};
};

}  // namespace kestrel
