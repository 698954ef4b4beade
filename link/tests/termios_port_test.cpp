// The termios port and whole sessions over a pseudo-terminal, with a peer on
// the master side that echoes like a K-Line adapter and answers like an ECU.
#include "link/termios_port.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>

#include "common/cp1251.h"
#include "link/device_access.h"
#include "link/link_error_hint.h"
#include "link/port_map.h"
#include "link/session.h"
#include "link/termios_line.h"
#include "link_test_support.h"

namespace kestrel {
namespace {

using namespace testing;

constexpr std::uint8_t kEcu = 0x13;
constexpr std::uint8_t kTester = 0xF1;

using Answer = std::function<std::vector<Bytes>(const Bytes& payload)>;

class PtyPeer {
 public:
  PtyPeer() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) {
      slave_ = ptsname(master_);
    }
  }
  ~PtyPeer() { Vanish(); }

  const std::string& Slave() const { return slave_; }
  int Master() const { return master_; }

  // Echoes every byte and answers ISO 14230 frames addressed to the ECU.
  void Serve(Answer answer) {
    thread_ = std::thread([this, answer] { Run(answer); });
  }

  // The adapter is unplugged: the master side closes.
  void Vanish() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

 private:
  void Send(const Bytes& b) {
    std::size_t done = 0;
    while (done < b.size()) {
      const ssize_t n = ::write(master_, b.data() + done, b.size() - done);
      if (n <= 0) return;
      done += static_cast<std::size_t>(n);
    }
  }

  void Run(const Answer& answer) {
    Bytes pending;
    std::uint8_t buf[512];
    while (!stop_) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      if ((p.revents & POLLIN) == 0) {  // no slave open yet, or closed again
        SleepUntil(MonoNow() + Ms(5));
        continue;
      }
      const ssize_t n = ::read(master_, buf, sizeof buf);
      if (n <= 0) {
        SleepUntil(MonoNow() + Ms(5));
        continue;
      }
      const Bytes got(buf, buf + n);
      Send(got);  // the adapter's echo
      pending.insert(pending.end(), got.begin(), got.end());
      while (pending.size() >= 3) {
        if (pending[0] < 0x80 || pending[1] != kEcu || pending[2] != kTester) {
          pending.erase(pending.begin());
          continue;
        }
        const std::size_t len = (pending[0] & 0x3F) + 4u;
        if (pending.size() < len) break;
        const Bytes payload(pending.begin() + 3, pending.begin() + static_cast<long>(len) - 1);
        pending.erase(pending.begin(), pending.begin() + static_cast<long>(len));
        std::vector<Bytes> replies;
        if (payload[0] == 0x81) {
          replies.push_back({0xC1, 0xEF, 0x8F});
        } else {
          replies = answer(payload);
        }
        for (const Bytes& r : replies) Send(Kwp(kTester, kEcu, r));
      }
    }
  }

  int master_ = -1;
  std::string slave_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// ------------------------------------------------------------ the port itself

// Whether the terminal is held exclusively (TIOCEXCL) by some open. Another
// user than root cannot even open it then.
bool Exclusive(const std::string& device) {
  const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == EBUSY;
  int on = 0;
  const bool got = ioctl(fd, TIOCGEXCL, &on) == 0;
  ::close(fd);
  return got && on != 0;
}

TEST(TermiosPort, OpensExclusivelyAtNonStandardAndStandardSpeeds) {
  PtyPeer pty;
  ASSERT_FALSE(pty.Slave().empty());
  TermiosPort port;
  ASSERT_EQ(port.Open(pty.Slave(), 10400), 0) << port.LastErrorText();
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(termios_line::OutputSpeed(port.Fd()), 10400u);
  EXPECT_TRUE(port.SetBreak(true) || true);  // accepted or ignored, never fatal
  port.SetBreak(false);

  TermiosPort second;
  EXPECT_EQ(second.Open(pty.Slave(), 10400), kErrOpen);
  EXPECT_FALSE(second.IsOpen());
  EXPECT_FALSE(second.LastErrorText().empty());
  EXPECT_TRUE(Exclusive(pty.Slave())) << "the refused second port undid the first one's hold";

  // Closing gives the terminal free again although it lives on (the peer
  // holds its master): otherwise only root could ever open it again.
  port.Close();
  EXPECT_FALSE(Exclusive(pty.Slave()));
  ASSERT_EQ(port.Open(pty.Slave(), 9600), 0);
  EXPECT_EQ(termios_line::OutputSpeed(port.Fd()), 9600u);

  // A speed the line cannot take is a line-settings failure; the port is closed again.
  port.Close();
  EXPECT_EQ(port.Open(pty.Slave(), 0), kErrSetState);
  EXPECT_FALSE(port.IsOpen());
}

