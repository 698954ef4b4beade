// The program on a pseudo-terminal, talked to as the termios port would.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ecusim/serve.h"
#include "line_rig.h"

extern char** environ;

namespace kestrel::ecusim::test {
namespace {

class Program {
 public:
  explicit Program(std::vector<std::string> args) {
    err_path_ = ::testing::TempDir() + "ecusim_stderr_" + std::to_string(getpid()) + "_" +
                std::to_string(counter_++);
    int out[2];
    EXPECT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_addclose(&fa, out[0]);
    posix_spawn_file_actions_addopen(&fa, 2, err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    args.insert(args.begin(), ECUSIM_PROGRAM);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    EXPECT_EQ(posix_spawn(&pid_, ECUSIM_PROGRAM, &fa, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&fa);
    close(out[1]);
    out_ = out[0];
  }
  ~Program() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
    std::remove(err_path_.c_str());
  }

  // The first line of standard output (the slave path), within 5 s.
  std::string FirstLine() {
    std::string line;
    char c;
    while (line.size() < 256) {
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, 5000) <= 0 || read(out_, &c, 1) != 1 || c == '\n') break;
      line.push_back(c);
    }
    return line;
  }
  // Waits up to 5 s for the program to end; its exit status, or -1.
  int Wait() {
    for (int i = 0; i < 500; ++i) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }
  void Signal(int sig) { kill(pid_, sig); }
  std::string Stderr() const {
    std::ifstream f(err_path_);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }

 private:
  static inline int counter_ = 0;
  pid_t pid_ = -1;
  int out_ = -1;
  std::string err_path_;
};

// The tester's side of the line: the slave opened raw at 10400 baud.
class Tester {
 public:
  explicit Tester(const std::string& path) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_GE(fd_, 0) << path;
    termios t{};
    tcgetattr(fd_, &t);
    cfmakeraw(&t);
    tcsetattr(fd_, TCSANOW, &t);
    EXPECT_TRUE(SetTtySpeed(fd_, 10400));
  }
  // The far end of a wire to the program's --device: a pseudo-terminal master.
  explicit Tester(int master) : fd_(master) {}
  ~Tester() {
    if (fd_ >= 0) close(fd_);
  }
  void Write(const Bytes& b) {
    EXPECT_EQ(write(fd_, b.data(), b.size()), static_cast<ssize_t>(b.size()));
  }
  void SetBaud(std::uint32_t baud) { EXPECT_TRUE(SetTtySpeed(fd_, baud)); }
  std::uint32_t Baud() const { return TtySpeed(fd_); }
  void Drain() { tcdrain(fd_); }
  // Everything that arrives within ms, or the first `enough` bytes; stops
  // early on a hang-up.
  Bytes Read(int ms, std::size_t enough = SIZE_MAX) {
    Bytes got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end && got.size() < enough) {
      pollfd p{fd_, POLLIN, 0};
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      if (poll(&p, 1, static_cast<int>(std::max<long>(0, left.count()))) <= 0) continue;
      if (p.revents & POLLIN) {
        std::uint8_t buf[256];
        const ssize_t n = read(fd_, buf, sizeof buf);
        if (n > 0) {
          got.insert(got.end(), buf, buf + n);
          continue;
        }
      }
      if (p.revents & (POLLHUP | POLLERR)) {
        hung_up_ = true;
        break;
      }
    }
    return got;
  }
  bool HungUp() const { return hung_up_; }

 private:
  int fd_ = -1;
  bool hung_up_ = false;
};

const Bytes kStartComm{0x81, 0x10, 0xF1, 0x81, 0x03};

TEST(Program, ServesThePseudoTerminalItPrints) {
  Program p({});
  const std::string slave = p.FirstLine();
  ASSERT_EQ(slave.rfind("/dev/pts/", 0), 0u) << slave;
  Tester t(slave);
  t.Write(kStartComm);
  EXPECT_EQ(t.Read(150),
            (Bytes{0x81, 0x10, 0xF1, 0x81, 0x03, 0x83, 0xF1, 0x10, 0xC1, 0xEF, 0x8F, 0xC3}));
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  const Bytes req = Request({0x01, 0x0C});
  t.Write(req);
  const Bytes line = t.Read(150);
  ASSERT_EQ(line.size(), req.size() + 8);
  EXPECT_EQ(Payloads(Bytes(line.begin() + 6, line.end()))[0][0], 0x41);
  p.Signal(SIGTERM);
  EXPECT_EQ(p.Wait(), 0);
}

TEST(Program, FiveBaudScenarioOverThePseudoTerminalWithLog) {
  Program p({"--scenario", "corolla_3zz_5baud", "--verbose"});
  Tester t(p.FirstLine());
  std::this_thread::sleep_for(std::chrono::milliseconds(1700));  // the invisible address
  t.Write({0x70});
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  t.Write({0xEF});
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  EXPECT_EQ(t.Read(20), (Bytes{0x70, 0xEF}));
  t.Write(Request({0x3E}));
  EXPECT_EQ(Payloads(t.Read(150)), (std::vector<Bytes>{{0x7E}}));
  p.Signal(SIGINT);
  EXPECT_EQ(p.Wait(), 0);
  const std::string log = p.Stderr();
  EXPECT_NE(log.find("5-baud initialisation recognised"), std::string::npos) << log;
  EXPECT_NE(log.find("RX 81 10 F1 3E C0"), std::string::npos) << log;
  EXPECT_NE(log.find("TX 81 F1 10 7E"), std::string::npos) << log;
}

