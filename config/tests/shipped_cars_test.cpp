// Every row of the shipped catalogue against the car it is meant for: each
// configuration is loaded, its simulated car (the scenario of the same name)
// answers the live requests in-process at many moments of the drive, every
// live row is decoded by the vehicle module's PIDVAL as the live table does,
// and the value must be the car's physical quantity that the row names, in
// the row's unit, within the resolution of the bytes it travels in. The
// freeze-frame rows are checked the same way against the car at the moment
// the ECU stored the frame.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <string>

#include "config/catalogue.h"
#include "config/load_init.h"
#include "ecusim/engine.h"
#include "link/link_globals.h"
#include "module/response_store.h"
#include "module/vorta.h"
#include "test_support.h"

namespace kestrel::testing {
namespace {

using ecusim::Bytes;
using ecusim::Engine;
using ecusim::Ms;
using ecusim::Scenario;
using ecusim::VehicleState;

// What a row's value is compared with: the car at one moment, its scenario
// (the engine it really has) and the engine settings of the configuration.
struct Car {
  const VehicleState& v;
  const Scenario& s;
  const vorta::ValueQuery& q;
};

// ---------------------------------------------------------------- fuel quantities

constexpr double kGasConstant = 8.31441;  // J/(mol K)

double Trim(const Car& c) {
  return 1 + (c.v.stft + c.v.ltft) / 100;  // bank 1 only: these are inline engines
}
double TempCorrection(const Car& c) {
  return 1 + 0.001 * (c.v.iat - 20);
}
// The air mass a full cylinder charge at manifold pressure gives, g/s.
double AirBySpeedDensity(const Car& c) {
  const double molar = 28.98 * c.q.MapCorrection / 100;  // g/mol, corrected by the setting
  const double litres = c.s.displacement / 1000;
  return c.v.map * litres * molar / (kGasConstant * (c.v.iat + 273.15)) * c.v.rpm / 120;
}
// Fuel for an air mass at 14.7:1, of density FuelFactor g/l, in ml/h.
double FuelForAir(const Car& c, double air_gs) {
  return air_gs / 14.7 / (c.q.FuelFactor / 1000.0) * 3600 * TempCorrection(c) * Trim(c);
}
// Fuel through the open injectors: one injection a cylinder every second turn.
double FuelByInjection(const Car& c) {
  if (c.v.fuel_cut) return 0;
  return c.v.inj_ms * c.v.rpm / 120 * c.s.cylinders * c.s.injector_flow / 60000 * 3600;
}
// l/100 km from ml/h; nothing while standing (a speed byte of 0).
double PerDistance(const Car& c, double ml_h) {
  return c.v.speed < 0.5 ? 0 : ml_h / (c.v.speed * 10);
}
// Relative resolution of the inputs of a fuel figure.
double TrimRes(const Car& c) {
  return 0.0079 / Trim(c) + 0.0006;  // two trim bytes, the temperature correction
}
double SpeedRes(const Car& c) {
  return 0.5 / std::max(c.v.speed - 0.5, 0.01);  // the speed byte divides
}
double AirRes(const Car& c) {
  return 0.125 / c.v.rpm + 0.5 / c.v.map + 0.5 / (c.v.iat + 273.15) + TrimRes(c);
}
double MafRes(const Car& c) {
  return 0.005 / std::max(c.v.maf, 0.005) + TrimRes(c);
}
double InjRes(const Car& c) {
  return 0.064 / std::max(c.v.inj_ms, 0.064) + 0.125 / c.v.rpm;
}

// ---------------------------------------------------------------- the rows

struct Expectation {
  std::uint8_t id;
  std::uint8_t format;  // the row's selector
  const char* unit;     // UTF-8
  double (*value)(const Car&);
  double step;                               // half the encoding's resolution
  double (*relative)(const Car&) = nullptr;  // or a relative one, for derived figures
};

// Service 01 PIDs, the same numbers as service 21 LIDs and as freeze-frame
// PIDs, and the family's own LIDs.
const Expectation kRows[] = {
    {0x01, 0x08, "", [](const Car& c) { return c.v.mil ? 1.0 : 0.0; }, 0},
    // The ECU reports misfire and fuel-system monitoring as supported.
    {0x01, 0x11, "", [](const Car&) { return 1.0; }, 0},
    {0x01, 0x12, "", [](const Car&) { return 1.0; }, 0},
    {0x01, 0x00, "шт.", [](const Car& c) { return double(c.v.code_count); }, 0},
    {0x03, 0x00, "", [](const Car& c) { return double(c.v.fuel_status); }, 0},
    {0x04, 0x00, "%", [](const Car& c) { return c.v.load; }, 0.197},
    {0x05, 0x00, "°C", [](const Car& c) { return c.v.coolant; }, 0.5},
    {0x06, 0x00, "%", [](const Car& c) { return c.v.stft; }, 0.391},
    {0x07, 0x00, "%", [](const Car& c) { return c.v.ltft; }, 0.391},
    {0x0B, 0x00, "кПа", [](const Car& c) { return c.v.map; }, 0.5},
    {0x0B, 0x10, "г/с", AirBySpeedDensity, 0, AirRes},
    {0x0B, 0x20, "мл/ч", [](const Car& c) { return FuelForAir(c, AirBySpeedDensity(c)); }, 0,
     AirRes},
    {0x0B, 0x30, "л/100км",
     [](const Car& c) { return PerDistance(c, FuelForAir(c, AirBySpeedDensity(c))); }, 0,
     [](const Car& c) { return AirRes(c) + SpeedRes(c); }},
    {0x0C, 0x00, "об/мин", [](const Car& c) { return c.v.rpm; }, 0.125},
    {0x0D, 0x00, "км/ч", [](const Car& c) { return c.v.speed; }, 0.5},
    {0x0E, 0x00, "°", [](const Car& c) { return c.v.timing; }, 0.25},
    {0x0F, 0x00, "°C", [](const Car& c) { return c.v.iat; }, 0.5},
    {0x10, 0x10, "г/с", [](const Car& c) { return c.v.maf; }, 0.005},
    {0x10, 0x20, "мл/ч", [](const Car& c) { return FuelForAir(c, c.v.maf); }, 0, MafRes},
    {0x10, 0x30, "л/100км", [](const Car& c) { return PerDistance(c, FuelForAir(c, c.v.maf)); }, 0,
     [](const Car& c) { return MafRes(c) + SpeedRes(c); }},
    {0x11, 0x00, "%", [](const Car& c) { return c.v.throttle; }, 0.197},
    {0x13, 0x01, "", [](const Car& c) { return double(c.s.o2_sensors & 1); }, 0},
    {0x13, 0x02, "", [](const Car& c) { return double((c.s.o2_sensors >> 1) & 1); }, 0},
    {0x14, 0x00, "В", [](const Car& c) { return c.v.o2_s1; }, 0.0025},
    {0x14, 0x10, "%", [](const Car& c) { return c.v.stft; }, 0.391},
    {0x15, 0x00, "В", [](const Car& c) { return c.v.o2_s2; }, 0.0025},
    {0x1C, 0x00, "", [](const Car& c) { return double(c.s.obd_type); }, 0},
    {0x1F, 0x00, "с", [](const Car& c) { return c.v.t; }, 0.5},
    {0x21, 0x00, "км", [](const Car& c) { return c.v.distance_mil; }, 0.5},
    {0x2E, 0x00, "%", [](const Car& c) { return c.v.purge; }, 0.197},
    {0x2F, 0x00, "%", [](const Car& c) { return c.v.fuel_level; }, 0.197},
    {0x33, 0x00, "кПа", [](const Car& c) { return c.v.baro; }, 0.5},
    {0x3C, 0x00, "°C", [](const Car& c) { return c.v.cat_temp; }, 0.05},
    {0x42, 0x00, "В", [](const Car& c) { return c.v.battery; }, 0.0005},
    {0x43, 0x00, "%", [](const Car& c) { return c.v.load; }, 0.197},
    {0x44, 0x00, "", [](const Car& c) { return c.v.lambda_commanded; }, 0.0000153},
    {0x45, 0x00, "%", [](const Car& c) { return c.v.throttle_opening; }, 0.197},
    {0x46, 0x00, "°C", [](const Car& c) { return c.v.ambient; }, 0.5},
    {0x9B, 0x00, "°C", [](const Car& c) { return c.v.ambient; }, 0.5},
    {0xB4, 0x00, "°C", [](const Car& c) { return c.v.fluid; }, 0.002},
    {0xBB, 0x00, "", [](const Car& c) { return double(c.v.gear); }, 0},
    {0xE1, 0x01, "", [](const Car& c) { return double(c.v.e1[0] & 1); }, 0},         // pump
    {0xE1, 0x02, "", [](const Car& c) { return double((c.v.e1[0] >> 1) & 1); }, 0},  // fan
    {0xE1, 0x03, "", [](const Car& c) { return double((c.v.e1[0] >> 2) & 1); }, 0},  // EVAP
    {0xE2, 0x00, "об/мин", [](const Car& c) { return c.v.idle_target; }, 12.5},
    {0xE2, 0x10, "В", [](const Car& c) { return c.v.load_signal_v; }, 0.0078},
    {0xE3, 0x00, "В", [](const Car& c) { return c.v.battery; }, 0.00625},
    {0xE4, 0x00, "мс", [](const Car& c) { return c.v.inj_ms; }, 0.064},
    {0xE4, 0x10, "мл/ч", FuelByInjection, 0, InjRes},
    {0xE4, 0x20, "л/100км", [](const Car& c) { return PerDistance(c, FuelByInjection(c)); }, 0,
     [](const Car& c) { return InjRes(c) + SpeedRes(c); }},
    {0xE8, 0x01, "", [](const Car& c) { return c.v.throttle_opening == 0 ? 1.0 : 0.0; }, 0},
    {0xE8, 0x11, "", [](const Car& c) { return c.v.fuel_cut ? 1.0 : 0.0; }, 0},
    {0xF8, 0x00, "",
     [](const Car& c) { return double(c.v.gear + (c.v.lockup ? 8 : 0) + (c.v.od_off ? 16 : 0)); },
     0},
    // The shift lever as the dashboard reads LID F9: 0x001 "3", 0x004 D,
    // 0x100 L, 0x200 2, 0x400 R, 0x1000 overdrive off.
    {0xF9, 0x11, "", [](const Car& c) { return c.v.selector == '3' ? 1.0 : 0.0; }, 0},
    {0xF9, 0x13, "", [](const Car& c) { return c.v.selector == 'D' ? 1.0 : 0.0; }, 0},
    {0xF9, 0x01, "", [](const Car& c) { return c.v.selector == 'L' ? 1.0 : 0.0; }, 0},
    {0xF9, 0x02, "", [](const Car& c) { return c.v.selector == '2' ? 1.0 : 0.0; }, 0},
    {0xF9, 0x03, "", [](const Car& c) { return c.v.selector == 'R' ? 1.0 : 0.0; }, 0},
    {0xF9, 0x05, "", [](const Car& c) { return c.v.od_off ? 1.0 : 0.0; }, 0},
    {0xFC, 0x00, "об/мин", [](const Car& c) { return c.v.turbine_rpm; }, 25},
    {0xFD, 0x00, "об/мин", [](const Car& c) { return c.v.output_rpm; }, 25},
};

// The lever rows share one identifier: the bit and the name must agree.
const struct {
  std::uint8_t format;
  const char* name;
} kLeverRows[] = {{0x11, "Селектор: 3"}, {0x13, "Селектор: D"},
                  {0x01, "Селектор: L"}, {0x02, "Селектор: 2"},
                  {0x03, "Селектор: R"}, {0x05, "Овердрайв выключен (O/D OFF)"}};

const Expectation* Find(std::uint8_t id, std::uint8_t format) {
  for (const Expectation& e : kRows) {
    if (e.id == id && e.format == format) return &e;
  }
  return nullptr;
}

// ---------------------------------------------------------------- the car answering

// Files an answer of service 01, 02 or 21 as the receiver does.
void File(const Bytes& a) {
  vorta::StoreArea area{};
  std::size_t slot = 0, first = 2;
  switch (a[0]) {
    case 0x41:
      area = vorta::kAreaMode01, slot = a[1];
      break;
    case 0x61:
      area = vorta::kAreaLocal21, slot = a[1];
      break;
    case 0x42:
      area = vorta::kAreaMode02, slot = vorta::Mode02Slot(a[1], a[2]), first = 3;
      break;
    default:
      return;
  }
  vorta::FileSlotBytes(vorta::Slot(ResponseStore, area, slot), a.data() + first, a.size() - first);
}

// Asks the car every request of a table with one of the given services.
void Answer(Engine& engine, const vorta::RequestTable& table, ecusim::Micros at,
            std::initializer_list<std::uint8_t> services) {
  for (int e = 0; e < table.Count; ++e) {
    const vorta::RequestEntry& r = table.Entries[e];
    if (std::find(services.begin(), services.end(), r.Data[3]) == services.end()) continue;
    const Bytes payload(r.Data + 3, r.Data + r.Length);
    for (const Bytes& a : engine.Services(payload, at)) {
      ASSERT_EQ(a[0], r.Data[3] + 0x40) << "request " << e << " gets a negative answer";
      File(a);
    }
  }
}

// Decodes one row and compares it with the car; returns false on a mismatch.
bool CheckRow(const ParameterRow& row, std::uint8_t format, const Car& car, const char* when) {
  const RowIds ids = RowIdsOf(row);
  const std::string what = Utf8(row.Cells[kColCode] + " " + row.Cells[kColName]) + ", " + when;
  ValueQuery.Service = ids.Service;
  ValueQuery.Id1 = ids.Id1;
  ValueQuery.Id2 = ids.Id2;
  ValueQuery.Format = format;
  PIDVAL(ResponseStore);
  const Expectation* want = Find(ids.Id1, format);
  if (want == nullptr) {
    ADD_FAILURE() << what << ": no physical quantity known for this row";
    return false;
  }
  EXPECT_EQ(Utf8(row.Cells[kColUnit]), want->unit) << what;
  for (const auto& lever : kLeverRows) {
    if (ids.Id1 == 0xF9 && format == lever.format) {
      EXPECT_EQ(Utf8(row.Cells[kColName]), lever.name) << what;
    }
  }
  const double expected = want->value(car);
  const double tolerance =
      want->relative ? std::abs(expected) * want->relative(car) + 1e-9 : want->step + 1e-9;
  EXPECT_NEAR(ValueQuery.Value, expected, tolerance) << what << " (" << ValueQuery.Text << ")";
  return std::abs(ValueQuery.Value - expected) <= tolerance;
}

// ---------------------------------------------------------------- the test

struct Shipped {
  const char* config;
  const char* scenario;
};

void PrintTo(const Shipped& p, std::ostream* os) {
  *os << p.config << " on " << p.scenario;
}

class ShippedCarsTest : public ::testing::TestWithParam<Shipped> {
 protected:
  void SetUp() override {
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(KESTREL_DATA_DIR);
    ResetConfigGlobals();
    const ConfigOutcome out = LoadChosenConfiguration(true, GetParam().config);
    ASSERT_EQ(out.Error, "") << Utf8(out.Error);
    auto loaded = ecusim::LoadScenario(GetParam().scenario);
    ASSERT_TRUE(loaded.scenario) << loaded.error;
    scenario_ = *loaded.scenario;
  }
  void TearDown() override {
    ClearResponseStore();
    std::filesystem::current_path(old_);
  }
  std::filesystem::path old_;
  Scenario scenario_;
};

TEST_P(ShippedCarsTest, ConfigurationDescribesItsCar) {
  const Scenario& s = scenario_;
  EXPECT_EQ(ValueQuery.Displacement, s.displacement);
  EXPECT_EQ(ValueQuery.Cylinders, s.cylinders);
  EXPECT_EQ(ValueQuery.InjectorFlow, s.injector_flow);
  EXPECT_EQ(LinkSettings.BaudRate, static_cast<std::int32_t>(s.baud));
  EXPECT_EQ(LinkSettings.EcuAddress, s.ecu_address);
  EXPECT_EQ(LinkSettings.TesterAddress, s.tester_address);
  EXPECT_EQ(LinkSettings.Kw2, s.key_bytes[1]);
  const ecusim::Protocol protocols[] = {ecusim::Protocol::FiveBaud14230,
                                        ecusim::Protocol::Fast14230, ecusim::Protocol::Iso9141};
  ASSERT_LT(LinkSettings.Protocol, 3);
  EXPECT_EQ(protocols[LinkSettings.Protocol], s.protocol);
  // The ECU type line names the gearbox the car has.
  const std::string type = Utf8(EcuType);
  EXPECT_EQ(type.find("АКПП") != std::string::npos, s.automatic) << type;
  EXPECT_EQ(type.find("МКПП") != std::string::npos, !s.automatic) << type;
  // The car answers everything the dashboard asks.
  Engine engine(scenario_, {}, 0);
  Answer(engine, RequestTables[kDashboardTable], Ms(1000), {0x01, 0x21});
}

TEST_P(ShippedCarsTest, EveryLiveRowShowsTheCarsValueInItsUnit) {
  Engine engine(scenario_, {}, 0);
  ASSERT_GT(LiveRows.RowCount, 1);
  // Two loops of the drive after the cold start, a moment every 2.9 s.
  int mismatches = 0;
  for (double t = 1; t < 60 + 2 * 284 && mismatches < 10; t += 2.9) {
    ClearResponseStore();
    const ecusim::Micros at = Ms(t * 1000);
    Answer(engine, RequestTables[kLiveTable], at, {0x01, 0x21});
    if (HasFatalFailure()) return;
    const Car car{engine.StateAt(at), scenario_, ValueQuery};
    const std::string when = "at " + std::to_string(t) + " s";
    for (int r = 0; r < LiveRows.RowCount; ++r) {
      if (!CheckRow(LiveRows.Rows[r], LiveFormatOf(LiveRows.Rows[r]), car, when.c_str())) {
        ++mismatches;
      }
    }
  }
}

TEST_P(ShippedCarsTest, EveryFreezeFrameRowShowsTheCarWhenTheFrameWasStored) {
  Engine engine(scenario_, {}, 0);
  ASSERT_FALSE(scenario_.freeze_frames.empty());
  ClearResponseStore();
  Answer(engine, RequestTables[kFreezeTable], Ms(1000), {0x02});
  if (HasFatalFailure()) return;
  const ecusim::FreezeFrame& frame = scenario_.freeze_frames[0];
  const VehicleState then = ecusim::Simulate(scenario_, frame.at_seconds, {});
  const Car car{then, scenario_, ValueQuery};
  ASSERT_GT(FreezeRows.RowCount, 1);
  for (int r = 0; r < FreezeRows.RowCount; ++r) {
    const ParameterRow& row = FreezeRows.Rows[r];
    if (RowIdsOf(row).Id1 == 0x02) {  // the code that stored the frame
      ValueQuery.Service = 0x02;
      ValueQuery.Id1 = 0x02;
      ValueQuery.Id2 = 0;
      ValueQuery.Format = FreezeFormatOf(row);
      PIDVAL(ResponseStore);
      char code[8];
      std::snprintf(code, sizeof code, "P%04X", frame.code);
      EXPECT_STREQ(ValueQuery.Text, code);
      continue;
    }
    CheckRow(row, FreezeFormatOf(row), car, "in frame 0");
  }
}

INSTANTIATE_TEST_SUITE_P(Shipped, ShippedCarsTest,
                         ::testing::Values(Shipped{"CAMRY_2AZ.ini", "camry_2az_fast"},
                                           Shipped{"COROLLA_3ZZ.ini", "corolla_3zz_5baud"},
                                           Shipped{"CARINA_7AFE.ini", "carina_7afe_9141"}),
                         [](const auto& p) { return std::string(p.param.scenario); });

}  // namespace
}  // namespace kestrel::testing
