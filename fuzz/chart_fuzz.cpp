// The graphs window's chart with arbitrary values: ticks of four channel
// values of any size (NaN, infinities and values far beyond the scale
// included), visibility changes, GrafInit and cursors set to anything.
//
// Input (read with FuzzedDataProvider): a run of ticks, each a choice of what
// happens before it and four values.
//
// Properties: every pixel is white, the frame's grey or a channel's pen; a
// tick that does not redraw the whole chart changes no pixel outside the
// columns it reports; the cursor stays inside the picture; every label is
// short enough for its place (fixed notation switches to scientific rather
// than growing).
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "screenlogic/chart.h"

namespace {

using namespace kestrel;

constexpr std::size_t kMaxLabel = 24;

bool ChartColour(TColor c) {
  return c == kWhite || c == kChartGrey ||
         std::find(std::begin(kChartPens), std::end(kChartPens), c) != std::end(kChartPens);
}

void CheckLabels(const Chart& chart) {
  for (int k = 0; k < kChartChannels; ++k) {
    const ChannelLabels& l = chart.Labels(k);
    for (const std::string* text : {&l.Value, &l.Min, &l.Middle, &l.Max}) {
      FUZZ_CHECK(!text->empty() && text->size() <= kMaxLabel, "\"" + *text + "\"");
    }
  }
}

double Value(FuzzedDataProvider& in) {
  // Mostly values a parameter has, now and then anything at all.
  return in.ConsumeBool() ? in.ConsumeFloatingPoint<double>()
                          : in.ConsumeFloatingPointInRange(-2000.0, 9000.0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  static Chart chart;
  chart.Visible = {true, true, true, true};
  chart.Init();
  PixelBuffer before = chart.Picture();
  // More ticks than the chart is wide, so that the wrap and shift are reached.
  for (int tick = 0; tick < 560 && in.remaining_bytes() > 0; ++tick) {
    switch (in.ConsumeIntegralInRange(0, 15)) {
      case 0:
        chart.Init();
        before = chart.Picture();
        break;
      case 1: {
        const int k = in.ConsumeIntegralInRange(0, kChartChannels - 1);
        chart.Visible[k] = !chart.Visible[k];
        chart.Redraw = 1;  // as the window does when a visibility box changes
        break;
      }
      case 2:
        chart.Cursor = in.ConsumeIntegral<std::int32_t>();
        break;
      default:
        break;
    }
    for (double& v : chart.Values) v = Value(in);
    const ChartDamage damage = chart.Draw();
    FUZZ_CHECK(chart.Cursor >= 0 && chart.Cursor < chart.Width(), std::to_string(chart.Cursor));
    FUZZ_CHECK(damage.First >= 0 && damage.Last < chart.Width());
    const PixelBuffer& now = chart.Picture();
    const int w = now.Width();
    const int first = damage.Full ? 0 : damage.First;
    const int last = damage.Full ? w - 1 : damage.Last;
    for (int y = 0; y < now.Height(); ++y) {
      const std::uint32_t* row = now.Bits() + static_cast<std::size_t>(y) * w;
      const std::uint32_t* old = before.Bits() + static_cast<std::size_t>(y) * w;
      // Outside the damage nothing changed (and was checked before).
      FUZZ_CHECK(
          std::equal(row, row + first, old) && std::equal(row + last + 1, row + w, old + last + 1),
          "row " + std::to_string(y) + " changed outside the damage " + std::to_string(first) +
              ".." + std::to_string(last));
      for (int x = first; x <= last; ++x) {
        FUZZ_CHECK(ChartColour(now.At(x, y)),
                   "pixel " + std::to_string(x) + "," + std::to_string(y));
      }
    }
    CheckLabels(chart);
    before = now;
  }
  return 0;
}