TEST(TermiosPort, ExclusiveHoldOfAnotherProgramOutlivesAPortThatFoundIt) {
  PtyPeer pty;
  const int other = ::open(pty.Slave().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(other, 0);
  ASSERT_EQ(ioctl(other, TIOCEXCL), 0);
  TermiosPort port;
  port.Open(pty.Slave(), 10400);  // refused for a user, granted to root
  port.Close();
  EXPECT_TRUE(Exclusive(pty.Slave()));
  ioctl(other, TIOCNXCL);
  ::close(other);
}

TEST(TermiosPort, MissingDeviceOrPlainFileCannotBeOpened) {
  TermiosPort port;
  EXPECT_EQ(port.Open("/nonexistent/ttyUSB7", 10400), kErrOpen);
  EXPECT_NE(port.LastErrorText().find("/nonexistent/ttyUSB7"), std::string::npos);
  EXPECT_EQ(port.Open("/dev/null", 10400), kErrOpen);
  EXPECT_FALSE(port.IsOpen());
}

// The advice for a device the user may not open names a group only where
// joining it gives access, and otherwise whose the device is.
TEST(DeviceAccess, AdviceNamesTheGroupOnlyWhereJoiningItHelps) {
  struct Case {
    DeviceOwnership owner;
    const char* group;  // GroupToJoin
    const char* english;
    const char* russian;  // UTF-8
  };
  const Case cases[] = {
      {{true, "root", "dialout", false, 0660}, "dialout", "'dialout' group", "группу dialout"},
      {{true, "root", "uucp", false, 0660},
       "uucp",
       "'uucp' group (usermod -aG uucp",
       "группу uucp"},
      {{true, "root", "root", true, 0660},
       "",
       "belongs to user 'root', group 'root' (crw-rw----)",
       "пользователю root и группе root"},
      {{true, "anna", "dialout", false, 0600},
       "",
       "belongs to user 'anna', group 'dialout'",
       "пользователю anna и группе dialout (crw-------)"},
      {{true, "root", "dialout", false, 0640}, "", "(crw-r-----)", "доступ к нему может дать"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.english);
    EXPECT_EQ(GroupToJoin(c.owner), c.group);
    EXPECT_NE(PermissionAdvice(c.owner).find(c.english), std::string::npos)
        << PermissionAdvice(c.owner);
    const std::string russian = cp1251::ToUtf8(PermissionAdviceRu(c.owner));
    EXPECT_NE(russian.find(c.russian), std::string::npos) << russian;
    if (*c.group == '\0') {
      EXPECT_EQ(russian.find("usermod"), std::string::npos);
    }
  }
  EXPECT_EQ(PermissionAdvice(DeviceOwnership{}), "");
}

TEST(TermiosPort, ADeviceOfAnotherOwnerIsNamedWithItsOwner) {
  ScratchDir scratch("kestrel-link");
  std::ofstream("ttyLocked").put('x');
  ASSERT_EQ(::chmod("ttyLocked", 0), 0);
  const DeviceOwnership owner = DeviceOwnershipOf("ttyLocked");
  ASSERT_TRUE(owner.Known);
  EXPECT_EQ(owner.Mode, 0u);
  if (::access("ttyLocked", R_OK | W_OK) == 0) GTEST_SKIP() << "root opens any file";
  TermiosPort port;
  EXPECT_EQ(port.Open("ttyLocked", 10400), kErrOpen);
  EXPECT_NE(port.LastErrorText().find("belongs to user '" + owner.User + "'"), std::string::npos)
      << port.LastErrorText();
  EXPECT_EQ(port.LastErrorText().find("dialout"), std::string::npos);
  SetPortDeviceOverride("COM3", "ttyLocked");
  const std::string hint = cp1251::ToUtf8(LinkErrorHint(kErrOpen, "COM3", port.LastErrorText()));
  ClearPortDeviceOverrides();
  EXPECT_NE(hint.find("оно принадлежит пользователю " + owner.User), std::string::npos) << hint;
  EXPECT_EQ(hint.find("группу dialout"), std::string::npos);
}

TEST(TermiosPort, WritesReadsWaitsAndCancels) {
  PtyPeer pty;
  TermiosPort port;
  ASSERT_EQ(port.Open(pty.Slave(), 10400), 0);

  const Bytes out{0x82, 0x13, 0xF1, 0x21, 0x01, 0xA8};
  ASSERT_EQ(port.Write(out.data(), out.size(), 2000), SerialPort::WriteResult::Ok);
  Bytes got(16);
  pollfd p{pty.Master(), POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 1000), 1);
  got.resize(static_cast<std::size_t>(::read(pty.Master(), got.data(), got.size())));
  EXPECT_EQ(got, out);

  EXPECT_EQ(port.WaitInput(30), SerialPort::WaitResult::Timeout);
  const Bytes in{1, 2, 3, 4, 5};
  ASSERT_EQ(::write(pty.Master(), in.data(), in.size()), 5);
  EXPECT_EQ(port.WaitInput(500), SerialPort::WaitResult::Ready);
  EXPECT_EQ(port.Queued(), 5);
  Bytes buf(5);
  EXPECT_EQ(port.Read(buf.data(), 5), 5);
  EXPECT_EQ(buf, in);
  EXPECT_EQ(port.Read(buf.data(), 5), 0);  // never blocks

  // CancelWait from another thread ends a long wait at once.
  std::thread canceller([&] {
    SleepUntil(MonoNow() + Ms(30));
    port.CancelWait();
  });
  const MonoNs t = MonoNow();
  EXPECT_EQ(port.WaitInput(2000), SerialPort::WaitResult::Timeout);
  EXPECT_LT(MonoNow() - t, Ms(500));
  canceller.join();
}

