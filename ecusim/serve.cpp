#include "ecusim/serve.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <thread>
#include <vector>

#include "ecusim/sim_port.h"

namespace kestrel::ecusim {

namespace {

std::string Errno(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

bool MakeRaw(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return false;
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS | CSTOPB | PARENB);
  t.c_iflag |= IGNBRK;  // a break from the tester is no data
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  return tcsetattr(fd, TCSANOW, &t) == 0;
}

}  // namespace

int OpenPty(std::string& slave, std::string& error) {
  const int fd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    error = Errno("posix_openpt");
    return -1;
  }
  char name[128];
  if (grantpt(fd) != 0 || unlockpt(fd) != 0 || ptsname_r(fd, name, sizeof name) != 0) {
    error = Errno("pseudo-terminal set-up");
    close(fd);
    return -1;
  }
  // Termios calls on the master set the slave's line discipline: raw, so
  // nothing is echoed or translated before the tester configures it.
  if (!MakeRaw(fd)) {
    error = Errno("pseudo-terminal raw mode");
    close(fd);
    return -1;
  }
  slave = name;
  return fd;
}

int OpenDevice(const std::string& path, std::uint32_t baud, std::string& error) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    error = Errno(path);
    if (errno == EACCES) error += " (join the dialout group)";
    return -1;
  }
  if (ioctl(fd, TIOCEXCL) != 0 || !MakeRaw(fd) || !SetTtySpeed(fd, baud)) {
    error = Errno(path + ": line settings");
    close(fd);
    return -1;
  }
  tcflush(fd, TCIOFLUSH);
  return fd;
}

ServeEnd Serve(int fd, Engine& engine, const ServeConfig& config) {
  std::vector<std::uint8_t> out;
  std::uint8_t buffer[4096];
  struct OwnByte {
    std::uint8_t value;
    Micros written;
  };
  std::deque<OwnByte> own;  // bytes we sent that the wire will give back
  auto log = [&](const std::string& s) {
    if (config.log) config.log(s);
  };

  while (!(config.stop && config.stop->load())) {
    Micros now = SteadyMicros();
    out.clear();
    engine.Take(now, out);
    if (!out.empty()) {
      const ssize_t n = write(fd, out.data(), out.size());
      if (n < 0 && errno != EAGAIN && errno != EIO) {
        log(Errno("write"));
        return ServeEnd::DeviceFailed;
      }
      // EAGAIN (nobody reads) or EIO (no tester on the slave): the bytes are lost.
      if (config.strip_own_echo && n > 0) {
        for (ssize_t i = 0; i < n; ++i) own.push_back({out[static_cast<std::size_t>(i)], now});
        while (own.size() > 4096) own.pop_front();
      }
    }
    if (engine.VanishAt() && now >= *engine.VanishAt()) {
      log("the adapter vanishes (fault vanish)");
      return ServeEnd::Vanished;
    }

    Micros wait = 200'000;  // look at the stop flag at least five times a second
    if (auto next = engine.NextEvent()) wait = std::clamp<Micros>(*next - now, 0, wait);
    pollfd p{fd, POLLIN, 0};
    const timespec ts{static_cast<time_t>(wait / 1'000'000),
                      static_cast<long>(wait % 1'000'000) * 1000};
    const int r = ppoll(&p, 1, &ts, nullptr);
    if (r < 0) {
      if (errno == EINTR) continue;
      log(Errno("poll"));
      return ServeEnd::DeviceFailed;
    }
    if (r == 0) continue;
    if (p.revents & POLLIN) {
      const ssize_t n = read(fd, buffer, sizeof buffer);
      now = SteadyMicros();
      if (n > 0) {
        std::size_t first = 0, count = static_cast<std::size_t>(n);
        if (config.strip_own_echo) {
          while (!own.empty() && now - own.front().written > 100'000) own.pop_front();
          while (first < count && !own.empty() && own.front().value == buffer[first]) {
            own.pop_front();
            ++first;
          }
          if (first < count) own.clear();  // something else on the wire: a collision
        }
        if (config.pty) engine.SetTesterBaud(TtySpeed(fd));
        engine.Receive(buffer + first, count - first, now);
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EIO) {
        log(Errno("read"));
        return ServeEnd::DeviceFailed;
      }
    }
    if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
      if (!config.pty || (p.revents & POLLNVAL)) {
        log("the device has gone");
        return ServeEnd::DeviceFailed;
      }
      // No tester has the slave open: wait for one without spinning.
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  return ServeEnd::Stopped;
}

}  // namespace kestrel::ecusim
