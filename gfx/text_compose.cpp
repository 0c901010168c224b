#include "gfx/text_compose.h"

#include <algorithm>
#include <limits>

#include "gfx/text_render.h"

namespace orvo::gfx {

namespace {

int32_t Clamp32(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

// Copies what the destination (dw x dh pixels) holds under (x, y, width, height) into the
// text surface at (0, 0), so that the glyphs blend against the real background. Only the
// part inside the destination surface is read; the rest stays transparent black.
void CopyBackground(Graphics& g, vm::Machine& m, int32_t destination, int64_t dw, int64_t dh,
                    int64_t x, int64_t y, int64_t width, int64_t height) {
  const int64_t x0 = std::max<int64_t>(x, 0), y0 = std::max<int64_t>(y, 0);
  const int64_t x1 = std::min(x + width, dw), y1 = std::min(y + height, dh);
  if (x1 <= x0 || y1 <= y0) return;
  Blit(g, m, SURFACE_TEXT, static_cast<int32_t>(x0 - x), static_cast<int32_t>(y0 - y), destination,
       static_cast<int32_t>(x0), static_cast<int32_t>(y0), static_cast<int32_t>(x1 - x0),
       static_cast<int32_t>(y1 - y0), 0, 0, 0);
}

}  // namespace

void ComposeText(Graphics& g, vm::Machine& m, const TextBlock& block, const Font& font,
                 std::span<const Glyph* const> glyphs, int64_t width) {
  const int64_t box = block.boxWidth;
  int64_t x = block.x;
  const bool aligned = (block.style & (TEXT_CENTRE | TEXT_RIGHT)) != 0;
  if (block.style & TEXT_CENTRE)
    x += (box - width) / 2;
  else if (block.style & TEXT_RIGHT)
    x += box - width;
  // Left-aligned text is cut at the box; aligned text shows whole.
  const int64_t shown = aligned ? width : std::min(box, width);
  // The composited rectangle, cut to the text surface: nothing is ever written beyond it.
  const int64_t w = std::min<int64_t>(shown, g.text.width);
  const int64_t h = std::min<int64_t>(block.lineHeight, g.text.height);
  if (w <= 0 || h <= 0) return;

  // A destination that cannot be started has been reported; nothing is drawn.
  if (!StartSRC(g, m, block.surface)) return;
  const int64_t dw = g.src.width, dh = g.src.height;
  EndSRC(g, m);

  if ((block.background >> 24) == 255) {
    // The fill covers the whole composited rectangle, also where centred or right-aligned
    // text is wider than the box, so no stale pixels of an earlier line show.
    DrawRectangle(g, m, SURFACE_TEXT, 0, 0, Clamp32(std::max(box, w)), static_cast<int32_t>(h),
                  block.background, 0);
  } else {
    if (!StartDST(g, m, SURFACE_TEXT)) return;
    ClearArea(g.dst, w, h);
    EndDST(g, m);
    CopyBackground(g, m, block.surface, dw, dh, x, block.y, w, h);
  }

  if (!StartDST(g, m, SURFACE_TEXT)) return;
  RenderGlyphRun(g.dst, font, glyphs, block.colour, (block.style & TEXT_UNDERLINE) != 0);
  MakeOpaque(g.dst, w, h);
  EndDST(g, m);

  Blit(g, m, block.surface, Clamp32(x), block.y, SURFACE_TEXT, 0, 0, static_cast<int32_t>(w),
       static_cast<int32_t>(h), 0, 0, 0);
}

}  // namespace orvo::gfx
