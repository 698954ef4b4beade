// The graphs' chart: scales that only widen (rounded halves to even, 64-bit
// compares), label texts, the frame and lines in the picture, the wrap that
// keeps the newest half, and a normal tick that draws only its new segment.
#include "screenlogic/chart.h"

#include <gtest/gtest.h>

#include <memory>

namespace kestrel {
namespace {

constexpr TColor kRed = kChartPens[0];
constexpr TColor kBlue = kChartPens[1];

// A chart after GrafInit; it is large, so it lives on the heap.
std::unique_ptr<Chart> NewChart() {
  auto chart = std::make_unique<Chart>();
  chart->Init();
  return chart;
}

TEST(ChartScale, WidensOnlyPastTheRoundedBounds) {
  struct Case {
    const char* what;
    double min, max, value;
    double wantMin, wantMax;
    bool redraw;
  };
  const Case cases[] = {
      {"constant inside", 0, 1.0, 0.5, 0, 1.0, false},
      {"within 5 % of Max widens", 0, 1.0, 0.96, 0, 0.96 * 1.05, true},
      {"negative lowers Min", 0, 1.0, -2.0, -2.1, 1.0, true},
      {"equal after scaling stays", -2.1, 1.0, -2.0, -2.1, 1.0, false},
      // Max 1.0625 gives 1062.5, rounded to 1062 (half to even): a value
      // of 1063 / 1050 is past it; rounding halves up would keep the scale.
      {"halves to even", 0, 1.0625, 1063.0 / 1050, 0, 1063.0 / 1000, true},
      {"rounded equal stays", 0, 1.0625, 1062.4 / 1050, 0, 1.0625, false},
      // Beyond 32 bits: 5.145e12 against 5e12.
      {"64-bit compare", 0, 5e9, 4.9e9, 0, 4.9e9 * 1.05, true},
      {"empty scale reset", 3, 3, 0.5, 0, 1.0, false},
  };
  for (const Case& c : cases) {
    auto chart = NewChart();
    chart->Min[1] = c.min;
    chart->Max[1] = c.max;
    chart->Values[1] = c.value;
    chart->Draw();
    EXPECT_DOUBLE_EQ(chart->Min[1], c.wantMin) << c.what;
    EXPECT_DOUBLE_EQ(chart->Max[1], c.wantMax) << c.what;
    // A widened scale is drawn whole at once, and the flag is spent.
    EXPECT_EQ(chart->Redraw, 0) << c.what;
    EXPECT_EQ(chart->Labels(1).Max, LabelText(c.wantMax)) << c.what;
  }
  // A widening redraws at the next tick; a constant value never does.
  auto chart = NewChart();
  chart->Values[0] = 0.5;
  for (int i = 0; i < 600; ++i) {
    const ChartDamage d = chart->Draw();
    // Only the wraps (after columns 528) draw everything again.
    EXPECT_EQ(d.Full, i == 529) << i;
  }
  EXPECT_EQ(chart->Min[0], 0.0);
  EXPECT_EQ(chart->Max[0], 1.0);
}

TEST(ChartLabels, FourSignificantDigitsAndTheDecimalsRule) {
  const std::pair<double, const char*> cases[] = {
      {0, "0.000"},   {9.999, "9.999"}, {-1.05, "-1.050"}, {10, "10.00"},      {99.99, "99.99"},
      {100, "100.0"}, {999.9, "999.9"}, {1000, "1000"},    {-1234.5, "-1235"}, {0.00012, "0.000"},
  };
  for (const auto& [x, text] : cases) EXPECT_EQ(LabelText(x), text) << x;

  auto chart = NewChart();
  chart->Values[2] = -2.0;
  chart->Draw();
  EXPECT_EQ(chart->Labels(2), (ChannelLabels{"-2.000", "-2.100", "-0.550", "1.000"}));
}

TEST(ChartPicture, FrameLinesAndOnlyTheNewSegmentOnANormalTick) {
  auto chart = NewChart();
  const PixelBuffer& p = chart->Picture();
  const int w = kChartWidth, h = kChartHeight;
  // The frame: left, top, bottom and middle lines, no right edge; ticks of
  // 3 and 7 pixels at the bottom, 4 and 8 at the sides (the end points are
  // not drawn).
  struct Pixel {
    int x, y;
    TColor colour;
  };
  const Pixel frame[] = {
      {0, 150, kChartGrey},     {300, 0, kChartGrey},    {300, h - 1, kChartGrey},
      {300, h / 2, kChartGrey}, {w - 1, 3, kWhite},      {300, 150, kWhite},
      {5, h - 3, kChartGrey},   {5, h - 4, kWhite},      {10, h - 7, kChartGrey},
      {10, h - 8, kWhite},      {3, 5, kChartGrey},      {4, 5, kWhite},
      {7, 10, kChartGrey},      {8, 10, kWhite},         {w - 7, 10, kChartGrey},
      {w - 8, 10, kWhite},      {w - 3, 15, kChartGrey}, {w - 4, 15, kWhite},
  };
  for (const Pixel& px : frame) EXPECT_EQ(p.At(px.x, px.y), px.colour) << px.x << "," << px.y;

  // Channel 1 at a quarter of the scale: row 201 - trunc(0.25 * 200) - 1.
  chart->Values[0] = 0.25;
  for (int i = 0; i < 10; ++i) chart->Draw();
  EXPECT_EQ(chart->RowOf(0, 5), 150);
  for (int x = 1; x < 9; ++x) EXPECT_EQ(p.At(x, 150), kRed) << x;
  EXPECT_EQ(p.At(9, 150), kWhite);  // the last point waits for the next segment

  // A normal tick draws only from the previous column to the new one: the
  // line already drawn stays even though it is no longer visible.
  chart->Visible[0] = false;
  chart->Values[1] = 0.75;
  const ChartDamage d = chart->Draw();
  EXPECT_FALSE(d.Full);
  EXPECT_EQ(d.First, 9);
  EXPECT_EQ(d.Last, 10);
  EXPECT_EQ(p.At(8, 150), kRed);
  EXPECT_NE(p.At(9, 150), kRed);
  EXPECT_EQ(p.At(10, 51), kBlue);  // channel 2 rose from row 200 to row 50: its new segment
  EXPECT_EQ(p.At(10, 50), kWhite);
  // The next full drawing leaves the hidden channel out, its labels go on.
  chart->Redraw = 1;
  chart->Values[0] = 0.5;
  chart->Draw();
  EXPECT_EQ(p.At(8, 150), kWhite);
  EXPECT_EQ(chart->Labels(0).Value, "0.500");
}

TEST(ChartPicture, TheWrapKeepsTheNewest264ColumnsOnTheLeft) {
  auto chart = NewChart();
  for (int x = 0; x < kChartWidth; ++x) {
    chart->Values[0] = x / 1000.0;  // inside the first scale: no widening
    chart->Draw();
  }
  EXPECT_EQ(chart->Cursor, 0);
  EXPECT_EQ(chart->Shift, 1);
  chart->Values[0] = 0.9;
  const ChartDamage d = chart->Draw();
  EXPECT_TRUE(d.Full);
  EXPECT_EQ(chart->Cursor, 265);  // 264 kept, the new value at column 264
  EXPECT_DOUBLE_EQ(chart->History[0][0], 0.265);
  EXPECT_DOUBLE_EQ(chart->History[0][263], 0.528);
  EXPECT_DOUBLE_EQ(chart->History[0][264], 0.9);
  const PixelBuffer& p = chart->Picture();
  EXPECT_EQ(p.At(100, chart->RowOf(0, 100)), kRed);
  EXPECT_EQ(p.At(300, chart->RowOf(0, 100)), kWhite);  // right of the cursor: empty
}

}  // namespace
}  // namespace kestrel
