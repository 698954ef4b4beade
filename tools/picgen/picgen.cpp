// Draws Kestrel's pictures (the folder "pic") and writes them as 24-bit BMP
// files, and the program's icon for the desktop as PNG files.
//
//   kestrel-picgen OUTDIR          writes every picture into OUTDIR
//   kestrel-picgen --list          prints the file names, one per line
//   kestrel-picgen --icons OUTDIR  writes OUTDIR/hicolor/NxN/apps/kestrel.png in
//                                  the sizes of the freedesktop icon theme
//
// Every picture is drawn here from simple shapes (discs, rings, thick lines,
// polygons and a small stroke font) on a 4x supersampled canvas and reduced
// with averaging, so the output is the same on every run and machine. Button
// glyphs are drawn on the key colour kKey; the program treats the colour of a
// glyph's bottom-left pixel as transparent, so that pixel is always left as
// background. Dashboard pictures are drawn on black and shown as they are.
#include <QImage>
#include <QString>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <numbers>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

struct Rgb {
  std::uint8_t r = 0, g = 0, b = 0;
};
constexpr bool operator==(Rgb a, Rgb b) {
  return a.r == b.r && a.g == b.g && a.b == b.b;
}

constexpr Rgb kKey{240, 240, 240};  // glyph background, made transparent by the program
constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kDark{40, 40, 40};
constexpr Rgb kGrey{128, 128, 128};
constexpr Rgb kSilver{192, 192, 192};
constexpr Rgb kGreen{30, 160, 50};
constexpr Rgb kDarkGreen{10, 90, 25};
constexpr Rgb kLime{0, 230, 0};
constexpr Rgb kRed{210, 30, 30};
constexpr Rgb kDarkRed{120, 10, 10};
constexpr Rgb kBlue{30, 80, 200};
constexpr Rgb kNavy{15, 35, 110};
constexpr Rgb kAmber{255, 170, 0};
constexpr Rgb kYellow{250, 220, 40};
constexpr Rgb kBrown{140, 90, 40};
constexpr Rgb kPaper{252, 252, 246};
constexpr Rgb kSky{120, 190, 250};

struct Pt {
  double x, y;
};

// A canvas drawn at kScale times the output size and reduced by averaging.
class Canvas {
 public:
  static constexpr int kScale = 4;

  Canvas(int w, int h, Rgb background) : w_(w), h_(h), px_(std::size_t(w * kScale) * h * kScale) {
    for (auto& p : px_) p = background;
  }

  int Width() const { return w_; }
  int Height() const { return h_; }

  // Paints every subpixel whose centre (in output pixel units) passes inside().
  void Fill(double x0, double y0, double x1, double y1, Rgb c,
            const std::function<bool(double, double)>& inside) {
    const int sx0 = std::max(0, int(std::floor(x0 * kScale)));
    const int sy0 = std::max(0, int(std::floor(y0 * kScale)));
    const int sx1 = std::min(w_ * kScale - 1, int(std::ceil(x1 * kScale)));
    const int sy1 = std::min(h_ * kScale - 1, int(std::ceil(y1 * kScale)));
    for (int sy = sy0; sy <= sy1; ++sy) {
      for (int sx = sx0; sx <= sx1; ++sx) {
        const double x = (sx + 0.5) / kScale;
        const double y = (sy + 0.5) / kScale;
        if (inside(x, y)) px_[std::size_t(sy) * w_ * kScale + sx] = c;
      }
    }
  }

  void Rect(double x0, double y0, double x1, double y1, Rgb c) {
    Fill(x0, y0, x1, y1, c,
         [&](double x, double y) { return x >= x0 && x < x1 && y >= y0 && y < y1; });
  }

  void RoundRect(double x0, double y0, double x1, double y1, double r, Rgb c) {
    Fill(x0, y0, x1, y1, c, [&](double x, double y) {
      if (x < x0 || x >= x1 || y < y0 || y >= y1) return false;
      const double cx = std::clamp(x, x0 + r, x1 - r);
      const double cy = std::clamp(y, y0 + r, y1 - r);
      return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r;
    });
  }

  void Disc(double cx, double cy, double r, Rgb c) { Ring(cx, cy, -1, r, c); }

  void Ring(double cx, double cy, double rin, double rout, Rgb c) {
    Fill(cx - rout, cy - rout, cx + rout, cy + rout, c, [&](double x, double y) {
      const double d = std::hypot(x - cx, y - cy);
      return d <= rout && d > rin;
    });
  }

