#include "gfx/glyph_raster.h"

#include FT_SIZES_H
#include FT_SYNTHESIS_H

#include <algorithm>
#include <cstring>

namespace orvo::gfx {

namespace {

// Light hinting keeps the shapes close to their design and the advances in whole pixels.
constexpr FT_Int32 kLoadFlags = FT_LOAD_TARGET_LIGHT | FT_LOAD_NO_BITMAP;

int32_t RoundPixels(FT_Pos v) {
  return static_cast<int32_t>((v + 32) >> 6);
}

}  // namespace

int32_t LoadGlyphOutline(Font& font, char32_t c) {
  FT_Face face = font.face->face;
  if (FT_Activate_Size(font.size) != 0) return -1;
  FT_UInt index = FT_Get_Char_Index(face, c);
  if (FT_Load_Glyph(face, index, kLoadFlags) != 0 &&
      (index == 0 || FT_Load_Glyph(face, 0, kLoadFlags) != 0))
    return -1;
  FT_GlyphSlot slot = face->glyph;
  if (font.face->syntheticItalic) FT_GlyphSlot_Oblique(slot);
  if (font.face->syntheticBold) FT_GlyphSlot_Embolden(slot);
  return std::max(0, RoundPixels(slot->advance.x));
}

Glyph RasteriseGlyph(Font& font, char32_t c) {
  Glyph glyph;
  const int32_t advance = LoadGlyphOutline(font, c);
  if (advance < 0) return glyph;
  glyph.advance = advance;
  FT_GlyphSlot slot = font.face->face->glyph;
  if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0) return glyph;
  ++font.library->counters.glyphsRasterised;

  const FT_Bitmap& bitmap = slot->bitmap;
  if (bitmap.pixel_mode != FT_PIXEL_MODE_GRAY || bitmap.width == 0 || bitmap.rows == 0)
    return glyph;
  const auto width = static_cast<int32_t>(bitmap.width);
  const auto rows = static_cast<int32_t>(bitmap.rows);
  // Row of the bitmap's top within the line; keep only rows inside the visible part.
  const int64_t top = int64_t{font.ascender} - slot->bitmap_top;
  int64_t first = std::max<int64_t>(0, -top);
  int64_t last = rows;
  if (font.library->visibleRows > 0)
    last = std::min<int64_t>(last, int64_t{font.library->visibleRows} - top);
  if (last <= first) return glyph;

  glyph.left = slot->bitmap_left;
  glyph.top = static_cast<int32_t>(top + first);
  glyph.width = width;
  glyph.rows = static_cast<int32_t>(last - first);
  glyph.coverage.resize(static_cast<size_t>(glyph.rows) * static_cast<size_t>(width));
  for (int64_t r = first; r < last; ++r) {
    // The pitch is negative for bottom-up bitmaps: its magnitude is the row length either way.
    const unsigned char* src =
        bitmap.pitch >= 0 ? bitmap.buffer + r * bitmap.pitch
                          : bitmap.buffer + (rows - 1 - r) * static_cast<int64_t>(-bitmap.pitch);
    std::memcpy(&glyph.coverage[static_cast<size_t>(r - first) * static_cast<size_t>(width)], src,
                static_cast<size_t>(width));
  }
  return glyph;
}

}  // namespace orvo::gfx
