// Lines with the repeating dash pattern, and runs of connected lines.
#include <algorithm>
#include <cstdlib>

#include "gfx/draw_internal.h"
#include "gfx/surface.h"
#include "vm/memory.h"

namespace orvo::gfx {
namespace {

// One visited pixel inside the clip: drawn when the pattern's top bit is set; the pattern
// turns by one bit either way. Pixels outside the clip never get here.
inline void PatternStep(Graphics& g, const Slot& dst, int64_t x, int64_t y, uint32_t colourPixel) {
  if (g.linePattern >> 63) {
    uint8_t* p = PixelAt(dst, x, y);
    StorePixel(p, BlendColourPixel(LoadPixel(p), colourPixel));
  }
  g.linePattern = (g.linePattern << 1) | (g.linePattern >> 63);
}

// Walks the straight span from a to b (inclusive) along one axis at the fixed other
// coordinate, cut to [lo, hi). alongX: the span runs along the columns.
void StraightSpan(Graphics& g, const Slot& dst, int64_t a, int64_t b, int64_t fixed, int64_t lo,
                  int64_t hi, bool alongX, uint32_t colourPixel) {
  const int64_t step = a <= b ? 1 : -1;
  const int64_t first = step > 0 ? std::max(a, lo) : std::min(a, hi - 1);
  const int64_t last = step > 0 ? std::min(b, hi - 1) : std::max(b, lo);
  if ((last - first) * step < 0) return;
  for (int64_t v = first;; v += step) {
    if (alongX)
      PatternStep(g, dst, v, fixed, colourPixel);
    else
      PatternStep(g, dst, fixed, v, colourPixel);
    if (v == last) break;
  }
}

// Bresenham from (x1, y1) to (x2, y2) with dx >= dy > 0 along the major axis m and the
// minor axis n (the caller exchanges the axes for a y-major line). The walk visits pixel
// k (k = 0 .. dx) at major m1 + k*sm; its minor coordinate after k steps has the closed
// form ceil((2dy*k - dx) / 2dx) (0 when that is negative), and the error term follows from
// it, so the walk can start at the first pixel whose major coordinate is inside the clip:
// pixels outside neither draw nor turn the pattern, so skipping them changes nothing.
void Bresenham(Graphics& g, const Slot& dst, int64_t m1, int64_t n1, int64_t dx, int64_t dy,
               int64_t sm, int64_t sn, int64_t mLo, int64_t mHi, bool xMajor,
               uint32_t colourPixel) {
  int64_t kLo = 0, kHi = dx;
  if (sm > 0) {
    kLo = std::max(kLo, mLo - m1);
    kHi = std::min(kHi, mHi - 1 - m1);
  } else {
    kLo = std::max(kLo, m1 - (mHi - 1));
    kHi = std::min(kHi, m1 - mLo);
  }
  if (kLo > kHi) return;
  const __int128 num = __int128{2} * dy * kLo - dx;
  const __int128 steps = num <= 0 ? 0 : (num + 2 * dx - 1) / (2 * dx);
  __int128 err = __int128{2} * dy - dx + __int128{2} * dy * kLo - __int128{2} * dx * steps;
  int64_t m = m1 + sm * kLo;
  int64_t n = n1 + sn * static_cast<int64_t>(steps);
  for (int64_t k = kLo; k <= kHi; ++k) {
    const int64_t x = xMajor ? m : n, y = xMajor ? n : m;
    if (InClip(dst, x, y)) PatternStep(g, dst, x, y, colourPixel);
    if (err > 0) {
      n += sn;
      err += 2 * dy - 2 * dx;
    } else {
      err += 2 * dy;
    }
    m += sm;
  }
}

void InvalidateLine(Graphics& g, int64_t x1, int64_t y1, int64_t x2, int64_t y2) {
  InvalidateSpan(g,
                 {std::min(x1, x2), std::min(y1, y2), std::max(x1, x2) + 1, std::max(y1, y2) + 1});
}

}  // namespace

void LineInSlot(Graphics& g, const Slot& dst, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                uint32_t colourPixel) {
  const Span clip = ClipSpan(dst);
  if (clip.Empty()) return;
  if (x1 == x2) {
    // Vertical, and the single point.
    if (x1 < clip.left || x1 >= clip.right) return;
    StraightSpan(g, dst, y1, y2, x1, clip.top, clip.bottom, false, colourPixel);
    return;
  }
  if (y1 == y2) {
    if (y1 < clip.top || y1 >= clip.bottom) return;
    StraightSpan(g, dst, x1, x2, y1, clip.left, clip.right, true, colourPixel);
    return;
  }
  const int64_t dx = std::abs(int64_t{x2} - x1), dy = std::abs(int64_t{y2} - y1);
  const int64_t sx = x2 > x1 ? 1 : -1, sy = y2 > y1 ? 1 : -1;
  if (dx < dy)
    Bresenham(g, dst, y1, x1, dy, dx, sy, sx, clip.top, clip.bottom, false, colourPixel);
  else
    Bresenham(g, dst, x1, y1, dx, dy, sx, sy, clip.left, clip.right, true, colourPixel);
}

uint64_t SetLinePattern(Graphics& g, uint64_t pattern) {
  const uint64_t old = g.linePattern;
  g.linePattern = pattern;
  return old;
}

void DrawLine(Graphics& g, vm::Machine& m, int32_t surface, int32_t x1, int32_t y1, int32_t x2,
              int32_t y2, uint32_t colour) {
  if (!StartDST(g, m, surface)) return;
  LineInSlot(g, g.dst, x1, y1, x2, y2, SwapRedBlue(colour));
  EndDST(g, m);
  if (surface == SURFACE_SCREEN) InvalidateLine(g, x1, y1, x2, y2);
}

void DrawLineRun(Graphics& g, vm::Machine& m, int32_t surface, const uint8_t* points, int32_t count,
                 uint32_t colour) {
  if (count < 2) return;
  if (!StartDST(g, m, surface)) return;
  const uint32_t pixel = SwapRedBlue(colour);
  auto at = [&](int32_t i, int off) {
    return static_cast<int32_t>(vm::Load32(points + size_t(i) * 8 + off));
  };
  for (int32_t i = 0; i + 1 < count; ++i) {
    const int32_t x1 = at(i, 0), y1 = at(i, 4), x2 = at(i + 1, 0), y2 = at(i + 1, 4);
    LineInSlot(g, g.dst, x1, y1, x2, y2, pixel);
    if (surface == SURFACE_SCREEN) InvalidateLine(g, x1, y1, x2, y2);
  }
  EndDST(g, m);
}

}  // namespace orvo::gfx
