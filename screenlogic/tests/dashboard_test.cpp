// The dashboard's ticks without a window: number texts, gear and lever
// pictures, the consumption sums and averages, fuel used, the reconnect rule
// and what the first tick after activation redraws.
#include "screenlogic/dashboard.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "link/link_globals.h"

namespace kestrel {
namespace {

TEST(DashboardText, FixedNotationWithPrecisionAndDecimals) {
  struct Case {
    double value;
    int precision, decimals;
    const char* text;
  };
  const Case cases[] = {
      {750.5, 5, 0, "751"},         // halves away from zero, not to even
      {2.5, 3, 0, "3"},             //
      {1234.567, 5, 2, "1234.60"},  // five significant digits, then two decimals
      {0.004, 5, 2, "0.00"},        //
      {0.006, 5, 2, "0.01"},        //
      {-0.4, 5, 0, "0"},            // no "-0"
      {999.996, 5, 2, "1000.00"},   // the carry adds a digit
      {99999.6, 5, 0, "1E5"},       // more integer digits than the precision
      {123456, 5, 0, "1.2346E5"},   //
      {1000, 3, 0, "1E3"},          //
      {-40, 3, 0, "-40"},           //
      {2.675, 5, 2, "2.67"},        // 2.675 is 2.67499999... as a double
      {std::numeric_limits<double>::quiet_NaN(), 5, 2, "NAN"},
      {std::numeric_limits<double>::infinity(), 5, 0, "INF"},
      {-std::numeric_limits<double>::infinity(), 3, 0, "-INF"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FixedText(c.value, c.precision, c.decimals), c.text)
        << c.value << " " << c.precision << " " << c.decimals;
  }
}

// A logic with the record's outputs set by hand, as Panel would leave them.
class DashboardTickTest : public ::testing::Test {
 protected:
  void SetUp() override {
    logic_.Show();
    logic_.Activate();
    vorta::PanelRecord& r = logic_.Record();
    FillPanelRecord(r, nullptr, vorta::ValueQuery{});
    r.Gauges[kGaugeCoolant].Value = 85;
    r.Gauges[kGaugeFluid].Value = 60;
    r.Gauges[kGaugeLoad].Value = 20;
    r.Gauges[kGaugeRpm].Value = 800;
    r.Speed = 0;
    r.Gear = 1;
    r.Selector = 0x0004;
  }

  DashboardTick Tick(std::uint16_t status = lsExchange) { return logic_.Present(status, 0, 1); }

  // One tick with a new engine speed (so the consumption block runs).
  const DashboardView& Drive(double flowMlh, double speed, double flowL100) {
    vorta::PanelRecord& r = logic_.Record();
    r.Gauges[kGaugeRpm].Value += 10;
    r.FlowMlh = flowMlh;
    r.Speed = speed;
    r.FlowL100 = flowL100;
    Tick();
    return logic_.View();
  }

