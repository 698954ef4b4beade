// The dashboard's logic: the record handed to the module's Panel on every
// tick (the four gauges and the engine settings) and the texts of the gear
// and the shift lever.
#pragma once

#include <cstdint>
#include <string>

#include "module/vorta.h"

namespace kestrel {

// The four gauges, in record order: coolant temperature, transmission fluid
// temperature, engine load, engine speed.
enum DashboardGauge : int { kGaugeCoolant = 0, kGaugeFluid = 1, kGaugeLoad = 2, kGaugeRpm = 3 };

// The source and band constants of each gauge.
struct GaugeSpec {
  std::uint8_t Source;
  double Low, Green, Yellow, Red, High;
};
extern const GaugeSpec kDashboardGauges[4];

// Fills the record as every tick does before calling Panel: the store, the
// gauges' sources and bands, and the engine settings kept in the module query.
void FillPanelRecord(vorta::PanelRecord& record, const std::uint8_t* store,
                     const vorta::ValueQuery& engine);

// The gear as text: the gear number, "+LockUp" with the lock-up bit and
// "+O/D OFF" with the overdrive-off bit; "нет данных" when not available.
std::string GearText(std::uint8_t gear);
// The shift-lever position letters; "нет данных" when not available.
std::string SelectorText(std::uint16_t selector);

}  // namespace kestrel
