// Scenario files: the shipped ones, every statement, and bad input.
#include "ecusim/scenario.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "ecusim/vehicle.h"

namespace kestrel::ecusim {
namespace {

std::string Error(const std::string& text) {
  auto r = ParseScenario(text, "my.scn");
  EXPECT_FALSE(r.scenario) << text;
  return r.error;
}

TEST(Scenarios, ShippedFilesMatchTheCatalogue) {
  struct Want {
    const char* name;
    Protocol protocol;
    std::uint8_t kb1, kb2;
    double displacement;
    bool automatic;
  };
  for (const Want& w : {Want{"camry_2az_fast", Protocol::Fast14230, 0xEF, 0x8F, 2362, true},
                        Want{"corolla_3zz_5baud", Protocol::FiveBaud14230, 0xEF, 0x8F, 1598, false},
                        Want{"carina_7afe_9141", Protocol::Iso9141, 0x08, 0x08, 1762, true}}) {
    // The built-in copy and the file in the source tree are the same scenario.
    auto builtin = LoadScenario(w.name);
    auto file = LoadScenario(std::string(ECUSIM_SCENARIO_DIR) + "/" + w.name + ".scn");
    ASSERT_TRUE(builtin.scenario) << builtin.error;
    ASSERT_TRUE(file.scenario) << file.error;
    const Scenario& s = *file.scenario;
    EXPECT_EQ(builtin.scenario->pids, s.pids);
    EXPECT_EQ(builtin.scenario->lids, s.lids);
    EXPECT_EQ(s.protocol, w.protocol) << w.name;
    EXPECT_EQ(s.ecu_address, 0x10);
    EXPECT_EQ(s.tester_address, 0xF1);
    EXPECT_EQ(s.functional_address, 0x33);
    EXPECT_EQ(s.key_bytes[0], w.kb1);
    EXPECT_EQ(s.key_bytes[1], w.kb2);
    EXPECT_EQ(s.displacement, w.displacement);
    EXPECT_EQ(s.stored_codes, (std::vector<std::uint16_t>{0x0171, 0x0300, 0x0420, 0x0500}));
    EXPECT_EQ(s.current_codes, (std::vector<std::uint16_t>{0x0171}));
    EXPECT_EQ(s.freeze_frames.size(), 2u);
    // Every family identifier the vehicle module decodes is answered; those
    // of the automatic gearbox only by a car that has one.
    EXPECT_EQ(s.automatic, w.automatic) << w.name;
    for (int id : {0x81, 0x89, 0x95, 0x9B, 0x9D, 0xB1, 0xB4, 0xBB, 0xD0, 0xD5, 0xDA, 0xE1, 0xE4,
                   0xE8, 0xEC, 0xF6, 0xF8, 0xF9, 0xFE}) {
      const bool gearbox = id == 0xB1 || id == 0xB4 || id == 0xBB || id == 0xF8 || id == 0xF9;
      EXPECT_EQ(std::binary_search(s.lids.begin(), s.lids.end(), id), !gearbox || s.automatic)
          << w.name << " " << id;
    }
    EXPECT_EQ(s.actuators.size(), 9u);
  }
  EXPECT_EQ(DefaultScenario().name, LoadScenario("camry_2az_fast").scenario->name);
}

TEST(Scenarios, StatementsAreRead) {
  const char* text =
      "# comment line\r\n"
      "name  My car  # trailing comment\r\n"
      "protocol 9141\n"
      "keybytes 08 08\n"
      "ecu 11\n"
      "p2 30\n"
      "wakeup_low 20 30\n"
      "pids 0C 0D 00\n"
      "data 01 1C 0B\n"
      "data 22 F190 41 42\n"
      "stored P0171 C0123\n"
      "current\n"
      "freeze P0171 10\n"
      "segment 10 0 0 P\n"
      "segment 5 0 20 D\n"
      "cvn 00000001\n"
      "actuator 18 idle\n";
  auto r = ParseScenario(text, "my.scn");
  ASSERT_TRUE(r.scenario) << r.error;
  const Scenario& s = *r.scenario;
  EXPECT_EQ(s.name, "My car");
  EXPECT_EQ(s.protocol, Protocol::Iso9141);
  EXPECT_FALSE(s.accept_fast);
  EXPECT_TRUE(s.accept_5baud);
  EXPECT_EQ(s.ecu_address, 0x11);
  EXPECT_EQ(s.p2, 30);
  EXPECT_EQ(s.wake_low_max, 30);
  EXPECT_EQ(s.pids, (std::vector<std::uint8_t>{0x0C, 0x0D, 0x1C}));  // masks dropped, data adds
  EXPECT_EQ(s.fixed.at(Scenario::FixedKey(0x22, 0xF190)), (Bytes{0x41, 0x42}));
  EXPECT_EQ(s.stored_codes, (std::vector<std::uint16_t>{0x0171, 0x4123}));
  EXPECT_TRUE(s.current_codes.empty());
  EXPECT_EQ(s.drive.size(), 2u);
  EXPECT_EQ(s.cvn, 1u);
  EXPECT_EQ(s.actuators.at(0x18).kind, ActuatorKind::Idle);
}

TEST(Scenarios, BadLinesNameFileAndLine) {
  EXPECT_EQ(Error("name x\nfrobnicate 1\n"), "my.scn:2: unknown statement 'frobnicate'");
  EXPECT_EQ(Error("ecu 1G\n"), "my.scn:1: '1G' is not 2 hex digits");
  EXPECT_EQ(Error("ecu 100\n"), "my.scn:1: '100' is not 2 hex digits");
  EXPECT_EQ(Error("\n\np2 fast\n"), "my.scn:3: 'fast' is not a number");
  EXPECT_EQ(Error("p2 -1\n"), "my.scn:1: '-1' is outside 0..10000");
  EXPECT_EQ(Error("keybytes EF\n"), "my.scn:1: 'keybytes' takes 2 value(s), not 1");
  EXPECT_EQ(Error("stored P0171 Q1234\n"), "my.scn:1: 'Q1234' is not a trouble code (like P0171)");
  EXPECT_EQ(Error("protocol kwp\n"), "my.scn:1: protocol 'kwp' is not fast, 5baud or 9141");
  EXPECT_EQ(Error("segment 10 0 30 P\n"),
            "my.scn:1: the car cannot move with the selector in P or N");
  EXPECT_EQ(Error("segment 10 0 30 X\n"), "my.scn:1: selector 'X' is not one of P R N D 2 L");
  EXPECT_EQ(Error("vin ABC\n"), "my.scn:1: a VIN has 17 characters");
  EXPECT_EQ(Error("data 03 01 02\n"), "my.scn:1: data is given for services 01, 21 and 22, not 03");
  EXPECT_EQ(Error("data 22 12 01\n"), "my.scn:1: '12' is not 4 hex digits");
  EXPECT_EQ(Error("actuator 13 switch\n"),
            "my.scn:1: a switch names the LID and the byte that show it");
  // Checks over the whole file name no line.
  EXPECT_EQ(Error("lids 81\n"),
            "my.scn: LID 81 has no computed value; give its bytes with 'data 21 81 ...'");
  EXPECT_EQ(Error("protocol 9141\ninits fast 5baud\n"),
            "my.scn: an ISO 9141 ECU has no fast initialisation");
  EXPECT_EQ(Error("actuator 13 switch E1 0\n"),
            "my.scn: actuator 13 shows its state in LID E1, which the ECU does not answer");
  EXPECT_EQ(Error("freeze_pids 0C 81\n"), "my.scn: freeze-frame PID 81 has no computed value");
}

TEST(Scenarios, LimitsOnRepeatedStatements) {
  std::string many;
  for (int i = 0; i < 17; ++i) many += "freeze P0171 1\n";
  EXPECT_EQ(Error(many), "my.scn:17: more than 16 freeze frames");
  std::string data = "data 21 81";
  for (int i = 0; i < 61; ++i) data += " 00";
  EXPECT_NE(Error(data).find("my.scn:1: 'data' takes"), std::string::npos);
}

TEST(Scenarios, FilesAndBuiltInNames) {
  auto missing = LoadScenario("/nonexistent/dir/x.scn");
  EXPECT_FALSE(missing.scenario);
  EXPECT_NE(missing.error.find("/nonexistent/dir/x.scn: cannot open"), std::string::npos);
  EXPECT_TRUE(LoadScenario("corolla_3zz_5baud.scn").scenario);

  const std::string path = ::testing::TempDir() + "ecusim_bad.scn";
  {
    std::ofstream f(path);
    f << "name ok\nbaud 10400\nbaud 99\n";
  }
  auto r = LoadScenario(path);
  EXPECT_EQ(r.error, path + ":3: '99' is outside 1200..115200");
  std::remove(path.c_str());
}

}  // namespace
}  // namespace kestrel::ecusim
