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

// A pseudo-terminal carries no speed with a byte: the server reads the
// tester's speed from the slave's settings. So that it also sees a speed the
// tester sets only for a moment (5 baud for its address), the master runs in
// packet mode and the slave has EXTPROC set: then every change of the slave's
// settings arrives on the master as a control packet. EXTPROC only says that
// input editing happens elsewhere, which a raw tester does not use; a tester
// that clears it gets it back when it closes the slave.
bool NoticeSettingChanges(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return false;
  if (!(t.c_lflag & EXTPROC)) {
    t.c_lflag |= EXTPROC;
    if (tcsetattr(fd, TCSANOW, &t) != 0) return false;
  }
  int on = 1;
  return ioctl(fd, TIOCPKT, &on) == 0;
}

// Whether the slave still has EXTPROC, so that the tester's changes arrive.
bool SettingChangesArrive(int fd) {
  termios t{};
  return tcgetattr(fd, &t) == 0 && (t.c_lflag & EXTPROC) != 0;
}

constexpr std::uint32_t kFiveBaud = 5;
// A UART delivers a byte in the middle of its stop bit; at 5 baud the line
// stays high for another 100 ms.
constexpr Micros kRestOfStopBit = 100'000;

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
  if (!MakeRaw(fd) || !NoticeSettingChanges(fd)) {
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

namespace {

// A real device hears the tester's 5-baud address as a UART does, set to
// 5 baud. It listens at one speed only: at 5 baud while the ECU waits for an
// initialisation, when the scenario answers no fast init (a fast init's
// wake-up and frame are nothing to a UART at 5 baud), and at the ECU's speed
// otherwise.
class DeviceLine {
 public:
  DeviceLine(int fd, const Engine& engine)
      : fd_(fd),
        baud_(engine.scenario().baud),
        listen_(engine.Accepts5Baud() && !engine.AcceptsFast()) {}

  void Update(Engine& engine, Micros now, const std::function<void(const std::string&)>& log) {
    const bool want = listen_ && engine.phase() == Phase::Asleep;
    if (want && !at_five_) {
      if (SetTtySpeed(fd_, kFiveBaud) && TtySpeed(fd_) == kFiveBaud) {
        at_five_ = true;
        engine.SetTesterLine(kFiveBaud, true, now);
        return;
      }
      listen_ = false;
      SetTtySpeed(fd_, baud_);
      log("the device cannot listen at 5 baud: 5-baud addresses are recognised only by the "
          "bytes that follow them");
    } else if (!want && at_five_ && now >= heard_ + kRestOfStopBit) {
      at_five_ = false;
      SetTtySpeed(fd_, baud_);
      engine.SetTesterLine(baud_, true, now);
    }
  }
  void Heard(Micros now) {
    if (at_five_) heard_ = now;
  }

 private:
  int fd_;
  std::uint32_t baud_;
  bool listen_;
  bool at_five_ = false;
  Micros heard_ = 0;
};

}  // namespace

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
  int packet_mode = 0;
  const bool packets = config.pty && ioctl(fd, TIOCGPKT, &packet_mode) == 0 && packet_mode != 0;
  if (config.pty) engine.SetLineChangesSeen(packets && SettingChangesArrive(fd));
  bool tester_there = false;  // a tester has the slave open (pseudo-terminal)
  DeviceLine device(fd, engine);

  while (!(config.stop && config.stop->load())) {
    Micros now = SteadyMicros();
    if (config.pty) {
      if (tester_there) engine.SetTesterLine(TtySpeed(fd), false, now);
    } else {
      device.Update(engine, now, log);
    }
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
    if (engine.WatchesTesterLine()) wait = std::min<Micros>(wait, 2'000);
    pollfd p{fd, POLLIN, 0};
    const timespec ts{static_cast<time_t>(wait / 1'000'000),
                      static_cast<long>(wait % 1'000'000) * 1000};
    const int r = ppoll(&p, 1, &ts, nullptr);
    if (r < 0) {
      if (errno == EINTR) continue;
      log(Errno("poll"));
      return ServeEnd::DeviceFailed;
    }
    if (r == 0 || !(p.revents & POLLHUP)) tester_there = config.pty;
    if (r == 0) continue;
    if (p.revents & POLLIN) {
      const ssize_t n = read(fd, buffer, sizeof buffer);
      now = SteadyMicros();
      if (n > 0) {
        const std::uint8_t* data = buffer;
        std::size_t count = static_cast<std::size_t>(n);
        if (packets) {
          // A control packet is one status byte; data comes after a zero byte.
          if (buffer[0] != TIOCPKT_DATA) {
            if (buffer[0] & TIOCPKT_IOCTL) {
              engine.SetLineChangesSeen(SettingChangesArrive(fd));
              engine.SetTesterLine(TtySpeed(fd), true, now);
            }
            continue;
          }
          ++data;
          --count;
        }
        std::size_t first = 0;
        if (config.strip_own_echo) {
          while (!own.empty() && now - own.front().written > 100'000) own.pop_front();
          while (first < count && !own.empty() && own.front().value == data[first]) {
            own.pop_front();
            ++first;
          }
          if (first < count) own.clear();  // something else on the wire: a collision
        }
        if (config.pty) {
          engine.SetTesterLine(TtySpeed(fd), false, now);
        } else if (first < count) {
          device.Heard(now);
        }
        engine.Receive(data + first, count - first, now);
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
      // No tester has the slave open: wait for one without spinning, and
      // make sure the next one's setting changes are noticed again.
      if (packets && !SettingChangesArrive(fd)) {
        NoticeSettingChanges(fd);
        engine.SetLineChangesSeen(SettingChangesArrive(fd));
      }
      tester_there = false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  return ServeEnd::Stopped;
}

}  // namespace kestrel::ecusim
