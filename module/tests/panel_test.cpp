// Panel: dashboard quantities, area choice per quantity, fuel methods.

#include <gtest/gtest.h>

#include "module/module_internal.h"
#include "module/tests/response_memory.h"

namespace vorta {
namespace {

using testing::FillSlot;
using testing::PokeSlot;

class PanelTest : public ::testing::Test {
 protected:
  PanelTest() {
    record_.Store = mem_->Store;
    record_.Cylinders = 4;
    record_.InjectorFlow = 250.0;
    record_.Displacement = 2000;
    record_.FuelFactor = 14;
    record_.MapCorrection = 100;
  }
  void Mode01(std::uint8_t pid, std::initializer_list<std::uint8_t> bytes) {
    FillSlot(*mem_, kMode01Offset, pid, bytes);
  }
  void Local21(std::uint8_t lid, std::initializer_list<std::uint8_t> bytes) {
    FillSlot(*mem_, kLocal21Offset, lid, bytes);
  }
  // The engine bytes of the fuel tests, in one area, with their count bytes.
  void EngineBytes(std::size_t area) {
    FillSlot(*mem_, area, 0x0B, {100});         // MAP
    FillSlot(*mem_, area, 0x0C, {0x0B, 0xB8});  // RPM4 3000
    FillSlot(*mem_, area, 0x0F, {80});          // IAT
    FillSlot(*mem_, area, 0x0D, {50});          // VSS
  }
  void Trims(std::size_t area) {
    FillSlot(*mem_, area, 0x06, {128});
    FillSlot(*mem_, area, 0x07, {130});
    FillSlot(*mem_, area, 0x08, {120});
    FillSlot(*mem_, area, 0x09, {125});
  }

