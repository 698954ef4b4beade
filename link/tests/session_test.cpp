// Whole sessions (TxD + TComThread) on the TestPort: initialisations, line
// timing, passes, echo handling, filing, errors and the session lifecycle.
#include "link/session.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "common/cp1251.h"
#include "link/exchange_log.h"
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

// Notes LinkStatus at each write when it differs from the last one noted,
// then lets the ECU answer.
TestPort::WriteHook WithStatus(std::vector<std::uint16_t>& seen, TestPort::WriteHook ecu) {
  return [&seen, ecu](TestPort& port, const Bytes& bytes) {
    const std::uint16_t status = LinkStatus.load();
    if (seen.empty() || seen.back() != status) seen.push_back(status);
    if (ecu) ecu(port, bytes);
  };
}

// The name of a port call and, for writes, its bytes.
std::string Call(Op op, const Bytes& bytes) {
  static const char* const kNames[] = {"open",  "close", "break on", "break off",
                                       "write", "wait",  "queued",   "read"};
  std::string text = kNames[static_cast<int>(op)];
  if (op == Op::Write) text += ' ' + ExchangeLog::Hex(bytes.data(), bytes.size());
  return text;
}

// One line per call of the session on the port: its time after the open in
// milliseconds to the nanosecond, and the call.
std::string TimelineLine(MonoNs t, Op op, const Bytes& bytes) {
  char when[32];
  std::snprintf(when, sizeof when, "%12.6f ms ", static_cast<double>(t) / 1e6);
  return when + Call(op, bytes) + "\n";
}

// The calls a session should make, built up wait by wait: each call comes
// the given wait after the previous one ended, a write ending when its bytes
// have left at the port's line speed.
class Expected {
 public:
  explicit Expected(std::uint32_t baud) : baud_(baud) { Then(0, Op::Open); }

  Expected& Then(MonoNs wait, Op op) {
    now_ += wait;
    text_ += TimelineLine(now_, op, {});
    return *this;
  }
  // A frame in one write, or with p4 > 0 a byte at a time with p4 after
  // every byte, the last included.
  Expected& Send(MonoNs wait, const Bytes& frame, MonoNs p4 = 0) {
    now_ += wait;
    const std::size_t each = p4 == 0 ? frame.size() : 1;
    for (std::size_t i = 0; i < frame.size(); i += each) {
      const Bytes part(frame.begin() + static_cast<std::ptrdiff_t>(i),
                       frame.begin() + static_cast<std::ptrdiff_t>(i + each));
      text_ += TimelineLine(now_, Op::Write, part);
      now_ += TestPort::WireTime(each, baud_) + p4;
    }
    return *this;
  }
  // The 200 ms cells of a 5-baud address, the first after wait; the next
  // call is timed from the end of the last cell.
  Expected& Cells(MonoNs wait, std::initializer_list<Op> cells) {
    for (Op op : cells) {
      Then(wait, op);
      wait = Ms(200);
    }
    now_ += Ms(200);
    return *this;
  }
  const std::string& Text() const { return text_; }

 private:
  std::uint32_t baud_;
  MonoNs now_ = 0;
  std::string text_;
};

class SessionTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    oldFactory_ = SetPortFactory(nullptr);
    NewPort(true);
    ResetLinkForTest("COM1", kEcu, kTester);
    LinkSettings.PWakeUpL = 35;  // unequal, so that a test can tell them apart
    LinkSettings.PWakeUpH = 15;
    table_ = &RequestTables[kLiveTable];
    std::memset(table_, 0, sizeof(vorta::RequestTable));
    ClearResponseStore();
  }

  void TearDown() override {
    StopSession();
    SetPortFactory(oldFactory_);
    TempDirTest::TearDown();
  }

  // A fresh test port for the sessions; on virtual time unless the test
  // is about real time.
  void NewPort(bool virtualTime) {
    port_ = std::make_shared<TestPort>();
    SetPortFactory(TestPort::Factory(port_));
    clock_ = virtualTime ? &port_->UseVirtualClock() : nullptr;
  }

  void Request(const Bytes& payload) { AddRequest(*table_, KwpRequest(kEcu, kTester, payload)); }

  // Requests 21 01 and 21 02, which the ECU answers, on a 10400 baud line;
  // LinkStatus is noted in statuses_ at every write.
  void TwoAnsweredRequests() {
    Request({0x21, 0x01});
    Request({0x21, 0x02});
    port_->SetWriteHook(WithStatus(statuses_, Ecu14230([](const Bytes& p) {
                                     return std::vector<Bytes>{{0x61, p[1], 0x10}};
                                   })));
    port_->SetLineSpeed(10400);
  }

  // A session on the port's clock; the response wait is P2 unless given.
  void Start(std::uint8_t runFlag, std::int32_t responseWait = -1) {
    SessionRecord r = MakeSessionRecord(*table_, responseWait < 0 ? LinkSettings.P2 : responseWait);
    r.Clock = clock_;
    StartSession(r, runFlag);
  }

  // A one-pass session, to its end.
  void RunOnce(std::int32_t responseWait = -1) {
    Start(0, responseWait);
    ASSERT_TRUE(WaitLinkIdle(20000));
    StopSession();  // joins the finished thread
  }

  // What the session did on the port (see TimelineLine), from its open on.
  std::string Timeline() const {
    std::string text;
    const auto events = port_->Events();
    const auto open = std::find_if(events.begin(), events.end(),
                                   [](const TestPort::Event& e) { return e.op == Op::Open; });
    if (open == events.end()) return text;
    for (auto e = open; e != events.end(); ++e) {
      if (e->op != Op::Wait && e->op != Op::Queued && e->op != Op::Read)
        text += TimelineLine(e->time - open->time, e->op, e->bytes);
    }
    return text;
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

  std::shared_ptr<TestPort> port_;
  LinkClock* clock_ = nullptr;
  std::vector<std::uint16_t> statuses_;
  PortFactory oldFactory_;
  vorta::RequestTable* table_ = nullptr;
};

double MsBetween(MonoNs from, MonoNs to) {
  return static_cast<double>(to - from) / 1e6;
}

// ------------------------------------------------------------ initialisations

// The line states of the 5-baud address 0x13 (word 0x226) and of 0x33.
const std::initializer_list<Op> kCells13 = {Op::BreakOn, Op::BreakOff, Op::BreakOff, Op::BreakOn,
                                            Op::BreakOn, Op::BreakOff, Op::BreakOn,  Op::BreakOn,
                                            Op::BreakOn, Op::BreakOff};
const std::initializer_list<Op> kCells33 = {Op::BreakOn, Op::BreakOff, Op::BreakOff, Op::BreakOn,
                                            Op::BreakOn, Op::BreakOff, Op::BreakOff, Op::BreakOn,
                                            Op::BreakOn, Op::BreakOff};

// The address bit by bit from the end of W5 (200 ms cells on their own
// deadlines), ~KW2 after W1to4, ~address after W4; then the pass: P3 before
// each request, P4 after every byte, P2 after each request, 500 ms to the end.
TEST_F(SessionTest, FiveBaudInitAndItsPassKeepEveryWait) {
  LinkSettingsRecord& s = LinkSettings;
  s.Protocol = kProto5Baud;
  s.P4 = 3;
  TwoAnsweredRequests();
  RunOnce();
  Expected e(10400);
  e.Cells(Ms(s.W5), kCells13)
      .Send(Ms(s.W1to4), {0xFF - 0x8F}, Ms(s.P4))
      .Send(Ms(s.W4), {0xEC}, Ms(s.P4))
      .Send(Ms(s.P3), Kwp(kEcu, kTester, {0x21, 0x01}), Ms(s.P4))
      .Send(Ms(s.P2 + s.P3), Kwp(kEcu, kTester, {0x21, 0x02}), Ms(s.P4))
      .Then(Ms(s.P2 + 500), Op::Close);
  EXPECT_EQ(Timeline(), e.Text());
  EXPECT_EQ(statuses_, (std::vector<std::uint16_t>{lsInit5Baud, lsFirstPass}));
  EXPECT_EQ(LinkError.load(), 0);
}

TEST_F(SessionTest, FiveBaudWithFunctionalAddressingSendsRequestAddress) {
  LinkSettings.Protocol = kProto5Baud;
  LinkSettings.Addressing = kFunctional;
  RunOnce();
  Expected e(0);
  e.Cells(Ms(LinkSettings.W5), kCells33)
      .Send(Ms(LinkSettings.W1to4), {0x70})
      .Send(Ms(LinkSettings.W4), {0xCC})
      .Then(Ms(LinkSettings.P3 + 500), Op::Close);  // an empty table idles for P3
  EXPECT_EQ(Timeline(), e.Text());
  // Bytes alone are no echo frames: an empty table ends with both bits.
  EXPECT_EQ(LinkError.load(), kErrNoEcho | kErrNoResponse);
}