  // A ring sector from angle a0 to a1 (degrees, counter-clockwise from 3 o'clock).
  void Arc(double cx, double cy, double rin, double rout, double a0, double a1, Rgb c) {
    Fill(cx - rout, cy - rout, cx + rout, cy + rout, c, [&](double x, double y) {
      const double d = std::hypot(x - cx, y - cy);
      if (d > rout || d <= rin) return false;
      double a = std::atan2(cy - y, x - cx) * 180.0 / std::numbers::pi;
      if (a < 0) a += 360;
      return a >= a0 && a <= a1;
    });
  }

  // A line with round caps.
  void Line(Pt a, Pt b, double width, Rgb c) {
    const double r = width / 2;
    Fill(std::min(a.x, b.x) - r, std::min(a.y, b.y) - r, std::max(a.x, b.x) + r,
         std::max(a.y, b.y) + r, c, [&](double x, double y) {
           const double dx = b.x - a.x, dy = b.y - a.y;
           const double len2 = dx * dx + dy * dy;
           double t = len2 > 0 ? ((x - a.x) * dx + (y - a.y) * dy) / len2 : 0;
           t = std::clamp(t, 0.0, 1.0);
           const double px = a.x + t * dx - x, py = a.y + t * dy - y;
           return px * px + py * py <= r * r;
         });
  }

  void Polyline(const std::vector<Pt>& pts, double width, Rgb c) {
    for (std::size_t i = 1; i < pts.size(); ++i) Line(pts[i - 1], pts[i], width, c);
  }

  // Even-odd filled polygon.
  void Polygon(const std::vector<Pt>& pts, Rgb c) {
    double x0 = 1e9, y0 = 1e9, x1 = -1e9, y1 = -1e9;
    for (const Pt& p : pts) {
      x0 = std::min(x0, p.x), y0 = std::min(y0, p.y);
      x1 = std::max(x1, p.x), y1 = std::max(y1, p.y);
    }
    Fill(x0, y0, x1, y1, c, [&](double x, double y) {
      bool in = false;
      for (std::size_t i = 0, j = pts.size() - 1; i < pts.size(); j = i++) {
        if ((pts[i].y > y) != (pts[j].y > y) &&
            x < (pts[j].x - pts[i].x) * (y - pts[i].y) / (pts[j].y - pts[i].y) + pts[i].x) {
          in = !in;
        }
      }
      return in;
    });
  }

  // The reduced picture with an alpha channel, rows top to bottom, four bytes
  // a pixel (R, G, B, A): subpixels of the colour `clear` are transparent;
  // a pixel's colour is the average of its other subpixels.
  std::vector<std::uint8_t> ReduceRgba(Rgb clear) const {
    std::vector<std::uint8_t> out(std::size_t(w_) * h_ * 4);
    for (int y = 0; y < h_; ++y) {
      for (int x = 0; x < w_; ++x) {
        int r = 0, g = 0, b = 0, n = 0;
        for (int j = 0; j < kScale; ++j) {
          for (int i = 0; i < kScale; ++i) {
            const Rgb p = px_[std::size_t(y * kScale + j) * w_ * kScale + x * kScale + i];
            if (p == clear) continue;
            r += p.r, g += p.g, b += p.b, ++n;
          }
        }
        std::uint8_t* o = &out[(std::size_t(y) * w_ + x) * 4];
        if (n > 0) {
          o[0] = std::uint8_t((r + n / 2) / n);
          o[1] = std::uint8_t((g + n / 2) / n);
          o[2] = std::uint8_t((b + n / 2) / n);
        }
        o[3] = std::uint8_t((n * 255 + kScale * kScale / 2) / (kScale * kScale));
      }
    }
    return out;
  }

  // The reduced picture, rows top to bottom.
  std::vector<Rgb> Reduce() const {
    std::vector<Rgb> out(std::size_t(w_) * h_);
    for (int y = 0; y < h_; ++y) {
      for (int x = 0; x < w_; ++x) {
        int r = 0, g = 0, b = 0;
        for (int j = 0; j < kScale; ++j) {
          for (int i = 0; i < kScale; ++i) {
            const Rgb p = px_[std::size_t(y * kScale + j) * w_ * kScale + x * kScale + i];
            r += p.r, g += p.g, b += p.b;
          }
        }
        constexpr int n = kScale * kScale;
        out[std::size_t(y) * w_ + x] =
            Rgb{std::uint8_t((r + n / 2) / n), std::uint8_t((g + n / 2) / n),
                std::uint8_t((b + n / 2) / n)};
      }
    }
    return out;
  }

 private:
  int w_, h_;
  std::vector<Rgb> px_;
};

// ---------------------------------------------------------------- stroke font

