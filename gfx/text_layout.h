// How much of a line goes into the box: word wrap and character cut over the characters'
// advances.
#pragma once

#include <cstdint>
#include <span>

namespace orvo::gfx {

// Number of leading characters drawn of a line whose total width exceeds the box width.
// Word wrap (TEXT_WRAP) grows the prefix until it is wider than the box and ends the line
// before the last space seen; with no usable space it falls back to the character cut
// when that is on. The character cut (TEXT_CUT) ends the line one character before the
// longest prefix that fits. With neither, the whole line is drawn. 0 = nothing drawn.
int32_t FitLine(std::span<const int32_t> advances, std::span<const char32_t> text, int64_t boxWidth,
                uint32_t style);

// Sum of the first count advances.
int64_t Advance(std::span<const int32_t> advances, size_t count);

}  // namespace orvo::gfx
