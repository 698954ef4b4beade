#include "screenlogic/chart.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "screenlogic/dashboard.h"

namespace kestrel {

namespace {

// x rounded to the nearest integer, halves to even (the default rounding
// mode, which nothing in the program changes), as a 64-bit integer; values
// beyond the 64-bit range give its ends, NaN gives 0.
std::int64_t RoundHalfEven64(double x) {
  if (std::isnan(x)) return 0;
  // 2^63: the first double past the 64-bit range.
  constexpr double kLimit = 9223372036854775808.0;
  if (x >= kLimit) return std::numeric_limits<std::int64_t>::max();
  if (x < -kLimit) return std::numeric_limits<std::int64_t>::min();
  return std::llrint(x);
}

int LabelDecimals(double x) {
  const double a = std::fabs(x);
  if (a >= 1000) return 0;
  if (a >= 100) return 1;
  if (a >= 10) return 2;
  return 3;
}

}  // namespace

std::string LabelText(double x) {
  return FixedText(x, 4, LabelDecimals(x));
}

Chart::Chart() : picture_(kChartWidth, kChartHeight) {
  for (double& m : Max) m = 1.0;
}

void Chart::Init() {
  Values.fill(0.0);
  Min.fill(0.0);
  Max.fill(1.0);
  Redraw = 1;
  Shift = 0;
  Cursor = 0;
  Draw();
  Cursor = 0;
}

int Chart::RowOf(int channel, int x) const {
  const int h = Height();
  const double span = Max[channel] - Min[channel];
  double row = (History[channel][x] - Min[channel]) * (h - 1) / span;
  // Values lie on the scale; whatever does not (an empty scale, a value
  // from outside it) is drawn just past the picture's edge, so that no line
  // runs for millions of pixels.
  if (!(row >= -h)) row = -h;
  if (row > 2.0 * h) row = 2.0 * h;
  return h - static_cast<int>(std::trunc(row)) - 1;
}

void Chart::LineTo(int x1, int y1, TColor colour) {
  // Bresenham from the pen to (x1, y1); the end point is left for the next
  // segment, which starts there.
  int x = penX_;
  int y = penY_;
  const int dx = std::abs(x1 - x);
  const int dy = -std::abs(y1 - y);
  const int sx = x < x1 ? 1 : -1;
  const int sy = y < y1 ? 1 : -1;
  int err = dx + dy;
  while (x != x1 || y != y1) {
    picture_.Set(x, y, colour);
    const int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y += sy;
    }
  }
  penX_ = x1;
  penY_ = y1;
}

void Chart::DrawFrame() {
  const int w = Width();
  const int h = Height();
  picture_.Fill(kWhite);
  auto line = [this](int x0, int y0, int x1, int y1) {
    penX_ = x0;
    penY_ = y0;
    LineTo(x1, y1, kChartGrey);
  };
  line(0, 0, 0, h - 1);      // left edge
  line(0, 0, w, 0);          // top edge
  line(0, h - 1, w, h - 1);  // bottom edge
  line(0, h / 2, w, h / 2);  // middle line
  for (int x = 0; x < w; x += 5) line(x, h - 1, x, x % 10 == 0 ? h - 8 : h - 4);
  for (int y = 0; y < h; y += 5) {
    const bool ten = y % 10 == 0;
    line(0, y, ten ? 8 : 4, y);
    line(w - 1, y, ten ? w - 8 : w - 4, y);
  }
}

ChartDamage Chart::Draw() {
  const int w = Width();
  // The cursor never leaves the picture or the history, whatever it was set to.
  Cursor = std::clamp<std::int32_t>(Cursor, 0, std::min(w, kChartHistory) - 1);
  int b = std::max(Cursor - 1, 0);

  for (int k = 0; k < kChartChannels; ++k) {
    if (Max[k] - Min[k] == 0) {
      Min[k] = 0.0;
      Max[k] = 1.0;
    }
    const std::int64_t v = RoundHalfEven64(Values[k] * 1050);
    const std::int64_t hi = RoundHalfEven64(Max[k] * 1000);
    const std::int64_t lo = RoundHalfEven64(Min[k] * 1000);
    if (v > hi) {
      Max[k] = Values[k] * 1.05;
      Redraw = 1;
    }
    if (v < lo) {
      Min[k] = Values[k] * 1.05;
      Redraw = 1;
    }
  }

  for (int k = 0; k < kChartChannels; ++k) {
    labels_[k] = {LabelText(Values[k]), LabelText(Min[k]), LabelText((Max[k] + Min[k]) / 2),
                  LabelText(Max[k])};
  }

  ChartDamage damage;
  if (Redraw != 0) {
    b = 0;
    DrawFrame();
    Redraw = 0;
    damage.Full = true;
  }

  if (Shift != 0) {
    const int from = (w - 1) / 2 + 1;
    const int count = w - from;
    for (auto& history : History) {
      std::copy(history.begin() + from, history.begin() + w, history.begin());
    }
    Cursor = count;
    Shift = 0;
    b = 0;
  }

  for (int k = 0; k < kChartChannels; ++k) {
    History[k][Cursor] = Values[k];
    penX_ = b;
    penY_ = RowOf(k, b);
    for (int x = b; x <= Cursor; ++x) {
      const int y = RowOf(k, x);
      if (Visible[k]) {
        LineTo(x, y, kChartPens[k]);
      } else {
        penX_ = x;
        penY_ = y;
      }
    }
  }

  if (damage.Full) {
    damage.First = 0;
    damage.Last = w - 1;
  } else {
    damage.First = b;
    damage.Last = Cursor;
  }

  ++Cursor;
  if (Cursor >= w) {
    Cursor = 0;
    Redraw = 1;
    Shift = 1;
  }
  return damage;
}

}  // namespace kestrel