TEST(TermiosPort, WriteIsBoundedWhenNothingDrainsTheLine) {
  PtyPeer pty;  // nobody reads the master
  TermiosPort port;
  ASSERT_EQ(port.Open(pty.Slave(), 10400), 0);
  const Bytes big(1 << 20, 0x55);
  const MonoNs t = MonoNow();
  EXPECT_EQ(port.Write(big.data(), big.size(), 200), SerialPort::WriteResult::Timeout);
  EXPECT_LT(MonoNow() - t, Ms(1000));
}

TEST(TermiosPort, HangUpIsAnErrorNotAnEndlessStreamOfWakeUps) {
  PtyPeer pty;
  TermiosPort port;
  ASSERT_EQ(port.Open(pty.Slave(), 10400), 0);
  pty.Vanish();
  EXPECT_EQ(port.WaitInput(500), SerialPort::WaitResult::Error);
}

// ------------------------------------------------------------ sessions over a pty

class PtySessionTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    oldFactory_ = SetPortFactory(nullptr);  // the real termios port
    ResetLinkForTest("COM2", kEcu, kTester);
    LogEnabled = 1;
    table_ = &RequestTables[kDashboardTable];
    std::memset(table_, 0, sizeof(vorta::RequestTable));
    AddRequest(*table_, KwpRequest(kEcu, kTester, {0x21, 0x01}));
    AddRequest(*table_, KwpRequest(kEcu, kTester, {0x01, 0x0C}));
    ClearResponseStore();
  }
  void TearDown() override {
    StopSession();
    LogEnabled = 0;
    SetPortFactory(oldFactory_);
    TempDirTest::TearDown();
  }

  // COM2 is line 2 of ports.ini.
  void MapCom2(const std::string& device) {
    std::ofstream("ports.ini", std::ios::binary) << "/dev/ttyS0\r\n" << device << "\r\n";
  }

  static std::vector<Bytes> Answers(const Bytes& p) {
    if (p[0] == 0x21) return {{0x61, p[1], 0x12, 0x34}};
    if (p[0] == 0x01) return {{0x41, p[1], 0x1F, 0x40}};
    return {{0x7F, p[0], 0x11}};
  }

  bool WaitPasses(std::uint32_t n, int ms) {
    const MonoNs end = MonoNow() + Ms(ms);
    while (PassCount.load() < n) {
      if (MonoNow() > end || LinkStatus.load() == lsError) return false;
      SleepUntil(MonoNow() + Ms(2));
    }
    return true;
  }

  PortFactory oldFactory_;
  vorta::RequestTable* table_ = nullptr;
};

