// Panel: every quantity of the dashboard in one call.
//
// Each quantity is read from the Mode 01 slot of its PID when that slot holds
// data, else from the Local 21 slot of the same number; the dashboard may ask
// the ECU with either service.

#include "module/module_internal.h"

namespace vorta::detail {

namespace {

// The slot of `pid` that holds data, Mode 01 first; null when neither does.
const std::uint8_t* PickSlot(const std::uint8_t* store, unsigned pid) {
  const std::uint8_t* mode01 = Slot(store, kAreaMode01, pid);
  if (HasData(mode01)) return mode01;
  const std::uint8_t* local21 = Slot(store, kAreaLocal21, pid);
  if (HasData(local21)) return local21;
  return nullptr;
}

double Word(const std::uint8_t* slot) {
  return slot[0] * 256.0 + slot[1];
}

// The value of a gauge source, 0.0 without data or for an unknown source.
double GaugeValue(const std::uint8_t* store, std::uint8_t source) {
  static constexpr std::uint8_t kPids[] = {0,    0x04, 0x05, 0x0B, 0x0C, 0x0E,
                                           0x0F, 0x10, 0x11, 0xB4, 0xE3, 0xE4};
  if (source == 0 || source >= sizeof kPids) return 0.0;
  const std::uint8_t* s = PickSlot(store, kPids[source]);
  if (s == nullptr) return 0.0;
  const double a = s[0];
  switch (source) {
    case 1:  // calculated load
    case 8:  // throttle position
      return a * 100.0 / 255.0;
    case 2:  // coolant temperature
    case 6:  // intake air temperature
      return a - 40.0;
    case 3:  // manifold absolute pressure
      return a;
    case 4:  // engine speed
      return Word(s) / 4.0;
    case 5:  // ignition timing advance
      return a * 0.5 - 64.0;
    case 7:  // air flow rate
      return Word(s) * 0.01;
    case 9:
      return Word(s) * 0.004 - 40.0;
    case 10:
      return Word(s) * 0.0125;
    case 11:
      return 32.6 * a / 255.0;
    default:
      return 0.0;
  }
}

// Trim from the first area where both bytes are non-zero, else 1.0.
double PanelTrim(const std::uint8_t* store, unsigned pidA, unsigned pidB) {
  for (StoreArea area : {kAreaMode01, kAreaLocal21}) {
    const std::uint8_t a = Slot(store, area, pidA)[0];
    const std::uint8_t b = Slot(store, area, pidB)[0];
    if (a != 0 && b != 0) return FuelTrim(a, b);
  }
  return 1.0;
}

}  // namespace

void ComputePanel(PanelRecord& record) {
  record.Speed = 0.0;
  record.Gear = 0xFF;
  record.Selector = 0xFFFF;
  const std::uint8_t* store = record.Store;
  if (store == nullptr) {
    for (GaugeBands& gauge : record.Gauges) gauge.Value = 0.0;
    record.FlowMlh = 0.0;
    record.FlowL100 = 0.0;
    return;
  }

  if (const std::uint8_t* s = PickSlot(store, 0x0D)) record.Speed = s[0];
  if (const std::uint8_t* s = PickSlot(store, 0xBB)) {
    // Gear number in bits 0-2, lock-up (bit 0 of B) in bit 3.
    record.Gear = static_cast<std::uint8_t>(s[1] * 8u + s[0]);
  }
  if (const std::uint8_t* s = PickSlot(store, 0xF8)) record.Gear = s[0];
  if (const std::uint8_t* s = PickSlot(store, 0xF9)) {
    record.Selector = static_cast<std::uint16_t>(s[0] * 256u + s[1]);
  }
  // Without data the lamp and the code count keep what the caller's record had.
  if (const std::uint8_t* s = PickSlot(store, 0x01)) {
    record.CheckLamp = (s[0] & 0x80) != 0 ? 1 : 0;
    record.DtcCount = s[0] & 0x7F;
  }

  for (GaugeBands& gauge : record.Gauges) gauge.Value = GaugeValue(store, gauge.Source);

  // Fuel: the first method whose key slot has data in its area; all of the
  // method's inputs come from that area, the trims from wherever they are.
  record.FlowMlh = 0.0;
  record.FlowL100 = 0.0;
  const EngineConstants engine{record.Cylinders, record.InjectorFlow, record.Displacement,
                               record.FuelFactor, record.MapCorrection};
  enum class Method { kInjection, kAirFlow, kPressure };
  struct Choice {
    unsigned keyPid;
    StoreArea area;
    Method method;
  };
  static constexpr Choice kOrder[] = {
      {0xE4, kAreaMode01, Method::kInjection}, {0xE4, kAreaLocal21, Method::kInjection},
      {0x10, kAreaMode01, Method::kAirFlow},   {0x10, kAreaLocal21, Method::kAirFlow},
      {0x0B, kAreaMode01, Method::kPressure},  {0x0B, kAreaLocal21, Method::kPressure},
  };
  for (const Choice& choice : kOrder) {
    if (!HasData(Slot(store, choice.area, choice.keyPid))) continue;
    const EngineBytes bytes = ReadEngineBytes(store, choice.area);
    double flow = 0.0;
    if (choice.method == Method::kInjection) {
      flow = FuelFlowFromInjection(bytes, engine);
    } else {
      const double trim1 = PanelTrim(store, 0x06, 0x07);
      const double trim2 = PanelTrim(store, 0x08, 0x09);
      flow = choice.method == Method::kAirFlow ? FuelFlowFromAirFlow(bytes, trim1, trim2, engine)
                                               : FuelFlowFromPressure(bytes, trim1, trim2, engine);
    }
    record.FlowMlh = flow;
    if (bytes.Vss != 0) record.FlowL100 = flow / (bytes.Vss * 10.0);
    break;
  }
}

}  // namespace vorta::detail

extern "C" VORTA_EXPORT void VORTA_CALL Panel(vorta::PanelRecord* record) {
  if (record == nullptr) return;
  vorta::detail::ComputePanel(*record);
}
