// The initialisations byte for byte and with their timing, the answer timing
// and the session rules of the engine.
#include "ecusim/engine.h"

#include <gtest/gtest.h>

#include "line_rig.h"

namespace kestrel::ecusim::test {
namespace {

const Bytes kStartComm{0x81, 0x10, 0xF1, 0x81, 0x03};
const Bytes kStartCommReply{0x83, 0xF1, 0x10, 0xC1, 0xEF, 0x8F, 0xC3};

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(FastInit, EchoThenPositiveResponseWithKeyBytes) {
  Rig r;
  EXPECT_EQ(r.FastInit(), Concat(kStartComm, kStartCommReply));
  EXPECT_EQ(r.engine.phase(), Phase::Session);
  EXPECT_FALSE(r.engine.Iso9141Session());
}

TEST(FastInit, FunctionalStartCommunicationIsAnsweredPhysically) {
  Rig r;
  r.Break(true);
  r.Wait(35);
  r.Break(false);
  r.Wait(15);  // the settings window's defaults
  const Bytes req = WithChecksum({0xC1, 0x33, 0xF1, 0x81});
  r.Write(req);
  r.Wait(200);
  EXPECT_EQ(r.Take(), Concat(req, kStartCommReply));
}

TEST(FastInit, TimingOfEchoAndAnswer) {
  Rig r;
  r.Break(true);
  r.Wait(25);
  r.Break(false);
  r.Wait(25);
  const Micros sent = r.now;
  r.Write(kStartComm);
  r.Wait(200);
  const auto line = r.TakeTimed();
  ASSERT_EQ(line.size(), 12u);
  const Micros byte = 962;  // 10 bits at 10400 baud
  for (int i = 0; i < 5; ++i) EXPECT_NEAR(line[i].due - sent, (i + 1) * byte, 2);
  // P2 (25 ms) from the end of the request to the start of the answer.
  EXPECT_NEAR(line[5].due - line[4].due, Ms(25) + byte, 2);
  // P1 (0.5 ms) between the ECU's bytes.
  for (int i = 6; i < 12; ++i) EXPECT_NEAR(line[i].due - line[i - 1].due, Ms(0.5) + byte, 2);
}

TEST(FastInit, WrongWakeUpPatternsStaySilent) {
  struct Case {
    double idle, low, high;
    const char* what;
  };
  const Case cases[] = {
      {5000, 5, 25, "low time too short"},
      {5000, 60, 25, "low time too long"},
      {5000, 25, 70, "high time too long"},
      {100, 25, 25, "bus not quiet before the wake-up"},
  };
  for (const Case& c : cases) {
    Rig r;
    r.Write({0x00});  // some traffic, then the quiet time
    r.Wait(c.idle);
    r.Take();
    r.Break(true);
    r.Wait(c.low);
    r.Break(false);
    r.Wait(c.high);
    r.Write(kStartComm);
    r.Wait(200);
    EXPECT_EQ(r.Take(), kStartComm) << c.what;  // the echo only
    EXPECT_NE(r.engine.phase(), Phase::Session) << c.what;
  }
}

TEST(FastInit, StartCommunicationWithoutWakeUpIsIgnoredWhenBreaksAreSeen) {
  Rig r;
  r.Write(kStartComm);
  r.Wait(200);
  EXPECT_EQ(r.Take(), kStartComm);
}

TEST(FastInit, OtherRequestOrBadChecksumAfterWakeUpIsIgnored) {
  for (const Bytes& first : {Request({0x01, 0x0C}), Bytes{0x81, 0x10, 0xF1, 0x81, 0x04}}) {
    Rig r;
    r.Break(true);
    r.Wait(25);
    r.Break(false);
    r.Wait(25);
    r.Write(first);
    r.Wait(200);
    EXPECT_EQ(r.Take(), first);
    EXPECT_NE(r.engine.phase(), Phase::Session);
  }
}

TEST(FiveBaud, Iso14230HandshakeByteForByte) {
  Rig r(Builtin("corolla_3zz_5baud"));
  const Micros t0 = r.now;
  const unsigned word = 0x200u | (0x10u << 1);
  for (int bit = 0; bit < 10; ++bit) {
    r.Break(((word >> bit) & 1) == 0);
    r.Wait(200);
  }
  r.Wait(120);
  const auto keys = r.TakeTimed();
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_EQ(keys[0].value, 0x55);
  EXPECT_EQ(keys[1].value, 0xEF);
  EXPECT_EQ(keys[2].value, 0x8F);
  // Sync W1 (40 ms) after the stop bit, key bytes W2 and W3 (10 ms) apart.
  EXPECT_NEAR(keys[0].due - t0, Ms(2040) + 962, 2);
  EXPECT_NEAR(keys[1].due - keys[0].due, Ms(10) + 962, 2);
  r.Write({0x70});
  r.Wait(50);
  r.Write({0xEF});  // the tester's own inverted address
  r.Wait(100);
  const auto rest = r.TakeTimed();
  ASSERT_EQ(rest.size(), 3u);  // echo 70, the ECU's EF after W4, echo of the tester's EF
  EXPECT_EQ(rest[0].value, 0x70);
  EXPECT_EQ(rest[1].value, 0xEF);
  EXPECT_NEAR(rest[1].due - rest[0].due, Ms(25) + 962, 2);
  EXPECT_EQ(rest[2].value, 0xEF);
  EXPECT_EQ(r.engine.phase(), Phase::Session);
  // The tester's inverted address did not disturb the first request.
  r.Wait(60);
  EXPECT_EQ(r.AskPayloads({0x3E}), (std::vector<Bytes>{{0x7E}}));
}

TEST(FiveBaud, FunctionalAddressAndOtherKw2AreAccepted) {
  Rig r(Builtin("corolla_3zz_5baud"));
  const Bytes line = r.FiveBaud(0x33, 0x08);
  EXPECT_EQ(line, (Bytes{0x55, 0xEF, 0x8F, 0xF7, 0xCC, 0xCC}));
  EXPECT_EQ(r.engine.phase(), Phase::Session);
}

TEST(FiveBaud, RejectsForeignAddressAndBadBitTiming) {
  {
    Rig r(Builtin("corolla_3zz_5baud"));
    EXPECT_EQ(r.FiveBaud(0x13), (Bytes{0x70, 0xEC}));  // echoes only
    EXPECT_NE(r.engine.phase(), Phase::Session);
  }
  {
    // Bit 4 of 0x10 starts 60 ms late: off the 200 ms grid.
    Rig r(Builtin("corolla_3zz_5baud"));
    const unsigned word = 0x200u | (0x10u << 1);
    for (int bit = 0; bit < 10; ++bit) {
      r.Break(((word >> bit) & 1) == 0);
      r.Wait(bit == 4 ? 260 : bit == 5 ? 140 : 200);
    }
    r.Wait(300);
    EXPECT_TRUE(r.Take().empty());
  }
  {
    // The line is pulled low again during the stop bit.
    Rig r(Builtin("corolla_3zz_5baud"));
    const unsigned word = 0x200u | (0x10u << 1);
    for (int bit = 0; bit < 9; ++bit) {
      r.Break(((word >> bit) & 1) == 0);
      r.Wait(200);
    }
    r.Break(false);
    r.Wait(100);
    r.Break(true);
    r.Wait(300);
    r.Break(false);
    r.Wait(2500);
    EXPECT_TRUE(r.Take().empty());
  }
}

TEST(FiveBaud, FastInitEcuAlsoAcceptsTheAddressButNine141Ignores25msWakeUp) {
  Rig camry;
  EXPECT_EQ(camry.FiveBaud(0x10), (Bytes{0x55, 0xEF, 0x8F, 0x70, 0xEF, 0xEF}));
  Rig carina(Builtin("carina_7afe_9141"));
  EXPECT_EQ(carina.FastInit(), kStartComm);
}

TEST(Iso9141, HandshakeAndFramesWithoutLength) {
  Rig r(Builtin("carina_7afe_9141"));
  EXPECT_EQ(r.FiveBaud(0x33), (Bytes{0x55, 0x08, 0x08, 0x70, 0xCC, 0xCC}));
  ASSERT_TRUE(r.engine.Iso9141Session());
  r.Wait(60);
  const Bytes req = Request9141({0x01, 0x0D});
  const Bytes answer = r.Ask(req);
  ASSERT_EQ(answer.size(), 7u);
  EXPECT_EQ(Bytes(answer.begin(), answer.begin() + 5), (Bytes{0x48, 0x6B, 0x10, 0x41, 0x0D}));
  EXPECT_EQ(answer.back(), Checksum(answer.data(), answer.size() - 1));
}

TEST(Iso9141, RequestBytesSpacedByP4AreOneRequest) {
  Rig r(Builtin("carina_7afe_9141"));
  r.FiveBaud(0x33);
  r.Wait(60);
  const Bytes req = Request9141({0x21, 0xE4});
  for (std::uint8_t b : req) {
    r.Write({b});
    r.Wait(5);
  }
  r.Wait(150);
  Bytes line = r.Take();
  ASSERT_GE(line.size(), req.size());
  line.erase(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(req.size()));
  ASSERT_EQ(line.size(), 7u);
  EXPECT_EQ(line[3], 0x61);
  EXPECT_EQ(line[4], 0xE4);
}

TEST(Iso9141, ChecksumThatMatchesEarlyDoesNotCutTheRequest) {
  // 68 6A F1 21 sums to E4, so the request 68 6A F1 21 E4 C8 looks complete
  // after its fifth byte; the sixth byte follows before P2 and wins.
  Rig r(Builtin("carina_7afe_9141"));
  r.FiveBaud(0x33);
  r.Wait(60);
  const Bytes answer = r.Ask(Request9141({0x21, 0xE4}));
  ASSERT_EQ(answer.size(), 7u);
  EXPECT_EQ(answer[3], 0x61);
}

TEST(Iso9141, MultiFrameAnswer) {
  Rig r(Builtin("carina_7afe_9141"));
  r.FiveBaud(0x33);
  r.Wait(60);
  const Bytes answer = r.Ask(Request9141({0x09, 0x02}), 400);
  ASSERT_EQ(answer.size(), 5u * 11);
  for (std::size_t m = 0; m < 5; ++m) {
    EXPECT_EQ(answer[m * 11], 0x48);
    EXPECT_EQ(answer[m * 11 + 5], m + 1);  // message number
  }
}

TEST(PseudoTerminal, InitialisationsRecognisedByTheBytesThatFollow) {
  EngineOptions o;
  o.breaks_visible = false;
  {
    Rig r(DefaultScenario(), o);
    r.Write(kStartComm);
    r.Wait(200);
    EXPECT_EQ(r.Take(), Concat(kStartComm, kStartCommReply));
  }
  {
    Rig r(Builtin("corolla_3zz_5baud"), o);
    r.Wait(2000 + 120);  // the address is invisible: only quiet
    r.Write({0x70});
    r.Wait(50);
    r.Write({0xEF});
    r.Wait(60);
    EXPECT_EQ(r.engine.phase(), Phase::Session);
    EXPECT_EQ(r.AskPayloads({0x3E}), (std::vector<Bytes>{{0x7E}}));
  }
  {
    Rig r(Builtin("carina_7afe_9141"), o);
    r.Wait(2100);
    r.Write({0x70});
    r.Wait(50);
    r.Write({0xCC});
    r.Wait(60);
    ASSERT_TRUE(r.engine.Iso9141Session());
    const Bytes answer = r.Ask(Request9141({0x01, 0x05}));
    ASSERT_EQ(answer.size(), 7u);
    EXPECT_EQ(answer[3], 0x41);
  }
  {
    // Two bytes after quiet that are not an inverted address open nothing.
    Rig r(Builtin("corolla_3zz_5baud"), o);
    r.Wait(2100);
    r.Write({0x70});
    r.Wait(50);
    r.Write({0x12});
    r.Wait(60);
    EXPECT_NE(r.engine.phase(), Phase::Session);
  }
}

TEST(PseudoTerminal, AddressByteWrittenAtFiveBaud) {
  EngineOptions o;
  o.breaks_visible = false;
  // ms after the byte the tester's line is at 10400 again, or:
  constexpr double kNever = -1, kBeforeLooked = -2, kChangesHidden = -3;
  struct Case {
    const char* what;
    std::uint8_t address;
    double back_after;
    bool quiet;
    Bytes line;  // what the tester hears
  };
  const Case cases[] = {
      {"5 baud set and back before anyone looked",
       0x10,
       kBeforeLooked,
       true,
       {0x10, 0x55, 0xEF, 0x8F}},
      {"line setting changes not reported", 0x33, kChangesHidden, true, {0x33, 0x55, 0xEF, 0x8F}},
      {"held at 5 baud for 1 s", 0x10, 1000, true, {0x10, 0x55, 0xEF, 0x8F}},
      {"held at 5 baud for good", 0x10, kNever, true, {0x10}},
      {"another ECU's address", 0x13, 0, true, {0x13}},
      {"too little quiet before it", 0x10, 0, false, {0x10}},
  };
  for (const Case& c : cases) {
    Rig r(Builtin("corolla_3zz_5baud"), o);
    if (!c.quiet) {
      r.Write({0x00});
      r.Wait(100);
      r.Take();
    }
    const Micros sent = r.now;
    r.engine.SetLineChangesSeen(c.back_after != kChangesHidden);
    r.engine.SetTesterLine(c.back_after < kNever ? 10400 : 5, c.back_after != kChangesHidden,
                           r.now);
    r.Write({c.address});
    if (c.back_after >= 0) {
      r.Wait(c.back_after);
      r.engine.SetTesterLine(10400, true, r.now);
    }
    const double listened = c.back_after == kNever ? 2000 : std::max(0.0, c.back_after);
    r.now = sent + Ms(listened + 200);
    const auto line = r.TakeTimed();
    Bytes values;
    for (const LineByte& b : line) values.push_back(b.value);
    EXPECT_EQ(values, c.line) << c.what;
    if (line.size() < 4) {
      EXPECT_EQ(r.engine.phase(), Phase::Asleep) << c.what;
      continue;
    }
    // The address ends when the tester leaves 5 baud; the sync follows W1 later.
    EXPECT_NEAR(line[1].due - sent, Ms(listened + 40) + 962, 2) << c.what;
    r.Write({0x70});
    r.Wait(60);
    EXPECT_EQ(r.Take(), (Bytes{0x70, static_cast<std::uint8_t>(~c.address)})) << c.what;
    EXPECT_EQ(r.engine.phase(), Phase::Session) << c.what;
  }
}

TEST(FiveBaud, InvertedKeyByte2WithinTheW4Limits) {
  auto parsed = ParseScenario("protocol 5baud\nw4_limits 25 50\n", "w4.scn");
  ASSERT_TRUE(parsed.scenario) << parsed.error;
  // Key byte 2 has gone out 63 ms after the address; the tester answers
  // W1to4 after the address.
  for (const auto& [w1to4, opens] : {std::pair{70.0, false}, {100.0, true}, {140.0, false}}) {
    Rig r(*parsed.scenario);
    r.FiveBaud(0x10, 0x8F, w1to4);
    EXPECT_EQ(r.engine.phase() == Phase::Session, opens) << w1to4;
  }
}

TEST(Session, ReinitialisationWhileInSession) {
  Rig r;
  r.FastInit();
  r.Wait(300);
  EXPECT_EQ(r.FastInit(), Concat(kStartComm, kStartCommReply));
}

TEST(Session, EndsAfterP3maxWithoutRequests) {
  Rig r;
  r.FastInit();
  r.Wait(4000);
  EXPECT_FALSE(r.AskPayloads({0x3E}).empty());
  r.Wait(5100);
  EXPECT_TRUE(r.AskPayloads({0x3E}).empty());
  EXPECT_EQ(r.engine.phase(), Phase::Asleep);
}

TEST(Session, TesterAtAnotherSpeedGetsEchoesOnly) {
  Rig r;
  r.engine.SetTesterBaud(9600);
  EXPECT_EQ(r.FastInit(), kStartComm);
  r.engine.SetTesterBaud(10400);
  r.Wait(500);
  EXPECT_EQ(r.FastInit(), Concat(kStartComm, kStartCommReply));
}

TEST(Session, RequestsForOtherAddressesOrWithBadChecksumAreNotAnswered) {
  Rig r;
  r.FastInit();
  r.Wait(60);
  EXPECT_TRUE(r.AskPayloads({0x01, 0x0C}).size() == 1);
  EXPECT_TRUE(Payloads(r.Ask(Request({0x01, 0x0C}, 0x11))).empty());
  Bytes bad = Request({0x01, 0x0C});
  bad.back() ^= 1;
  EXPECT_TRUE(Payloads(r.Ask(bad)).empty());
  // A functional request to 33 is answered from 10.
  EXPECT_EQ(Payloads(r.Ask(Request({0x3E}, 0x33, true))), (std::vector<Bytes>{{0x7E}}));
}

TEST(Session, PartialFrameIsDroppedAfterAGap) {
  Rig r;
  r.FastInit();
  r.Wait(60);
  r.Write({0x82, 0x10});  // a request cut short
  r.Wait(100);
  EXPECT_EQ(r.AskPayloads({0x3E}), (std::vector<Bytes>{{0x7E}}));
}

TEST(Session, MultiFrameAnswerFitsBeforeTheTestersNextRequest) {
  Rig r;
  r.FastInit();
  r.Wait(60);
  r.Take();
  const Bytes req = Request({0x09, 0x02});
  r.Write(req);
  const Micros sent = r.now;
  r.Wait(1000);
  const auto line = r.TakeTimed();
  ASSERT_EQ(line.size(), req.size() + 5 * 11);
  // The session waits P2 (80 ms) and P3 (60 ms) before its next request.
  EXPECT_LT(line.back().due - sent, Ms(140));
}

TEST(Session, NewRequestWithdrawsAnAnswerNotYetBegun) {
  EngineOptions o;
  AddFault(o.faults, "slow:100");
  Rig r(DefaultScenario(), o);
  r.Break(true);
  r.Wait(25);
  r.Break(false);
  r.Wait(25);
  r.Write(kStartComm);
  r.Wait(300);
  r.Take();
  r.Write(Request({0x3E}));
  r.Wait(50);
  r.Write(Request({0x01, 0x0D}));
  r.Wait(300);
  const auto payloads = Payloads(r.Take());
  ASSERT_EQ(payloads.size(), 1u);
  EXPECT_EQ(payloads[0][0], 0x41);
}

TEST(Session, StopCommunicationEndsIt) {
  Rig r;
  r.FastInit();
  r.Wait(60);
  EXPECT_EQ(r.AskPayloads({0x82}), (std::vector<Bytes>{{0xC2}}));
  EXPECT_TRUE(r.AskPayloads({0x3E}).empty());
}

TEST(Session, ActuatorAndCodeStateOutlivesTheSession) {
  Rig r;
  r.FastInit();
  r.Wait(60);
  r.AskPayloads({0x04});
  r.Wait(6000);
  r.FastInit();
  r.Wait(60);
  EXPECT_EQ(r.AskPayloads({0x03}), (std::vector<Bytes>{{0x43, 0, 0, 0, 0, 0, 0}}));
}

// --scenario auto: the shipped cars, each behind its own initialisation.
TEST(AutoScenario, ChoosesTheScenarioMadeForTheInitialisation) {
  const std::vector<Scenario> all = BuiltinScenarioList();
  auto named = [&](std::optional<std::size_t> i) {
    return i ? all[*i].name.substr(0, all[*i].name.find(' ', 7)) : std::string("none");
  };
  struct Case {
    InitKind kind;
    std::uint8_t address;
    const char* want;  // the car's name up to its model
  };
  const Case cases[] = {
      {InitKind::Fast, 0x10, "Toyota Camry"},       {InitKind::Fast, 0x33, "Toyota Camry"},
      {InitKind::FiveBaud, 0x10, "Toyota Corolla"}, {InitKind::FiveBaud, 0x33, "Toyota Carina"},
      {InitKind::FiveBaud, 0x13, "none"},           {InitKind::Fast, 0x13, "none"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(named(ChooseScenario(all, c.kind, c.address)), c.want)
        << (c.kind == InitKind::Fast ? "fast " : "5-baud ") << int(c.address);
  }
  // Without the car made for it, the first that accepts the initialisation.
  const std::vector<Scenario> no_fast = {Builtin("carina_7afe_9141"), Builtin("corolla_3zz_5baud")};
  EXPECT_EQ(ChooseScenario(no_fast, InitKind::Fast, 0x10), std::optional<std::size_t>(1));
  EXPECT_EQ(ChooseScenario(no_fast, InitKind::FiveBaud, 0x10), std::optional<std::size_t>(1));
}

TEST(AutoScenario, EachInitialisationGetsItsCarWhichKeepsItsOwnCodes) {
  Rig r(BuiltinScenarioList());
  // Fast init: the ISO 14230 Camry; its stored codes are cleared.
  EXPECT_EQ(r.FastInit(), Concat(kStartComm, kStartCommReply));
  EXPECT_FALSE(r.engine.Iso9141Session());
  r.Wait(60);
  EXPECT_EQ(r.AskPayloads({0x04}), (std::vector<Bytes>{{0x44}}));
  // ISO 9141 address 33 at 5 baud: the Carina, key bytes 08 08, frames without length.
  r.Wait(6000);
  EXPECT_EQ(r.FiveBaud(0x33, 0x08), (Bytes{0x55, 0x08, 0x08, 0xF7, 0xCC, 0xCC}));
  ASSERT_TRUE(r.engine.Iso9141Session());
  r.Wait(60);
  const Bytes answer = r.Ask(Request9141({0x03}));
  ASSERT_GE(answer.size(), 5u);
  EXPECT_EQ(Bytes(answer.begin(), answer.begin() + 5), (Bytes{0x48, 0x6B, 0x10, 0x43, 0x01}))
      << "the Carina's own stored codes";
  // 5-baud address 10: the Corolla, ISO 14230 again.
  r.Wait(6000);
  EXPECT_EQ(r.FiveBaud(0x10), (Bytes{0x55, 0xEF, 0x8F, 0x70, 0xEF, 0xEF}));
  EXPECT_EQ(r.engine.scenario().name.rfind("Toyota Corolla", 0), 0u);
  EXPECT_FALSE(r.engine.Iso9141Session());
  // Back to the Camry: its codes stay cleared.
  r.Wait(6000);
  r.FastInit();
  r.Wait(60);
  EXPECT_EQ(r.AskPayloads({0x03}), (std::vector<Bytes>{{0x43, 0, 0, 0, 0, 0, 0}}));
}

TEST(AutoScenario, KestrelsOwnInitialisationOnAPseudoTerminal) {
  EngineOptions o;
  o.breaks_visible = false;
  Rig r(BuiltinScenarioList(), o);
  r.Wait(2100);  // the address as breaks: only quiet
  r.Write({0xF7});
  r.Wait(50);
  r.Write({0xCC});
  r.Wait(60);
  ASSERT_EQ(r.engine.phase(), Phase::Session);
  EXPECT_TRUE(r.engine.Iso9141Session());
  r.Take();
  // A StartCommunication, even before the session has timed out, is the
  // Camry's fast init (its wake-up unseen); and then again.
  for (int i = 0; i < 2; ++i) {
    r.Wait(400);
    r.Write(kStartComm);
    r.Wait(200);
    EXPECT_EQ(r.Take(), Concat(kStartComm, kStartCommReply)) << i;
    EXPECT_FALSE(r.engine.Iso9141Session()) << i;
  }
}

}  // namespace
}  // namespace kestrel::ecusim::test
