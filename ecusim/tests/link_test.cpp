// The simulated ECU together with the link's session and receiver threads:
// in-process through SimPort, and over a pseudo-terminal with the termios
// port that a real adapter would use.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>

#include "ecusim/serve.h"
#include "ecusim/sim_port.h"
#include "line_rig.h"
#include "link/link_globals.h"
#include "link/serial_port.h"
#include "link/session.h"
#include "module/vorta.h"
#include "tests/support/support.h"

namespace kestrel::ecusim::test {
namespace {

Bytes SlotData(std::size_t area, std::size_t slot) {
  const std::uint8_t* s = ResponseStore + area + slot * vorta::kSlotSize;
  return Bytes(s, s + s[vorta::kSlotCountByte]);
}

// Serves a pseudo-terminal from its own thread, as kestrel-ecusim does.
class PtyServer {
 public:
  explicit PtyServer(Scenario s, EngineOptions o = {}) {
    std::string error;
    fd_ = OpenPty(slave_, error);
    EXPECT_GE(fd_, 0) << error;
    o.breaks_visible = false;
    engine_ = std::make_unique<Engine>(std::move(s), std::move(o), SteadyMicros());
    ServeConfig config;
    config.stop = &stop_;
    thread_ = std::thread([this, config] { Serve(fd_, *engine_, config); });
  }
  ~PtyServer() {
    stop_.store(true);
    thread_.join();
    close(fd_);
  }
  const std::string& Slave() const { return slave_; }

 private:
  int fd_ = -1;
  std::string slave_;
  std::unique_ptr<Engine> engine_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

class WithLink : public ::testing::Test {
 protected:
  void SetUp() override {
    scratch_ = std::make_unique<testing::ScratchDir>("ecusim-link");
    old_factory_ = SetPortFactory(nullptr);
    LinkStatus = lsIdle;
    LinkError = 0;
    RunFlag = 0;
    LogEnabled = 0;
    RecordEnabled = 0;
    table_ = &RequestTables[kLiveTable];
    std::memset(table_, 0, sizeof(vorta::RequestTable));
    ClearResponseStore();
  }
  void TearDown() override {
    StopSession();
    SetPortFactory(old_factory_);
    scratch_.reset();
  }

  // The link settings of the shipped configuration for this protocol.
  void Settings(std::uint8_t protocol) {
    LinkSettingsRecord& s = LinkSettings;
    s.PortName = "COM2";
    s.BaudRate = 10400;
    s.EcuAddress = 0x10;
    s.Kw2 = 0x8F;
    s.Addressing = kPhysical;
    s.TesterAddress = 0xF1;
    s.RequestAddress = 0x33;
    s.W5 = protocol == kProtoFast ? 300 : 400;
    s.W1to4 = 120;
    s.W4 = 50;
    s.P3 = 60;
    s.P2 = 80;
    s.P4 = 0;
    s.PWakeUpL = 25;
    s.PWakeUpH = 25;
    s.Protocol = protocol;
  }

  void UseSim(const char* scenario, EngineOptions o = {}) {
    ecu_ = std::make_shared<SimEcu>(Builtin(scenario), std::move(o));
    SetPortFactory(SimPort::Factory(ecu_));
  }
  void UsePty(const std::string& slave) {
    std::ofstream("ports.ini") << "/dev/null-com1\n" << slave << "\n";  // line 2: COM2
    SetPortFactory(nullptr);                                            // the termios port
  }

  void Add(const Bytes& payload) {
    Bytes req = LinkSettings.Protocol == kProto9141
                    ? Bytes{0x68, 0x6A, 0xF1}
                    : Bytes{static_cast<std::uint8_t>(0x80 | payload.size()), 0x10, 0xF1};
    req.insert(req.end(), payload.begin(), payload.end());
    vorta::RequestEntry& e = table_->Entries[table_->Count++];
    std::copy(req.begin(), req.end(), e.Data);
    e.Length = static_cast<std::uint16_t>(req.size());
    e.Skip = 0;
  }

