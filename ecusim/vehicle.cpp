#include "ecusim/vehicle.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kestrel::ecusim {

namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;
constexpr double kTyreCircumference = 1.95;  // m
constexpr double kFinalDrive = 3.9;
constexpr double kAutoRatios[] = {2.85, 1.50, 1.00, 0.70};
constexpr double kManualRatios[] = {3.50, 1.95, 1.30, 1.00, 0.80};

std::uint8_t U8(double v) {
  return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}
std::uint16_t U16(double v) {
  return static_cast<std::uint16_t>(std::clamp(std::lround(v), 0L, 65535L));
}
void Put16(Bytes& b, double v) {
  const std::uint16_t w = U16(v);
  b.push_back(static_cast<std::uint8_t>(w >> 8));
  b.push_back(static_cast<std::uint8_t>(w & 0xFF));
}

// Where the drive is at time t: speed, acceleration, selector, distance.
struct DrivePoint {
  double speed = 0, accel = 0, distance = 0;
  char selector = 'P';
};

double SegmentDistance(const Segment& g, double dt) {
  // km: average speed (km/h) times hours.
  const double v1 = g.from + (g.to - g.from) * dt / g.seconds;
  return (g.from + v1) / 2 * dt / 3600.0;
}

DrivePoint Drive(const Scenario& s, double t) {
  DrivePoint p;
  if (s.drive.empty()) return p;
  double loop = 0, loop_km = 0;
  for (const auto& g : s.drive) {
    loop += g.seconds;
    loop_km += SegmentDistance(g, g.seconds);
  }
  const double loops = std::floor(t / loop);
  double tau = t - loops * loop;
  p.distance = loops * loop_km;
  for (const auto& g : s.drive) {
    if (tau < g.seconds) {
      p.speed = g.from + (g.to - g.from) * tau / g.seconds;
      p.accel = (g.to - g.from) / g.seconds;
      p.selector = g.selector;
      p.distance += SegmentDistance(g, tau);
      return p;
    }
    tau -= g.seconds;
    p.distance += SegmentDistance(g, g.seconds);
  }
  p.selector = s.drive.back().selector;
  p.speed = s.drive.back().to;
  return p;
}

// A four-speed automatic: D uses all four gears (three with overdrive off),
// 3 up to third, 2 up to second, L and R first only.
int AutoGear(char selector, double v, bool od_off) {
  switch (selector) {
    case 'P':
    case 'N':
      return 0;
    case 'R':
    case 'L':
      return 1;
    default:
      break;
  }
  int g = v < 18 ? 1 : v < 35 ? 2 : v < 55 ? 3 : 4;
  if (selector == '3' || od_off) g = std::min(g, 3);
  if (selector == '2') g = std::min(g, 2);
  return g;
}

int ManualGear(double v) {
  return v < 1 ? 0 : v < 15 ? 1 : v < 30 ? 2 : v < 50 ? 3 : v < 70 ? 4 : 5;
}

}  // namespace

