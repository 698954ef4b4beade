// Whole sessions (TxD + TComThread) on the TestPort: initialisations, line
// timing, passes, echo handling, filing, errors and the session lifecycle.
#include "link/session.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>

#include "common/cp1251.h"
#include "link/test_port.h"
#include "link_test_support.h"

namespace kestrel {
namespace {

using namespace testing;
using namespace cp1251_literals;
using Op = TestPort::Op;

constexpr std::uint8_t kEcu = 0x13;
constexpr std::uint8_t kTester = 0xF1;

// An ECU behind the test port: collects written bytes into ISO 14230 frames
// addressed to it and feeds back the frames answer() returns (payloads; the
// header and checksum are added). StartCommunication is answered by default.
using Answer = std::function<std::vector<Bytes>(const Bytes& payload)>;

TestPort::WriteHook Ecu14230(Answer answer) {
  auto buffer = std::make_shared<Bytes>();
  return [answer, buffer](TestPort& port, const Bytes& bytes) {
    Bytes& b = *buffer;
    b.insert(b.end(), bytes.begin(), bytes.end());
    while (b.size() >= 3) {
      const bool ours = b[0] >= 0x80 && b[2] == kTester && (b[1] == kEcu || b[1] == 0x33);
      if (!ours) {
        b.erase(b.begin());
        continue;
      }
      const std::size_t n = (b[0] & 0x3F) + 4u;
      if (b.size() < n) return;
      const Bytes payload(b.begin() + 3, b.begin() + static_cast<std::ptrdiff_t>(n) - 1);
      b.erase(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n));
      std::vector<Bytes> replies;
      if (!payload.empty() && payload[0] == 0x81) {
        replies.push_back({0xC1, 0xEF, 0x8F});
      } else if (answer) {
        replies = answer(payload);
      }
      for (const Bytes& r : replies) port.Feed(Kwp(kTester, kEcu, r));
    }
  };
}

// An ISO 9141 ECU: answers 68 6A F1 <service> <pid> with 48 6B 13 <service+0x40> <pid> <value>.
TestPort::WriteHook Ecu9141(std::uint8_t value) {
  return [value](TestPort& port, const Bytes& b) {
    if (b.size() >= 6 && b[0] == 0x68 && b[1] == 0x6A && b[2] == kTester) {
      port.Feed(Iso9141Response(kEcu, {static_cast<std::uint8_t>(b[3] + 0x40), b[4], value}));
    }
  };
}

class SessionTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    port_ = std::make_shared<TestPort>();
    oldFactory_ = SetPortFactory(TestPort::Factory(port_));
    ResetLinkForTest("COM1", kEcu, kTester);
    table_ = &RequestTables[kLiveTable];
    std::memset(table_, 0, sizeof(vorta::RequestTable));
    ClearResponseStore();
  }

  void TearDown() override {
    StopSession();
    SetPortFactory(oldFactory_);
    TempDirTest::TearDown();
  }

  void Request(const Bytes& payload) { AddRequest(*table_, KwpRequest(kEcu, kTester, payload)); }

  // A one-pass session, to its end.
  void RunOnce() {
    StartSession(*table_, LinkSettings.P2, 0);
    ASSERT_TRUE(WaitLinkIdle(20000));
    StopSession();  // joins the finished thread
  }

  bool WaitFor(const std::function<bool()>& cond, int ms = 5000) {
    const MonoNs end = MonoNow() + Ms(ms);
    while (!cond()) {
      if (MonoNow() > end) return false;
      SleepUntil(MonoNow() + Ms(1));
    }
    return true;
  }

  // Writes whose bytes are the given payload's request frame.
  int CountSent(const Bytes& payload) const {
    const Bytes frame = Kwp(kEcu, kTester, payload);
    const auto writes = port_->Writes();
    return static_cast<int>(std::count(writes.begin(), writes.end(), frame));
  }

  std::vector<TestPort::Event> Breaks() const {
    std::vector<TestPort::Event> out;
    for (const auto& e : port_->Events()) {
      if (e.op == Op::BreakOn || e.op == Op::BreakOff) out.push_back(e);
    }
    return out;
  }

  std::shared_ptr<TestPort> port_;
  PortFactory oldFactory_;
  vorta::RequestTable* table_ = nullptr;
};

double MsBetween(MonoNs from, MonoNs to) {
  return static_cast<double>(to - from) / 1e6;
}

// ------------------------------------------------------------ initialisations

