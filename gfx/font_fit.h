// Choosing the point size of a font from the space it must fit in.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "gfx/font.h"

namespace orvo::gfx {

// The sample the text renderer fits its fonts with: a capital I with grave accent (for the
// tallest accent) and a small y (for the deepest descender).
inline constexpr char32_t kFitSample[] = U"\u040Dy";
// Fonts are never made smaller than this, whether they fit or not.
inline constexpr int32_t FIT_MIN_POINTS = 4;
inline constexpr int32_t FIT_START_POINTS = 9;
// The search upwards ends here even if neither limit was reached (a face whose glyphs
// have no width, and a height limit beyond any size FreeType can set).
inline constexpr int32_t FIT_MAX_POINTS = 2048;

// The largest font of the style whose extent for the sample stays below both limits
// (width < widthLimit and height < heightLimit), searching upwards from 9 points to the
// first size that does not fit and then downwards from the size below it; at 4 points the
// font is used whatever its extent. An empty sample never fits. Null only when the
// library cannot make fonts of the style at all.
std::unique_ptr<Font> FitFont(FontLibrary& lib, std::u32string_view sample, int32_t widthLimit,
                              int32_t heightLimit, uint32_t style);

}  // namespace orvo::gfx