VehicleState Simulate(const Scenario& s, double t, const ActuatorOverrides& forced) {
  VehicleState v;
  v.t = std::max(0.0, t);
  t = v.t;
  const DrivePoint d = Drive(s, t);
  v.speed = d.speed;
  v.accel = d.accel;
  v.distance = d.distance;
  v.selector = s.automatic ? d.selector : (d.speed > 0 ? 'D' : 'N');
  v.od_off = s.od_off;
  v.ambient = s.ambient;

  // Warm-up: first-order approach to the warm temperatures, about 95% after warmup_seconds.
  v.coolant =
      s.coolant_warm - (s.coolant_warm - s.coolant_start) * std::exp(-3 * t / s.warmup_seconds);
  v.fluid =
      s.fluid_warm - (s.fluid_warm - s.fluid_start) * std::exp(-3 * t / (1.8 * s.warmup_seconds));
  const double span = s.coolant_warm - s.coolant_start;
  const double warm = span > 0 ? std::clamp((v.coolant - s.coolant_start) / span, 0.0, 1.0) : 1.0;

  v.idle_target = s.idle_rpm + (s.cold_idle_rpm - s.idle_rpm) * (1 - warm);
  if (v.selector != 'P' && v.selector != 'N') {
    v.idle_target -= 50;  // the torque converter loads the engine in gear
  }
  if (forced.idle_delta_rpm) v.idle_target += *forced.idle_delta_rpm;
  v.idle_target = std::clamp(v.idle_target, 300.0, 3000.0);

  v.gear = s.automatic ? AutoGear(v.selector, v.speed, s.od_off) : ManualGear(v.speed);
  const bool moving = v.speed >= 1;
  const bool steady = std::abs(v.accel) < 0.6;
  v.lockup = s.automatic && v.gear >= 3 && v.speed >= 50 && steady;

  const double wheel_rpm = v.speed / 3.6 / kTyreCircumference * 60;
  v.output_rpm = wheel_rpm * kFinalDrive;
  double rpm = v.idle_target + 8 * std::sin(kTwoPi * t / 3.1);
  if (moving && v.gear > 0) {
    const double ratio = s.automatic ? kAutoRatios[v.gear - 1] : kManualRatios[v.gear - 1];
    double geared = v.output_rpm * ratio;
    v.turbine_rpm = geared;
    if (s.automatic && !v.lockup) geared += v.accel > 0.2 ? 450 : 150;  // converter slip
    rpm = std::max(rpm, geared);
  } else {
    v.turbine_rpm = (v.selector == 'P' || v.selector == 'N') ? rpm : 0;
  }
  v.rpm = std::clamp(rpm, 0.0, 6500.0);

  // Throttle, load and fuel cut.
  double opening = 0;
  if (moving) {
    if (v.accel > 0.6) {
      opening = std::min(60.0, 18 + v.accel * 6);
    } else if (v.accel < -0.6) {
      opening = 0;
    } else {
      opening = 5 + v.speed * 0.12;
    }
  }
  v.throttle_opening = opening;
  v.throttle = 14 + opening * 0.8;
  v.fuel_cut = v.accel < -0.6 && v.rpm > 1300 && opening == 0;
  if (v.fuel_cut) {
    v.load = 6;
  } else if (!moving) {
    v.load = 19 + 8 * (1 - warm) + (v.selector == 'D' ? 3 : 0);
  } else if (v.accel > 0.6) {
    v.load = std::min(95.0, 45 + v.accel * 7);
  } else {
    v.load = 24 + v.speed * 0.15;
  }
  v.load_signal_v = 1.2 + v.load / 100;
  v.map = std::clamp(20 + v.load * 0.8, 20.0, 101.0);
  v.baro = 101;
  const double ve = 0.55 + 0.3 * v.load / 100;
  v.maf = s.displacement / 1000 * v.rpm / 120 * v.map / v.baro * 1.2 * ve;

  // Mixture.
  const bool warming = v.coolant < 40 || t < 30;
  v.closed_loop = !warming && !v.fuel_cut && v.load < 70;
  v.fuel_status = v.closed_loop ? 2 : (warming ? 1 : 4);
  v.ltft = v.closed_loop ? s.ltft : 0;
  v.stft = v.closed_loop ? 3 * std::sin(kTwoPi * t / 1.7) : 0;
  v.purge = v.closed_loop && v.speed > 30 ? 40 : 0;
  if (v.fuel_cut) {
    v.lambda = 1.99;
  } else if (v.closed_loop) {
    v.lambda = 1.0 + 0.015 * std::sin(kTwoPi * t / 1.1);
  } else {
    v.lambda = warming ? 0.92 : 0.88;
  }
  // In closed loop the ECU aims at the stoichiometric mixture; the oxygen
  // sensor's swing around it is not part of the command.
  v.lambda_commanded = v.closed_loop ? 1.0 : v.lambda;
  if (v.fuel_cut) {
    v.o2_s1 = 0.05;
  } else if (v.closed_loop) {
    v.o2_s1 = 0.45 + 0.4 * std::sin(kTwoPi * t / 1.1);
  } else {
    v.o2_s1 = t < 30 ? 0.1 : 0.8;
  }
  v.o2_s2 = warm > 0.5 ? 0.65 + 0.05 * std::sin(kTwoPi * t / 7) : 0.1;

  // Injection: fuel mass per injection over the injector's flow, plus dead time.
  if (v.fuel_cut || v.rpm < 1) {
    v.inj_ms = 0;
  } else {
    const double fuel_gs = v.maf / (14.7 * v.lambda);
    const double per_injection_ml = fuel_gs / (s.cylinders * v.rpm / 120) / 0.745;
    v.inj_ms = per_injection_ml / (s.injector_flow / 60000) + 0.6;
    v.inj_ms *= 1 + (v.stft + v.ltft) / 100;
    if (forced.injection_pct) v.inj_ms *= 1 + *forced.injection_pct / 100;
    v.inj_ms = std::clamp(v.inj_ms, 0.0, 32.6);
  }

  if (forced.timing_deg) {
    v.timing = *forced.timing_deg;
  } else if (v.fuel_cut) {
    v.timing = 5;
  } else if (!moving) {
    v.timing = 8 + 2 * std::sin(kTwoPi * t / 2.3) + 3 * (1 - warm);
  } else if (v.accel > 0.6) {
    v.timing = 14;
  } else {
    v.timing = std::min(38.0, 12 + v.speed * 0.25);
  }

  v.iat = s.ambient + 6 + 10 * warm - (v.speed > 40 ? 3 : 0);
  v.battery = 14.1 + 0.05 * std::sin(kTwoPi * t / 5);
  v.cat_temp = 150 + 450 * warm + v.speed * 1.5;
  v.fuel_level = std::max(5.0, 62 - t * 0.002);

  // LID E1 byte 0: bit 0 fuel pump, bit 1 cooling fan, bit 2 EVAP valve.
  std::uint8_t e1 = 0x01;
  if (v.coolant > 95) e1 |= 0x02;
  if (warm > 0.8 && v.speed > 30) e1 |= 0x04;
  v.e1[0] = e1;
  v.e1[1] = 0;
  for (const auto& [key, ms] : forced.switches) {
    if ((key >> 8) == 0xE1 && (key & 0xFF) < 2) {
      auto& b = v.e1[key & 0xFF];
      b = static_cast<std::uint8_t>((b & ~ms.first) | (ms.second & ms.first));
    }
  }
  return v;
}