// The 5-baud address of 0x13: word 0x226, ten 200 ms cells, then ~KW2 and ~address.
TEST_F(SessionTest, FiveBaudInitSendsTheAddressBitByBitThenTheComplements) {
  LinkSettings.Protocol = kProto5Baud;
  StatusWatcher watcher;
  RunOnce();
  const auto seen = watcher.Finish();
  EXPECT_NE(std::find(seen.begin(), seen.end(), lsInit5Baud), seen.end());

  const auto breaks = Breaks();
  ASSERT_EQ(breaks.size(), 10u);
  const Op expected[10] = {Op::BreakOn,  Op::BreakOff, Op::BreakOff, Op::BreakOn, Op::BreakOn,
                           Op::BreakOff, Op::BreakOn,  Op::BreakOn,  Op::BreakOn, Op::BreakOff};
  const MonoNs t0 = breaks[0].time;
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(breaks[i].op, expected[i]) << "cell " << i;
    EXPECT_NEAR(MsBetween(t0, breaks[i].time), 200.0 * i, 15.0) << "cell " << i;
  }
  const auto writes = port_->Writes();
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0], (Bytes{0xFF - 0x8F}));
  EXPECT_EQ(writes[1], (Bytes{0xEC}));
  std::vector<TestPort::Event> w;
  for (const auto& e : port_->Events())
    if (e.op == Op::Write) w.push_back(e);
  EXPECT_NEAR(MsBetween(t0, w[0].time), 2000.0 + 100.0, 15.0);
  EXPECT_GE(MsBetween(w[0].endTime, w[1].time), 20.0 - 0.5);
  // The open came W5 before the first cell.
  EXPECT_NEAR(MsBetween(port_->Events().front().endTime, t0), 60.0, 15.0);
  // Bytes alone are no echo frames: an empty table ends with both bits.
  EXPECT_EQ(LinkError.load(), kErrNoEcho | kErrNoResponse);
}

TEST_F(SessionTest, FiveBaudWithFunctionalAddressingSendsRequestAddress) {
  LinkSettings.Protocol = kProto5Baud;
  LinkSettings.Addressing = kFunctional;
  RunOnce();
  const auto breaks = Breaks();
  ASSERT_EQ(breaks.size(), 10u);
  // 0x33: start 0, bits 1 1 0 0 1 1 0 0, stop 1.
  const Op expected[10] = {Op::BreakOn,  Op::BreakOff, Op::BreakOff, Op::BreakOn, Op::BreakOn,
                           Op::BreakOff, Op::BreakOff, Op::BreakOn,  Op::BreakOn, Op::BreakOff};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(breaks[i].op, expected[i]) << "cell " << i;
  const auto writes = port_->Writes();
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[1], (Bytes{0xCC}));
}

TEST_F(SessionTest, FastInitSendsWakeUpAndStartCommunicationInBothAddressings) {
  port_->SetWriteHook(Ecu14230(nullptr));
  StatusWatcher watcher;
  RunOnce();
  const auto seen = watcher.Finish();
  EXPECT_EQ(seen.back(), lsIdle);
  EXPECT_NE(std::find(seen.begin(), seen.end(), lsInitFast), seen.end());
  EXPECT_NE(std::find(seen.begin(), seen.end(), lsFirstPass), seen.end());

  const auto breaks = Breaks();
  ASSERT_EQ(breaks.size(), 2u);
  EXPECT_EQ(breaks[0].op, Op::BreakOn);
  EXPECT_EQ(breaks[1].op, Op::BreakOff);
  EXPECT_NEAR(MsBetween(breaks[0].time, breaks[1].time), 25.0, 10.0);
  auto writes = port_->Writes();
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0], (Bytes{0x81, 0x13, 0xF1, 0x81, 0x06}));
  EXPECT_EQ(LinkError.load(), 0);  // the ECU's answer counts as a response
  EXPECT_EQ(PassCount.load(), 1u);

  port_->ClearEvents();
  LinkSettings.Addressing = kFunctional;
  RunOnce();
  writes = port_->Writes();
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0], (Bytes{0xC1, 0x33, 0xF1, 0x81, 0x66}));
  EXPECT_EQ(LinkError.load(), 0);
}

