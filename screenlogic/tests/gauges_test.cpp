// The dashboard's gauges pixel by pixel on small pictures: band boundaries,
// the ten-line segment pattern, the grey end pixels, the arc's columns past
// the picture's width, and values that would overflow the conversion.
#include "screenlogic/gauges.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace kestrel {
namespace {

vorta::GaugeBands Bands(double low, double green, double yellow, double red, double high,
                        double value) {
  vorta::GaugeBands b{};
  b.Low = low;
  b.Green = green;
  b.Yellow = yellow;
  b.Red = red;
  b.High = high;
  b.Value = value;
  return b;
}

char Letter(TColor c) {
  const std::pair<TColor, char> kLetters[] = {{kBlack, '.'}, {kGrey, 'g'},   {clActiveCaption, 'A'},
                                              {kLime, 'L'},  {kYellow, 'Y'}, {kRed, 'R'}};
  for (const auto& [colour, letter] : kLetters) {
    if (colour == c) return letter;
  }
  return '?';
}

std::vector<std::string> Rows(const PixelBuffer& p) {
  std::vector<std::string> rows;
  for (int y = 0; y < p.Height(); ++y) {
    std::string row;
    for (int x = 0; x < p.Width(); ++x) row += Letter(p.At(x, y));
    rows.push_back(row);
  }
  return rows;
}

std::string Column(const PixelBuffer& p, int x) {
  std::string column;
  for (int y = 0; y < p.Height(); ++y) column += Letter(p.At(x, y));
  return column;
}

TEST(BarGauge, SegmentsBandsAndValueRowByRow) {
  // 16 rows, scale 1: bands start at rows 2, 4 and 12, the value is row 13.
  PixelBuffer bar(4, 16);
  const GaugeLabel label = DrawBarGauge(bar, Bands(0, 2, 4, 12, 15, 13));
  const std::vector<std::string> want = {
      "gggg",                          // row 15, k = 5
      "g..g",                          // row 14 is above the value: dark
      "gRRg", "gRRg",                  // rows 13 and 12: red from row 12
      "gYYg",                          // row 11: yellow
      "gggg",                          // row 10, k = 0
      "....", "....", "....", "....",  // rows 9..6, k = 6..9: not drawn
      "gggg",                          // row 5, k = 5
      "gYYg",                          // row 4: yellow from row 4
      "gLLg", "gLLg",                  // rows 3 and 2: lime from row 2
      "gAAg",                          // row 1: below green
      "gggg",                          // row 0, k = 0
  };
  EXPECT_EQ(Rows(bar), want);
  EXPECT_EQ(label.Text, "13");
  EXPECT_EQ(label.Colour, kRed);

  // A lower value darkens what it no longer reaches and takes its band's colour.
  const GaugeLabel low = DrawBarGauge(bar, Bands(0, 2, 4, 12, 15, 2.9));
  EXPECT_EQ(Rows(bar)[12], "g..g");  // row 3 > trunc(2.9)
  EXPECT_EQ(Rows(bar)[13], "gLLg");  // row 2
  EXPECT_EQ(Rows(bar)[14], "gAAg");
  EXPECT_EQ(Rows(bar)[2], "g..g");
  EXPECT_EQ(low.Colour, kLime);
  EXPECT_EQ(low.Text, "3");
}

TEST(BarGauge, ValuesOffTheScaleAreClampedToThePicture) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* name;
    vorta::GaugeBands bands;
    int lit;  // rows lit at x = 1 (rows 1-4 and 11-14 can be)
    const char* text;
  };
  const Case cases[] = {
      {"far above", Bands(0, 2, 4, 12, 15, 1e300), 8, "1E300"},
      {"far below", Bands(0, 2, 4, 12, 15, -1e300), 0, "-1E300"},
      {"plus infinity", Bands(0, 2, 4, 12, 15, inf), 8, "INF"},
      {"minus infinity", Bands(0, 2, 4, 12, 15, -inf), 0, "-INF"},
      {"NaN", Bands(0, 2, 4, 12, 15, nan), 0, "NAN"},
      {"High = Low, value on it", Bands(20, 20, 20, 20, 20, 20), 0, "20"},
      {"High = Low, value above", Bands(20, 20, 20, 20, 20, 25), 8, "25"},
      {"NaN bands", Bands(nan, nan, nan, nan, nan, 5), 0, "5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PixelBuffer bar(4, 16);
    const GaugeLabel label = DrawBarGauge(bar, c.bands);
    int lit = 0;
    for (int y = 0; y < 16; ++y) {
      const TColor p = bar.At(1, y);
      lit += p != kBlack && p != kGrey ? 1 : 0;
    }
    EXPECT_EQ(lit, c.lit);
    EXPECT_EQ(label.Text, c.text);
    EXPECT_EQ(Column(bar, 0), "gggggg....gggggg");  // the frame is drawn in every case
  }
}