// A tester of the plain-adapter kind sends the 5-baud address as one byte
// with its line set to 5 baud, listens at 10400 for the sync and key bytes,
// answers the inverted key byte 2 and reads the inverted address.
TEST(Program, FiveBaudAddressWrittenAtFiveBaud) {
  enum class Then { SwitchAtOnce, ReadEchoFirst, HoldTwoSeconds };
  struct Case {
    const char* scenario;
    std::uint8_t address;
    Then then;
    std::uint8_t kw1, kw2;  // 0 0: no answer
  };
  const Case cases[] = {
      {"corolla_3zz_5baud", 0x10, Then::SwitchAtOnce, 0xEF, 0x8F},
      {"carina_7afe_9141", 0x33, Then::ReadEchoFirst, 0x08, 0x08},
      {"camry_2az_fast", 0x33, Then::HoldTwoSeconds, 0xEF, 0x8F},
      {"corolla_3zz_5baud", 0x13, Then::SwitchAtOnce, 0, 0},  // another ECU's address
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scenario + std::string(" ") + Hex(&c.address, 1));
    Program p({"--scenario", c.scenario, "--verbose"});
    Tester t(p.FirstLine());
    t.SetBaud(5);
    t.Write({c.address});
    Bytes heard = {c.address};                    // the echo, read with the rest
    if (c.then == Then::SwitchAtOnce) t.Drain();  // returns at once on a pseudo-terminal
    if (c.then == Then::HoldTwoSeconds) std::this_thread::sleep_for(std::chrono::seconds(2));
    if (c.then == Then::ReadEchoFirst) {
      EXPECT_EQ(t.Read(500, 1), heard);
      heard.clear();
    }
    t.SetBaud(10400);
    if (c.kw1 == 0) {
      EXPECT_EQ(t.Read(700), heard);
      EXPECT_NE(p.Stderr().find("this ECU's (10, functional 33"), std::string::npos) << p.Stderr();
      continue;
    }
    heard.insert(heard.end(), {0x55, c.kw1, c.kw2});
    EXPECT_EQ(t.Read(700, heard.size()), heard);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));  // W4
    const auto inv_kw2 = static_cast<std::uint8_t>(~c.kw2);
    t.Write({inv_kw2});
    EXPECT_EQ(t.Read(300, 2), (Bytes{inv_kw2, static_cast<std::uint8_t>(~c.address)}));
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    const Bytes req = c.kw1 == 0x08 ? Request9141({0x01, 0x00}) : Request({0x01, 0x00});
    t.Write(req);
    const Bytes line = t.Read(300, req.size() + 10);
    ASSERT_EQ(line.size(), req.size() + 10);
    EXPECT_EQ(line[req.size() + 3], 0x41);  // after the echo: 86 F1 10 41 00 or 48 6B 10 41 00
  }
}

// With --device the program's own line listens at 5 baud for the address
// while the ECU waits (the ISO 9141 scenario has no fast init), then goes
// back to 10400 for the handshake. A pseudo-terminal stands in for the
// device; the test holds its master side, the wire.
TEST(Program, RealDeviceListensAtFiveBaudForTheAddress) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(master, 0);
  char name[128];
  ASSERT_EQ(grantpt(master) | unlockpt(master) | ptsname_r(master, name, sizeof name), 0);
  Tester wire(master);
  Program p({"--scenario", "carina_7afe_9141", "--device", name});
  auto wait_for_baud = [&](std::uint32_t baud) {
    for (int i = 0; i < 200 && wire.Baud() != baud; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return wire.Baud();
  };
  ASSERT_EQ(wait_for_baud(5), 5u);
  wire.Write({0x33});
  EXPECT_EQ(wait_for_baud(10400), 10400u);
  // No echo: on a wire the tester's own adapter echoes.
  EXPECT_EQ(wire.Read(500, 3), (Bytes{0x55, 0x08, 0x08}));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  wire.Write({0xF7});
  EXPECT_EQ(wire.Read(300, 1), Bytes{0xCC});
}

TEST(Program, VanishingAdapterClosesThePseudoTerminal) {
  Program p({"--fault", "vanish:1"});
  Tester t(p.FirstLine());
  t.Write(kStartComm);
  t.Read(100);
  t.Write(Request({0x3E}));
  t.Read(1000);
  EXPECT_TRUE(t.HungUp());
  EXPECT_EQ(p.Wait(), 0);
  EXPECT_NE(p.Stderr().find("the adapter vanishes"), std::string::npos);
}

TEST(Program, BadArgumentsAndScenarios) {
  const std::string path = ::testing::TempDir() + "ecusim_prog_bad.scn";
  std::ofstream(path) << "name x\nlids 81\n";
  {
    Program p({"--scenario", path});
    EXPECT_EQ(p.Wait(), 1);
    EXPECT_NE(p.Stderr().find(path + ": LID 81 has no computed value"), std::string::npos)
        << p.Stderr();
  }
  std::ofstream(path) << "name x\nbaud fast\n";
  {
    Program p({"--scenario", path});
    EXPECT_EQ(p.Wait(), 1);
    EXPECT_NE(p.Stderr().find(path + ":2: 'fast' is not a number"), std::string::npos);
  }
  std::remove(path.c_str());
  {
    Program p({"--fault", "crc:7"});
    EXPECT_EQ(p.Wait(), 2);
  }
  {
    Program p({"--replay", "/nonexistent/x.rtd"});
    EXPECT_EQ(p.Wait(), 1);
  }
  {
    Program p({"--device", "/nonexistent/ttyUSB9"});
    EXPECT_EQ(p.Wait(), 1);
    EXPECT_NE(p.Stderr().find("/nonexistent/ttyUSB9"), std::string::npos);
  }
}

}  // namespace
}  // namespace kestrel::ecusim::test
