// termios2 only: this file must not include <termios.h>.
#include "link/termios_line.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace kestrel::termios_line {

namespace {

// The fixed-rate constant for the standard speeds, BOTHER for the others.
tcflag_t RateFlag(std::uint32_t baud) {
  switch (baud) {
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    default:
      return BOTHER;
  }
}

}  // namespace

int Configure(int fd, std::uint32_t baud, bool& readFailed) {
  readFailed = false;
  termios2 tio{};
  if (ioctl(fd, TCGETS2, &tio) != 0) {
    readFailed = true;
    return errno;
  }
  if (baud == 0) return EINVAL;
  tio.c_iflag = IGNBRK;  // a break we send comes back on the echo line: drop it
  tio.c_oflag = 0;
  tio.c_lflag = 0;
  tio.c_cflag &= ~(CBAUD | CIBAUD | CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | HUPCL);
  tio.c_cflag |= CS8 | CREAD | CLOCAL | RateFlag(baud);
  tio.c_ispeed = baud;
  tio.c_ospeed = baud;
  for (auto& c : tio.c_cc) c = 0;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (ioctl(fd, TCSETS2, &tio) != 0) return errno;
  return 0;
}

std::uint32_t OutputSpeed(int fd) {
  termios2 tio{};
  if (ioctl(fd, TCGETS2, &tio) != 0) return 0;
  return tio.c_ospeed;
}

}  // namespace kestrel::termios_line
