// Helpers shared by the drawing code: rectangles in 64-bit arithmetic (program coordinates
// are arbitrary 32-bit values, so sums such as x + width must not overflow), pixel access
// through a started slot, and the screen invalidation of 64-bit rectangles.
#pragma once

#include <algorithm>
#include <cstdint>

#include "gfx/surface.h"
#include "vm/memory.h"

namespace orvo::gfx {

// Byte offsets of the words of a Surface record in the heap.
inline constexpr uint32_t REC_WIDTH = 0;
inline constexpr uint32_t REC_HEIGHT = 4;
inline constexpr uint32_t REC_STRIDE = 8;
inline constexpr uint32_t REC_CLIP_X = 12;
inline constexpr uint32_t REC_CLIP_Y = 16;
inline constexpr uint32_t REC_CLIP_W = 20;
inline constexpr uint32_t REC_CLIP_H = 24;
inline constexpr uint32_t REC_PIXELS = 28;
inline constexpr uint32_t RECORD_SIZE = 32;

// Half-open rectangle [left, right) x [top, bottom).
struct Span {
  int64_t left = 0, top = 0, right = 0, bottom = 0;
  bool Empty() const { return right <= left || bottom <= top; }
  Span Intersect(const Span& o) const {
    return {std::max(left, o.left), std::max(top, o.top), std::min(right, o.right),
            std::min(bottom, o.bottom)};
  }
};

inline Span ClipSpan(const Slot& s) {
  return {s.clipX, s.clipY, int64_t{s.clipX} + s.clipWidth, int64_t{s.clipY} + s.clipHeight};
}
inline Span BoundsSpan(const Slot& s) {
  return {0, 0, s.width, s.height};
}
inline bool InClip(const Slot& s, int64_t x, int64_t y) {
  return x >= s.clipX && x < int64_t{s.clipX} + s.clipWidth && y >= s.clipY &&
         y < int64_t{s.clipY} + s.clipHeight;
}

// Pointer to the pixel at (x, y), which the caller has checked to lie inside the surface.
inline uint8_t* PixelAt(const Slot& s, int64_t x, int64_t y) {
  return s.pixels + y * s.stride + x * 4;
}
inline uint32_t LoadPixel(const uint8_t* p) {
  return vm::Load32(p);
}
inline void StorePixel(uint8_t* p, uint32_t v) {
  vm::Store32(p, v);
}

// Marks [left, right) x [top, bottom) of the screen dirty (nothing when empty).
void InvalidateSpan(Graphics& g, const Span& area);
// The invalidation rule of InvalidateArea for 64-bit x, y, width, height.
void InvalidateArea64(Graphics& g, int64_t x, int64_t y, int64_t width, int64_t height);

// Blend of a colour (given as a pixel word: bytes blue, green, red, alpha) into one pixel,
// the rule of lines, fills, ellipses and the blended pixel write:
// c * a / 255 + D * (255 - a) / 255 for every channel, alpha included (with c = a).
inline uint32_t BlendColourPixel(uint32_t d, uint32_t colourPixel) {
  const uint32_t a = colourPixel >> 24;
  const uint32_t ia = 255 - a;
  uint32_t out = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    const uint32_t c = (colourPixel >> shift) & 0xFF;
    const uint32_t dc = (d >> shift) & 0xFF;
    out |= (Div255(c * a) + Div255(dc * ia)) << shift;
  }
  out |= (Div255(a * a) + Div255((d >> 24) * ia)) << 24;
  return out;
}

// The line with its pattern steps, drawn into an already started destination slot.
void LineInSlot(Graphics& g, const Slot& dst, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                uint32_t colourPixel);
// Blends a colour into every pixel of area, which lies inside the surface.
void FillSpan(const Slot& dst, const Span& area, uint32_t colourPixel);

}  // namespace orvo::gfx
