#include "gfx/text_render.h"

#include <algorithm>
#include <cstring>

namespace orvo::gfx {

namespace {

struct Colour {
  uint32_t blue, green, red;
};

// Columns and rows a write may touch: the clip rectangle, kept inside the surface.
struct Area {
  int64_t left, top, right, bottom;
};

Area Writable(const Slot& s) {
  return {std::max<int64_t>(0, s.clipX), std::max<int64_t>(0, s.clipY),
          std::min<int64_t>(s.width, int64_t{s.clipX} + s.clipWidth),
          std::min<int64_t>(s.height, int64_t{s.clipY} + s.clipHeight)};
}

inline void BlendCoverage(uint8_t* p, const Colour& c, uint32_t coverage) {
  const uint32_t keep = 255 - coverage;
  p[0] = static_cast<uint8_t>(p[0] * keep / 255 + c.blue * coverage / 255);
  p[1] = static_cast<uint8_t>(p[1] * keep / 255 + c.green * coverage / 255);
  p[2] = static_cast<uint8_t>(p[2] * keep / 255 + c.red * coverage / 255);
}

void BlendGlyph(const Slot& s, const Area& area, const Glyph& glyph, int64_t x, int64_t y,
                const Colour& colour) {
  const int64_t x0 = std::max(x, area.left), x1 = std::min(x + glyph.width, area.right);
  const int64_t y0 = std::max(y, area.top), y1 = std::min(y + glyph.rows, area.bottom);
  for (int64_t py = y0; py < y1; ++py) {
    const uint8_t* cover = &glyph.coverage[static_cast<size_t>((py - y) * glyph.width + (x0 - x))];
    uint8_t* p = s.pixels + py * s.stride + x0 * 4;
    for (int64_t px = x0; px < x1; ++px, p += 4, ++cover)
      if (*cover) BlendCoverage(p, colour, *cover);
  }
}

}  // namespace

void RenderGlyphRun(const Slot& s, const Font& font, std::span<const Glyph* const> glyphs,
                    uint32_t colour, bool underline) {
  if (!s.pixels) return;
  const Area area = Writable(s);
  if (area.right <= area.left || area.bottom <= area.top) return;
  const Colour c{(colour >> 16) & 0xFF, (colour >> 8) & 0xFF, colour & 0xFF};
  int64_t pen = 0;
  for (const Glyph* glyph : glyphs) {
    if (!glyph->coverage.empty()) BlendGlyph(s, area, *glyph, pen + glyph->left, glyph->top, c);
    pen += glyph->advance;
  }
  if (!underline) return;
  const int64_t x0 = area.left, x1 = std::min(pen, area.right);
  const int64_t y0 = std::max<int64_t>(font.underlineTop, area.top);
  const int64_t y1 =
      std::min<int64_t>(int64_t{font.underlineTop} + font.underlineRows, area.bottom);
  for (int64_t py = y0; py < y1; ++py) {
    uint8_t* p = s.pixels + py * s.stride + x0 * 4;
    for (int64_t px = x0; px < x1; ++px, p += 4) BlendCoverage(p, c, 255);
  }
}

void ClearArea(const Slot& s, int64_t width, int64_t height) {
  if (!s.pixels) return;
  const int64_t w = std::min<int64_t>(width, s.width), h = std::min<int64_t>(height, s.height);
  if (w <= 0) return;
  for (int64_t y = 0; y < h; ++y)
    std::memset(s.pixels + y * s.stride, 0, static_cast<size_t>(w) * 4);
}

void MakeOpaque(const Slot& s, int64_t width, int64_t height) {
  if (!s.pixels) return;
  const int64_t w = std::min<int64_t>(width, s.width), h = std::min<int64_t>(height, s.height);
  for (int64_t y = 0; y < h; ++y) {
    uint8_t* p = s.pixels + y * s.stride + 3;
    for (int64_t x = 0; x < w; ++x, p += 4) *p = 255;
  }
}

}  // namespace orvo::gfx
