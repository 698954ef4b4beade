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
  ~Tester() {
    if (fd_ >= 0) close(fd_);
  }
  void Write(const Bytes& b) {
    EXPECT_EQ(write(fd_, b.data(), b.size()), static_cast<ssize_t>(b.size()));
  }
  // Everything that arrives within ms; stops early on a hang-up.
  Bytes Read(int ms) {
    Bytes got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
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
