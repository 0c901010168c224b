// Rectangles with fill and border, ellipses with fill and outline, and the gradient square.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "gfx/blend.h"
#include "gfx/draw_internal.h"
#include "gfx/surface.h"

namespace orvo::gfx {
namespace {

inline void BlendAt(const Slot& dst, int64_t x, int64_t y, uint32_t colourPixel) {
  if (!InClip(dst, x, y)) return;
  uint8_t* p = PixelAt(dst, x, y);
  StorePixel(p, BlendColourPixel(LoadPixel(p), colourPixel));
}

// The fill between two outline columns on one row (both columns excluded).
inline void FillBetween(const Slot& dst, int64_t left, int64_t right, int64_t y,
                        uint32_t colourPixel) {
  FillSpan(dst, Span{left + 1, y, right, y + 1}.Intersect(ClipSpan(dst)), colourPixel);
}

// The ellipse's decision walk (see DrawEllipse). The decision values grow with the square
// of the size times the size, beyond 64 bits for the largest 32-bit sizes.
void EllipseInSlot(const Slot& dst, int64_t x, int64_t y, int64_t width, int64_t height,
                   uint32_t fillPixel, bool filled, uint32_t outlinePixel) {
  using Wide = __int128;
  const int64_t ew = width % 2 == 0 ? 1 : 0;
  const int64_t eh = height % 2 == 0 ? 1 : 0;
  int64_t left = x + (width - ew) / 2;
  int64_t right = left + ew;
  const int64_t half = (height - eh) / 2;
  int64_t top = y;
  int64_t bottom = y + eh + 2 * half;
  const Wide A = Wide{width - ew - 1} * (width - ew - 1);
  const Wide B = Wide{height - eh - 1} * (height - eh - 1);
  Wide t = A / 4 + B / 2 - half * (A / 2);
  Wide v = B / 4 + A / 2 - A * half;
  Wide u = A * half;
  Wide O = 0;
  const Wide A2 = A + A / 2;
  const Wide B2 = B + B / 2;

  auto plotRow = [&](int64_t row) {
    BlendAt(dst, left, row, outlinePixel);
    if (right != left) BlendAt(dst, right, row, outlinePixel);
  };
  plotRow(top);
  if (bottom != top) plotRow(bottom);

  // t grows by at least B' with every column step and a row step brings top and bottom
  // together, so the walk ends for every size (B = 0 only for heights 1 and 2, where t
  // starts at A/4 >= 0 and the first step is a row step).
  for (;;) {
    bool rowMoved = false;
    if (t < 0) {
      --left;
      ++right;
      t += B2 + O;
      v += B + O;
      O += B;
    } else {
      ++top;
      --bottom;
      rowMoved = true;
      if (v < 0) {
        --left;
        ++right;
        t += B2 + O + A - u;
        v += B + O + A2 - u;
        O += B;
      } else {
        t += A - u;
        v += A2 - u;
      }
      u -= A;
    }
    if (top > bottom) break;
    if (rowMoved && filled) {
      FillBetween(dst, left, right, top, fillPixel);
      if (bottom != top) FillBetween(dst, left, right, bottom, fillPixel);
    }
    plotRow(top);
    if (top != bottom) plotRow(bottom);
  }
}

// One gradient channel value, trunc(x * 255).
inline uint32_t Channel(double x) {
  return static_cast<uint32_t>(x * 255.0);
}

}  // namespace

void FillSpan(const Slot& dst, const Span& area, uint32_t colourPixel) {
  if (area.Empty()) return;
  const size_t n = static_cast<size_t>(area.right - area.left);
  for (int64_t y = area.top; y < area.bottom; ++y)
    blend::FillRow(PixelAt(dst, area.left, y), n, colourPixel);
}

void DrawRectangle(Graphics& g, vm::Machine& m, int32_t surface, int32_t x, int32_t y,
                   int32_t width, int32_t height, uint32_t fill, uint32_t border) {
  if (!StartDST(g, m, surface)) return;
  const bool borderOn = HasAlpha(border);
  const int64_t inset = borderOn ? 1 : 0;
  if (HasAlpha(fill)) {
    const Span area{int64_t{x} + inset, int64_t{y} + inset, int64_t{x} + width - inset,
                    int64_t{y} + height - inset};
    FillSpan(g.dst, area.Intersect(ClipSpan(g.dst)), SwapRedBlue(fill));
  }
  if (borderOn) {
    // Corner coordinates wrap like the program's own 32-bit arithmetic would.
    const int32_t r = static_cast<int32_t>(uint32_t(x) + uint32_t(width) - 1);
    const int32_t b = static_cast<int32_t>(uint32_t(y) + uint32_t(height) - 1);
    const uint32_t pixel = SwapRedBlue(border);
    LineInSlot(g, g.dst, x, y, r, y, pixel);
    LineInSlot(g, g.dst, r, y, r, b, pixel);
    LineInSlot(g, g.dst, r, b, x, b, pixel);
    LineInSlot(g, g.dst, x, b, x, y, pixel);
  }
  EndDST(g, m);
  if (surface == SURFACE_SCREEN) InvalidateArea(g, x, y, width, height);
}

void DrawEllipse(Graphics& g, vm::Machine& m, int32_t surface, int32_t x, int32_t y, int32_t width,
                 int32_t height, uint32_t fill, uint32_t outline) {
  if (!HasAlpha(outline)) outline = fill;
  if (width == 0 || height == 0) {
    DrawLine(g, m, surface, x, y, static_cast<int32_t>(uint32_t(x) + uint32_t(width)),
             static_cast<int32_t>(uint32_t(y) + uint32_t(height)), outline);
    return;
  }
  if (!StartDST(g, m, surface)) return;
  // The ellipse takes its colour words as they are, byte 0 into the pixel's first (blue)
  // byte: red and blue land in the opposite places from every other primitive.
  EllipseInSlot(g.dst, x, y, width, height, fill, HasAlpha(fill), outline);
  EndDST(g, m);
  if (surface == SURFACE_SCREEN) InvalidateArea64(g, x, y, int64_t{width} + 1, int64_t{height} + 1);
}

void GradientSquare(Graphics& g, vm::Machine& m, int32_t surface, int32_t x, int32_t y,
                    int32_t width, int32_t height, uint32_t hue) {
  if (!StartDST(g, m, surface)) return;
  const int64_t columns = std::abs(int64_t{width}), rows = std::abs(int64_t{height});
  int hueSteps = 167 - static_cast<int>(hue & 0xFF);
  if (hueSteps < 0) hueSteps += 252;
  const double H = hueSteps / 42.0;
  const int sector = static_cast<int>(std::floor(H));
  const double f = H - sector;
  const Span area = Span{x, y, int64_t{x} + columns, int64_t{y} + rows}.Intersect(ClipSpan(g.dst));
  for (int64_t py = area.top; py < area.bottom; ++py) {
    const int64_t i = py - y;
    // One row or one column has no ramp: its value (saturation) is that of the first row
    // (column), 0, instead of 0 / 0.
    double V = 0;
    if (rows > 1) V = double(height < 0 ? rows - 1 - i : i) / double(rows - 1);
    uint8_t* p = PixelAt(g.dst, area.left, py);
    for (int64_t px = area.left; px < area.right; ++px, p += 4) {
      const int64_t j = px - x;
      double S = 0;
      if (columns > 1) S = double(width < 0 ? columns - 1 - j : j) / double(columns - 1);
      uint32_t b, gr, r;
      if (S == 0) {
        b = gr = r = Channel(V);
      } else {
        const double P = V * (1 - S), Q = V * (1 - S * f), T = V * (1 - S * (1 - f));
        double c0, c1, c2;
        switch (sector) {
          case 0:
            c0 = V, c1 = T, c2 = P;
            break;
          case 1:
            c0 = Q, c1 = V, c2 = P;
            break;
          case 2:
            c0 = P, c1 = V, c2 = T;
            break;
          case 3:
            c0 = P, c1 = Q, c2 = V;
            break;
          case 4:
            c0 = T, c1 = P, c2 = V;
            break;
          default:
            c0 = V, c1 = P, c2 = Q;
            break;
        }
        b = Channel(c0), gr = Channel(c1), r = Channel(c2);
      }
      StorePixel(p, b | gr << 8 | r << 16 | 0xFF000000u);
    }
  }
  EndDST(g, m);
  if (surface == SURFACE_SCREEN) InvalidateArea64(g, x, y, columns, rows);
}

}  // namespace orvo::gfx
