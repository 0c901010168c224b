// Per-pixel operations: the alpha key pass, reading and blending single pixels, the
// surface information and the clip rectangle.
#include <algorithm>

#include "gfx/draw_internal.h"
#include "gfx/surface.h"
#include "vm/memory.h"

namespace orvo::gfx {

uint64_t AlphaKey(Graphics& g, vm::Machine& m, int32_t surface, int32_t x, int32_t y, int32_t width,
                  int32_t height, uint32_t key, uint32_t companion, int32_t alpha) {
  if (!StartSRC(g, m, surface)) return 0;
  const Slot& s = g.src;
  const Span cut = Span{x, y, int64_t{x} + width, int64_t{y} + height}.Intersect(ClipSpan(s));
  // The alpha is a byte of the pixel; only its low byte is compared and written.
  const uint32_t a = static_cast<uint32_t>(alpha) & 0xFF;
  const uint32_t alphaBits = a << 24;
  const bool everyPixel = key == 0xFFFFFFFFu && companion == 0xFFFFFFFFu;
  const uint32_t keyColour = SwapRedBlue(key) & 0x00FFFFFFu;
  uint64_t count = 0;
  if (!cut.Empty()) {
    for (int64_t py = cut.top; py < cut.bottom; ++py) {
      uint8_t* p = PixelAt(s, cut.left, py);
      for (int64_t px = cut.left; px < cut.right; ++px, p += 4) {
        const uint32_t v = LoadPixel(p);
        const bool write = everyPixel ? (v >> 24) != a : (v & 0x00FFFFFFu) == keyColour;
        if (!write) continue;
        StorePixel(p, (v & 0x00FFFFFFu) | alphaBits);
        ++count;
      }
    }
  }
  EndSRC(g, m);
  if (surface == SURFACE_SCREEN) InvalidateSpan(g, cut);
  return count;
}

uint32_t ReadPixel(Graphics& g, vm::Machine& m, int32_t surface, int32_t x, int32_t y) {
  if (!StartSRC(g, m, surface)) return 0;
  uint32_t colour = 0;
  if (x >= 0 && x < g.src.width && y >= 0 && y < g.src.height)
    colour = SwapRedBlue(LoadPixel(PixelAt(g.src, x, y)));
  EndSRC(g, m);
  return colour;
}

void BlendPixel(Graphics& g, vm::Machine& m, int32_t surface, int32_t x, int32_t y,
                uint32_t colour) {
  if (!StartSRC(g, m, surface)) return;
  if (x >= 0 && x < g.src.width && y >= 0 && y < g.src.height) {
    uint8_t* p = PixelAt(g.src, x, y);
    StorePixel(p, BlendColourPixel(LoadPixel(p), SwapRedBlue(colour)));
  }
  EndSRC(g, m);
  if (surface == SURFACE_SCREEN) InvalidateArea(g, x, y, 1, 1);
}

bool SurfaceInfo(Graphics& g, vm::Machine& m, int32_t surface, int32_t info[6]) {
  if (!StartSRC(g, m, surface)) return false;
  const Slot& s = g.src;
  info[0] = s.width;
  info[1] = s.height;
  info[2] = s.clipX;
  info[3] = s.clipY;
  info[4] = s.clipWidth;
  info[5] = s.clipHeight;
  EndSRC(g, m);
  return true;
}

bool SetClip(Graphics& g, vm::Machine& m, int32_t surface, int32_t x, int32_t y, int32_t width,
             int32_t height, int32_t oldClip[4]) {
  if (!StartSRC(g, m, surface)) return false;
  Slot& s = g.src;
  if (oldClip) {
    oldClip[0] = s.clipX;
    oldClip[1] = s.clipY;
    oldClip[2] = s.clipWidth;
    oldClip[3] = s.clipHeight;
  }
  // A negative corner is raised to 0 without shortening the size; the size is then cut to
  // what is left of the surface. The corner is bounded by the surface's size.
  const int32_t nx = std::min(s.width, std::max(0, x));
  const int32_t ny = std::min(s.height, std::max(0, y));
  const int32_t nw = std::max(0, std::min(width, s.width - nx));
  const int32_t nh = std::max(0, std::min(height, s.height - ny));
  s.clipX = nx;
  s.clipY = ny;
  s.clipWidth = nw;
  s.clipHeight = nh;
  if (surface == SURFACE_SCREEN || surface == SURFACE_TEXT) {
    OwnedSurface& o = surface == SURFACE_SCREEN ? g.screen : g.text;
    o.clipX = nx;
    o.clipY = ny;
    o.clipWidth = nw;
    o.clipHeight = nh;
  } else {
    uint8_t* rec = m.mem + s.record;
    vm::Store32(rec + REC_CLIP_X, static_cast<uint32_t>(nx));
    vm::Store32(rec + REC_CLIP_Y, static_cast<uint32_t>(ny));
    vm::Store32(rec + REC_CLIP_W, static_cast<uint32_t>(nw));
    vm::Store32(rec + REC_CLIP_H, static_cast<uint32_t>(nh));
  }
  EndSRC(g, m);
  return true;
}

}  // namespace orvo::gfx
