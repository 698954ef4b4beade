// The serial port on a Linux tty: a K-Line adapter on /dev/ttyUSBn, a
// built-in port, or a pseudo-terminal.
//
// Open: open(O_RDWR|O_NOCTTY|O_NONBLOCK), exclusive (flock and TIOCEXCL, which
// Close clears again with TIOCNXCL), raw 8N1 at the
// session's speed through termios2 (so 10400 baud works), DTR and RTS cleared
// and low latency requested (both best effort: a pseudo-terminal refuses
// them), input and output purged. The LinkError bits of a failing step:
// 0x0001 open or exclusive access, 0x0010 reading the line settings, 0x0020
// writing them (a speed of 0, say), 0x0004 purge. The time-outs (0x0002) and
// the event mask (0x0008) of other systems have no step of their own here:
// reads never block and poll() waits for input.
// Write: write() then wait until the output queue is empty, both within the
// caller's bound. WaitInput: poll() for input; a hang-up or poll error
// (adapter unplugged, pseudo-terminal master closed) is an Error. Breaks are
// TIOCSBRK/TIOCCBRK. CancelWait wakes a WaitInput through an eventfd.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "link/serial_port.h"

namespace kestrel {

class TermiosPort final : public SerialPort {
 public:
  TermiosPort();
  ~TermiosPort() override;
  TermiosPort(const TermiosPort&) = delete;
  TermiosPort& operator=(const TermiosPort&) = delete;

  std::uint16_t Open(const std::string& device, std::uint32_t baud) override;
  void Close() override;
  bool IsOpen() const override { return fd_ >= 0; }
  bool SetBreak(bool on) override;
  WriteResult Write(const std::uint8_t* data, std::size_t count, int timeoutMs) override;
  WaitResult WaitInput(int timeoutMs) override;
  int Queued() override;
  int Read(std::uint8_t* buffer, std::size_t count) override;
  std::string LastErrorText() const override;
  void CancelWait() override;

  int Fd() const { return fd_; }

 private:
  std::uint16_t Fail(std::uint16_t bits, std::string text);
  void SetError(std::string text);

  int fd_ = -1;
  int wakeFd_ = -1;         // eventfd that CancelWait signals
  bool exclusive_ = false;  // this port set TIOCEXCL; Close clears it (TIOCNXCL)
  std::uint32_t baud_ = 0;
  mutable std::mutex errorMutex_;
  std::string error_;
};

}  // namespace kestrel
