#include "gfx/font.h"

#include FT_SIZES_H

#include <algorithm>

#include "gfx/glyph_raster.h"

namespace orvo::gfx {

namespace {

int32_t Pixels(FT_Pos v) {
  return static_cast<int32_t>((v + 32) >> 6);
}

}  // namespace

Font::~Font() {
  if (size) FT_Done_Size(size);
  if (library) ++library->counters.fontsDeleted;
}

std::unique_ptr<Font> CreateFont(FontLibrary& lib, int32_t points, uint32_t style) {
  int32_t pixels = 0;
  const FontFace* face = FaceForSize(lib, points, style, pixels);
  if (!face) return nullptr;

  auto font = std::make_unique<Font>();
  if (FT_New_Size(face->face, &font->size) != 0) {
    font->size = nullptr;
    return nullptr;
  }
  StartFont(*font, lib, face, points, pixels, style);
  if (FT_Activate_Size(font->size) != 0 ||
      FT_Set_Pixel_Sizes(face->face, 0, static_cast<FT_UInt>(pixels)) != 0)
    return nullptr;

  const FT_Size_Metrics& metrics = face->face->size->metrics;
  font->ascender = Pixels(metrics.ascender);
  font->descender = Pixels(metrics.descender);
  // The face gives the underline's centre below the baseline and its thickness in font
  // units; at least one row is drawn however small the size.
  const FT_Pos centre = FT_MulFix(face->face->underline_position, metrics.y_scale);
  const FT_Pos thickness = FT_MulFix(face->face->underline_thickness, metrics.y_scale);
  font->underlineRows = std::max(1, Pixels(thickness));
  font->underlineTop = font->ascender - Pixels(centre) - font->underlineRows / 2;
  return font;
}

}  // namespace orvo::gfx
