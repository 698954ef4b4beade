// The dashboard's logic: the record handed to the module's Panel on every
// tick (the four gauges and the engine settings), the reconnect rule, and
// what each tick shows: status, buttons, lamp, code count, the bar and arc
// gauges (drawn into pixel buffers), engine speed with the fuel consumption
// sums, averages and fuel used, road speed, gear and the shift-lever picture.
// TForm5 (screens/dashboard.h) shows it; kestrel-cli's "dashboard" command
// runs the same ticks and prints the same texts.
#pragma once

#include <cstdint>
#include <string>

#include "module/vorta.h"
#include "screenlogic/gauges.h"

namespace kestrel {

// The four gauges, in record order: coolant temperature, transmission fluid
// temperature, engine load, engine speed.
enum DashboardGauge : int { kGaugeCoolant = 0, kGaugeFluid = 1, kGaugeLoad = 2, kGaugeRpm = 3 };
inline constexpr int kBarGauges = 3;

// The source and band constants of each gauge.
struct GaugeSpec {
  std::uint8_t Source;
  double Low, Green, Yellow, Red, High;
};
extern const GaugeSpec kDashboardGauges[4];

// The pictures' design sizes: the three bars and the engine speed arc.
inline constexpr int kBarWidth = 32;
inline constexpr int kBarHeight = 270;
inline constexpr int kArcWidth = 480;
inline constexpr int kArcHeight = 241;

// Fills the record as every tick does before calling Panel: the store, the
// gauges' sources and bands, and the engine settings kept in the module query.
void FillPanelRecord(vorta::PanelRecord& record, const std::uint8_t* store,
                     const vorta::ValueQuery& engine);

// A number in fixed notation: rounded (halves away from zero) to `precision`
// significant digits and at most `decimals` decimals, then written with
// exactly `decimals` decimals and the decimal separator of LC_NUMERIC. A
// value with more than `precision` integer digits is written in scientific
// notation instead ("1.2346E5"); NaN and infinities as "NAN", "INF", "-INF".
// A value that rounds to zero has no minus sign.
std::string FixedText(double value, int precision, int decimals);

// The gear as the dashboard shows it: Gear AND 7, followed by "+Lock" when
// the lock-up bit (8) is set. Empty for 255 (not available: hidden).
std::string GearText(std::uint8_t gear);

// The shift-lever pictures, by their files in "pic".
enum class SelectorPicture : std::uint8_t { None, L, Two, R, Three, D, S, N };
const char* SelectorPictureFile(SelectorPicture picture);  // "L.bmp"...; "" for None
const char* SelectorLetter(SelectorPicture picture);       // "L", "2"...; "-" for None

// The picture a selector word leaves loaded, from the one loaded before: in
// this order L (0x100), 2 (0x200), R (0x400), 3 (0x001), D (0x004), S (0x008),
// the last one set wins; N when none of 0x70F is set. 0x002 alone loads
// nothing and keeps `previous`. Not for 0xFFFF (the picture is hidden).
SelectorPicture SelectorPictureFor(std::uint16_t selector, SelectorPicture previous);

// What the dashboard shows. Texts are code page 1251 (they are all ASCII).
struct DashboardView {
  std::string Status = "Idle";  // Label5
  // The buttons after the last tick: the start/stop button is enabled in
  // idle, exchange and error and otherwise left as it is (starting disables
  // it); the exit button is enabled exactly in idle and error.
  bool StartEnable = true;
  bool ExitEnabled = true;
  std::uint8_t Lamp = 0;    // the last lamp state: 0 "checkoff.bmp", else "checkon.bmp"
  std::string Codes = "0";  // Label9
  GaugeLabel Bars[kBarGauges] = {{"100", kWhite}, {"100", kWhite}, {"100", kWhite}};
  std::string Rpm = "3000 ";       // Label1
  std::string FlowMlh = "000.00";  // Label14
  std::string AvgMlh = "000.00";   // Label22
  std::string FlowL100 = "?";      // Label18
  std::string AvgL100 = "?";       // Label21
  std::string FuelUsed = "0";      // Label13, litres
  std::string Speed = "200 ";      // Label3
  bool GearVisible = true;
  std::string Gear = "1";  // Label6
  bool SelectorVisible = true;
  SelectorPicture Selector = SelectorPicture::None;  // Image2
  bool OverdriveOff = false;                         // Image5 visible
};

// What a tick changed, so that the window redraws only that.
enum DashboardChange : unsigned {
  kChangedStatus = 1u << 0,
  kChangedLamp = 1u << 2,
  kChangedCodes = 1u << 3,
  kChangedBar0 = 1u << 4,  // kChangedBar0 << i for bar i: its picture and label
  kChangedArc = 1u << 7,   // the arc picture and the engine speed and consumption labels
  kChangedSpeed = 1u << 8,
  kChangedGear = 1u << 9,
  kChangedSelector = 1u << 10,  // picture, its visibility and the overdrive-off indicator
};

struct DashboardTick {
  unsigned Changed = 0;      // DashboardChange bits
  bool StopPolling = false;  // a link error ended the run: clear RunFlag, show the start glyph
};

// The dashboard's state for the program's lifetime: the pictures, the last
// shown values, the consumption sums and the reconnect count.
class DashboardLogic {
 public:
  DashboardLogic();

