#include "screenlogic/gauges.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "screenlogic/dashboard.h"

namespace kestrel {

namespace {

constexpr std::uint32_t ToPixel(TColor c) {
  return 0xFF000000u | ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
}

constexpr TColor FromPixel(std::uint32_t p) {
  return ((p >> 16) & 0xFFu) | (p & 0xFF00u) | ((p & 0xFFu) << 16);
}

// Far beyond any picture, well inside an int.
constexpr double kPositionLimit = 1e9;

int Position(double x) {
  if (std::isnan(x)) return -static_cast<int>(kPositionLimit);
  return static_cast<int>(std::trunc(std::clamp(x, -kPositionLimit, kPositionLimit)));
}

}  // namespace

PixelBuffer::PixelBuffer(int width, int height)
    : width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      pixels_(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_),
              ToPixel(kBlack)) {}

TColor PixelBuffer::At(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return kBlack;
  return FromPixel(pixels_[static_cast<std::size_t>(y) * width_ + x]);
}

void PixelBuffer::Fill(TColor colour) {
  std::fill(pixels_.begin(), pixels_.end(), ToPixel(colour));
}

void PixelBuffer::Set(int x, int y, TColor colour) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  pixels_[static_cast<std::size_t>(y) * width_ + x] = ToPixel(colour);
}

void PixelBuffer::Row(int y, int x0, int x1, TColor colour) {
  if (y < 0 || y >= height_) return;
  x0 = std::max(x0, 0);
  x1 = std::min(x1, width_ - 1);
  if (x1 < x0) return;
  std::uint32_t* row = pixels_.data() + static_cast<std::size_t>(y) * width_;
  std::fill(row + x0, row + x1 + 1, ToPixel(colour));
}

void PixelBuffer::Column(int x, int y0, int y1, TColor colour) {
  if (x < 0 || x >= width_) return;
  y0 = std::max(y0, 0);
  y1 = std::min(y1, height_ - 1);
  const std::uint32_t p = ToPixel(colour);
  for (int y = y0; y <= y1; ++y) pixels_[static_cast<std::size_t>(y) * width_ + x] = p;
}

GaugeScale ScaleGauge(const vorta::GaugeBands& gauge, double scale) {
  return {Position((gauge.Value - gauge.Low) * scale), Position((gauge.Green - gauge.Low) * scale),
          Position((gauge.Yellow - gauge.Low) * scale), Position((gauge.Red - gauge.Low) * scale)};
}

TColor BandColour(int position, const GaugeScale& s) {
  if (position < s.g) return clActiveCaption;
  if (position < s.y) return kLime;
  if (position < s.r) return kYellow;
  return kRed;
}

GaugeLabel DrawBarGauge(PixelBuffer& picture, const vorta::GaugeBands& gauge) {
  const int w = picture.Width();
  const int h = picture.Height();
  const GaugeScale s = ScaleGauge(gauge, (h - 1) / (gauge.High - gauge.Low));
  for (int i = 0, k = 0; i < h; ++i, k = (k + 1) % 10) {
    const int line = h - 1 - i;
    if (k <= 5) {
      picture.Row(line, 0, w - 2, i <= s.v ? BandColour(i, s) : kBlack);
      picture.Set(0, line, kGrey);
      picture.Set(w - 1, line, kGrey);
    }
    if (k == 0 || k == 5) picture.Row(line, 0, w - 1, kGrey);
  }
  return {FixedText(gauge.Value, 3, 0), BandColour(s.v, s)};
}

void DrawArcGauge(PixelBuffer& picture, const vorta::GaugeBands& gauge) {
  const int w = picture.Width();
  const int h = picture.Height();
  const GaugeScale s = ScaleGauge(gauge, w / (gauge.High - gauge.Low));
  const int n = w + w - 55;
  // Columns past the picture's width would fall outside it: not drawn.
  const int last = std::min(n, w - 1);
  for (int x = 0, k = 0; x <= last; ++x, k = (k + 1) % 10) {
    if (k > 5) continue;
    const double rise = std::sin(std::numbers::pi * x / n) * h;
    const int top = Position(h - rise);
    const int bottom = Position(h - rise + (static_cast<double>(x) / n) * (h - 20));
    const TColor colour = BandColour(x, s);
    if (k < 5) {
      picture.Set(x, top, colour);
      picture.Set(x, bottom, colour);
      picture.Column(x, top + 1, bottom - 1, x <= s.v ? colour : kBlack);
    }
    if (k == 0 || k == 5) picture.Column(x, top, bottom, colour);
  }
}

}  // namespace kestrel
