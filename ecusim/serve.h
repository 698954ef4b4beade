// Serving the engine on a file descriptor: the master side of a
// pseudo-terminal, or a real serial device wired to the tester's adapter.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "ecusim/engine.h"

namespace kestrel::ecusim {

// Opens a pseudo-terminal pair in raw mode, the master in packet mode and
// the slave reporting every change of its settings to it (EXTPROC), so that
// Serve sees the tester's line speed even when it is 5 baud for a moment
// only. Returns the master descriptor (or -1 with `error` set) and the
// slave's path in `slave`.
int OpenPty(std::string& slave, std::string& error);

// Opens a serial device exclusively, raw 8N1, at `baud` (10400 through
// termios2). Returns the descriptor or -1 with `error` set.
int OpenDevice(const std::string& path, std::uint32_t baud, std::string& error);

// The line speed a tty is set to (for a pseudo-terminal: what the tester set
// on the slave), or 0 when it cannot be read.
std::uint32_t TtySpeed(int fd);
bool SetTtySpeed(int fd, std::uint32_t baud);

struct ServeConfig {
  // A pseudo-terminal master: hang-ups only mean that no tester has the
  // slave open, and the tester's speed is read from the slave's settings.
  bool pty = true;
  // On a real wire the adapter hears its own bytes: drop them on reading.
  bool strip_own_echo = false;
  const std::atomic<bool>* stop = nullptr;
  std::function<void(const std::string&)> log;
};

enum class ServeEnd { Stopped, Vanished, DeviceFailed };

// Runs until `stop` is set, the adapter vanishes (fault) or the device fails.
// Does not close `fd`.
ServeEnd Serve(int fd, Engine& engine, const ServeConfig& config);

}  // namespace kestrel::ecusim