TEST(ArcGauge, ColumnsInGroupsOfTenClippedToThePicture) {
  // 60 x 30: N = 65, so columns 60..65 lie past the right edge. Scale 1:
  // bands start at columns 12, 25 and 40, the value is column 33.
  PixelBuffer arc(60, 30);
  DrawArcGauge(arc, Bands(0, 12, 25, 40, 60, 33));
  struct Want {
    int x;
    const char* column;  // top to bottom
  };
  const Want want[] = {
      {0, ".............................."},   // k = 0 at the bottom edge: below the picture
      {1, "............................A."},   // k = 1, top = bottom = 28
      {3, ".........................AA..."},   // k = 3: rows 25 and 26
      {5, "......................AA......"},   // k = 5: a full column
      {7, ".............................."},   // k = 7: not drawn
      {11, "..............AAA............."},  // k = 1: outline and lit inside
      {12, ".............LLL.............."},  // green from column 12
      {20, ".....LLLL....................."},  // k = 0
      {25, ".YYYYY........................"},  // yellow from column 25, k = 5
      {30, "YYYYY........................."},  // at the top edge
      {33, "YYYYYY........................"},  // the value's column is lit
      {34, "Y....Y........................"},  // past the value: outline only
      {40, ".RRRRRRRR....................."},  // red from column 40, k = 0: full
      {41, "..R.....R....................."},
      {45, ".....RRRRRRRR................."},  // k = 5: full even past the value
      {51, "...........R.......R.........."},
      {59, ".............................."},  // k = 9
  };
  for (const Want& w : want) EXPECT_EQ(Column(arc, w.x), w.column) << "column " << w.x;
}

TEST(ArcGauge, DesignSizeAndDegenerateScalesStayInsideThePicture) {
  // The design picture (N = 905, half of the arc past the edge) and scales
  // that would overflow the conversion: everything lands inside the buffer
  // (a write outside would show as a lit pixel in column 0 or trip the
  // address sanitizer).
  const double inf = std::numeric_limits<double>::infinity();
  for (const vorta::GaugeBands& b :
       {Bands(0, 1000, 4050, 5050, 7000, 7000), Bands(0, 0, 0, 0, 0, 800),
        Bands(0, 1000, 4050, 5050, 7000, inf), Bands(0, 1000, 4050, 5050, 7000, -1e308)}) {
    PixelBuffer arc(480, 241);
    DrawArcGauge(arc, b);
    EXPECT_EQ(Column(arc, 0), std::string(241, '.'));
  }
  PixelBuffer arc(480, 241);
  DrawArcGauge(arc, Bands(0, 1000, 4050, 5050, 7000, 3500));
  // 3500 rpm is column 240: column 234 (k = 4) is lit inside, 241 (k = 1) only outlined.
  EXPECT_EQ(arc.At(234, 100), kLime) << Column(arc, 234);
  EXPECT_EQ(arc.At(241, 100), kBlack) << Column(arc, 241);
  EXPECT_EQ(arc.At(241, 62), kLime) << Column(arc, 241);
  EXPECT_EQ(Column(arc, 452).find('R'), 0u);  // the top of the arc reaches row 0, in red
}

}  // namespace
}  // namespace kestrel