TEST_F(SessionTest, Iso9141InitAndFramesFileResponsesOnceTheNextHeaderArrives) {
  LinkSettings.Protocol = kProto9141;
  AddRequest(*table_, {0x68, 0x6A, kTester, 0x01, 0x0C});
  AddRequest(*table_, {0x68, 0x6A, kTester, 0x01, 0x0D});
  port_->SetWriteHook(Ecu9141(0x42));
  StatusWatcher watcher;
  RunOnce();
  const auto seen = watcher.Finish();
  EXPECT_NE(std::find(seen.begin(), seen.end(), lsInit9141), seen.end());
  const auto writes = port_->Writes();
  ASSERT_EQ(writes.size(), 4u);
  EXPECT_EQ(writes[1], (Bytes{0xCC}));  // ~0x33: ISO 9141 uses RequestAddress
  EXPECT_EQ(SlotData(vorta::kMode01Offset, 0x0C), (Bytes{0x42}));
  // Nothing followed the last answer of this one-pass session.
  EXPECT_EQ(Slot(vorta::kMode01Offset, 0x0D)[255], 0);
  EXPECT_EQ(LinkError.load(), 0);
}

// ------------------------------------------------------------ frame writer

TEST_F(SessionTest, WithP4ZeroEachFrameIsOneWriteWithItsChecksum) {
  Request({0x21, 0x01});
  Request({0x01, 0x0C});
  table_->Entries[1].Skip = 1;  // skipped requests are not sent
  Request({0x21, 0x02});
  port_->SetWriteHook(Ecu14230([](const Bytes& p) {
    return std::vector<Bytes>{{static_cast<std::uint8_t>(p[0] + 0x40), p[1], 0x10}};
  }));
  RunOnce();
  const auto writes = port_->Writes();
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_EQ(writes[1], (Bytes{0x82, 0x13, 0xF1, 0x21, 0x01, 0xA8}));
  EXPECT_EQ(writes[2], Kwp(kEcu, kTester, {0x21, 0x02}));
  // The checksum is also left behind the request bytes in the table.
  EXPECT_EQ(table_->Entries[0].Data[5], 0xA8);
  EXPECT_EQ(SlotData(vorta::kLocal21Offset, 2), (Bytes{0x10}));
  EXPECT_EQ(LinkError.load(), 0);
}

TEST_F(SessionTest, WithP4EachByteIsWrittenAloneAndALongFrameStillCountsAsOneWrite) {
  LinkSettings.P4 = 2;
  Bytes big{0x21, 0x01};
  big.resize(36, 0x00);  // a 40-byte frame: 40 byte writes, one frame
  Request(big);
  port_->SetWriteHook(Ecu14230([](const Bytes&) {
    return std::vector<Bytes>{{0x61, 0x01, 0x77}};
  }));
  RunOnce();
  std::vector<TestPort::Event> writes;
  for (const auto& e : port_->Events())
    if (e.op == Op::Write) writes.push_back(e);
  ASSERT_EQ(writes.size(), 5u + 40u);
  for (std::size_t i = 0; i + 1 < writes.size(); ++i) {
    EXPECT_EQ(writes[i].bytes.size(), 1u);
    EXPECT_GE(MsBetween(writes[i].endTime, writes[i + 1].time), 2.0 - 0.2) << i;
  }
  EXPECT_EQ(LinkError.load(), 0);
  EXPECT_EQ(SlotData(vorta::kLocal21Offset, 1), (Bytes{0x77}));
}

TEST_F(SessionTest, RequestTooLongForTheWriterIsRefusedUnsent) {
  Bytes frame254(254, 0x00);
  AddRequest(*table_, frame254);  // 254 bytes + checksum = 255: the limit
  Bytes frame255(255, 0x00);
  AddRequest(*table_, frame255);
  port_->SetWriteHook(Ecu14230(nullptr));
  RunOnce();
  const auto writes = port_->Writes();
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[1].size(), 255u);
  EXPECT_TRUE(LinkError.load() & kErrWriteShort);
  EXPECT_EQ(LinkStatus.load(), lsError);
}

TEST_F(SessionTest, WriteTimeoutAndShortWriteEndTheSessionWithTheirBits) {
  Request({0x21, 0x01});
  Request({0x21, 0x02});
  port_->SetWriteResult(SerialPort::WriteResult::Timeout);
  RunOnce();
  // The fast-init frame is not checked; the first request's check ends it.
  EXPECT_EQ(port_->Writes().size(), 2u);
  EXPECT_EQ(LinkError.load(), kErrWriteTimeout | kErrNoEcho | kErrNoResponse);
  EXPECT_EQ(LinkStatus.load(), lsError);

  port_->ClearEvents();
  port_->SetWriteResult(SerialPort::WriteResult::Short);
  RunOnce();
  EXPECT_EQ(port_->Writes().size(), 2u);
  EXPECT_EQ(LinkError.load(), kErrWriteShort | kErrNoEcho | kErrNoResponse);
}

