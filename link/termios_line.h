// Line settings through the kernel's termios2 interface, which takes any
// speed (10400 baud is no standard rate). Kept apart from <termios.h>, whose
// definitions clash with <asm/termbits.h>.
#pragma once

#include <cstdint>

namespace kestrel::termios_line {

// Raw 8N1 at the given speed: no parity, one stop bit, no flow control of any
// kind, no echo, no character processing, reads return what is there.
// Returns 0 or the errno of the failing call; readFailed tells whether that
// was reading the current settings (else writing the new ones).
int Configure(int fd, std::uint32_t baud, bool& readFailed);

// The output speed the line is set to, or 0 when it cannot be read.
std::uint32_t OutputSpeed(int fd);

}  // namespace kestrel::termios_line