// The line low for PWakeUpL and high for PWakeUpH from the end of W5, then
// StartCommunication; the response wait is P2, or 1000 ms for the
// trouble-code screen.
TEST_F(SessionTest, FastInitAndItsPassKeepEveryWaitWithEitherResponseWait) {
  LinkSettingsRecord& s = LinkSettings;
  TwoAnsweredRequests();
  for (const std::int32_t wait : {s.P2, 1000}) {
    SCOPED_TRACE(wait);
    port_->ClearEvents();
    statuses_.clear();
    RunOnce(wait);
    Expected e(10400);
    e.Then(Ms(s.W5), Op::BreakOn)
        .Then(Ms(s.PWakeUpL), Op::BreakOff)
        .Send(Ms(s.PWakeUpH), {0x81, 0x13, 0xF1, 0x81, 0x06})
        .Send(Ms(s.P3), Kwp(kEcu, kTester, {0x21, 0x01}))
        .Send(Ms(wait + s.P3), Kwp(kEcu, kTester, {0x21, 0x02}))
        .Then(Ms(wait + 500), Op::Close);
    EXPECT_EQ(Timeline(), e.Text());
    EXPECT_EQ(statuses_, (std::vector<std::uint16_t>{lsInitFast, lsFirstPass}));
    EXPECT_EQ(LinkError.load(), 0);
    EXPECT_EQ(PassCount.load(), 1u);
  }

  port_->ClearEvents();
  LinkSettings.Addressing = kFunctional;
  table_->Count = 0;
  RunOnce();
  const auto writes = port_->Writes();
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0], (Bytes{0xC1, 0x33, 0xF1, 0x81, 0x66}));
  EXPECT_EQ(LinkError.load(), 0);  // the ECU's answer counts as a response
}

TEST_F(SessionTest, Iso9141InitAndFramesFileResponsesOnceTheNextHeaderArrives) {
  LinkSettingsRecord& s = LinkSettings;
  s.Protocol = kProto9141;
  AddRequest(*table_, {0x68, 0x6A, kTester, 0x01, 0x0C});
  AddRequest(*table_, {0x68, 0x6A, kTester, 0x01, 0x0D});
  port_->SetWriteHook(WithStatus(statuses_, Ecu9141(0x42)));
  port_->SetLineSpeed(10400);
  RunOnce();
  // ISO 9141 sends RequestAddress.
  Expected e(10400);
  e.Cells(Ms(s.W5), kCells33)
      .Send(Ms(s.W1to4), {0x70})
      .Send(Ms(s.W4), {0xCC})
      .Send(Ms(s.P3), Iso9141Request(kTester, {0x01, 0x0C}))
      .Send(Ms(s.P2 + s.P3), Iso9141Request(kTester, {0x01, 0x0D}))
      .Then(Ms(s.P2 + 500), Op::Close);
  EXPECT_EQ(Timeline(), e.Text());
  EXPECT_EQ(statuses_, (std::vector<std::uint16_t>{lsInit9141, lsFirstPass}));
  EXPECT_EQ(SlotData(vorta::kMode01Offset, 0x0C), (Bytes{0x42}));
  // Nothing followed the last answer of this one-pass session.
  EXPECT_EQ(Slot(vorta::kMode01Offset, 0x0D)[255], 0);
  EXPECT_EQ(LinkError.load(), 0);
}

// A wait that ends late must not move the deadlines after it: with every
// wake-up 1 ms late, each edge of an initialisation still lies 1 ms after its
// deadline (the first edge's own, from the open), instead of the lateness
// adding up over the ten cells of an address.
TEST_F(SessionTest, LateWakeUpsDoNotAddUpOverAnInitialisation) {
  constexpr MonoNs kLate = Ms(1);
  port_->UseVirtualClock().SetLateWakeUp(kLate);
  const LinkSettingsRecord& s = LinkSettings;
  const std::vector<int> cells = {200, 400, 600, 800, 1000, 1200, 1400, 1600, 1800, 2000 + s.W1to4};
  struct Case {
    std::uint8_t protocol;
    std::vector<int> ms;  // deadlines of the later edges and the first write, from the first edge
  };
  for (const Case& c : {Case{kProto5Baud, cells}, Case{kProto9141, cells},
                        Case{kProtoFast, {s.PWakeUpL, s.PWakeUpL + s.PWakeUpH}}}) {
    SCOPED_TRACE(static_cast<int>(c.protocol));
    LinkSettings.Protocol = c.protocol;
    port_->ClearEvents();
    RunOnce();
    const auto events = port_->Events();
    std::vector<MonoNs> edges;
    for (const auto& e : events) {
      if (e.op == Op::BreakOn || e.op == Op::BreakOff || e.op == Op::Write) edges.push_back(e.time);
    }
    ASSERT_GT(edges.size(), c.ms.size());
    EXPECT_EQ(edges[0] - events.front().time, Ms(s.W5) + kLate);
    for (std::size_t i = 0; i < c.ms.size(); ++i) {
      EXPECT_EQ(edges[i + 1] - edges[0], Ms(c.ms[i]) + kLate) << "edge " << i + 1;
    }
  }
}

