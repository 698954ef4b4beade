// Faults: how they are given, and what the line then carries.
#include "ecusim/faults.h"

#include <gtest/gtest.h>

#include "line_rig.h"

namespace kestrel::ecusim::test {
namespace {

TEST(FaultNames, NamesValuesAndRefusals) {
  Faults f;
  EXPECT_EQ(AddFault(f, "crc:0.1"), "");
  EXPECT_DOUBLE_EQ(f.crc_rate, 0.1);
  EXPECT_EQ(AddFault(f, "noise"), "");
  EXPECT_DOUBLE_EQ(f.noise_rate, 1.0);
  EXPECT_EQ(AddFault(f, "slow"), "");
  EXPECT_DOUBLE_EQ(f.slow_ms, 120);
  EXPECT_EQ(AddFault(f, "split:7"), "");
  EXPECT_EQ(AddFault(f, "stop-after:3"), "");
  EXPECT_EQ(f.stop_after, 3);
  EXPECT_EQ(AddFault(f, "vanish"), "");
  EXPECT_EQ(f.vanish_after, 1);
  EXPECT_EQ(AddFault(f, "no-echo"), "");
  EXPECT_EQ(AddFault(f, "silent"), "");
  EXPECT_EQ(AddFault(f, "wrong-keys"), "");
  EXPECT_EQ(f.Describe(),
            "no-echo silent crc:0.1 noise:1 split:7 slow:120 stop-after:3 vanish:1 wrong-keys");

  for (const char* bad :
       {"crc:2", "crc:0", "crc:x", "stop-after", "stop-after:-1", "stop-after:1.5", "slow:0",
        "silent:1", "bogus", "split:99999", "wrong-keys:1"}) {
    Faults g;
    EXPECT_NE(AddFault(g, bad), "") << bad;
    EXPECT_FALSE(g.Any()) << bad;
  }
}

Rig FaultyRig(const char* given, Scenario s = DefaultScenario()) {
  EngineOptions o;
  EXPECT_EQ(AddFault(o.faults, given), "");
  return Rig(std::move(s), std::move(o));
}

TEST(Faults, NoEchoLeavesOnlyTheEcu) {
  Rig r = FaultyRig("no-echo");
  EXPECT_EQ(r.FastInit(), (Bytes{0x83, 0xF1, 0x10, 0xC1, 0xEF, 0x8F, 0xC3}));
}

TEST(Faults, SilentEcuStillEchoes) {
  Rig r = FaultyRig("silent");
  EXPECT_EQ(r.FastInit(), (Bytes{0x81, 0x10, 0xF1, 0x81, 0x03}));
  Rig b = FaultyRig("silent", Builtin("corolla_3zz_5baud"));
  EXPECT_EQ(b.FiveBaud(0x10), (Bytes{0x70, 0xEF}));
}

TEST(Faults, ChecksumErrors) {
  Rig r = FaultyRig("crc");
  r.FastInit();
  r.Wait(60);
  const auto frames = Frames14230(r.Ask(Request({0x01, 0x0C})));
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_NE(frames[0].back(), Checksum(frames[0].data(), frames[0].size() - 1));

  // At a rate: roughly that share of 400 answers is spoilt.
  Rig some = FaultyRig("crc:0.25");
  some.FastInit();
  int bad = 0;
  for (int i = 0; i < 400; ++i) {
    some.Wait(60);
    const auto f = Frames14230(some.Ask(Request({0x3E}), 80));
    ASSERT_EQ(f.size(), 1u);
    bad += f[0].back() != Checksum(f[0].data(), f[0].size() - 1);
  }
  EXPECT_GT(bad, 60);
  EXPECT_LT(bad, 140);
}

TEST(Faults, NoiseBeforeFramesCannotStartAFrame) {
  Rig r = FaultyRig("noise");
  r.FastInit();
  r.Wait(60);
  const Bytes line = r.Ask(Request({0x01, 0x0D}));
  ASSERT_GT(line.size(), 6u);
  std::size_t noise = 0;
  while (noise < line.size() && line[noise] < 0x40) ++noise;
  EXPECT_GE(noise, 1u);
  EXPECT_LE(noise, 3u);
  const auto frames =
      Frames14230(Bytes(line.begin() + static_cast<std::ptrdiff_t>(noise), line.end()));
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0][3], 0x41);
}