// ------------------------------------------------------------ echo and answers

TEST_F(SessionTest, NonEchoingAdapterEndsWithError0A00) {
  port_->SetAutoEcho(false);
  Request({0x21, 0x01});
  RunOnce();
  EXPECT_EQ(LinkStatus.load(), lsError);
  EXPECT_EQ(CurrentLinkStatusText(), std::string("Ошибка 0A00"_cp));
  EXPECT_EQ(CurrentLinkStatusText(true), "Error 0A00");
}

TEST_F(SessionTest, MoreThanThirtyWritesWithoutEchoStopTheSession) {
  port_->SetAutoEcho(false);
  LinkSettings.P2 = 2;
  for (int i = 0; i < 40; ++i) Request({0x21, static_cast<std::uint8_t>(i)});
  RunOnce();
  // The fast-init frame and 30 requests; the 31st write trips the limit.
  EXPECT_EQ(port_->Writes().size(), 31u);
  EXPECT_TRUE(LinkError.load() & kErrNoEcho);
}

TEST_F(SessionTest, AcknowledgedOneShotRequestsAreNotSentAgain) {
  Request({0x10, 0x81});
  Request({0x30, 0x05, 0x07, 0x01});
  Request({0x30, 0x06, 0x07, 0x01});
  Request({0x21, 0x01});
  port_->SetWriteHook(Ecu14230([](const Bytes& p) -> std::vector<Bytes> {
    if (p[0] == 0x10) return {{0x50, 0x81}};
    if (p[0] == 0x30 && p[1] == 0x05) return {{0x70, 0x05, 0x01}};
    if (p[0] == 0x30) return {{0x7F, 0x30, 0x31}};
    return {{0x61, 0x01, 0xAA}};
  }));
  StartSession(*table_, LinkSettings.P2, 1);
  ASSERT_TRUE(WaitFor([] { return PassCount.load() >= 3; }));
  RunFlag = 0;
  ASSERT_TRUE(WaitLinkIdle(5000));
  StopSession();
  const int passes = static_cast<int>(PassCount.load());
  EXPECT_EQ(CountSent({0x10, 0x81}), 1);
  EXPECT_EQ(CountSent({0x30, 0x05, 0x07, 0x01}), 1);
  EXPECT_EQ(CountSent({0x30, 0x06, 0x07, 0x01}), passes);
  EXPECT_EQ(CountSent({0x21, 0x01}), passes);
  EXPECT_EQ(SlotData(vorta::kControl30Offset, 5), (Bytes{0x01}));
  EXPECT_EQ(LinkStatus.load(), lsIdle);
}

TEST_F(SessionTest, DtcAnswersFillSlotsFromZeroInEverySession) {
  Request({0x03});
  port_->SetWriteHook(Ecu14230([](const Bytes&) {
    return std::vector<Bytes>{{0x43, 0x01, 0x01}, {0x43, 0x02, 0x02}, {0x43, 0x03, 0x03}};
  }));
  RunOnce();
  EXPECT_EQ(SlotData(vorta::kDtcOffset, 0), (Bytes{0x01, 0x01}));
  EXPECT_EQ(SlotData(vorta::kDtcOffset, 1), (Bytes{0x02, 0x02}));
  EXPECT_EQ(SlotData(vorta::kDtcOffset, 2), (Bytes{0x03, 0x03}));

  port_->SetWriteHook(Ecu14230([](const Bytes&) {
    return std::vector<Bytes>{{0x43, 0x09, 0x09}};
  }));
  RunOnce();
  EXPECT_EQ(SlotData(vorta::kDtcOffset, 0), (Bytes{0x09, 0x09}));
  EXPECT_EQ(SlotData(vorta::kDtcOffset, 1), (Bytes{0x02, 0x02}));  // not cleared between sessions
}

