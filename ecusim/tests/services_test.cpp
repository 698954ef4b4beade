// What the ECU answers to each service, and how its values move.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "ecusim/engine.h"
#include "line_rig.h"

namespace kestrel::ecusim::test {
namespace {

using Answers = std::vector<Bytes>;

struct Ecu {
  Engine engine{DefaultScenario(), {}, 0};
  Answers Ask(Bytes request, double seconds = 1000) {
    return engine.Services(request, Ms(seconds * 1000));
  }
  Bytes One(Bytes request, double seconds = 1000) {
    Answers a = Ask(std::move(request), seconds);
    EXPECT_EQ(a.size(), 1u);
    return a.empty() ? Bytes{} : a[0];
  }
  // Decoded like the vehicle module does.
  double Rpm(double s, std::uint8_t service = 0x01) {
    const Bytes b = One({service, 0x0C}, s);
    return (b[2] * 256 + b[3]) / 4.0;
  }
};

bool MaskHas(const Bytes& answer, std::uint8_t base, std::uint8_t id) {
  const int rel = id - base - 1;
  return (answer[2 + rel / 8] & (0x80 >> (rel % 8))) != 0;
}

TEST(Service01, SupportMasksFollowTheScenario) {
  Ecu e;
  const Scenario& s = e.engine.scenario();
  const Bytes m00 = e.One({0x01, 0x00});
  ASSERT_EQ(m00.size(), 6u);
  EXPECT_EQ(m00[0], 0x41);
  for (int id = 1; id < 0x20; ++id) {
    const bool listed = std::count(s.pids.begin(), s.pids.end(), id) > 0;
    EXPECT_EQ(MaskHas(m00, 0x00, static_cast<std::uint8_t>(id)), listed) << id;
  }
  EXPECT_TRUE(MaskHas(m00, 0x00, 0x20));  // the next mask answers
  const Bytes m40 = e.One({0x01, 0x40});
  EXPECT_TRUE(MaskHas(m40, 0x40, 0x4C));
  EXPECT_FALSE(MaskHas(m40, 0x40, 0x60));  // nothing above 0x4C
  EXPECT_EQ(e.One({0x01, 0x60}), (Bytes{0x7F, 0x01, 0x12}));
}

TEST(Service01, UnsupportedAndShortRequests) {
  Ecu e;
  EXPECT_EQ(e.One({0x01, 0x02}), (Bytes{0x7F, 0x01, 0x12}));
  EXPECT_EQ(e.One({0x01, 0x0A}), (Bytes{0x7F, 0x01, 0x12}));
  EXPECT_EQ(e.One({0x01}), (Bytes{0x7F, 0x01, 0x12}));
}

TEST(Service01, ValuesDecodePlausiblyThroughWarmUpIdleAndDriving) {
  Ecu e;
  // Cold start: fast idle, cold coolant, open loop.
  EXPECT_NEAR(e.Rpm(1), 1200, 30);
  EXPECT_NEAR(e.One({0x01, 0x05}, 1)[2] - 40, 20, 2);
  EXPECT_EQ(e.One({0x01, 0x03}, 1)[2], 1);
  // Warm (after a few loops of the drive), idling in P at the loop's start.
  const double loop = 284;  // the default drive's length in seconds
  const double warm_idle = 8 * loop + 30;
  EXPECT_NEAR(e.Rpm(warm_idle), 700, 30);
  EXPECT_NEAR(e.One({0x01, 0x05}, warm_idle)[2] - 40, 90, 2);
  EXPECT_EQ(e.One({0x01, 0x03}, warm_idle)[2], 2);  // closed loop
  EXPECT_EQ(e.One({0x01, 0x0D}, warm_idle)[2], 0);
  // Cruising at 70 km/h: about 1630 rpm in fourth with the lock-up closed.
  const double cruise = 8 * loop + 150;
  EXPECT_EQ(e.One({0x01, 0x0D}, cruise)[2], 70);
  EXPECT_NEAR(e.Rpm(cruise), 1630, 60);
  const Bytes maf = e.One({0x01, 0x10}, cruise);
  EXPECT_GT((maf[2] * 256 + maf[3]) / 100.0, 3.0);
  // Service 21 answers the same numbers.
  EXPECT_EQ(e.Rpm(cruise, 0x21), e.Rpm(cruise));
}

TEST(Service01, StatusCarriesLampAndCodeCount) {
  Ecu e;
  EXPECT_EQ(e.One({0x01, 0x01})[2], 0x84);
  EXPECT_EQ(e.One({0x04}), (Bytes{0x44}));
  EXPECT_EQ(e.One({0x01, 0x01})[2], 0x00);
}

TEST(Service21, TransmissionAndFamilyIdentifiers) {
  Ecu e;
  const double loop = 284, base = 8 * loop;
  // Parked: gear 0.
  EXPECT_EQ(e.One({0x21, 0xF8}, base + 30), (Bytes{0x61, 0xF8, 0x00}));
  // Cruising: fourth gear with lock-up.
  EXPECT_EQ(e.One({0x21, 0xF8}, base + 150), (Bytes{0x61, 0xF8, 0x0C}));
  EXPECT_EQ(e.One({0x21, 0xBB}, base + 150), (Bytes{0x61, 0xBB, 0x04, 0x01}));
  // Coasting down from 70: fuel cut, no injection.
  EXPECT_EQ(e.One({0x21, 0xE8}, base + 180)[3] & 3, 1);
  EXPECT_EQ(e.One({0x21, 0xE4}, base + 180)[2], 0);
  EXPECT_GT(e.One({0x21, 0xE4}, base + 150)[2], 0);
  // Fluid temperature AB*0.004-40 near its warm value.
  const Bytes b4 = e.One({0x21, 0xB4}, base + 150);
  EXPECT_NEAR((b4[2] * 256 + b4[3]) * 0.004 - 40, 80, 3);
  // Fixed bytes from the scenario, and the identification.
  EXPECT_EQ(e.One({0x21, 0x9C}), (Bytes{0x61, 0x9C, 0x80, 0x80, 0x80, 0x80}));
  EXPECT_EQ(e.One({0x21, 0xD3}), (Bytes{0x61, 0xD3, '8', '9', '6', '6', '1'}));
  EXPECT_EQ(e.One({0x21, 0x50}), (Bytes{0x7F, 0x21, 0x12}));
  EXPECT_EQ(e.One({0x21, 0x80})[0], 0x61);  // mask: family LIDs above 0x80 exist
}

// LID F9 as the dashboard reads it: 0x001 3, 0x004 D, 0x100 L, 0x200 2,
// 0x400 R, 0x1000 overdrive off; N and P set none of 0x70F.
TEST(Service21, ShiftLeverBitsAndGearsFollowTheDrive) {
  struct Point {
    const char* where;
    double at;  // seconds into the default drive's loop
    std::uint16_t lever;
    int max_gear;
  };
  Ecu e;
  const double base = 8 * 284;
  for (const Point& p :
       {Point{"parked", 30, 0x0000, 0}, Point{"cruising in D", 150, 0x0004, 4},
        Point{"engine braking in 2", 255, 0x0200, 2}, Point{"engine braking in L", 261, 0x0100, 1},
        Point{"neutral", 265.5, 0x0000, 0}, Point{"reversing", 271, 0x0400, 1},
        Point{"parked again", 280, 0x0000, 0}}) {
    const Bytes f9 = e.One({0x21, 0xF9}, base + p.at);
    ASSERT_EQ(f9.size(), 4u) << p.where;
    EXPECT_EQ(f9[2] * 256 + f9[3], p.lever) << p.where;
    const int gear = e.One({0x21, 0xF8}, base + p.at)[2] & 7;
    EXPECT_LE(gear, p.max_gear) << p.where;
    EXPECT_EQ(gear == 0, p.max_gear == 0) << p.where;
  }

  // A lever with a 3 position, and the overdrive switch off in D.
  Scenario s = DefaultScenario();
  s.drive = {{60, 80, 80, '3'}, {60, 80, 80, 'D'}};
  for (const bool od_off : {false, true}) {
    s.od_off = od_off;
    Engine engine(s, {}, 0);
    const std::uint16_t od = od_off ? 0x1000 : 0;
    const Bytes three = engine.Services({0x21, 0xF9}, Ms(30000))[0];
    EXPECT_EQ(three[2] * 256 + three[3], 0x0001 | od) << od_off;  // the switch in any position
    const Bytes d = engine.Services({0x21, 0xF9}, Ms(90000))[0];
    EXPECT_EQ(d[2] * 256 + d[3], 0x0004 | od) << od_off;
    EXPECT_EQ(engine.Services({0x21, 0xF8}, Ms(30000))[0][2] & 7, 3);
    EXPECT_EQ(engine.Services({0x21, 0xF8}, Ms(90000))[0][2] & 0x17, od_off ? 0x13 : 0x04);
  }

  // A manual gearbox has no gearbox identifiers, even where a scenario lists them.
  s.automatic = false;
  Engine manual(s, {}, 0);
  for (std::uint8_t lid : {0xB4, 0xBB, 0xF8, 0xF9, 0xFC, 0xFD}) {
    EXPECT_EQ(manual.Services({0x21, lid}, Ms(30000))[0][0], 0x7F) << int{lid};
  }
  EXPECT_EQ(manual.Services({0x21, 0xE1}, Ms(30000))[0][0], 0x61);
}

TEST(Service22, ListedIdentifiersOnly) {
  Ecu e;
  EXPECT_EQ(e.One({0x22, 0x01, 0x01}), (Bytes{0x62, 0x01, 0x01, 0x00, 0x2A}));
  EXPECT_EQ(e.One({0x22, 0x99, 0x99}), (Bytes{0x7F, 0x22, 0x31}));
  EXPECT_EQ(e.One({0x22, 0x01}), (Bytes{0x7F, 0x22, 0x12}));
}

TEST(TroubleCodes, StoredCurrentAndByStatus) {
  Ecu e;
  EXPECT_EQ(e.Ask({0x03}), (Answers{{0x43, 0x01, 0x71, 0x03, 0x00, 0x04, 0x20},
                                    {0x43, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00}}));
  EXPECT_EQ(e.Ask({0x13}), (Answers{{0x53, 0x01, 0x71, 0x03, 0x00, 0x04, 0x20},
                                    {0x53, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00}}));
  EXPECT_EQ(e.Ask({0x07}), (Answers{{0x47, 0x01, 0x71, 0x00, 0x00, 0x00, 0x00}}));
  EXPECT_EQ(e.Ask({0x18, 0x00, 0xFF, 0x00}), (Answers{{0x58, 0x04, 0x01, 0x71, 0x60, 0x03, 0x00,
                                                       0x20, 0x04, 0x20, 0x20, 0x05, 0x00, 0x20}}));
}

TEST(TroubleCodes, ClearingReallyClearsCodesAndFreezeFrames) {
  for (const Bytes& clear : {Bytes{0x04}, Bytes{0x14, 0xFF, 0x00}}) {
    Ecu e;
    const Answers reply = e.Ask(clear);
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_EQ(reply[0][0], clear[0] + 0x40);
    EXPECT_EQ(e.Ask({0x03}), (Answers{{0x43, 0, 0, 0, 0, 0, 0}}));
    EXPECT_EQ(e.Ask({0x07}), (Answers{{0x47, 0, 0, 0, 0, 0, 0}}));
    EXPECT_EQ(e.One({0x02, 0x02, 0x00}), (Bytes{0x42, 0x02, 0x00, 0x00, 0x00}));
    EXPECT_EQ(e.One({0x02, 0x0C, 0x00}), (Bytes{0x7F, 0x02, 0x12}));
    EXPECT_EQ(e.engine.FreezeFrames(), 0u);
  }
  Ecu e;
  EXPECT_EQ(e.One({0x14, 0xFF, 0x00}), (Bytes{0x54, 0xFF, 0x00}));
}

TEST(FreezeFrames, CodeAndValuesPerFrame) {
  Ecu e;
  EXPECT_EQ(e.One({0x02, 0x02, 0x00}), (Bytes{0x42, 0x02, 0x00, 0x01, 0x71}));
  EXPECT_EQ(e.One({0x02, 0x02, 0x01}), (Bytes{0x42, 0x02, 0x01, 0x03, 0x00}));
  // Frame 0 holds the values of second 600 of the drive, whatever the time now.
  const Bytes a = e.One({0x02, 0x0C, 0x00}, 10), b = e.One({0x02, 0x0C, 0x00}, 3000);
  EXPECT_EQ(a, b);
  const Bytes live = e.One({0x01, 0x0C}, 600);
  EXPECT_EQ(Bytes(a.begin() + 3, a.end()), Bytes(live.begin() + 2, live.end()));
  const Bytes mask = e.One({0x02, 0x00, 0x00});
  ASSERT_EQ(mask.size(), 7u);
  EXPECT_EQ(mask[3] & 0x40, 0x40);  // PID 02
  EXPECT_EQ(e.One({0x02, 0x0C, 0x05}), (Bytes{0x7F, 0x02, 0x12}));
  EXPECT_EQ(e.One({0x02, 0x1C, 0x00}), (Bytes{0x7F, 0x02, 0x12}));
}

TEST(Service09, VehicleInformation) {
  Ecu e;
  EXPECT_EQ(e.One({0x09, 0x00}), (Bytes{0x49, 0x00, 0x01, 0xFC, 0x00, 0x00, 0x00}));
  const Answers vin = e.Ask({0x09, 0x02});
  ASSERT_EQ(vin.size(), 5u);
  std::string text;
  for (std::size_t m = 0; m < 5; ++m) {
    ASSERT_EQ(vin[m].size(), 7u);
    EXPECT_EQ(vin[m][2], m + 1);
    text.append(vin[m].begin() + 3, vin[m].end());
  }
  EXPECT_EQ(text, std::string("\0\0\0", 3) + "JTNBE46K073012345");
  EXPECT_EQ(e.Ask({0x09, 0x02, 0x03}).size(), 1u);
  const Answers cal = e.Ask({0x09, 0x04});
  ASSERT_EQ(cal.size(), 2u);
  EXPECT_EQ(cal[1], (Bytes{0x49, 0x04, 0x02, '1', '0', '0', '0'}));
  EXPECT_EQ(e.One({0x09, 0x06}), (Bytes{0x49, 0x06, 0x01, 0x1A, 0x2B, 0x3C, 0x4D}));
  EXPECT_EQ(e.One({0x09, 0x0A}), (Bytes{0x7F, 0x09, 0x12}));
}

TEST(Sessions, DiagnosticModeResetTesterPresentAndUnknownServices) {
  Ecu e;
  EXPECT_EQ(e.One({0x10, 0x01, 0x00}), (Bytes{0x50, 0x01}));
  EXPECT_TRUE(e.engine.TestMode());
  EXPECT_EQ(e.One({0x10, 0x00}), (Bytes{0x50, 0x00}));
  EXPECT_FALSE(e.engine.TestMode());
  EXPECT_EQ(e.One({0x10, 0x85}), (Bytes{0x50, 0x85}));
  EXPECT_EQ(e.One({0x11, 0x01}), (Bytes{0x51, 0x01}));
  EXPECT_EQ(e.One({0x3E}), (Bytes{0x7E}));
  EXPECT_EQ(e.One({0x27, 0x01}), (Bytes{0x7F, 0x27, 0x11}));
  EXPECT_EQ(e.One({0x31}), (Bytes{0x7F, 0x31, 0x11}));
}

TEST(ActuatorTests, OnOffSwitchesShowInLidE1) {
  Ecu e;
  const double t = 1000;
  const std::uint8_t before = e.One({0x21, 0xE1}, t)[2];
  EXPECT_EQ(before & 0x01, 0x01);  // the fuel pump runs
  EXPECT_EQ(e.One({0x30, 0x14, 0x02, 0x02}, t), (Bytes{0x70, 0x14, 0x02, 0x02}));  // fan on
  EXPECT_EQ(e.One({0x21, 0xE1}, t)[2] & 0x02, 0x02);
  EXPECT_EQ(e.One({0x30, 0x13, 0x01, 0x00}, t), (Bytes{0x70, 0x13, 0x01, 0x00}));  // pump off
  EXPECT_EQ(e.One({0x21, 0xE1}, t)[2] & 0x03, 0x02);
  EXPECT_EQ(e.One({0x30, 0x14, 0x02, 0x00}, t)[0], 0x70);
  EXPECT_EQ(e.One({0x21, 0xE1}, t)[2] & 0x02, 0x00);
  EXPECT_EQ(e.One({0x30, 0x15, 0x04, 0x04}, t)[0], 0x70);  // EVAP valve
  EXPECT_EQ(e.One({0x21, 0xE1}, t)[2] & 0x04, 0x04);
}

TEST(ActuatorTests, NumericTestsMoveTheReadings) {
  Ecu e;
  const double idle = 8 * 284 + 30;  // warm, parked
  const double rpm = e.Rpm(idle);
  EXPECT_EQ(e.One({0x30, 0x18, 150, 0x00}, idle)[0], 0x70);  // +50 units = +500 rpm
  EXPECT_NEAR(e.Rpm(idle), rpm + 500, 20);
  // Ignition held at 0 degrees: byte (0 + 25) * 5.12 = 128; PID 0E reads A/2 - 64.
  EXPECT_EQ(e.One({0x30, 0x0C, 0xFF, 128}, idle)[0], 0x70);
  EXPECT_EQ(e.One({0x01, 0x0E}, idle)[2], 128);
  // Injection +10 %: byte (10 + 25) * 5.12 = 179.
  const int inj = e.One({0x21, 0xE4}, idle)[2];
  EXPECT_EQ(e.One({0x30, 0x01, 179}, idle)[0], 0x70);
  EXPECT_NEAR(e.One({0x21, 0xE4}, idle)[2], inj * 1.1, 2);
  // Leaving the test mode hands everything back.
  e.One({0x10, 0x01, 0x00});
  e.One({0x10, 0x00});
  EXPECT_FALSE(e.engine.Overrides().Any());
  EXPECT_NEAR(e.Rpm(idle), rpm, 20);
}

TEST(ActuatorTests, SupportMaskUnknownAndShortRequests) {
  Ecu e;
  const Bytes mask = e.One({0x30, 0x00});
  ASSERT_EQ(mask.size(), 6u);
  for (std::uint8_t lid : {0x01, 0x02, 0x03, 0x08, 0x0C, 0x13, 0x14, 0x15, 0x18}) {
    EXPECT_TRUE(MaskHas(mask, 0x00, lid)) << int(lid);
  }
  EXPECT_FALSE(MaskHas(mask, 0x00, 0x04));
  EXPECT_EQ(e.One({0x30, 0x77, 0x01, 0x01}), (Bytes{0x7F, 0x30, 0x12}));
  EXPECT_EQ(e.One({0x30, 0x14, 0x02}), (Bytes{0x7F, 0x30, 0x12}));
  EXPECT_EQ(e.One({0x30}), (Bytes{0x7F, 0x30, 0x12}));
}

}  // namespace
}  // namespace kestrel::ecusim::test
