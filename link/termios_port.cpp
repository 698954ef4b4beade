#include "link/termios_port.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "link/device_access.h"
#include "link/link_globals.h"
#include "link/precise_wait.h"
#include "link/termios_line.h"

namespace kestrel {

namespace {

std::string ErrnoText(int err) {
  return std::strerror(err);
}

// Milliseconds left until the deadline, rounded up, never negative.
int MsLeft(MonoNs deadline) {
  const MonoNs left = deadline - MonoNow();
  if (left <= 0) return 0;
  return static_cast<int>((left + kNsPerMs - 1) / kNsPerMs);
}

}  // namespace

TermiosPort::TermiosPort() {
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

TermiosPort::~TermiosPort() {
  Close();
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

void TermiosPort::SetError(std::string text) {
  std::lock_guard lock(errorMutex_);
  error_ = std::move(text);
}

std::string TermiosPort::LastErrorText() const {
  std::lock_guard lock(errorMutex_);
  return error_;
}

std::uint16_t TermiosPort::Fail(std::uint16_t bits, std::string text) {
  SetError(std::move(text));
  Close();
  return bits;
}

std::uint16_t TermiosPort::Open(const std::string& device, std::uint32_t baud) {
  Close();
  SetError({});
  fd_ = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) {
    const int err = errno;
    std::string text = device + ": " + ErrnoText(err);
    if (err == EACCES || err == EPERM) {
      const std::string advice = PermissionAdvice(DeviceOwnershipOf(device));
      if (!advice.empty()) text += " - " + advice;
    } else if (err == EBUSY) {
      text += " - the port is in use by another program";
    }
    return Fail(kErrOpen, std::move(text));
  }
  if (!isatty(fd_)) return Fail(kErrOpen, device + ": not a serial device");
  // The advisory lock stops a second port of any user, this program's own
  // included; TIOCEXCL then keeps other opens out, except those of root.
  if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    return Fail(kErrOpen, device + ": the port is in use by another program");
  }
  // Exclusivity is a flag of the terminal, not of this descriptor: it outlives
  // the close while the terminal lives on (a pseudo-terminal whose master
  // stays open, an adapter another program keeps open), and every later open
  // of a user other than root would fail with EBUSY. So Close clears it, but
  // only when this port set it: a flag already set belongs to another holder.
  int wasExclusive = 0;
  if (ioctl(fd_, TIOCGEXCL, &wasExclusive) != 0) wasExclusive = 0;
  if (ioctl(fd_, TIOCEXCL) != 0) {
    return Fail(kErrOpen, device + ": exclusive access refused: " + ErrnoText(errno));
  }
  exclusive_ = wasExclusive == 0;
  bool readFailed = false;
  if (const int err = termios_line::Configure(fd_, baud, readFailed); err != 0) {
    if (readFailed)
      return Fail(kErrGetState, device + ": line settings unreadable: " + ErrnoText(err));
    return Fail(kErrSetState, device + ": line settings refused: " + ErrnoText(err));
  }
  baud_ = baud;
  // DTR and RTS off: the lines some adapters draw their supply or direction
  // from stay passive. A pseudo-terminal refuses this; that is no error.
  int lines = TIOCM_DTR | TIOCM_RTS;
  (void)ioctl(fd_, TIOCMBIC, &lines);
  // Ask a USB adapter's driver for a 1 ms latency timer; ignored elsewhere.
  serial_struct serial{};
  if (ioctl(fd_, TIOCGSERIAL, &serial) == 0) {
    serial.flags |= ASYNC_LOW_LATENCY;
    (void)ioctl(fd_, TIOCSSERIAL, &serial);
  }
  if (tcflush(fd_, TCIOFLUSH) != 0) {
    return Fail(kErrPurge, device + ": purge failed: " + ErrnoText(errno));
  }
  if (wakeFd_ >= 0) {  // forget a cancel meant for an earlier use of the port
    eventfd_t v;
    (void)eventfd_read(wakeFd_, &v);
  }
  return 0;
}

void TermiosPort::Close() {
  if (fd_ >= 0) {
    if (exclusive_) (void)ioctl(fd_, TIOCNXCL);
    exclusive_ = false;
    ::close(fd_);
    fd_ = -1;
  }
}

bool TermiosPort::SetBreak(bool on) {
  if (fd_ < 0) return false;
  return ioctl(fd_, on ? TIOCSBRK : TIOCCBRK) == 0;
}

SerialPort::WriteResult TermiosPort::Write(const std::uint8_t* data, std::size_t count,
                                           int timeoutMs) {
  if (fd_ < 0) return WriteResult::Short;
  const MonoNs deadline = MonoNow() + Ms(timeoutMs);
  std::size_t done = 0;
  while (done < count) {
    const ssize_t n = ::write(fd_, data + done, count - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      SetError("write: " + ErrnoText(errno));
      return WriteResult::Short;
    }
    // The output queue is full: wait for room until the deadline.
    const int left = MsLeft(deadline);
    if (left == 0) return WriteResult::Timeout;
    pollfd p{fd_, POLLOUT, 0};
    const int r = ::poll(&p, 1, left);
    if (r < 0 && errno != EINTR) return WriteResult::Short;
    if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) return WriteResult::Short;
  }
  // Wait until the bytes have left the output queue, sleeping about as long as
  // the queued bytes take on the wire.
  for (;;) {
    int queued = 0;
    if (ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0) return WriteResult::Ok;
    const MonoNs now = MonoNow();
    if (now >= deadline) return WriteResult::Timeout;
    const MonoNs wire = baud_ ? static_cast<MonoNs>(queued) * 10 * 1'000'000'000 / baud_ : 0;
    SleepUntil(std::min(deadline, now + std::max<MonoNs>(wire, 100 * kNsPerUs)));
  }
}

SerialPort::WaitResult TermiosPort::WaitInput(int timeoutMs) {
  if (fd_ < 0) return WaitResult::Error;
  const MonoNs deadline = MonoNow() + Ms(timeoutMs);
  for (;;) {
    pollfd p[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    const int r = ::poll(p, wakeFd_ >= 0 ? 2 : 1, MsLeft(deadline));
    if (r < 0) {
      if (errno == EINTR) continue;
      return WaitResult::Error;
    }
    if (r == 0) return WaitResult::Timeout;
    if ((p[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) return WaitResult::Error;
    if ((p[0].revents & POLLIN) != 0) return WaitResult::Ready;
    if (wakeFd_ >= 0 && (p[1].revents & POLLIN) != 0) {
      eventfd_t v;
      (void)eventfd_read(wakeFd_, &v);
      return WaitResult::Timeout;
    }
  }
}

int TermiosPort::Queued() {
  if (fd_ < 0) return -1;
  int n = 0;
  if (ioctl(fd_, FIONREAD, &n) != 0) return -1;
  return n;
}

int TermiosPort::Read(std::uint8_t* buffer, std::size_t count) {
  if (fd_ < 0) return -1;
  for (;;) {
    const ssize_t n = ::read(fd_, buffer, count);
    if (n >= 0) return static_cast<int>(n);
    if (errno == EINTR) continue;
    if (errno == EAGAIN) return 0;
    return -1;
  }
}

void TermiosPort::CancelWait() {
  if (wakeFd_ >= 0) (void)eventfd_write(wakeFd_, 1);
}

}  // namespace kestrel