TEST_F(SessionTest, LogAndRecordingFollowTheirFlags) {
  LogEnabled = 1;
  RecordEnabled = 1;
  { std::ofstream("rec.rtd", std::ios::binary) << ""; }
  RecordFileName.Set("rec.rtd");
  Request({0x21, 0x01});
  port_->SetWriteHook(Ecu14230([](const Bytes&) {
    return std::vector<Bytes>{{0x61, 0x01, 0x0A}};
  }));
  RunOnce();
  RecordEnabled = 0;
  RecordFileName.Set("");
  std::vector<std::filesystem::path> logs;
  for (const auto& e : std::filesystem::directory_iterator("Kadr")) logs.push_back(e.path());
  ASSERT_EQ(logs.size(), 1u);
  const std::string log = ReadFile(logs[0].string());
  EXPECT_NE(log.find(std::string(" TxD(Эхо):"_cp) + "82 13 F1 21 01 A8 \r\n"), std::string::npos);
  EXPECT_NE(log.find("      RxD:83 F1 13 61 01 0A F3 \r\n\r\n"), std::string::npos);
  // StartCommunication's answer and the 61 01 answer: two 38-byte records.
  EXPECT_EQ(std::filesystem::file_size("rec.rtd"), 2 * 38u);
}

TEST_F(SessionTest, FunctionalSessionSurvivesNoiseAndAnswersSplitAcrossReads) {
  LinkSettings.Addressing = kFunctional;
  AddRequest(*table_, {0xC2, 0x33, kTester, 0x01, 0x0C});
  AddRequest(*table_, {0xC2, 0x33, kTester, 0x01, 0x0D});
  // The ECU answers from its own address, after line noise, in two pieces.
  port_->SetWriteHook([](TestPort& port, const Bytes& b) {
    if (b.size() < 5 || b[0] != 0xC2) {
      if (!b.empty() && b[0] == 0xC1) port.Feed(Kwp(kTester, kEcu, {0xC1, 0xEF, 0x8F}));
      return;
    }
    const Bytes answer = Kwp(kTester, kEcu, {0x41, b[4], 0x20, b[4]});
    port.Feed({0x00, 0xFF, 0x13, 0xF1});  // noise, even the address pair
    port.Feed(Bytes(answer.begin(), answer.begin() + 4));
    SleepUntil(MonoNow() + Ms(5));  // the receiver reads the first piece alone
    port.Feed(Bytes(answer.begin() + 4, answer.end()));
  });
  RunOnce();
  EXPECT_EQ(SlotData(vorta::kMode01Offset, 0x0C), (Bytes{0x20, 0x0C}));
  EXPECT_EQ(SlotData(vorta::kMode01Offset, 0x0D), (Bytes{0x20, 0x0D}));
  EXPECT_EQ(LinkError.load(), 0);
  int reads = 0;
  for (const auto& e : port_->Events()) reads += e.op == Op::Read;
  EXPECT_GE(reads, 5);  // StartCommunication, then echo/piece and piece per request
}

// ------------------------------------------------------------ lifecycle and errors

TEST_F(SessionTest, UnopenablePortGoesFromOpenStraightToError) {
  port_->SetOpenResult(kErrOpen, "/dev/ttyUSB0: No such file or directory");
  Request({0x21, 0x01});
  StatusWatcher watcher;
  RunOnce();
  const auto seen = watcher.Finish();
  for (std::uint16_t s : seen) EXPECT_TRUE(s == lsIdle || s == lsOpenPort || s == lsError) << s;
  EXPECT_EQ(LinkStatus.load(), lsError);
  EXPECT_EQ(LinkError.load(), kErrOpen);
  EXPECT_EQ(port_->Events().size(), 1u);  // the open, nothing else
  EXPECT_EQ(port_->Device(), "/dev/ttyUSB0");
  EXPECT_EQ(LastPortErrorText(), "/dev/ttyUSB0: No such file or directory");
}

TEST_F(SessionTest, EmptyTableCyclesIdlyUntilRunFlagIsCleared) {
  port_->SetWriteHook(Ecu14230(nullptr));
  StartSession(*table_, LinkSettings.P2, 1);
  ASSERT_TRUE(WaitFor([] { return LinkStatus.load() == lsExchange; }));
  SleepUntil(MonoNow() + Ms(150));
  EXPECT_EQ(LinkStatus.load(), lsExchange);
  const std::uint32_t passes = PassCount.load();
  EXPECT_GE(passes, 3u);
  EXPECT_LE(passes, 40u);  // each idle pass waits P3 instead of spinning
  RunFlag = 0;
  ASSERT_TRUE(WaitLinkIdle(1000));
  EXPECT_EQ(port_->Writes().size(), 1u);  // only StartCommunication
  EXPECT_EQ(LinkStatus.load(), lsIdle);
  EXPECT_EQ(LinkError.load(), 0);
}

