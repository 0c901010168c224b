// The glyphs of a font as text drawing and measuring use them, whichever engine
// rasterises them.
#include <algorithm>

#include "gfx/font.h"
#include "gfx/glyph_raster.h"

namespace orvo::gfx {

const Glyph& GetGlyph(Font& font, char32_t c) {
  if (const Glyph* cached = font.glyphs.Find(c)) return *cached;
  return font.glyphs.Add(c, RasteriseGlyph(font, c));
}

Extent MeasureText(Font& font, std::u32string_view text) {
  Extent extent;
  extent.height = font.Height();
  for (char32_t c : text) {
    if (const Glyph* cached = font.glyphs.Find(c))
      extent.width += cached->advance;
    else
      extent.width += std::max(0, LoadGlyphOutline(font, c));
  }
  return extent;
}

}  // namespace orvo::gfx
