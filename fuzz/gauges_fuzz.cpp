// The dashboard's gauges with arbitrary values: the bar and arc gauges drawn
// into pictures of any size with any bands (NaN, infinities, High = Low and
// bands in any order included), and the dashboard's ticks over Panel records
// holding any values.
//
// Input (read with FuzzedDataProvider): a picture size and bands for each
// gauge, then Panel records, one a tick.
//
// Properties: every pixel is black, grey or a band colour; every text the
// dashboard shows is short enough for its label (a number in fixed notation
// switches to scientific notation rather than growing).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "link/link_globals.h"
#include "screenlogic/dashboard.h"
#include "screenlogic/gauges.h"

namespace {

using namespace kestrel;

// Longer than any label of the dashboard holds.
constexpr std::size_t kMaxText = 24;

vorta::GaugeBands Bands(FuzzedDataProvider& in) {
  vorta::GaugeBands g{};
  g.Value = in.ConsumeFloatingPoint<double>();
  // Mostly ordered bands; sometimes anything at all.
  if (in.ConsumeBool()) {
    g.Low = in.ConsumeFloatingPoint<double>();
    g.Green = in.ConsumeFloatingPoint<double>();
    g.Yellow = in.ConsumeFloatingPoint<double>();
    g.Red = in.ConsumeFloatingPoint<double>();
    g.High = in.ConsumeFloatingPoint<double>();
  } else {
    g.Low = in.ConsumeFloatingPointInRange(-100.0, 100.0);
    g.Green = g.Low + in.ConsumeFloatingPointInRange(0.0, 100.0);
    g.Yellow = g.Green + in.ConsumeFloatingPointInRange(0.0, 100.0);
    g.Red = g.Yellow + in.ConsumeFloatingPointInRange(0.0, 100.0);
    g.High = g.Red + in.ConsumeFloatingPointInRange(0.0, 100.0);
  }
  return g;
}

void CheckPixels(const PixelBuffer& picture) {
  for (int y = 0; y < picture.Height(); ++y) {
    for (int x = 0; x < picture.Width(); ++x) {
      const TColor c = picture.At(x, y);
      FUZZ_CHECK(c == kBlack || c == kGrey || c == clActiveCaption || c == kLime || c == kYellow ||
                     c == kRed,
                 "pixel " + std::to_string(x) + "," + std::to_string(y));
    }
  }
}

void CheckText(const std::string& text) {
  FUZZ_CHECK(text.size() <= kMaxText, "\"" + text + "\"");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static DashboardLogic dashboard;
  FuzzedDataProvider in(data, size);

  PixelBuffer bar(in.ConsumeIntegralInRange(-2, 64), in.ConsumeIntegralInRange(-2, 400));
  const GaugeLabel label = DrawBarGauge(bar, Bands(in));
  CheckPixels(bar);
  CheckText(label.Text);
  PixelBuffer arc(in.ConsumeIntegralInRange(-2, 600), in.ConsumeIntegralInRange(-2, 300));
  DrawArcGauge(arc, Bands(in));
  CheckPixels(arc);

  dashboard.Show();
  dashboard.Activate();
  for (int tick = 0; tick < 4 && in.remaining_bytes() > 0; ++tick) {
    vorta::PanelRecord& r = dashboard.Record();
    for (vorta::GaugeBands& g : r.Gauges) g = Bands(in);
    r.DtcCount = in.ConsumeIntegral<std::uint8_t>();
    r.CheckLamp = in.ConsumeIntegral<std::uint8_t>();
    r.Speed = in.ConsumeFloatingPoint<double>();
    r.Selector = in.ConsumeIntegral<std::uint16_t>();
    r.Gear = in.ConsumeIntegral<std::uint8_t>();
    r.FlowMlh = in.ConsumeFloatingPoint<double>();
    r.FlowL100 = in.ConsumeFloatingPoint<double>();
    dashboard.Present(lsExchange, 0, 1);
    const DashboardView& v = dashboard.View();
    for (int i = 0; i < kBarGauges; ++i) {
      CheckText(v.Bars[i].Text);
      CheckPixels(dashboard.Bar(i));
    }
    CheckPixels(dashboard.Arc());
    for (const std::string* text : {&v.Codes, &v.Rpm, &v.FlowMlh, &v.AvgMlh, &v.FlowL100,
                                    &v.AvgL100, &v.FuelUsed, &v.Speed, &v.Gear}) {
      CheckText(*text);
    }
  }
  return 0;
}
