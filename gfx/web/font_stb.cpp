// Fonts of the web build: a face at a pixel size, its metrics rounded as FreeType rounds
// them (the ascender up, the descender down) so that lines keep the native heights.
#include <algorithm>
#include <cmath>

#include "gfx/font.h"

namespace orvo::gfx {

Font::~Font() {
  delete size;
  if (library) ++library->counters.fontsDeleted;
}

std::unique_ptr<Font> CreateFont(FontLibrary& lib, int32_t points, uint32_t style) {
  int32_t pixels = 0;
  const FontFace* face = FaceForSize(lib, points, style, pixels);
  if (!face) return nullptr;

  auto font = std::make_unique<Font>();
  const stbtt_fontinfo& info = face->face->info;
  font->size = new StbSize{stbtt_ScaleForMappingEmToPixels(&info, static_cast<float>(pixels))};
  StartFont(*font, lib, face, points, pixels, style);

  int ascent = 0, descent = 0, gap = 0;
  stbtt_GetFontVMetrics(&info, &ascent, &descent, &gap);
  const double scale = font->size->scale;
  font->ascender = static_cast<int32_t>(std::ceil(ascent * scale));
  font->descender = static_cast<int32_t>(std::floor(descent * scale));
  const double centre = face->face->underlinePosition * scale;
  const double thickness = face->face->underlineThickness * scale;
  font->underlineRows = std::max(1, static_cast<int32_t>(std::lround(thickness)));
  font->underlineTop =
      font->ascender - static_cast<int32_t>(std::lround(centre)) - font->underlineRows / 2;
  return font;
}

}  // namespace orvo::gfx