// Letters as polylines on a 4 x 6 grid (y down).
std::vector<std::vector<Pt>> Strokes(char ch) {
  switch (ch) {
    case 'L':
      return {{{0, 0}, {0, 6}, {4, 6}}};
    case 'N':
      return {{{0, 6}, {0, 0}, {4, 6}, {4, 0}}};
    case 'R':
      return {{{0, 6}, {0, 0}, {3, 0}, {4, 1}, {4, 2}, {3, 3}, {0, 3}}, {{2, 3}, {4, 6}}};
    case 'P':
      return {{{0, 6}, {0, 0}, {3, 0}, {4, 1}, {4, 2}, {3, 3}, {0, 3}}};
    case 'D':
      return {{{0, 0}, {0, 6}, {2.5, 6}, {4, 4.5}, {4, 1.5}, {2.5, 0}, {0, 0}}};
    case 'S':
      return {{{4, 1},
               {3, 0},
               {1, 0},
               {0, 1},
               {0, 2},
               {1, 3},
               {3, 3},
               {4, 4},
               {4, 5},
               {3, 6},
               {1, 6},
               {0, 5}}};
    case '2':
      return {{{0, 1}, {1, 0}, {3, 0}, {4, 1}, {4, 2}, {0, 6}, {4, 6}}};
    case '3':
      return {{{0, 1}, {1, 0}, {3, 0}, {4, 1}, {4, 2}, {3, 3}, {1.5, 3}},
              {{3, 3}, {4, 4}, {4, 5}, {3, 6}, {1, 6}, {0, 5}}};
    case 'O':
      return {{{1, 0}, {3, 0}, {4, 1}, {4, 5}, {3, 6}, {1, 6}, {0, 5}, {0, 1}, {1, 0}}};
    case 'F':
      return {{{4, 0}, {0, 0}, {0, 6}}, {{0, 3}, {3, 3}}};
    case 'A':
      return {{{0, 6}, {2, 0}, {4, 6}}, {{0.8, 3.8}, {3.2, 3.8}}};
    case 'T':
      return {{{0, 0}, {4, 0}}, {{2, 0}, {2, 6}}};
    case 'C':
      return {{{4, 1}, {3, 0}, {1, 0}, {0, 1}, {0, 5}, {1, 6}, {3, 6}, {4, 5}}};
    case '/':
      return {{{4, 0}, {0, 6}}};
    case 'i':
      return {{{2, 2.6}, {2, 6}}, {{2, 0.6}, {2, 0.7}}};
    case 'K':
      return {{{0, 0}, {0, 6}}, {{4, 0}, {0, 3.6}}, {{1.5, 2.3}, {4, 6}}};
    default:
      return {};
  }
}

// Writes text with its top-left corner at (x, y); unit is the size of one grid step.
void Text(Canvas& c, std::string_view text, double x, double y, double unit, double width,
          Rgb col) {
  for (char ch : text) {
    for (const auto& stroke : Strokes(ch)) {
      std::vector<Pt> pts;
      for (const Pt& p : stroke) pts.push_back({x + p.x * unit, y + p.y * unit});
      c.Polyline(pts, width, col);
    }
    x += 6 * unit;
  }
}

// ---------------------------------------------------------------- shared motifs

void Door(Canvas& c, double s) {  // s: scale, 1 = 32 pixels
  c.Rect(6 * s, 3 * s, 20 * s, 29 * s, kDark);
  c.Rect(8 * s, 5 * s, 18 * s, 29 * s, kBrown);
  c.Disc(15.5 * s, 17 * s, 1.2 * s, kYellow);
  c.Polygon({{30 * s, 16 * s},
             {23 * s, 9 * s},
             {23 * s, 13 * s},
             {14 * s, 13 * s},
             {14 * s, 19 * s},
             {23 * s, 19 * s},
             {23 * s, 23 * s}},
            kRed);
}

// The check-engine symbol, 32 pixels at scale s = 1, its top-left corner at (ox, oy).
void Engine(Canvas& c, double s, double ox, double oy, Rgb body, Rgb outline) {
  auto at = [&](std::vector<Pt> pts) {
    for (Pt& p : pts) p = {ox + p.x * s, oy + p.y * s};
    return pts;
  };
  c.Polygon(at({{5, 12},  {9, 12},  {9, 10},  {13, 10}, {13, 8},  {10, 8},  {10, 6},  {20, 6},
                {20, 8},  {17, 8},  {17, 10}, {22, 10}, {24, 13}, {27, 13}, {27, 10}, {30, 10},
                {30, 24}, {27, 24}, {27, 21}, {24, 21}, {21, 25}, {9, 25},  {9, 21},  {5, 21}}),
            outline);
  c.Polygon(at({{6.5, 13.5},
                {10.5, 13.5},
                {10.5, 11.5},
                {21, 11.5},
                {23, 14.5},
                {28.5, 14.5},
                {28.5, 19.5},
                {23, 19.5},
                {20.3, 23.5},
                {10.5, 23.5},
                {10.5, 19.5},
                {6.5, 19.5}}),
            body);
  const auto stub = at({{2, 14.5}, {5, 18.5}});
  c.Rect(stub[0].x, stub[0].y, stub[1].x, stub[1].y, outline);
}

