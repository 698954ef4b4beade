// The simulated car: what the engine and the automatic transmission do at a
// given time of the scenario's drive (warm-up, idle, driving), and the bytes
// an ECU answers for each identifier it computes.
#pragma once

#include <cstdint>
#include <map>
#include <optional>

#include "ecusim/kline.h"
#include "ecusim/scenario.h"

namespace kestrel::ecusim {

// What the actuator tests (service 30) currently force.
struct ActuatorOverrides {
  std::optional<double> idle_delta_rpm;  // added to the idle speed target
  std::optional<double> timing_deg;      // ignition timing held at this advance
  std::optional<double> injection_pct;   // injection time scaled by 1 + pct/100
  // Forced bits of LID bytes: key LID << 8 | byte; value mask (first) and state (second).
  std::map<std::uint16_t, std::pair<std::uint8_t, std::uint8_t>> switches;

  bool Any() const { return idle_delta_rpm || timing_deg || injection_pct || !switches.empty(); }
};

struct VehicleState {
  double t = 0;  // seconds since the engine started
  double rpm = 0, idle_target = 0;
  double speed = 0;     // km/h
  double accel = 0;     // km/h per second
  double distance = 0;  // km driven since the start
  char selector = 'P';  // lever: P R N D 3 2 L (a manual gearbox: N standing, D moving)
  int gear = 0;
  bool lockup = false, od_off = false;
  double coolant = 0, fluid = 0, iat = 0, ambient = 0;
  double load = 0, throttle = 0, throttle_opening = 0;
  double load_signal_v = 0;  // the load sensor's output, V (LID E2)
  double purge = 0;          // commanded canister purge, percent
  double map = 0, baro = 101, maf = 0;
  double lambda = 1.0, lambda_commanded = 1.0, stft = 0, ltft = 0;
  double o2_s1 = 0.45, o2_s2 = 0.6;
  double inj_ms = 0, timing = 0;
  double battery = 14.1, cat_temp = 400, fuel_level = 60;
  bool fuel_cut = false, closed_loop = false;
  int fuel_status = 1;
  double turbine_rpm = 0, output_rpm = 0;
  std::uint8_t e1[2] = {0, 0};  // actuator and switch states (LID E1)
  // Filled by the ECU from its trouble codes.
  bool mil = false;
  int code_count = 0;
  double distance_mil = 0;
};

// The car at `seconds` after the start, with the actuator tests applied.
VehicleState Simulate(const Scenario& s, double seconds, const ActuatorOverrides& forced);

// Whether the model computes this identifier (service 0x01 or 0x21).
bool ModelKnows(std::uint8_t service, std::uint8_t id);

// The data bytes (after the identifier) for a service 0x01 or 0x21
// identifier, or nullopt when the model does not compute it.
std::optional<Bytes> Encode(std::uint8_t service, std::uint8_t id, const Scenario& s,
                            const VehicleState& v);

}  // namespace kestrel::ecusim