TEST_F(PtySessionTest, CyclicSessionAgainstAPeerFilesEveryAnswer) {
  PtyPeer peer;
  MapCom2(peer.Slave());
  peer.Serve(Answers);
  StartSession(*table_, LinkSettings.P2, 1);
  ASSERT_TRUE(WaitPasses(3, 5000)) << CurrentLinkStatusText(true);
  RunFlag = 0;
  ASSERT_TRUE(WaitLinkIdle(3000));
  EXPECT_EQ(LinkStatus.load(), lsIdle);
  EXPECT_EQ(LinkError.load(), 0);
  EXPECT_EQ(SlotData(vorta::kLocal21Offset, 0x01), (Bytes{0x12, 0x34}));
  EXPECT_EQ(SlotData(vorta::kMode01Offset, 0x0C), (Bytes{0x1F, 0x40}));
  // The exchange log holds the echo of the request and the answer.
  std::string log;
  for (const auto& e : std::filesystem::directory_iterator("Kadr")) log += ReadRaw(e.path());
  EXPECT_NE(log.find("82 13 F1 21 01 A8 \r\n"), std::string::npos);
  EXPECT_NE(log.find("      RxD:84 F1 13 61 01 12 34 "), std::string::npos);

  // A second session on the same terminal, which the peer keeps alive: the
  // first one's exclusive hold must not outlive its close.
  ClearResponseStore();
  StartSession(*table_, LinkSettings.P2, 0);
  ASSERT_TRUE(WaitLinkIdle(5000));
  EXPECT_EQ(LinkStatus.load(), lsIdle) << CurrentLinkStatusText(true);
  EXPECT_EQ(SlotData(vorta::kMode01Offset, 0x0C), (Bytes{0x1F, 0x40}));
}

TEST_F(PtySessionTest, VanishingPeerEndsWith8000WithoutHangAndTheNextSessionWorks) {
  {
    PtyPeer peer;
    MapCom2(peer.Slave());
    peer.Serve(Answers);
    StartSession(*table_, LinkSettings.P2, 1);
    ASSERT_TRUE(WaitPasses(1, 5000)) << CurrentLinkStatusText(true);
    peer.Vanish();
    ASSERT_TRUE(WaitLinkIdle(3000)) << "session hangs after the port went away";
    EXPECT_EQ(LinkStatus.load(), lsError);
    EXPECT_TRUE(LinkError.load() & kErrRxOverflow) << CurrentLinkStatusText(true);
  }
  PtyPeer peer;
  MapCom2(peer.Slave());
  peer.Serve(Answers);
  ClearResponseStore();
  StartSession(*table_, LinkSettings.P2, 0);
  ASSERT_TRUE(WaitLinkIdle(5000));
  EXPECT_EQ(LinkStatus.load(), lsIdle) << CurrentLinkStatusText(true);
  EXPECT_EQ(SlotData(vorta::kLocal21Offset, 0x01), (Bytes{0x12, 0x34}));
}

}  // namespace
}  // namespace kestrel