TEST_F(SessionTest, PortGoneOrFloodedEndsTheSessionWith8000) {
  Request({0x21, 0x01});
  port_->SetWriteHook(Ecu14230([](const Bytes&) { return std::vector<Bytes>{{0x61, 0x01, 1}}; }));
  StartSession(*table_, LinkSettings.P2, 1);
  ASSERT_TRUE(WaitFor([] { return LinkStatus.load() == lsExchange; }));
  port_->HangUp();
  ASSERT_TRUE(WaitLinkIdle(2000));
  EXPECT_EQ(LinkStatus.load(), lsError);
  EXPECT_TRUE(LinkError.load() & kErrRxOverflow);
  StopSession();

  // More than 1001 bytes queued at once: 0x8000, and the bytes are dropped.
  port_ = std::make_shared<TestPort>();
  SetPortFactory(TestPort::Factory(port_));
  port_->SetWriteHook(Ecu14230([](const Bytes&) { return std::vector<Bytes>{{0x61, 0x01, 1}}; }));
  StartSession(*table_, LinkSettings.P2, 1);
  ASSERT_TRUE(WaitFor([] { return LinkStatus.load() == lsExchange; }));
  port_->Feed(Bytes(1500, 0x00));
  ASSERT_TRUE(WaitLinkIdle(2000));
  EXPECT_TRUE(LinkError.load() & kErrRxOverflow);
  EXPECT_EQ(port_->Pending(), 0u);
}

TEST_F(SessionTest, StopSessionEndsALongWaitPromptlyAndClosesThePort) {
  LinkSettings.P2 = 5000;
  Request({0x21, 0x01});
  port_->SetWriteHook(Ecu14230([](const Bytes&) { return std::vector<Bytes>{{0x61, 0x01, 1}}; }));
  StartSession(*table_, LinkSettings.P2, 1);
  ASSERT_TRUE(WaitFor([this] { return port_->Writes().size() == 2; }));
  const MonoNs t = MonoNow();
  StopSession();
  EXPECT_LT(MsBetween(t, MonoNow()), 500.0);
  EXPECT_EQ(LinkStatus.load(), lsIdle);
  EXPECT_FALSE(port_->IsOpenNow());
  EXPECT_EQ(RunFlag.load(), 0);
}

TEST_F(SessionTest, StartingWhileASessionRunsWaitsForItsEnd) {
  Request({0x21, 0x01});
  port_->SetWriteHook(Ecu14230([](const Bytes&) { return std::vector<Bytes>{{0x61, 0x01, 1}}; }));
  StartSession(*table_, LinkSettings.P2, 1);
  ASSERT_TRUE(WaitFor([] { return LinkStatus.load() == lsExchange; }));
  // A one-pass start clears RunFlag, so the cyclic session ends its pass first.
  StartSession(*table_, LinkSettings.P2, 0);
  ASSERT_TRUE(WaitLinkIdle(5000));
  StopSession();
  std::vector<Op> opens;
  for (const auto& e : port_->Events())
    if (e.op == Op::Open || e.op == Op::Close) opens.push_back(e.op);
  EXPECT_EQ(opens, (std::vector<Op>{Op::Open, Op::Close, Op::Open, Op::Close}));
  EXPECT_EQ(PassCount.load(), 1u);
  EXPECT_EQ(LinkStatus.load(), lsIdle);
}

TEST_F(SessionTest, CyclicStartRightAfterAStopWaitsForTheOldSessionAndCycles) {
  Request({0x21, 0x01});
  port_->SetWriteHook(Ecu14230([](const Bytes&) { return std::vector<Bytes>{{0x61, 0x01, 1}}; }));
  StartSession(*table_, LinkSettings.P2, 1);
  ASSERT_TRUE(WaitFor([] { return LinkStatus.load() == lsExchange; }));
  // Stop and start again at once, as a start/stop button pressed twice does:
  // the old session must still see RunFlag clear and end.
  RunFlag = 0;
  StartSession(*table_, LinkSettings.P2, 1);
  EXPECT_EQ(RunFlag.load(), 1);
  ASSERT_TRUE(WaitFor([] { return PassCount.load() >= 2; }));
  StopSession();
  int opens = 0;
  for (const auto& e : port_->Events()) opens += e.op == Op::Open;
  EXPECT_EQ(opens, 2);
}

}  // namespace
}  // namespace kestrel
