#include "screenlogic/dashboard.h"

#include "common/cp1251.h"

namespace kestrel {

using namespace cp1251_literals;

const GaugeSpec kDashboardGauges[4] = {
    {2, 20, 81, 97, 101, 130},      // coolant temperature, °C
    {9, 20, 50, 81, 90, 130},       // transmission fluid temperature, °C
    {1, 0, 0, 80, 89, 100},         // engine load, %
    {4, 0, 1000, 4050, 5050, 7000}  // engine speed, rpm
};

void FillPanelRecord(vorta::PanelRecord& record, const std::uint8_t* store,
                     const vorta::ValueQuery& engine) {
  record.Store = store;
  for (int g = 0; g < 4; ++g) {
    const GaugeSpec& spec = kDashboardGauges[g];
    vorta::GaugeBands& bands = record.Gauges[g];
    bands.Source = spec.Source;
    bands.Low = spec.Low;
    bands.Green = spec.Green;
    bands.Yellow = spec.Yellow;
    bands.Red = spec.Red;
    bands.High = spec.High;
  }
  record.Cylinders = engine.Cylinders;
  record.InjectorFlow = engine.InjectorFlow;
  record.Displacement = engine.Displacement;
  record.FuelFactor = engine.FuelFactor;
  record.MapCorrection = engine.MapCorrection;
}

std::string GearText(std::uint8_t gear) {
  if (gear == 0xFF) return "нет данных"_cp;
  std::string text = std::to_string(gear & 7);
  if (gear & 0x08) text += "+LockUp";
  if (gear & 0x10) text += "+O/D OFF";
  return text;
}

std::string SelectorText(std::uint16_t selector) {
  if (selector == 0xFFFF) return "нет данных"_cp;
  static const char* const kPositions[6] = {"P", "R", "N", "D", "2", "L"};
  std::string text;
  for (int bit = 0; bit < 6; ++bit) {
    if (selector & (1u << bit))
      text += text.empty() ? kPositions[bit] : std::string(",") + kPositions[bit];
  }
  return text.empty() ? "-" : text;
}

}  // namespace kestrel