// The first pass is followed by 500 ms, the passes after it by nothing more
// than the response wait and P3.
TEST_F(SessionTest, OnlyTheFirstPassIsFollowedByTheSettlingWait) {
  const LinkSettingsRecord& s = LinkSettings;
  TwoAnsweredRequests();
  Start(1);
  ASSERT_TRUE(WaitFor([] { return PassCount.load() >= 3; }));
  StopSession();
  std::vector<TestPort::Event> writes;
  for (const auto& e : port_->Events())
    if (e.op == Op::Write) writes.push_back(e);
  ASSERT_GE(writes.size(), 7u);  // StartCommunication and three passes
  EXPECT_EQ(writes[3].time - writes[2].endTime, Ms(s.P2 + 500 + s.P3));  // passes 1 and 2
  EXPECT_EQ(writes[5].time - writes[4].endTime, Ms(s.P2 + s.P3));        // passes 2 and 3
  EXPECT_EQ(statuses_, (std::vector<std::uint16_t>{lsInitFast, lsFirstPass, lsExchange}));
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
    EXPECT_GE(writes[i + 1].time - writes[i].endTime, Ms(2)) << i;
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
  Start(1);
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
  const std::string log = ReadRaw(logs[0].string());
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
  NewPort(false);  // passes counted in real time
  port_->SetWriteHook(Ecu14230(nullptr));
  Start(1);
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
  Start(1);
  ASSERT_TRUE(WaitFor([] { return LinkStatus.load() == lsExchange; }));
  port_->HangUp();
  ASSERT_TRUE(WaitLinkIdle(2000));
  EXPECT_EQ(LinkStatus.load(), lsError);
  EXPECT_TRUE(LinkError.load() & kErrRxOverflow);
  StopSession();

  // More than 1001 bytes queued at once: 0x8000, and the bytes are dropped.
  NewPort(true);
  port_->SetWriteHook(Ecu14230([](const Bytes&) { return std::vector<Bytes>{{0x61, 0x01, 1}}; }));
  Start(1);
  ASSERT_TRUE(WaitFor([] { return LinkStatus.load() == lsExchange; }));
  port_->Feed(Bytes(1500, 0x00));
  ASSERT_TRUE(WaitLinkIdle(2000));
  EXPECT_TRUE(LinkError.load() & kErrRxOverflow);
  EXPECT_EQ(port_->Pending(), 0u);
}

TEST_F(SessionTest, StopSessionEndsALongWaitPromptlyAndClosesThePort) {
  NewPort(false);  // a wait in real time, ended early
  LinkSettings.P2 = 5000;
  Request({0x21, 0x01});
  port_->SetWriteHook(Ecu14230([](const Bytes&) { return std::vector<Bytes>{{0x61, 0x01, 1}}; }));
  Start(1);
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
  Start(1);
  ASSERT_TRUE(WaitFor([] { return LinkStatus.load() == lsExchange; }));
  // A one-pass start clears RunFlag, so the cyclic session ends its pass first.
  Start(0);
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
  Start(1);
  ASSERT_TRUE(WaitFor([] { return LinkStatus.load() == lsExchange; }));
  // Stop and start again at once, as a start/stop button pressed twice does:
  // the old session must still see RunFlag clear and end.
  RunFlag = 0;
  Start(1);
  EXPECT_EQ(RunFlag.load(), 1);
  ASSERT_TRUE(WaitFor([] { return PassCount.load() >= 2; }));
  StopSession();
  int opens = 0;
  for (const auto& e : port_->Events()) opens += e.op == Op::Open;
  EXPECT_EQ(opens, 2);
}

}  // namespace
}  // namespace kestrel
