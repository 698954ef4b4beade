// The link steps of the adapter check against the simulated adapter and ECU
// in-process: every shipped car passes, and each fault of the simulator is
// named at its own step.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "common/cp1251.h"
#include "ecusim/sim_port.h"
#include "line_rig.h"
#include "link/doctor_link.h"

namespace kestrel::ecusim::test {
namespace {

using doctor::LinkCheckSettings;
using doctor::StepReport;
using doctor::Verdict;

LinkCheckSettings Camry() {
  LinkCheckSettings s;
  s.Protocol = kProtoFast;
  s.FirstRequest = {0x82, 0x10, 0xF1, 0x21, 0x01};
  return s;
}

LinkCheckSettings Corolla() {
  LinkCheckSettings s;
  s.Protocol = kProto5Baud;
  s.Kw2 = 0x8F;
  s.W5 = 400;
  s.FirstRequest = {0x82, 0x10, 0xF1, 0x01, 0x01};
  return s;
}

LinkCheckSettings Carina() {
  LinkCheckSettings s;
  s.Protocol = kProto9141;
  s.Kw2 = 0x08;
  s.W5 = 400;
  s.FirstRequest = {0x68, 0x6A, 0xF1, 0x01, 0x01};
  return s;
}

struct Case {
  const char* scenario;
  const char* fault;  // empty: none
  LinkCheckSettings settings;
  int failingStep;          // 0 echo, 1 initialisation, 2 first request; -1 none
  const char* foundPhrase;  // in the failing step's text (UTF-8)
};

std::vector<StepReport> Check(const Case& c) {
  EngineOptions o;
  if (*c.fault) {
    EXPECT_EQ(AddFault(o.faults, c.fault), "");
  }
  auto ecu = std::make_shared<SimEcu>(Builtin(c.scenario), o);
  SimPort port(ecu);
  EXPECT_EQ(port.Open("sim", 10400), 0);
  std::vector<StepReport> steps =
      doctor::RunLinkSteps(port, SystemClock(), c.settings, nullptr, nullptr);
  port.Close();
  return steps;
}

void Expect(const Case& c) {
  SCOPED_TRACE(std::string(c.scenario) + " " + c.fault);
  const std::vector<StepReport> steps = Check(c);
  ASSERT_EQ(steps.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    const StepReport& s = steps[static_cast<std::size_t>(i)];
    const std::string found = cp1251::ToUtf8(s.Found);
    if (c.failingStep < 0 || i < c.failingStep) {
      EXPECT_TRUE(doctor::Passed(s)) << i << ": " << found;
    } else if (i == c.failingStep) {
      EXPECT_EQ(s.Result, Verdict::Failed) << i << ": " << found;
      EXPECT_NE(found.find(c.foundPhrase), std::string::npos) << found;
      EXPECT_FALSE(s.Advice.empty());
    } else {
      EXPECT_EQ(s.Result, Verdict::NotRun) << i;
    }
  }
}

TEST(Doctor, FastInitCarAndItsFaults) {
  const Case cases[] = {
      {"camry_2az_fast", "", Camry(), -1, ""},
      {"camry_2az_fast", "no-echo", Camry(), 0, "не возвращаются"},
      {"camry_2az_fast", "silent", Camry(), 1, "нет ответа на StartCommunication"},
      {"camry_2az_fast", "slow", Camry(), 2, "позже P2"},
      {"camry_2az_fast", "vanish:0", Camry(), 2, "адаптер пропал"},
      {"camry_2az_fast", "negative", Camry(), 2, "отрицательный ответ на запрос 82 10 F1 21 01"},
  };
  for (const Case& c : cases) Expect(c);
}

TEST(Doctor, FiveBaudCarsAndTheirFaults) {
  const Case cases[] = {
      {"corolla_3zz_5baud", "", Corolla(), -1, ""},
      {"carina_7afe_9141", "", Carina(), -1, ""},
      {"corolla_3zz_5baud", "silent", Corolla(), 1, "нет байта синхронизации 55"},
      {"corolla_3zz_5baud", "wrong-keys", Corolla(), 1, "неожиданные ключевые байты 08 08"},
  };
  for (const Case& c : cases) Expect(c);
}

TEST(Doctor, EchoFiguresAndFirstRequestChoice) {
  auto ecu = std::make_shared<SimEcu>(DefaultScenario(), EngineOptions{});
  SimPort port(ecu);
  ASSERT_EQ(port.Open("sim", 10400), 0);
  doctor::EchoFigures f;
  const StepReport echo = doctor::EchoStep(port, SystemClock(), nullptr, &f);
  EXPECT_EQ(echo.Result, Verdict::Passed) << cp1251::ToUtf8(echo.Found);
  EXPECT_EQ(f.Sent, doctor::kEchoBytes);
  EXPECT_EQ(f.Returned, doctor::kEchoBytes);
  // A byte takes 0.96 ms on the line at 10400 baud.
  EXPECT_GE(f.MedianMs, 0.9);
  EXPECT_GE(f.WorstMs, f.MedianMs);
  EXPECT_LT(f.MedianMs, 50);

  // The first request that only reads: a clearing or actuator request never.
  static vorta::RequestTable tables[kRequestTableCount];
  auto put = [](vorta::RequestTable& t, std::initializer_list<std::uint8_t> bytes) {
    vorta::RequestEntry& e = t.Entries[t.Count++];
    std::copy(bytes.begin(), bytes.end(), e.Data);
    e.Length = static_cast<std::uint16_t>(bytes.size());
  };
  LinkSettingsRecord link;
  link.BaudRate = 10400;
  put(tables[kDtcClearTable], {0x81, 0x10, 0xF1, 0x14});
  put(tables[kLiveTable], {0x83, 0x10, 0xF1, 0x30, 0x01, 0x00});
  EXPECT_TRUE(doctor::CheckSettingsFrom(link, tables).FirstRequest.empty());
  put(tables[kInfoTable], {0x82, 0x10, 0xF1, 0x09, 0x02});
  put(tables[kLiveTable], {0x82, 0x10, 0xF1, 0x21, 0x01});
  EXPECT_EQ(doctor::CheckSettingsFrom(link, tables).FirstRequest,
            (std::vector<std::uint8_t>{0x82, 0x10, 0xF1, 0x21, 0x01}));
}

TEST(Doctor, AnswerFrames) {
  using B = std::vector<std::uint8_t>;
  struct FrameCase {
    B bytes;
    bool iso9141, complete, checksumOk;
    B data;
  };
  const FrameCase cases[] = {
      {{0x83, 0xF1, 0x10, 0xC1, 0xEF, 0x8F, 0xC3}, false, true, true, {0xC1, 0xEF, 0x8F}},
      {{0x83, 0xF1, 0x10, 0xC1, 0xEF, 0x8F, 0xC4}, false, true, false, {0xC1, 0xEF, 0x8F}},
      {{0x83, 0xF1, 0x10, 0xC1, 0xEF}, false, false, false, {}},
      // Length in its own byte after the addresses.
      {{0x80, 0xF1, 0x10, 0x02, 0x50, 0x81, 0x54}, false, true, true, {0x50, 0x81}},
      {{0x48, 0x6B, 0x10, 0x41, 0x0D, 0x00, 0x11}, true, true, true, {0x41, 0x0D, 0x00}},
      // Two ISO 9141 frames back to back: the first.
      {{0x48, 0x6B, 0x10, 0x41, 0x0D, 0x00, 0x11, 0x48, 0x6B, 0x10, 0x41, 0x0D, 0x00, 0x11},
       true,
       true,
       true,
       {0x41, 0x0D, 0x00}},
      {{0x48, 0x6B, 0x10, 0x41, 0x0D, 0x00, 0x12}, true, true, false, {0x41, 0x0D, 0x00}},
  };
  for (const FrameCase& c : cases) {
    const doctor::AnswerFrame f = doctor::ParseAnswer(c.bytes, c.iso9141);
    EXPECT_EQ(f.Complete, c.complete) << doctor::HexBytes(c.bytes);
    EXPECT_EQ(f.ChecksumOk, c.checksumOk) << doctor::HexBytes(c.bytes);
    if (c.complete) {
      EXPECT_EQ(f.Data, c.data) << doctor::HexBytes(c.bytes);
    }
  }
}

}  // namespace
}  // namespace kestrel::ecusim::test
