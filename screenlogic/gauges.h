// The dashboard's pictures, drawn pixel by pixel into plain 32-bit buffers:
// the segmented bar gauge (coolant, fluid temperature, load) and the arc
// gauge (engine speed). The window only shows a buffer; tests read pixels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "module/vorta.h"

namespace kestrel {

// A colour as the configuration and the windows give it: 0x00BBGGRR.
using TColor = std::uint32_t;

inline constexpr TColor kBlack = 0x00000000;
inline constexpr TColor kWhite = 0x00FFFFFF;
inline constexpr TColor kGrey = 0x00808080;
inline constexpr TColor kLime = 0x0000FF00;
inline constexpr TColor kYellow = 0x0000FFFF;
inline constexpr TColor kRed = 0x000000FF;
// The two system colours the dashboard uses, at their common defaults.
inline constexpr TColor clActiveCaption = 0x00D1B499;
inline constexpr TColor clGradientInactiveCaption = 0x00F2E4D7;

// A picture of a fixed size, black when made. Pixels are stored row by row,
// top row first, as 0xFFRRGGBB (the layout of Qt's RGB32 images), so the
// window shows the buffer without converting it. Every write outside the
// picture is dropped.
class PixelBuffer {
 public:
  PixelBuffer(int width, int height);

  int Width() const { return width_; }
  int Height() const { return height_; }
  const std::uint32_t* Bits() const { return pixels_.data(); }

  // The colour at x, y as 0x00BBGGRR; black outside the picture.
  TColor At(int x, int y) const;

  void Fill(TColor colour);
  void Set(int x, int y, TColor colour);
  // The pixels x0..x1 of row y, both ends included; nothing when x1 < x0.
  void Row(int y, int x0, int x1, TColor colour);
  // The pixels y0..y1 of column x, both ends included; nothing when y1 < y0.
  void Column(int x, int y0, int y1, TColor colour);

 private:
  int width_;
  int height_;
  std::vector<std::uint32_t> pixels_;
};

// The band limits of a gauge in picture positions (rows of a bar, columns of
// the arc) and the position of its value.
struct GaugeScale {
  int v = 0;  // value
  int g = 0;  // start of the green band
  int y = 0;  // start of the yellow band
  int r = 0;  // start of the red band
};

// trunc((x - gauge.Low) * scale) for the value and the three band starts.
// A position outside the picture is clamped before it is converted, to
// +-1e9, which keeps its order against every pixel: High = Low (an infinite
// scale), a NaN or infinite value from the module or a value far off the
// scale never overflow the integer. A NaN counts as below the scale.
GaugeScale ScaleGauge(const vorta::GaugeBands& gauge, double scale);

// clActiveCaption below g, lime from g, yellow from y, red from r.
TColor BandColour(int position, const GaugeScale& s);

// The text and colour of a bar gauge's value label.
struct GaugeLabel {
  std::string Text;  // Value in fixed notation, precision 3, no decimals
  TColor Colour = kWhite;
};

// Draws the bar gauge over the whole picture, bottom row first: a column of
// segments, each a grey line, four lines lit in their band colour up to the
// value (dark above it) with grey end pixels, and a grey line, separated by
// four lines left as they are. Returns the value label.
GaugeLabel DrawBarGauge(PixelBuffer& picture, const vorta::GaugeBands& gauge);

// Draws the arc gauge: columns x = 0 .. 2W - 55 of a rising, thickening band
// (the columns past the picture's width fall outside it), in groups of ten:
// a full column, four outlined columns filled in their band colour up to the
// value (dark beyond it), a full column, four columns left as they are.
void DrawArcGauge(PixelBuffer& picture, const vorta::GaugeBands& gauge);

}  // namespace kestrel
