// The three font families of the text renderer, resolved through fontconfig and opened
// with FreeType (in the web build: found in the game's fonts and opened with
// stb_truetype). A face is looked up once per family and style and stays open until the
// library is closed; the fonts of the cache are sizes of these faces.
#pragma once

#include <cstdint>
#include <string>

#include "gfx/font_engine.h"

namespace orvo::gfx {

// Style flags of the text block.
inline constexpr uint32_t TEXT_CENTRE = 0x00020000;
inline constexpr uint32_t TEXT_RIGHT = 0x00040000;
inline constexpr uint32_t TEXT_COURIER = 0x00200000;
inline constexpr uint32_t TEXT_BOLD = 0x00400000;
inline constexpr uint32_t TEXT_TIMES = 0x01000000;
inline constexpr uint32_t TEXT_ITALIC = 0x08000000;
inline constexpr uint32_t TEXT_UNDERLINE = 0x10000000;
inline constexpr uint32_t TEXT_CUT = 0x20000000;
inline constexpr uint32_t TEXT_WRAP = 0x40000000;
inline constexpr uint32_t TEXT_MEASURE = 0x80000000;
// The flags that make one font differ from another.
inline constexpr uint32_t TEXT_STYLE_KEY =
    TEXT_UNDERLINE | TEXT_ITALIC | TEXT_TIMES | TEXT_BOLD | TEXT_COURIER;

enum FontFamily : int { FAMILY_TAHOMA = 0, FAMILY_COURIER = 1, FAMILY_TIMES = 2 };
inline constexpr int FAMILY_COUNT = 3;

// Courier wins over Times; with neither the family is Tahoma.
constexpr FontFamily FamilyOf(uint32_t style) {
  if (style & TEXT_COURIER) return FAMILY_COURIER;
  if (style & TEXT_TIMES) return FAMILY_TIMES;
  return FAMILY_TAHOMA;
}
const char* FamilyName(FontFamily family);

// One face file chosen for a family, weight and slant.
struct FontFace {
  bool resolved = false;  // lookup done (whether or not it found a face)
  FaceHandle face = nullptr;
  // The family has no face of the asked weight or slant: FreeType makes it up.
  bool syntheticBold = false, syntheticItalic = false;
  std::string file;    // the font file fontconfig chose
  std::string family;  // the installed family that stands in for the asked one
};

struct FontCounters {
  uint64_t fontsCreated = 0;
  uint64_t fontsDeleted = 0;
  uint64_t glyphsRasterised = 0;
};

struct FontLibrary {
  FontLibrary() = default;
  FontLibrary(const FontLibrary&) = delete;
  FontLibrary& operator=(const FontLibrary&) = delete;
  ~FontLibrary();

  FontEngine ft = nullptr;
  FaceLookup config = nullptr;
  FontFace faces[FAMILY_COUNT][2][2];  // [family][bold][italic]
  int32_t dpi = 96;                    // vertical dots per inch of the screen
  // Rows of the text scratch surface: glyph rows below it can never be seen, so they are
  // not kept (0 keeps every row).
  int32_t visibleRows = 0;
  // A folder of fonts the game carries, offered besides the installed ones.
  std::string gameFonts;
  FontCounters counters;
};

// Starts FreeType and loads the fontconfig configuration. False when either fails.
bool OpenFontLibrary(FontLibrary& lib);
// Closes every face and both libraries; the fonts made from the faces must be gone.
void CloseFontLibrary(FontLibrary& lib);

// The face for a family and style, looked up on first use. When the family has no face of
// that weight or slant fontconfig offers the nearest one and the missing part is
// synthesised. Null only when no face at all could be opened.
const FontFace* ResolveFace(FontLibrary& lib, FontFamily family, bool bold, bool italic);

}  // namespace orvo::gfx
