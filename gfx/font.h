// A font: one face of the library at one pixel size, with its style, its metrics in
// whole pixels and its glyph cache.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "gfx/font_library.h"
#include "gfx/glyph_cache.h"

namespace orvo::gfx {

struct Font {
  Font() = default;
  Font(const Font&) = delete;
  Font& operator=(const Font&) = delete;
  ~Font();

  FontLibrary* library = nullptr;
  const FontFace* face = nullptr;
  SizeHandle size = nullptr;  // this font's size object of the shared face
  int32_t points = 0;
  int32_t pixelHeight = 0;  // em height in pixels
  uint32_t style = 0;       // the style-key flags it was made with
  // Baseline-relative metrics: ascender above, descender below (negative).
  int32_t ascender = 0, descender = 0;
  // Rows of the underline, measured from the top of the line.
  int32_t underlineTop = 0, underlineRows = 0;
  GlyphCache glyphs;

  int32_t Height() const { return ascender - descender; }
};

// The size a font description asks for: height = point size x dots per inch / 72,
// truncated towards zero.
constexpr int32_t PixelHeight(int32_t points, int32_t dpi) {
  return static_cast<int32_t>(int64_t{points} * dpi / 72);
}

// What making a font is the same for every engine (font_glyphs.cpp): the face of the
// family and style in style at a point size, with the size in pixels; null when the size
// is beyond 16 bits or the library has no face. Then the font's own fields, once the
// engine has made its size (the library counts the font from then on).
const FontFace* FaceForSize(FontLibrary& lib, int32_t points, uint32_t style, int32_t& pixels);
void StartFont(Font& font, FontLibrary& lib, const FontFace* face, int32_t points,
               int32_t pixels, uint32_t style);

// Makes the font of the family and style in style (the style-key flags) at a point size.
// Null when the library has no face for it or the size cannot be set.
std::unique_ptr<Font> CreateFont(FontLibrary& lib, int32_t points, uint32_t style);

// The glyph of a character, rasterised on first use. Characters the face lacks draw the
// face's missing-glyph box.
const Glyph& GetGlyph(Font& font, char32_t c);

// Extent of a text as the renderer lays it out: the sum of the advances and the font's
// height, ascender minus descender. Glyphs already cached are used as they are; others
// are loaded for their advance only, without rasterising or caching them.
struct Extent {
  int64_t width = 0;
  int32_t height = 0;
};
Extent MeasureText(Font& font, std::u32string_view text);

}  // namespace orvo::gfx