void Sheet(Canvas& c, double x, double y, double w, double h) {
  c.Rect(x, y, x + w, y + h, kGrey);
  c.Rect(x + 1, y + 1, x + w - 1, y + h - 1, kPaper);
}

void Wrench(Canvas& c, double s, Rgb col) {  // s = 1 for 15 px
  c.Line({3 * s, 12 * s}, {9 * s, 6 * s}, 2.4 * s, col);
  c.Ring(10.5 * s, 4.5 * s, 1.4 * s, 3.4 * s, col);
  c.Rect(10.3 * s, 0, 14 * s, 3.6 * s, kKey);
}

void Eye(Canvas& c, Rgb iris) {  // 15 px
  c.Polygon({{1, 7.5}, {4, 4}, {7.5, 3}, {11, 4}, {14, 7.5}, {11, 11}, {7.5, 12}, {4, 11}}, kDark);
  c.Polygon({{2.4, 7.5},
             {4.8, 5},
             {7.5, 4.3},
             {10.2, 5},
             {12.6, 7.5},
             {10.2, 10},
             {7.5, 10.7},
             {4.8, 10}},
            kWhite);
  c.Disc(7.5, 7.5, 2.6, iris);
  c.Disc(7.5, 7.5, 1.1, kBlack);
}

void Thermometer(Canvas& c, Rgb liquid) {  // 32 px, on black
  c.RoundRect(13, 3, 19, 22, 3, kWhite);
  c.Disc(16, 24, 5, kWhite);
  c.Rect(14.5, 9, 17.5, 22, liquid);
  c.Disc(16, 24, 3.6, liquid);
  for (int i = 0; i < 4; ++i) c.Line({20, 6.0 + 4 * i}, {23, 6.0 + 4 * i}, 1.2, kWhite);
}

// ---------------------------------------------------------------- the pictures

struct Picture {
  const char* name;
  int w, h;
  Rgb background;
  void (*draw)(Canvas&);
};

void DrawStart(Canvas& c) {
  c.Polygon({{8, 4}, {28, 16}, {8, 28}}, kDarkGreen);
  c.Polygon({{10, 7.5}, {24.5, 16}, {10, 24.5}}, kGreen);
}
void DrawStop(Canvas& c) {
  c.RoundRect(6, 6, 26, 26, 2.5, kDarkRed);
  c.RoundRect(8, 8, 24, 24, 1.5, kRed);
}
void DrawExit(Canvas& c) {
  Door(c, 1);
}
void DrawCopy(Canvas& c) {
  Sheet(c, 4, 2, 17, 22);
  Sheet(c, 10, 8, 17, 22);
  for (int i = 0; i < 5; ++i) c.Rect(13, 12.0 + 3.5 * i, 24, 13.5 + 3.5 * i, kBlue);
  c.Polygon({{18, 22}, {24, 22}, {24, 19}, {30, 24.5}, {24, 30}, {24, 27}, {18, 27}}, kGreen);
}
void DrawRead(Canvas& c) {  // freeze frame: a photo frame with a down arrow
  c.RoundRect(3, 8, 29, 28, 2, kNavy);
  c.Rect(5, 10, 27, 26, kSky);
  c.Polygon({{5, 26}, {12, 17}, {17, 22}, {21, 18}, {27, 26}}, kDarkGreen);
  c.Polygon({{13, 1}, {19, 1}, {19, 6}, {23, 6}, {16, 13}, {9, 6}, {13, 6}}, kGreen);
}
void DrawReadCodes(Canvas& c) {  // reading codes: a sheet of codes with a down arrow
  Sheet(c, 3, 5, 20, 25);
  for (int i = 0; i < 5; ++i) c.Rect(6, 10.0 + 4 * i, 19, 11.5 + 4 * i, kGrey);
  c.Polygon({{21, 8}, {27, 8}, {27, 17}, {31, 17}, {24, 25}, {17, 17}, {21, 17}}, kGreen);
}
void DrawClear(Canvas& c) {  // clearing codes: a sheet crossed out
  Sheet(c, 5, 3, 20, 26);
  for (int i = 0; i < 5; ++i) c.Rect(8, 8.0 + 4 * i, 22, 9.5 + 4 * i, kGrey);
  c.Line({12, 14}, {28, 30}, 3.5, kRed);
  c.Line({28, 14}, {12, 30}, 3.5, kRed);
}
void DrawExport(Canvas& c) {  // export to a spreadsheet: green grid with an arrow
  c.Rect(3, 5, 25, 27, kDarkGreen);
  c.Rect(4, 6, 24, 26, kWhite);
  for (int i = 1; i < 4; ++i) c.Rect(4, 6.0 + 5 * i, 24, 6.8 + 5 * i, kGreen);
  for (int i = 1; i < 3; ++i) c.Rect(4.0 + 6.7 * i, 6, 4.8 + 6.7 * i, 26, kGreen);
  c.Polygon({{17, 18}, {24, 18}, {24, 14}, {31, 21}, {24, 28}, {24, 24}, {17, 24}}, kBlue);
}
void DrawFileRead(Canvas& c) {  // settings from the file: a sheet and an arrow out of it
  Sheet(c, 10, 2, 19, 25);
  for (int i = 0; i < 5; ++i) c.Rect(13, 7.0 + 4 * i, 26, 8.5 + 4 * i, kGrey);
  c.Polygon({{2, 23}, {9, 16}, {9, 20}, {18, 20}, {18, 26}, {9, 26}, {9, 30}}, kBlue);
}
void DrawFileWrite(Canvas& c) {  // settings into the file: a diskette
  c.RoundRect(4, 4, 28, 28, 2, kNavy);
  c.Rect(9, 4, 23, 13, kSilver);
  c.Rect(18, 6, 21, 11, kNavy);
  c.Rect(8, 17, 24, 28, kPaper);
  for (int i = 0; i < 3; ++i) c.Rect(10, 19.5 + 2.8 * i, 22, 20.5 + 2.8 * i, kGrey);
}
void DrawMinimize(Canvas& c) {
  c.Rect(7, 22, 25, 26, kWhite);
}