namespace {

// Identifiers of service 01 (and the same numbers of service 21) the model computes.
constexpr std::uint8_t kStandard[] = {0x01, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0B,
                                      0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x13, 0x14, 0x15,
                                      0x1C, 0x1F, 0x21, 0x2E, 0x2F, 0x30, 0x31, 0x33, 0x3C,
                                      0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x49, 0x4A, 0x4C};
// Toyota-family local identifiers the model computes.
constexpr std::uint8_t kFamily[] = {0x9B, 0xB1, 0xB4, 0xBB, 0xE1, 0xE2, 0xE3,
                                    0xE4, 0xE8, 0xF8, 0xF9, 0xFC, 0xFD};
// Of those, the ones of the automatic transmission: a car with a manual
// gearbox does not answer them.
constexpr std::uint8_t kTransmission[] = {0xB1, 0xB4, 0xBB, 0xF8, 0xF9, 0xFC, 0xFD};

bool In(const std::uint8_t* b, const std::uint8_t* e, std::uint8_t id) {
  return std::find(b, e, id) != e;
}

// LID F9, AB: one bit for each lever position the shift-position switch
// reports, 0x001 "3", 0x004 D, 0x100 L, 0x200 2, 0x400 R, and 0x1000 while
// the overdrive switch is off. N has no bit: none of 0x70F is set. P has none
// either: the park/neutral contact is one switch, closed in P and in N, so
// the engine ECU cannot tell them apart and reports park like neutral.
// 0x002 and 0x008 (S) stay clear: this gearbox has no such positions.
std::uint16_t SelectorBits(char sel, bool od_off) {
  std::uint16_t bits = od_off ? 0x1000 : 0;
  switch (sel) {
    case '3':
      return bits | 0x0001;
    case 'D':
      return bits | 0x0004;
    case 'L':
      return bits | 0x0100;
    case '2':
      return bits | 0x0200;
    case 'R':
      return bits | 0x0400;
    default:  // P, N
      return bits;
  }
}

std::optional<Bytes> Standard(std::uint8_t id, const Scenario& s, const VehicleState& v) {
  Bytes b;
  const double trim_byte = (v.stft + 100) / 0.781;
  switch (id) {
    case 0x01: {
      const std::uint8_t c = static_cast<std::uint8_t>(std::min(v.code_count, 127));
      b = {static_cast<std::uint8_t>((v.mil ? 0x80 : 0) | c), 0x07, 0x65,
           static_cast<std::uint8_t>(v.coolant < 60 ? 0x61 : 0x00)};
      break;
    }
    case 0x03:
      b = {static_cast<std::uint8_t>(v.fuel_status), 0x00};
      break;
    case 0x04:
      b = {U8(v.load * 255 / 100)};
      break;
    case 0x05:
      b = {U8(v.coolant + 40)};
      break;
    case 0x06:
      b = {U8(trim_byte)};
      break;
    case 0x07:
      b = {U8((v.ltft + 100) / 0.781)};
      break;
    case 0x08:
      b = {U8(trim_byte)};
      break;
    case 0x09:
      b = {U8((v.ltft + 100) / 0.781)};
      break;
    case 0x0B:
      b = {U8(v.map)};
      break;
    case 0x0C:
      Put16(b, v.rpm * 4);
      break;
    case 0x0D:
      b = {U8(v.speed)};
      break;
    case 0x0E:
      b = {U8((v.timing + 64) * 2)};
      break;
    case 0x0F:
      b = {U8(v.iat + 40)};
      break;
    case 0x10:
      Put16(b, v.maf * 100);
      break;
    case 0x11:
      b = {U8(v.throttle * 255 / 100)};
      break;
    case 0x13:
      b = {s.o2_sensors};
      break;
    case 0x14:
      b = {U8(v.o2_s1 / 0.005), U8(trim_byte)};
      break;
    case 0x15:
      b = {U8(v.o2_s2 / 0.005), 0xFF};
      break;
    case 0x1C:
      b = {s.obd_type};
      break;
    case 0x1F:
      Put16(b, v.t);
      break;
    case 0x21:
      Put16(b, v.distance_mil);
      break;
    case 0x2E:
      b = {U8(v.purge * 255 / 100)};
      break;
    case 0x2F:
      b = {U8(v.fuel_level * 255 / 100)};
      break;
    case 0x30:
      b = {12};
      break;
    case 0x31:
      Put16(b, 1500 + v.distance);
      break;
    case 0x33:
      b = {U8(v.baro)};
      break;
    case 0x3C:
      Put16(b, (v.cat_temp + 40) * 10);
      break;
    case 0x42:
      Put16(b, v.battery * 1000);
      break;
    case 0x43:
      Put16(b, v.load * 255 / 100);
      break;
    case 0x44:
      Put16(b, v.lambda_commanded / 0.0000305);
      break;
    case 0x45:
      b = {U8(v.throttle_opening * 255 / 100)};
      break;
    case 0x46:
      b = {U8(v.ambient + 40)};
      break;
    case 0x47:
      b = {U8((v.throttle + 16) * 255 / 100)};
      break;
    case 0x49:
      b = {U8((15 + v.throttle_opening * 0.9) * 255 / 100)};
      break;
    case 0x4A:
      b = {U8((7 + v.throttle_opening * 0.45) * 255 / 100)};
      break;
    case 0x4C:
      b = {U8(v.throttle_opening * 255 / 100)};
      break;
    default:
      return std::nullopt;
  }
  return b;
}

std::optional<Bytes> Family(std::uint8_t id, const Scenario& s, const VehicleState& v) {
  if (!s.automatic && In(std::begin(kTransmission), std::end(kTransmission), id)) {
    return std::nullopt;
  }
  Bytes b;
  switch (id) {
    case 0x9B:
      b = {U8(v.ambient + 40)};
      break;
    case 0xB1:
      b = {U8(v.throttle_opening * 255 / 100)};
      break;
    case 0xB4:
      Put16(b, (v.fluid + 40) / 0.004);
      break;
    case 0xBB:
      b = {static_cast<std::uint8_t>(v.gear & 7), static_cast<std::uint8_t>(v.lockup ? 1 : 0)};
      break;
    case 0xE1:
      b = {v.e1[0], v.e1[1]};
      break;
    case 0xE2:
      b = {U8(v.idle_target / 25), U8(v.load_signal_v * 255 / 3.97)};
      break;
    case 0xE3:
      Put16(b, v.battery / 0.0125);
      break;
    case 0xE4:
      b = {U8(v.inj_ms * 255 / 32.6)};
      break;
    case 0xE8:
      b = {static_cast<std::uint8_t>(v.throttle_opening == 0 ? 0x01 : 0x00),
           static_cast<std::uint8_t>(v.fuel_cut ? 0x01 : 0x00)};
      break;
    case 0xF8:
      b = {static_cast<std::uint8_t>((v.gear & 7) | (v.lockup ? 0x08 : 0) | (v.od_off ? 0x10 : 0))};
      break;
    case 0xF9: {
      const std::uint16_t sel = SelectorBits(v.selector, v.od_off);
      b = {static_cast<std::uint8_t>(sel >> 8), static_cast<std::uint8_t>(sel & 0xFF)};
      break;
    }
    case 0xFC:
      b = {U8(v.turbine_rpm / 50)};
      break;
    case 0xFD:
      b = {U8(v.output_rpm / 50)};
      break;
    default:
      return std::nullopt;
  }
  return b;
}

}  // namespace

bool ModelKnows(std::uint8_t service, std::uint8_t id) {
  const bool standard = In(std::begin(kStandard), std::end(kStandard), id);
  if (service == 0x01) return standard;
  if (service == 0x21) return standard || In(std::begin(kFamily), std::end(kFamily), id);
  return false;
}

std::optional<Bytes> Encode(std::uint8_t service, std::uint8_t id, const Scenario& s,
                            const VehicleState& v) {
  if (!ModelKnows(service, id)) return std::nullopt;
  if (auto b = Standard(id, s, v)) return b;
  return Family(id, s, v);
}

}  // namespace kestrel::ecusim
