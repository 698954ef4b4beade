// The serial port as the session and the receiver use it.
//
// One small interface with the operations a K-Line session needs. The real
// implementation (TermiosPort) drives a tty with termios; tests use TestPort,
// which records every call with a timestamp, and the simulated ECU provides
// an in-process port of its own. Failures are reported as the LinkError bits
// the session sets for them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace kestrel {

class SerialPort {
 public:
  enum class WriteResult { Ok, Timeout, Short };
  enum class WaitResult { Ready, Timeout, Error };

  virtual ~SerialPort() = default;

  // Opens the device exclusively and configures it: raw 8N1, no flow control,
  // the given speed, DTR and RTS cleared (best effort), input and output
  // purged, low latency requested (best effort). Returns 0 or the LinkError
  // bits of the step that failed (0x0001 open, 0x0004 purge, 0x0020 line
  // settings, ...). On failure LastErrorText() says why, in words for the user.
  virtual std::uint16_t Open(const std::string& device, std::uint32_t baud) = 0;
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;

  // Break on: the K-Line is held low. Break off: the line is released (high).
  virtual bool SetBreak(bool on) = 0;

  // Writes all bytes and waits until they have left the output queue, both
  // within timeoutMs. Short when fewer bytes were taken than asked.
  virtual WriteResult Write(const std::uint8_t* data, std::size_t count, int timeoutMs) = 0;

  // Waits up to timeoutMs for received bytes. Error when the port has gone
  // (hang-up, adapter unplugged) or the wait itself fails.
  virtual WaitResult WaitInput(int timeoutMs) = 0;

  // Bytes waiting in the input queue, or -1 when the query fails.
  virtual int Queued() = 0;

  // Reads up to count bytes that are already queued; returns the number read
  // or -1 on failure. Never blocks.
  virtual int Read(std::uint8_t* buffer, std::size_t count) = 0;

  virtual std::string LastErrorText() const { return {}; }

  // Called from another thread to end a WaitInput in progress early (it then
  // returns Timeout). Lets the receiver stop at once instead of at the end of
  // its 500 ms wait. Ports that cannot do this keep the default: the wait
  // simply runs out.
  virtual void CancelWait() {}
};

// Creates the port a session opens for a COM name ("COM2"). By default this is
// a TermiosPort on the device the port map gives; tests and the simulator
// install their own factory. Returns the previous factory.
using PortFactory = std::function<std::unique_ptr<SerialPort>()>;
PortFactory SetPortFactory(PortFactory factory);
std::unique_ptr<SerialPort> CreatePort();

}  // namespace kestrel