  std::unique_ptr<ResponseMemory, testing::FreeDeleter> mem_ = testing::NewResponseMemory();
  PanelRecord record_{};
};

// Flows of the byte set above (see the PIDVAL tests for the same figures).
constexpr double kInjectionFlow = 958.8235294117648;
constexpr double kAirFlowFlow = 82712.19976268223;
constexpr double kPressureFlow = 230156.95775537562;

TEST_F(PanelTest, NoDataLeavesEverythingUnavailable) {
  record_.Speed = 9;
  record_.Gear = 3;
  record_.Selector = 1;
  record_.FlowMlh = record_.FlowL100 = 7;
  record_.DtcCount = 5;
  record_.CheckLamp = 1;
  for (int i = 0; i < 4; ++i) {
    record_.Gauges[i].Source = static_cast<std::uint8_t>(i + 1);
    record_.Gauges[i].Value = 42;
  }
  Panel(&record_);
  EXPECT_EQ(record_.Speed, 0.0);
  EXPECT_EQ(record_.Gear, 0xFF);
  EXPECT_EQ(record_.Selector, 0xFFFF);
  EXPECT_EQ(record_.FlowMlh, 0.0);
  EXPECT_EQ(record_.FlowL100, 0.0);
  for (const GaugeBands& g : record_.Gauges) EXPECT_EQ(g.Value, 0.0);
  // The lamp and the code count keep the caller's values.
  EXPECT_EQ(record_.DtcCount, 5);
  EXPECT_EQ(record_.CheckLamp, 1);
}

TEST_F(PanelTest, EachQuantityPicksItsAreaByItself) {
  Local21(0x0C, {0x0B, 0xB8});
  record_.Gauges[0].Source = 4;
  Mode01(0x05, {0x7B});
  Local21(0x05, {0x10});  // Mode 01 wins when both have data
  record_.Gauges[1].Source = 2;
  Local21(0x0D, {88});
  Panel(&record_);
  EXPECT_EQ(record_.Gauges[0].Value, 750.0);
  EXPECT_EQ(record_.Gauges[1].Value, 83.0);
  EXPECT_EQ(record_.Speed, 88.0);
}

TEST_F(PanelTest, GearSelectorAndLamp) {
  Mode01(0xBB, {3, 1});
  Mode01(0x01, {0x83});
  Local21(0xF9, {0x12, 0x34});
  Panel(&record_);
  EXPECT_EQ(record_.Gear, 11);  // gear 3 with lock-up
  EXPECT_EQ(record_.Selector, 0x1234);
  EXPECT_EQ(record_.CheckLamp, 1);
  EXPECT_EQ(record_.DtcCount, 3);

  Mode01(0xBB, {0xFF, 0xFF});
  Panel(&record_);
  EXPECT_EQ(record_.Gear, 0xF7);  // (255·8 + 255) kept to 8 bits

  Local21(0xF8, {0x12});  // slot 0xF8 replaces what 0xBB gave
  Mode01(0x01, {0x05});
  Panel(&record_);
  EXPECT_EQ(record_.Gear, 0x12);
  EXPECT_EQ(record_.CheckLamp, 0);
  EXPECT_EQ(record_.DtcCount, 5);
}

TEST_F(PanelTest, GaugeSourcesAndUntouchedBands) {
  Mode01(0x04, {255});
  Mode01(0x05, {0x7B});
  Mode01(0x0B, {101});
  Mode01(0x0C, {0x1A, 0xF8});
  Mode01(0x0E, {0xA0});
  Mode01(0x0F, {50});
  Mode01(0x10, {0x01, 0xF4});
  Mode01(0x11, {51});
  Mode01(0xB4, {0x30, 0xD4});
  Mode01(0xE3, {0x03, 0x20});
  Mode01(0xE4, {255});
  const std::pair<std::uint8_t, double> sources[] = {
      {1, 100.0}, {2, 83.0}, {3, 101.0}, {4, 1726.0}, {5, 16.0}, {6, 10.0}, {7, 5.0},
      {8, 20.0},  {9, 10.0}, {10, 10.0}, {11, 32.6},  {0, 0.0},  {12, 0.0}, {255, 0.0},
  };
  for (auto [source, expected] : sources) {
    GaugeBands& g = record_.Gauges[source % 4];
    g = GaugeBands{source, 123.0, -1.0, 2.0, 3.0, 4.0, 5.0};
    Panel(&record_);
    EXPECT_NEAR(g.Value, expected, 1e-9) << "source " << int{source};
    EXPECT_EQ(g.Low, -1.0);
    EXPECT_EQ(g.Green, 2.0);
    EXPECT_EQ(g.Yellow, 3.0);
    EXPECT_EQ(g.Red, 4.0);
    EXPECT_EQ(g.High, 5.0);
  }
}

TEST_F(PanelTest, InjectionMethodComesFirstAndHonoursFuelCut) {
  EngineBytes(kMode01Offset);
  Trims(kMode01Offset);
  Mode01(0x10, {0x01, 0xF4});
  Mode01(0xE4, {20});
  Mode01(0xE8, {0x00, 0x00});
  Panel(&record_);
  EXPECT_NEAR(record_.FlowMlh, kInjectionFlow, 1e-9);
  EXPECT_NEAR(record_.FlowL100, kInjectionFlow / 500.0, 1e-12);

  Mode01(0xE8, {0x00, 0x01});  // fuel cut: zero, and the air flow method is not tried
  Panel(&record_);
  EXPECT_EQ(record_.FlowMlh, 0.0);
  EXPECT_EQ(record_.FlowL100, 0.0);
}

TEST_F(PanelTest, LocalInjectionUsesOnlyLocalBytes) {
  EngineBytes(kMode01Offset);
  Mode01(0x10, {0x01, 0xF4});
  Local21(0xE4, {10});
  // Local bytes without count bytes still feed the method.
  PokeSlot(*mem_, kLocal21Offset, 0x0C, {0x07, 0xD0});
  PokeSlot(*mem_, kLocal21Offset, 0x0D, {20});
  Panel(&record_);
  const double flow = 10 * 2000 * 1.5980392156862745e-5 * 4 * 250.0;
  EXPECT_NEAR(record_.FlowMlh, flow, 1e-9);
  EXPECT_NEAR(record_.FlowL100, flow / 200.0, 1e-12);
}

TEST_F(PanelTest, AirFlowMethodWithTrimsFromEitherArea) {
  EngineBytes(kMode01Offset);
  Mode01(0x10, {0x01, 0xF4});
  Trims(kLocal21Offset);  // trims are found in Local 21 while the method reads Mode 01
  Panel(&record_);
  EXPECT_NEAR(record_.FlowMlh, kAirFlowFlow, 1e-6);
  EXPECT_NEAR(record_.FlowL100, kAirFlowFlow / 500.0, 1e-9);

  // Mode 01 trims with one zero byte do not count; Local 21 ones are used instead.
  Mode01(0x06, {128});
  Mode01(0x07, {0});
  Panel(&record_);
  EXPECT_NEAR(record_.FlowMlh, kAirFlowFlow, 1e-6);
}

TEST_F(PanelTest, PressureMethodsAndLocalFallbacks) {
  EngineBytes(kMode01Offset);
  Trims(kMode01Offset);
  Panel(&record_);
  EXPECT_NEAR(record_.FlowMlh / kPressureFlow, 1.0, 1e-12);
  EXPECT_NEAR(record_.FlowL100 * 500.0 / kPressureFlow, 1.0, 1e-12);

  // Local 21 air flow outranks Mode 01 pressure.
  EngineBytes(kLocal21Offset);
  Local21(0x10, {0x01, 0xF4});
  Panel(&record_);
  EXPECT_NEAR(record_.FlowMlh, kAirFlowFlow, 1e-6);

  // With only Local 21 pressure data.
  auto fresh = testing::NewResponseMemory();
  record_.Store = fresh->Store;
  FillSlot(*fresh, kLocal21Offset, 0x0B, {100});
  FillSlot(*fresh, kLocal21Offset, 0x0C, {0x0B, 0xB8});
  FillSlot(*fresh, kLocal21Offset, 0x0F, {80});
  Panel(&record_);
  const double untrimmed = kPressureFlow / (0.00781 * 258 - 1) / (0.00781 * 245 - 1);
  EXPECT_NEAR(record_.FlowMlh / untrimmed, 1.0, 1e-12);
  EXPECT_EQ(record_.FlowL100, 0.0);  // no speed in the fresh store
}

TEST_F(PanelTest, StandingStillAndZeroFuelFactor) {
  EngineBytes(kMode01Offset);
  Mode01(0x0D, {0});
  Mode01(0x10, {0x01, 0xF4});
  Panel(&record_);
  EXPECT_GT(record_.FlowMlh, 0.0);
  EXPECT_EQ(record_.FlowL100, 0.0);

  Mode01(0x0D, {50});
  record_.FuelFactor = 0;
  Panel(&record_);
  EXPECT_EQ(record_.FlowMlh, 0.0);
  EXPECT_EQ(record_.FlowL100, 0.0);
  FillSlot(*mem_, kMode01Offset, 0x10, {});  // now the pressure method
  Panel(&record_);
  EXPECT_EQ(record_.FlowMlh, 0.0);
  EXPECT_EQ(record_.FlowL100, 0.0);
}

}  // namespace
}  // namespace vorta