TEST(Faults, SplitFramePausesInTheMiddle) {
  Rig r = FaultyRig("split:20");
  r.FastInit();
  r.Wait(60);
  r.Take();
  r.Write(Request({0x01, 0x0C}));
  r.Wait(200);
  const auto line = r.TakeTimed();
  Micros longest = 0;
  for (std::size_t i = 7; i < line.size(); ++i)
    longest = std::max(longest, line[i].due - line[i - 1].due);
  EXPECT_GE(longest, Ms(20));
  Bytes values;
  for (const auto& x : line) values.push_back(x.value);
  EXPECT_EQ(Payloads(Bytes(values.begin() + 6, values.end())).size(), 1u);  // after the echo
}

TEST(Faults, SlowAnswersComeAfterTheGivenTime) {
  Rig r = FaultyRig("slow:150");
  r.Break(true);
  r.Wait(25);
  r.Break(false);
  r.Wait(25);
  r.Write({0x81, 0x10, 0xF1, 0x81, 0x03});
  r.Wait(500);
  r.Take();
  r.Write(Request({0x3E}));
  r.Wait(500);
  const auto line = r.TakeTimed();
  ASSERT_EQ(line.size(), 10u);
  EXPECT_NEAR(line[5].due - line[4].due, Ms(150) + 962, 2);
}

TEST(Faults, StopAfterAnswersFallsSilentForGood) {
  Rig r = FaultyRig("stop-after:2");
  r.FastInit();
  for (int i = 0; i < 2; ++i) {
    r.Wait(60);
    EXPECT_EQ(r.AskPayloads({0x3E}).size(), 1u);
  }
  r.Wait(60);
  EXPECT_TRUE(r.AskPayloads({0x3E}).empty());
  r.Wait(1000);
  EXPECT_EQ(r.FastInit(), (Bytes{0x81, 0x10, 0xF1, 0x81, 0x03}));
}

TEST(Faults, NegativeResponses) {
  Rig r = FaultyRig("negative");
  r.FastInit();
  r.Wait(60);
  EXPECT_EQ(r.AskPayloads({0x01, 0x0C}), (std::vector<Bytes>{{0x7F, 0x01, 0x22}}));
  r.Wait(60);
  EXPECT_EQ(r.AskPayloads({0x03}), (std::vector<Bytes>{{0x7F, 0x03, 0x22}}));
}

TEST(Faults, VanishAfterAnswers) {
  Rig r = FaultyRig("vanish:2");
  r.FastInit();
  EXPECT_FALSE(r.engine.VanishAt());
  r.Wait(60);
  r.AskPayloads({0x3E});
  EXPECT_FALSE(r.engine.VanishAt());
  r.Wait(60);
  r.Take();
  r.Write(Request({0x3E}));
  const Micros sent = r.now;
  ASSERT_TRUE(r.engine.VanishAt());
  EXPECT_GT(*r.engine.VanishAt(), sent + Ms(25));  // after the last byte of the answer

  Rig at_once = FaultyRig("vanish:0");
  at_once.FastInit();
  EXPECT_FALSE(at_once.engine.VanishAt());
  at_once.Wait(60);
  at_once.Ask(Request({0x3E}));
  EXPECT_TRUE(at_once.engine.VanishAt());
}

TEST(Faults, WrongKeyBytesInEveryInitialisation) {
  Rig fast = FaultyRig("wrong-keys");
  EXPECT_EQ(fast.FastInit(),
            (Bytes{0x81, 0x10, 0xF1, 0x81, 0x03, 0x83, 0xF1, 0x10, 0xC1, 0x08, 0x08, 0x55}));
  Rig five = FaultyRig("wrong-keys", Builtin("corolla_3zz_5baud"));
  EXPECT_EQ(five.FiveBaud(0x10), (Bytes{0x55, 0x08, 0x08, 0x70, 0xEF, 0xEF}));
  Rig iso = FaultyRig("wrong-keys", Builtin("carina_7afe_9141"));
  EXPECT_EQ(iso.FiveBaud(0x33, 0x08), (Bytes{0x55, 0xEF, 0x8F, 0xF7, 0xCC, 0xCC}));
}

}  // namespace
}  // namespace kestrel::ecusim::test
