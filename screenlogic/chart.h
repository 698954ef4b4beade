// One scrolling line chart of the graphs window, drawn pixel by pixel into a
// plain 32-bit buffer: four channels, their scales (which only ever widen),
// the label texts of each channel, the value history per pixel column and
// the cursor where the next value goes. When the cursor reaches the right
// edge the newest half of the history moves to the left and drawing goes on
// from the middle. A normal tick draws only each line's new segment; the
// whole picture is drawn again only after a scale or visibility change,
// GrafInit or a wrap. The window only shows the buffer; tests read pixels.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "screenlogic/gauges.h"

namespace kestrel {

inline constexpr int kChartWidth = 529;
inline constexpr int kChartHeight = 201;
inline constexpr int kChartChannels = 4;
// Columns of history kept per channel: more than any chart is wide.
inline constexpr int kChartHistory = 1201;

// The pen of each channel of a chart: red, blue, green, fuchsia (0x00BBGGRR).
inline constexpr TColor kChartPens[kChartChannels] = {0x000000FF, 0x00FF0000, 0x00008000,
                                                      0x00FF00FF};
inline constexpr TColor kChartGrey = 0x00808080;

// A label text: fixed notation with 4 significant digits and 0 decimals from
// 1000 (in magnitude), 1 from 100, 2 from 10, else 3; the locale's decimal
// separator. Code page 1251 (ASCII).
std::string LabelText(double x);

// The four texts a channel shows: its value and its scale's minimum, middle
// and maximum.
struct ChannelLabels {
  std::string Value;
  std::string Min;
  std::string Middle;
  std::string Max;
  bool operator==(const ChannelLabels&) const = default;
};

// The columns a Draw changed: First..Last, both included (none when Last <
// First). Full: the whole picture was drawn again.
struct ChartDamage {
  int First = 0;
  int Last = -1;
  bool Full = false;
};

class Chart {
 public:
  Chart();

  // The picture and its state, as the window and tests see them.
  const PixelBuffer& Picture() const { return picture_; }
  int Width() const { return picture_.Width(); }
  int Height() const { return picture_.Height(); }

  // Per channel: the value of the current tick and the scale.
  std::array<double, kChartChannels> Values{};
  std::array<double, kChartChannels> Min{};
  std::array<double, kChartChannels> Max{};
  // The value drawn at each column, per channel.
  std::array<std::array<double, kChartHistory>, kChartChannels> History{};
  std::int32_t Cursor = 0;  // the column of the next value
  std::uint8_t Redraw = 1;
  std::uint8_t Shift = 0;
  // The visibility boxes of the chart's channels.
  std::array<bool, kChartChannels> Visible{true, true, true, true};

  // GrafInit for this chart: values 0, scales 0..1.0, drawn once (frame,
  // labels, value 0 at column 0), then the cursor back at column 0.
  void Init();

  // Draws the current Values: scales, labels, a frame when Redraw, the
  // shift at a wrap, the lines, then the cursor moves on.
  ChartDamage Draw();

  // The labels computed by the last Draw.
  const ChannelLabels& Labels(int channel) const { return labels_[channel]; }

  // The screen row of column x of a channel's history.
  int RowOf(int channel, int x) const;

 private:
  void DrawFrame();
  // Draws from the pen position to (x, y), without the end point, and
  // moves the pen there (a line as the windowing system draws it).
  void LineTo(int x, int y, TColor colour);

  PixelBuffer picture_;
  std::array<ChannelLabels, kChartChannels> labels_;
  int penX_ = 0;
  int penY_ = 0;
};

}  // namespace kestrel
