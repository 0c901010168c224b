// Loading and rasterising single glyphs of a font with FreeType.
#pragma once

#include "gfx/font.h"

namespace orvo::gfx {

// Loads the character's outline into the face's glyph slot at the font's size, hinted,
// with any synthetic weight or slant applied. Returns the advance in whole pixels, or -1
// when FreeType cannot load the glyph.
int32_t LoadGlyphOutline(Font& font, char32_t c);

// Loads and rasterises one glyph with anti-aliasing. Rows that fall outside the line
// (above its top, or below the library's visible rows) are dropped.
Glyph RasteriseGlyph(Font& font, char32_t c);

}  // namespace orvo::gfx