  void RunOnce() {
    StartSession(*table_, LinkSettings.P2, 0);
    ASSERT_TRUE(WaitLinkIdle(30000));
    StopSession();
  }

  // A one-pass session of an ECU-information style table; checks what it filed.
  void ReadAndCheck(const char* what) {
    Add({0x01, 0x00});
    Add({0x01, 0x0C});
    Add({0x21, 0xE1});
    Add({0x03});
    Add({0x09, 0x02});
    Add({0x3E});  // an ISO 9141 answer is filed when the next frame begins
    RunOnce();
    EXPECT_EQ(LinkStatus.load(), lsIdle) << what;
    EXPECT_EQ(LinkError.load(), 0) << what;
    EXPECT_EQ(SlotData(vorta::kMode01Offset, 0x00).size(), 4u) << what;
    const Bytes rpm = SlotData(vorta::kMode01Offset, 0x0C);
    ASSERT_EQ(rpm.size(), 2u) << what;
    EXPECT_GT((rpm[0] * 256 + rpm[1]) / 4, 500) << what;
    EXPECT_EQ(SlotData(vorta::kLocal21Offset, 0xE1), (Bytes{0x01, 0x00})) << what;  // pump on
    EXPECT_EQ(SlotData(vorta::kDtcOffset, 0), (Bytes{0x01, 0x71, 0x03, 0x00, 0x04, 0x20})) << what;
    EXPECT_EQ(SlotData(vorta::kDtcOffset, 1), (Bytes{0x05, 0x00, 0x00, 0x00, 0x00, 0x00})) << what;
    EXPECT_EQ(SlotData(vorta::kMode09Offset, 0x02 * 16 + 5), (Bytes{'2', '3', '4', '5'})) << what;
  }