  // The window is shown: the four pictures are cleared to black.
  void Show();

  // The window is activated: the next tick shows every value anew; the
  // consumption sums and counts, the fuel used and the reconnect count start
  // from zero. The last lamp state is kept.
  void Activate();

  // The reconnect rule and the start request, first in every tick: with the
  // autostart setting on and the link in error, one more tick in error is
  // counted; once the count passes `reconnectTime` it restarts from zero and
  // `startRequest` is set. Returns true when the tick is to start or stop
  // polling (a start request was taken; `startRequest` is then cleared). A
  // reconnect time of 0 or less never reconnects.
  bool TakeStartRequest(std::uint16_t status, std::uint8_t autostart, std::int32_t reconnectTime,
                        std::uint8_t& startRequest);

  // The record for Panel, filled (FillPanelRecord) before each call.
  vorta::PanelRecord& Record() { return record_; }
  const vorta::PanelRecord& Record() const { return record_; }

  // Steps after the start request: status, buttons, then what the record
  // holds after Panel (lamp, codes, bars, engine speed block, road speed,
  // gear, selector).
  DashboardTick Present(std::uint16_t status, std::uint16_t error, std::uint8_t runFlag);

  // One whole tick after the start request: fills the record, calls `panel`
  // (nothing is called without a module: the record keeps what it holds) and
  // presents it.
  DashboardTick Update(std::uint16_t status, std::uint16_t error, std::uint8_t runFlag,
                       vorta::PanelProc panel, const std::uint8_t* store,
                       const vorta::ValueQuery& engine);

  const DashboardView& View() const { return view_; }
  const PixelBuffer& Bar(int i) const { return bars_[i]; }
  const PixelBuffer& Arc() const { return arc_; }

  // Consumption state, for tests.
  double FuelUsedLitres() const { return fuelUsed_; }
  std::int32_t ReconnectTicks() const { return reconnectTicks_; }

 private:
  bool Changed(int index, double value);
  void EngineSpeedBlock();

  vorta::PanelRecord record_{};
  DashboardView view_;
  PixelBuffer bars_[kBarGauges];
  PixelBuffer arc_;

  // The last shown values: the three bars, engine speed, road speed. Nothing
  // counts as shown after activation, so its first tick shows every value,
  // whatever it is.
  double last_[5] = {};
  bool shown_[5] = {};
  std::int32_t lastSelector_ = -1;  // -1: nothing shown
  std::int32_t lastCodes_ = -1;

  double sumMlh_ = 0.0;
  std::uint64_t countMlh_ = 0;
  double sumL100_ = 0.0;
  std::uint64_t countL100_ = 0;
  double avgMlh_ = 0.0;
  double avgL100_ = 0.0;
  double fuelUsed_ = 0.0;
  std::int32_t reconnectTicks_ = 0;
};

}  // namespace kestrel