void DrawOn(Canvas& c) {
  c.Disc(7.5, 7.5, 6, kDarkGreen);
  c.Disc(7.5, 7.5, 4.8, kLime);
  c.Rect(6.8, 3.5, 8.2, 11.5, kDarkGreen);
}
void DrawOff(Canvas& c) {
  c.Disc(7.5, 7.5, 6, kDarkRed);
  c.Disc(7.5, 7.5, 4.8, kRed);
  c.Ring(7.5, 7.5, 2, 3.3, kWhite);
}
void DrawTestOn(Canvas& c) {
  Wrench(c, 1, kNavy);
  c.Disc(11.5, 11.5, 3.2, kLime);
}
void DrawTestOff(Canvas& c) {
  Wrench(c, 1, kNavy);
  c.Disc(11.5, 11.5, 3.2, kRed);
}
void DrawShowAll(Canvas& c) {
  Eye(c, kBlue);
}
void DrawHideInactive(Canvas& c) {
  Eye(c, kGrey);
  c.Line({2, 13}, {13, 2}, 2, kRed);
}
void DrawActivateAll(Canvas& c) {
  for (int i = 0; i < 3; ++i) c.Rect(1, 2.0 + 4.5 * i, 6, 4.5 + 4.5 * i, kBlue);
  c.Polyline({{7, 8}, {9.5, 11.5}, {14, 3}}, 2.2, kGreen);
}
void DrawDeactivateAll(Canvas& c) {
  for (int i = 0; i < 3; ++i) c.Rect(1, 2.0 + 4.5 * i, 6, 4.5 + 4.5 * i, kSilver);
  c.Line({8, 4}, {14, 11}, 2, kRed);
  c.Line({14, 4}, {8, 11}, 2, kRed);
}
void DrawRecord(Canvas& c) {
  c.Disc(8, 8, 5.5, kRed);
}
void DrawPlay(Canvas& c) {
  c.Polygon({{4, 2}, {14, 8}, {4, 14}}, kGreen);
}
void DrawStopPlay(Canvas& c) {
  c.Rect(3, 3, 13, 13, kDark);
}
void DrawPause(Canvas& c) {
  c.Rect(3, 3, 7, 13, kDark);
  c.Rect(9, 3, 13, 13, kDark);
}