  // A cyclic session of live data with an actuator test armed in it.
  void CycleAndCheck(const char* what) {
    Add({0x01, 0x0C});
    Add({0x01, 0x05});
    Add({0x21, 0xE1});
    Add({0x30, 0x14, 0x02, 0x02});  // cooling fan on; sent until the ECU acknowledges it
    Add({0x3E});
    StartSession(*table_, LinkSettings.P2, 1);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (PassCount.load() < 4 && LinkStatus.load() != lsError &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_GE(PassCount.load(), 4u) << what;
    EXPECT_EQ(LinkStatus.load(), lsExchange) << what;
    StopSession();
    EXPECT_EQ(LinkStatus.load(), lsIdle) << what;
    EXPECT_EQ(LinkError.load(), 0) << what;
    EXPECT_EQ(GetSkip(table_->Entries[3]), 1) << what;  // acknowledged once
    EXPECT_EQ(SlotData(vorta::kControl30Offset, 0x14), (Bytes{0x02, 0x02})) << what;
    const Bytes e1 = SlotData(vorta::kLocal21Offset, 0xE1);
    ASSERT_EQ(e1.size(), 2u) << what;
    EXPECT_EQ(e1[0] & 0x02, 0x02) << what;  // the fan shows as on
    EXPECT_EQ(SlotData(vorta::kMode01Offset, 0x05).size(), 1u) << what;
  }

  std::shared_ptr<SimEcu> ecu_;
  vorta::RequestTable* table_ = nullptr;

 private:
  std::unique_ptr<testing::ScratchDir> scratch_;
  PortFactory old_factory_;
};

// ------------------------------------------------------------ in-process

TEST_F(WithLink, InProcessFastInit) {
  Settings(kProtoFast);
  UseSim("camry_2az_fast");
  ReadAndCheck("fast init");
}

TEST_F(WithLink, InProcessFiveBaud) {
  Settings(kProto5Baud);
  UseSim("corolla_3zz_5baud");
  ReadAndCheck("5-baud");
}

TEST_F(WithLink, InProcessIso9141) {
  Settings(kProto9141);
  UseSim("carina_7afe_9141");
  ReadAndCheck("ISO 9141");
}

// Noise before every ECU answer lands behind the frame in front of it, where
// only the checksum can tell the frame from the noise: every echo and every
// answer must still be recognised, in one pass and in a cycle.
TEST_F(WithLink, InProcessIso9141ThroughNoiseBeforeEveryAnswer) {
  Settings(kProto9141);
  EngineOptions o;
  ASSERT_EQ(AddFault(o.faults, "noise:1"), "");
  UseSim("carina_7afe_9141", o);
  LogEnabled = 1;
  ReadAndCheck("ISO 9141 with noise");
  for (const auto& e : std::filesystem::directory_iterator("Kadr")) {
    std::ifstream in(e.path(), std::ios::binary);
    const std::string log(std::istreambuf_iterator<char>(in), {});
    EXPECT_EQ(log.find("Packet CRC Error"), std::string::npos) << log;
  }
  LogEnabled = 0;
  std::memset(table_, 0, sizeof(vorta::RequestTable));
  CycleAndCheck("ISO 9141 with noise");
}

TEST_F(WithLink, InProcessCyclicSessionWithActuatorTest) {
  Settings(kProtoFast);
  UseSim("camry_2az_fast");
  CycleAndCheck("in-process");
  EXPECT_TRUE(ecu_->Inspect([](Engine& e) { return e.Overrides().switches.size() == 1; }));
}

TEST_F(WithLink, InProcessWrongInitialisationGetsNoAnswer) {
  // A fast-init tester against the ISO 9141 ECU: echoes only.
  Settings(kProtoFast);
  UseSim("carina_7afe_9141");
  Add({0x01, 0x0C});
  RunOnce();
  EXPECT_EQ(LinkStatus.load(), lsError);
  EXPECT_EQ(LinkError.load(), 0x0800);
}

TEST_F(WithLink, InProcessFaultsShowAsLinkErrors) {
  struct Case {
    const char* fault;
    std::uint16_t must, mustnt;
  };
  for (const Case& c : {Case{"no-echo", 0x0200, 0x0800}, Case{"silent", 0x0800, 0x0200},
                        Case{"crc", 0x0800, 0x0200}, Case{"vanish:1", 0x8000, 0}}) {
    SCOPED_TRACE(c.fault);
    std::memset(table_, 0, sizeof(vorta::RequestTable));
    Settings(kProtoFast);
    EngineOptions o;
    ASSERT_EQ(AddFault(o.faults, c.fault), "");
    UseSim("camry_2az_fast", o);
    Add({0x01, 0x0C});
    Add({0x01, 0x0D});
    Add({0x01, 0x05});
    RunOnce();
    EXPECT_EQ(LinkStatus.load(), lsError);
    EXPECT_EQ(LinkError.load() & c.must, c.must);
    EXPECT_EQ(LinkError.load() & c.mustnt, 0);
  }
}

// ------------------------------------------------------------ pseudo-terminal

TEST_F(WithLink, PtyFastInit) {
  PtyServer server(Builtin("camry_2az_fast"));
  Settings(kProtoFast);
  UsePty(server.Slave());
  ReadAndCheck("fast init over a pseudo-terminal");
}

TEST_F(WithLink, PtyFiveBaud) {
  PtyServer server(Builtin("corolla_3zz_5baud"));
  Settings(kProto5Baud);
  UsePty(server.Slave());
  ReadAndCheck("5-baud over a pseudo-terminal");
}

TEST_F(WithLink, PtyIso9141) {
  PtyServer server(Builtin("carina_7afe_9141"));
  Settings(kProto9141);
  UsePty(server.Slave());
  ReadAndCheck("ISO 9141 over a pseudo-terminal");
}

TEST_F(WithLink, PtyCyclicSession) {
  PtyServer server(Builtin("camry_2az_fast"));
  Settings(kProtoFast);
  UsePty(server.Slave());
  CycleAndCheck("pseudo-terminal");
}

TEST_F(WithLink, PtyWrongSpeedGetsNoAnswer) {
  PtyServer server(Builtin("camry_2az_fast"));
  Settings(kProtoFast);
  LinkSettings.BaudRate = 9600;
  UsePty(server.Slave());
  Add({0x01, 0x0C});
  RunOnce();
  EXPECT_EQ(LinkError.load(), 0x0800);
}

}  // namespace
}  // namespace kestrel::ecusim::test
