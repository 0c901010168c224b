// What fonts and their glyphs are whichever engine opens and rasterises them: the face
// for a size, the font's own fields, the glyphs as text drawing and measuring use them.
#include <algorithm>

#include "gfx/font.h"
#include "gfx/glyph_raster.h"

namespace orvo::gfx {

namespace {

// Neither engine takes pixel sizes beyond 16 bits.
constexpr int32_t kMaxPixelHeight = 0xFFFF;

}  // namespace

const FontFace* FaceForSize(FontLibrary& lib, int32_t points, uint32_t style, int32_t& pixels) {
  pixels = PixelHeight(points, lib.dpi);
  if (pixels < 1 || pixels > kMaxPixelHeight) return nullptr;
  return ResolveFace(lib, FamilyOf(style), (style & TEXT_BOLD) != 0, (style & TEXT_ITALIC) != 0);
}

void StartFont(Font& font, FontLibrary& lib, const FontFace* face, int32_t points,
               int32_t pixels, uint32_t style) {
  font.library = &lib;
  ++lib.counters.fontsCreated;
  font.face = face;
  font.points = points;
  font.pixelHeight = pixels;
  font.style = style & TEXT_STYLE_KEY;
}

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
