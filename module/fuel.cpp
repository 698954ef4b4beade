// Derived air-mass and fuel quantities shared by PIDVAL and Panel.
//
// The factors are the calibrated ones of this ECU family and are used as
// written (0.00781, not 0.0078125).

#include "module/module_internal.h"

namespace vorta::detail {

namespace {

// Injection time × engine speed × cylinders × injector flow to ml/h.
constexpr double kInjectionFactor = 1.5980392156862745e-5;
// Air flow (g/s) to fuel flow at the stoichiometric ratio, ml/h.
constexpr double kAirFlowFactor = 244897.95918367346;
// Speed-density: pressure × displacement × engine speed to fuel flow.
constexpr double kPressureDivisor = 58666476.96;
constexpr double kAirGasFactor = 28.98;
constexpr double kKelvinOffset = 233.15;  // IAT carries +40, so 273.15 − 40

double ByteAt(const std::uint8_t* store, StoreArea area, unsigned pid, unsigned index) {
  return Slot(store, area, pid)[index];
}

double WordAt(const std::uint8_t* store, StoreArea area, unsigned pid) {
  return ByteAt(store, area, pid, 0) * 256.0 + ByteAt(store, area, pid, 1);
}

}  // namespace

EngineBytes ReadEngineBytes(const std::uint8_t* store, StoreArea area) {
  EngineBytes e;
  e.Map = ByteAt(store, area, 0x0B, 0);
  e.Rpm4 = WordAt(store, area, 0x0C);
  e.Iat = ByteAt(store, area, 0x0F, 0);
  e.Vss = ByteAt(store, area, 0x0D, 0);
  e.Maf = WordAt(store, area, 0x10);
  e.Inj = ByteAt(store, area, 0xE4, 0);
  e.Cut = Slot(store, area, 0xE8)[1];
  return e;
}

double FuelTrim(std::uint8_t a, std::uint8_t b) {
  if (a == 0 || b == 0) return 1.0;
  return 0.00781 * (static_cast<double>(a) + static_cast<double>(b)) - 1.0;
}

double TemperatureCorrection(const EngineBytes& e) {
  return 0.001 * (e.Iat - 60.0) + 1.0;
}

double FuelFlowFromInjection(const EngineBytes& e, const EngineConstants& c) {
  if ((e.Cut & 3) != 0) return 0.0;
  return e.Inj * e.Rpm4 * kInjectionFactor * static_cast<double>(c.Cylinders) * c.InjectorFlow;
}

double FuelFlowFromAirFlow(const EngineBytes& e, double trim1, double trim2,
                           const EngineConstants& c) {
  // A fuel factor of 0 (the settings allow it) would divide by zero.
  if (c.FuelFactor == 0) return 0.0;
  return kAirFlowFactor * (e.Maf / 100.0) * TemperatureCorrection(e) * trim1 * trim2 /
         static_cast<double>(c.FuelFactor);
}

double FuelFlowFromPressure(const EngineBytes& e, double trim1, double trim2,
                            const EngineConstants& c) {
  if (c.FuelFactor == 0) return 0.0;
  const double k = kAirGasFactor * static_cast<double>(c.MapCorrection) / 100.0;
  return TemperatureCorrection(e) * static_cast<double>(c.Displacement) * e.Rpm4 * e.Map *
         (k * 3600.0 * 1000.0 / kPressureDivisor) * trim1 * trim2 /
         (static_cast<double>(c.FuelFactor) * (kKelvinOffset + e.Iat));
}

}  // namespace vorta::detail