// Main window, 40 x 40.
void DrawMainPanel(Canvas& c) {
  c.Disc(20, 22, 18, kDark);
  c.Arc(20, 22, 12, 15.5, -30, 120, kLime);
  c.Arc(20, 22, 12, 15.5, 120, 180, kSky);
  c.Arc(20, 22, 12, 15.5, 180, 210, kRed);
  c.Arc(20, 22, 12, 15.5, 320, 360, kRed);
  c.Line({20, 22}, {9, 12}, 2.4, kAmber);
  c.Disc(20, 22, 3, kSilver);
  c.Rect(12, 31, 28, 36, kBlack);
  Text(c, "D", 17.5, 31.5, 0.8, 1, kWhite);
}
void DrawMainTable(Canvas& c) {
  c.Rect(3, 5, 37, 35, kNavy);
  c.Rect(4, 6, 36, 34, kWhite);
  c.Rect(4, 6, 36, 11, kSky);
  for (int i = 0; i < 5; ++i) c.Rect(4, 11.0 + 5 * i, 36, 11.8 + 5 * i, kSilver);
  c.Rect(12, 6, 12.8, 34, kSilver);
  c.Rect(27, 6, 27.8, 34, kSilver);
  for (int i = 0; i < 4; ++i) c.Rect(29, 13.0 + 5 * i, 34.5 + (i % 2) * -2, 15.0 + 5 * i, kGreen);
}
void DrawMainFreeze(Canvas& c) {  // a photo frame with a snowflake: a frozen snapshot
  c.RoundRect(2, 6, 38, 34, 3, kNavy);
  c.Rect(4, 8, 36, 32, kSky);
  for (int i = 0; i < 3; ++i) {
    const double a = i * std::numbers::pi / 3;
    const double dx = 10 * std::cos(a), dy = 10 * std::sin(a);
    c.Line({20 - dx, 20 - dy}, {20 + dx, 20 + dy}, 2.2, kWhite);
  }
  c.Disc(20, 20, 2.5, kWhite);
}
void DrawMainDtc(Canvas& c) {  // the check-engine lamp, lit
  c.RoundRect(1, 3, 39, 37, 5, kDark);
  Engine(c, 1.1, 1.5, 3, kAmber, kAmber);
  c.Disc(1.5 + 17.5 * 1.1, 3 + 17.5 * 1.1, 3.2, kDark);
  c.Rect(1.5 + 16.7 * 1.1, 3 + 12.5 * 1.1, 1.5 + 18.3 * 1.1, 3 + 17.5 * 1.1, kAmber);
}
void DrawMainInfo(Canvas& c) {
  c.Disc(20, 20, 17, kNavy);
  c.Disc(20, 20, 15, kBlue);
  c.Disc(20, 11, 2.6, kWhite);
  c.RoundRect(17.5, 16, 22.5, 31, 1.5, kWhite);
  c.Rect(15, 29, 25, 31.5, kWhite);
}
void DrawMainGraph(Canvas& c) {
  c.Rect(3, 3, 37, 37, kWhite);
  c.Rect(5, 4, 7, 35, kDark);
  c.Rect(5, 33, 36, 35, kDark);
  c.Polyline({{8, 26}, {14, 18}, {19, 22}, {25, 10}, {30, 15}, {35, 8}}, 2.2, kRed);
  c.Polyline({{8, 30}, {13, 28}, {19, 29}, {24, 23}, {30, 25}, {35, 20}}, 2.2, kBlue);
}
void DrawMainExit(Canvas& c) {
  Door(c, 40.0 / 32);
}

// Dashboard pictures on black.
void DrawCheckOn(Canvas& c) {
  Engine(c, 1, 0, 0, kAmber, kAmber);
  c.Disc(17.5, 17.5, 3, kBlack);
  c.Rect(16.7, 12.5, 18.3, 17.5, kAmber);
}
void DrawCheckOff(Canvas& c) {
  Engine(c, 1, 0, 0, kBlack, Rgb{70, 70, 70});
  c.Disc(17.5, 17.5, 3, Rgb{70, 70, 70});
  c.Disc(17.5, 17.5, 1.6, kBlack);
}
void Selector(Canvas& c, char letter, Rgb col) {  // 43 x 43
  c.RoundRect(2, 2, 41, 41, 6, col);
  c.RoundRect(4.5, 4.5, 38.5, 38.5, 4, kBlack);
  const char text[2] = {letter, 0};
  Text(c, text, 14.5, 10.5, 3.5, 3.6, col);
}
void DrawL(Canvas& c) {
  Selector(c, 'L', kLime);
}
void Draw2(Canvas& c) {
  Selector(c, '2', kLime);
}
void DrawR(Canvas& c) {
  Selector(c, 'R', kRed);
}
void Draw3(Canvas& c) {
  Selector(c, '3', kLime);
}
void DrawD(Canvas& c) {
  Selector(c, 'D', kLime);
}
void DrawS(Canvas& c) {
  Selector(c, 'S', kLime);
}
void DrawN(Canvas& c) {
  Selector(c, 'N', kYellow);
}
void DrawP(Canvas& c) {
  Selector(c, 'P', kSky);
}
void DrawOverdriveOff(Canvas& c) {
  c.RoundRect(2, 2, 41, 41, 6, kAmber);
  c.RoundRect(4, 4, 39, 39, 4, kBlack);
  Text(c, "O/D", 5.5, 7, 1.8, 1.8, kAmber);
  Text(c, "OFF", 5.5, 24, 1.8, 1.8, kAmber);
}
void DrawCoolant(Canvas& c) {
  Thermometer(c, kSky);
  c.Polyline({{3, 29}, {7, 27}, {11, 29}}, 1.4, kSky);
  c.Polyline({{21, 29}, {25, 27}, {29, 29}}, 1.4, kSky);
}
void DrawAtf(Canvas& c) {
  Thermometer(c, kRed);
  Text(c, "AT", 1, 1, 1.2, 1.3, kAmber);
}
void DrawLoad(Canvas& c) {
  c.Arc(16, 20, 10, 14, 0, 180, kWhite);
  c.Arc(16, 20, 10, 14, 0, 50, kRed);
  c.Line({16, 20}, {24, 11}, 2, kAmber);
  c.Disc(16, 20, 2.5, kWhite);
  c.Rect(4, 25, 28, 27, kWhite);
}