  DashboardLogic logic_;
};

TEST_F(DashboardTickTest, ConsumptionSumsAveragesAndFuelUsed) {
  const DashboardView& v = logic_.View();
  Drive(1000, 0, 0);
  EXPECT_EQ(v.FlowMlh, "1000.00");
  EXPECT_EQ(v.AvgMlh, "1000.00");
  EXPECT_EQ(v.FlowL100, "?");  // standing: no l/100 km
  EXPECT_EQ(v.AvgL100, "?");

  Drive(0, 0, 0);  // no flow: the ml/h average is kept
  EXPECT_EQ(v.FlowMlh, "0.00");
  EXPECT_EQ(v.AvgMlh, "1000.00");

  Drive(3000, 50, 6);
  EXPECT_EQ(v.AvgMlh, "2000.00");
  EXPECT_EQ(v.FlowL100, "6.00");
  EXPECT_EQ(v.AvgL100, "6.00");

  Drive(2000, 0, 0);  // stopped again: "?" and the last average stays
  EXPECT_EQ(v.FlowL100, "?");
  EXPECT_EQ(v.AvgL100, "6.00");
  EXPECT_EQ(v.AvgMlh, "2000.00");

  Drive(1000, 40, 3);
  EXPECT_EQ(v.AvgL100, "4.50");

  // A tick whose engine speed did not change, or outside the exchange,
  // accumulates nothing.
  const double before = logic_.FuelUsedLitres();
  Tick();
  logic_.Record().Gauges[kGaugeRpm].Value += 10;
  Tick(lsFirstPass);
  EXPECT_EQ(logic_.FuelUsedLitres(), before);
  EXPECT_EQ(v.AvgMlh, "1750.00");

  // Fuel used: 360,000 ml/h for 25 changing ticks (2.5 s) is 0.25 l more.
  for (int i = 0; i < 25; ++i) Drive(360000, 100, 3.6);
  EXPECT_NEAR(logic_.FuelUsedLitres() - before, 0.25, 1e-12);
  EXPECT_EQ(v.FuelUsed, FixedText(logic_.FuelUsedLitres(), 5, 2));
  EXPECT_EQ(v.FuelUsed, "0.25");

  // Activation starts the sums and the fuel used afresh.
  logic_.Activate();
  Drive(500, 0, 0);
  EXPECT_EQ(v.AvgMlh, "500.00");
  EXPECT_EQ(logic_.FuelUsedLitres(), 500 / 36e6);
}

TEST_F(DashboardTickTest, FirstTickAfterActivationShowsEverythingThenOnlyChanges) {
  // Values equal to the old 99.0 marker are shown on the first tick as well.
  vorta::PanelRecord& r = logic_.Record();
  r.Gauges[kGaugeCoolant].Value = 99.0;
  r.Speed = 99.0;
  r.DtcCount = 9;
  r.Selector = 9;
  const DashboardTick first = Tick();
  const unsigned all = (kChangedBar0 << 0) | (kChangedBar0 << 1) | (kChangedBar0 << 2) |
                       kChangedArc | kChangedSpeed | kChangedCodes | kChangedSelector;
  EXPECT_EQ(first.Changed & all, all);
  const DashboardView& v = logic_.View();
  EXPECT_EQ(v.Bars[kGaugeCoolant].Text, "99");
  EXPECT_EQ(v.Bars[kGaugeCoolant].Colour, kYellow);
  EXPECT_NE(logic_.Bar(kGaugeCoolant).At(1, kBarHeight - 2), kBlack);
  EXPECT_EQ(v.Speed, "99 ");
  EXPECT_EQ(v.Rpm, "800 ");
  EXPECT_EQ(v.Codes, "9");
  EXPECT_EQ(v.Status, "Recive ISO-14230/9141");

  EXPECT_EQ(Tick().Changed, 0u);  // nothing changed: nothing to redraw

  r.Gauges[kGaugeLoad].Value = 55;
  EXPECT_EQ(Tick().Changed, kChangedBar0 << kGaugeLoad);
  // Engine speed only while exchanging; bars in every state.
  r.Gauges[kGaugeRpm].Value = 900;
  r.Gauges[kGaugeFluid].Value = 70;
  EXPECT_EQ(Tick(lsFirstPass).Changed & (kChangedArc | (kChangedBar0 << kGaugeFluid)),
            kChangedBar0 << kGaugeFluid);
  EXPECT_EQ(v.Rpm, "800 ");
}

TEST_F(DashboardTickTest, StatusButtonsAndStopOnError) {
  struct Case {
    std::uint16_t status;
    bool start, exit, stop;
    const char* text;
  };
  const Case cases[] = {
      {lsIdle, true, true, false, "Idle"},
      {lsOpenPort, false, false, false, "Open COM"},
      {lsFirstPass, false, false, false, "First recive ISO-14230/9141"},
      {lsExchange, true, false, false, "Recive ISO-14230/9141"},
      {lsError, true, true, true, "Error 0A00"},
  };
  for (const Case& c : cases) {
    const DashboardTick t = logic_.Present(c.status, 0x0A00, 1);
    const DashboardView& v = logic_.View();
    EXPECT_EQ(v.StartEnable, c.start) << c.text;
    EXPECT_EQ(v.ExitEnabled, c.exit) << c.text;
    EXPECT_EQ(t.StopPolling, c.stop) << c.text;
    EXPECT_EQ(v.Status, c.text);
  }
  EXPECT_FALSE(logic_.Present(lsError, 0x0800, 0).StopPolling);  // already stopped
}

TEST_F(DashboardTickTest, GearAndSelectorPictures) {
  struct Case {
    std::uint8_t gear;
    const char* gearText;  // "" hidden
    std::uint16_t selector;
    const char* picture;  // "" hidden; "-" no picture loaded yet
    bool overdriveOff;
  };
  const Case cases[] = {
      {0x02, "2", 0x0002, "-", false},       // 0x002 alone loads nothing
      {0x0B, "3+Lock", 0x0004, "D", false},  // lock-up
      {0x1B, "3+Lock", 0x0006, "D", false},  // bit 4 is not shown in the gear
      {0x04, "4", 0x0002, "D", false},       // 0x002 alone keeps the last picture
      {0x04, "4", 0x1002, "D", true},        // overdrive off with it
      {0x01, "1", 0x0104, "D", false},       // L then D: D is loaded last
      {0x01, "1", 0x0500, "R", false},       // L then R
      {0x01, "1", 0x0301, "3", false},       // L, 2, then 3
      {0x01, "1", 0x000C, "S", false},       // D then S
      {0x01, "1", 0x0000, "N", false},       // none of 0x70F
      {0x00, "0", 0x1800, "N", true},        // other bits: still N
      {0xFF, "", 0xFFFF, "", true},          // not available: both hidden, Image5 kept
      {0x01, "1", 0x0008, "S", false},       //
  };
  vorta::PanelRecord& r = logic_.Record();
  const DashboardView& v = logic_.View();
  for (const Case& c : cases) {
    r.Gear = c.gear;
    r.Selector = c.selector;
    Tick();
    SCOPED_TRACE(::testing::Message() << std::hex << c.selector);
    EXPECT_EQ(v.GearVisible, c.gear != 0xFF);
    if (v.GearVisible) {
      EXPECT_EQ(v.Gear, c.gearText);
    }
    EXPECT_EQ(GearText(c.gear), c.gearText);
    EXPECT_EQ(v.SelectorVisible, c.picture[0] != '\0');
    if (v.SelectorVisible) {
      EXPECT_STREQ(SelectorLetter(v.Selector), c.picture);
    }
    EXPECT_EQ(v.OverdriveOff, c.overdriveOff);
  }
  EXPECT_STREQ(SelectorPictureFile(SelectorPicture::Two), "2.bmp");
  EXPECT_STREQ(SelectorPictureFile(SelectorPicture::None), "");
}

TEST(DashboardReconnect, AfterReconnectTimePlusOneTicksInErrorOnlyWithAutostart) {
  // The tick on which the start request is first taken, or 0 within 100 ticks.
  const auto firstStart = [](std::uint8_t autostart, std::int32_t time, std::uint16_t status) {
    DashboardLogic logic;
    logic.Activate();
    std::uint8_t request = 0;
    for (int tick = 1; tick <= 100; ++tick) {
      if (logic.TakeStartRequest(status, autostart, time, request)) return tick;
    }
    return 0;
  };
  EXPECT_EQ(firstStart(1, 10, lsError), 11);
  EXPECT_EQ(firstStart(1, 1, lsError), 2);
  EXPECT_EQ(firstStart(1, 0, lsError), 0);
  EXPECT_EQ(firstStart(0, 10, lsError), 0);     // autostart off
  EXPECT_EQ(firstStart(1, 10, lsExchange), 0);  // no error
  EXPECT_EQ(firstStart(1, -1, lsIdle), 0);      // a negative time from a file: never

  // The count restarts after a reconnect; the settings' start request is
  // taken on the next tick whatever the link does.
  DashboardLogic logic;
  std::uint8_t request = 0;
  int starts = 0;
  for (int tick = 1; tick <= 22; ++tick) starts += logic.TakeStartRequest(lsError, 1, 10, request);
  EXPECT_EQ(starts, 2);
  EXPECT_EQ(logic.ReconnectTicks(), 0);
  request = 1;
  EXPECT_TRUE(logic.TakeStartRequest(lsIdle, 0, 0, request));
  EXPECT_EQ(request, 0);
  EXPECT_FALSE(logic.TakeStartRequest(lsIdle, 0, 0, request));
}

}  // namespace
}  // namespace kestrel