// ---------------------------------------------------------------- the icon

// The program's icon: a tachometer on a dark blue tile over the square wave
// of the K-Line, drawn on a 48-unit grid scaled to the size.
constexpr Rgb kClear{255, 0, 255};  // never drawn: the transparent background
constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

void DrawIcon(Canvas& c) {
  const double u = c.Width() / 48.0;
  auto P = [u](double x, double y) { return Pt{x * u, y * u}; };
  c.RoundRect(2 * u, 2 * u, 46 * u, 46 * u, 9 * u, kNavy);
  c.RoundRect(4 * u, 4 * u, 44 * u, 44 * u, 7.5 * u, Rgb{25, 60, 160});
  // The dial from 7 to 5 o'clock, its last part red.
  const double cx = 24 * u, cy = 24 * u;
  c.Arc(cx, cy, 13 * u, 17.5 * u, 25, 210, kWhite);
  c.Arc(cx, cy, 13 * u, 17.5 * u, 0, 25, kRed);
  c.Arc(cx, cy, 13 * u, 17.5 * u, 330, 360, kRed);
  c.Line({cx, cy},
         P(24 + 13 * std::cos(std::numbers::pi * 55 / 180),
           24 - 13 * std::sin(std::numbers::pi * 55 / 180)),
         3.2 * u, kAmber);
  c.Disc(cx, cy, 3.5 * u, kWhite);
  // The K-Line: a square wave under the dial.
  c.Polyline({P(9, 39), P(14, 39), P(14, 34.5), P(19, 34.5), P(19, 39), P(24, 39), P(24, 34.5),
              P(29, 34.5), P(29, 39), P(39, 39)},
             2.4 * u, kLime);
}

const Picture kPictures[] = {
    {"start.bmp", 32, 32, kKey, DrawStart},
    {"stop.bmp", 32, 32, kKey, DrawStop},
    {"exit.bmp", 32, 32, kKey, DrawExit},
    {"copy.bmp", 32, 32, kKey, DrawCopy},
    {"read.bmp", 32, 32, kKey, DrawRead},
    {"readcodes.bmp", 32, 32, kKey, DrawReadCodes},
    {"clear.bmp", 32, 32, kKey, DrawClear},
    {"export.bmp", 32, 32, kKey, DrawExport},
    {"fileread.bmp", 32, 32, kKey, DrawFileRead},
    {"filewrite.bmp", 32, 32, kKey, DrawFileWrite},
    {"minimize.bmp", 32, 32, kBlack, DrawMinimize},
    {"on.bmp", 15, 15, kKey, DrawOn},
    {"off.bmp", 15, 15, kKey, DrawOff},
    {"teston.bmp", 15, 15, kKey, DrawTestOn},
    {"testoff.bmp", 15, 15, kKey, DrawTestOff},
    {"showall.bmp", 15, 15, kKey, DrawShowAll},
    {"hideinact.bmp", 15, 15, kKey, DrawHideInactive},
    {"activall.bmp", 15, 15, kKey, DrawActivateAll},
    {"deactall.bmp", 15, 15, kKey, DrawDeactivateAll},
    {"record.bmp", 16, 16, kKey, DrawRecord},
    {"play.bmp", 16, 16, kKey, DrawPlay},
    {"stopplay.bmp", 16, 16, kKey, DrawStopPlay},
    {"pause.bmp", 16, 16, kKey, DrawPause},
    {"main_panel.bmp", 40, 40, kKey, DrawMainPanel},
    {"main_table.bmp", 40, 40, kKey, DrawMainTable},
    {"main_freeze.bmp", 40, 40, kKey, DrawMainFreeze},
    {"main_dtc.bmp", 40, 40, kKey, DrawMainDtc},
    {"main_info.bmp", 40, 40, kKey, DrawMainInfo},
    {"main_graph.bmp", 40, 40, kKey, DrawMainGraph},
    {"main_exit.bmp", 40, 40, kKey, DrawMainExit},
    {"checkon.bmp", 32, 32, kBlack, DrawCheckOn},
    {"checkoff.bmp", 32, 32, kBlack, DrawCheckOff},
    {"L.bmp", 43, 43, kBlack, DrawL},
    {"2.bmp", 43, 43, kBlack, Draw2},
    {"R.bmp", 43, 43, kBlack, DrawR},
    {"3.bmp", 43, 43, kBlack, Draw3},
    {"D.bmp", 43, 43, kBlack, DrawD},
    {"S.bmp", 43, 43, kBlack, DrawS},
    {"N.bmp", 43, 43, kBlack, DrawN},
    {"P.bmp", 43, 43, kBlack, DrawP},
    {"od.bmp", 43, 43, kBlack, DrawOverdriveOff},
    {"coolant.bmp", 32, 32, kBlack, DrawCoolant},
    {"atf.bmp", 32, 32, kBlack, DrawAtf},
    {"load.bmp", 32, 32, kBlack, DrawLoad},
};

void Put16(std::string& s, unsigned v) {
  s.push_back(char(v & 0xFF));
  s.push_back(char((v >> 8) & 0xFF));
}
void Put32(std::string& s, unsigned v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}

// A 24-bit bottom-up BMP (BITMAPINFOHEADER), rows padded to 4 bytes.
std::string EncodeBmp(int w, int h, const std::vector<Rgb>& px) {
  const unsigned rowBytes = (unsigned(w) * 3 + 3) & ~3u;
  const unsigned imageBytes = rowBytes * unsigned(h);
  std::string s;
  s += "BM";
  Put32(s, 54 + imageBytes);
  Put32(s, 0);
  Put32(s, 54);
  Put32(s, 40);
  Put32(s, unsigned(w));
  Put32(s, unsigned(h));
  Put16(s, 1);
  Put16(s, 24);
  Put32(s, 0);
  Put32(s, imageBytes);
  Put32(s, 2835);  // 72 dpi
  Put32(s, 2835);
  Put32(s, 0);
  Put32(s, 0);
  for (int y = h - 1; y >= 0; --y) {
    for (int x = 0; x < w; ++x) {
      const Rgb p = px[std::size_t(y) * w + x];
      s.push_back(char(p.b));
      s.push_back(char(p.g));
      s.push_back(char(p.r));
    }
    for (unsigned pad = unsigned(w) * 3; pad < rowBytes; ++pad) s.push_back(0);
  }
  return s;
}

bool WriteFile(const std::string& path, const std::string& data) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  bool ok =
      f != nullptr && !data.empty() && std::fwrite(data.data(), 1, data.size(), f) == data.size();
  if (f != nullptr && std::fclose(f) != 0) ok = false;
  if (!ok) std::fprintf(stderr, "kestrel-picgen: cannot write %s\n", path.c_str());
  return ok;
}

// The icon in every size, as the freedesktop icon theme lays it out.
int WriteIcons(const std::string& outdir) {
  for (int size : kIconSizes) {
    const std::string folder =
        outdir + "/hicolor/" + std::to_string(size) + "x" + std::to_string(size) + "/apps";
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    Canvas canvas(size, size, kClear);
    DrawIcon(canvas);
    // An 8-bit RGBA PNG, written by Qt's own PNG writer.
    const std::vector<std::uint8_t> rgba = canvas.ReduceRgba(kClear);
    const QImage image(rgba.data(), size, size, size * 4, QImage::Format_RGBA8888);
    const std::string file = folder + "/kestrel.png";
    if (!image.save(QString::fromStdString(file), "PNG")) {
      std::fprintf(stderr, "kestrel-picgen: cannot write %s\n", file.c_str());
      return 1;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string_view(argv[1]) == "--icons") return WriteIcons(argv[2]);
  if (argc != 2) {
    std::fprintf(stderr, "usage: kestrel-picgen OUTDIR | --list | --icons OUTDIR\n");
    return 2;
  }
  const std::string arg = argv[1];
  if (arg == "--list") {
    for (const Picture& p : kPictures) std::printf("%s\n", p.name);
    return 0;
  }
  for (const Picture& p : kPictures) {
    Canvas canvas(p.w, p.h, p.background);
    p.draw(canvas);
    std::vector<Rgb> px = canvas.Reduce();
    px[std::size_t(p.h - 1) * p.w] = p.background;  // the transparency key of a glyph
    const std::string data = EncodeBmp(p.w, p.h, px);
    if (!WriteFile(arg + "/" + p.name, data)) return 1;
  }
  return 0;
}
