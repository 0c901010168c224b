#include "gfx/text_layout.h"

#include "gfx/font_library.h"

namespace orvo::gfx {

namespace {

// Index of the first character whose prefix is wider than the box, or the length when
// the whole text fits.
size_t FirstOverflow(std::span<const int32_t> advances, int64_t boxWidth) {
  int64_t width = 0;
  for (size_t i = 0; i < advances.size(); ++i) {
    width += advances[i];
    if (width > boxWidth) return i;
  }
  return advances.size();
}

// The prefix of k + 1 characters is the first too wide: k - 1 are drawn (none for k = 0).
int32_t Cut(size_t k) {
  return k == 0 ? 0 : static_cast<int32_t>(k - 1);
}

}  // namespace

int64_t Advance(std::span<const int32_t> advances, size_t count) {
  int64_t width = 0;
  for (size_t i = 0; i < count && i < advances.size(); ++i) width += advances[i];
  return width;
}

int32_t FitLine(std::span<const int32_t> advances, std::span<const char32_t> text, int64_t boxWidth,
                uint32_t style) {
  const size_t k = FirstOverflow(advances, boxWidth);
  if (k == advances.size()) return static_cast<int32_t>(k);
  if (style & TEXT_WRAP) {
    if (k == 0) return 0;
    // The last space at or before the character that overflowed.
    size_t space = 0;
    bool seen = false;
    for (size_t i = 0; i <= k && i < text.size(); ++i)
      if (text[i] == U' ') space = i, seen = true;
    if ((!seen || space == 0) && (style & TEXT_CUT)) return Cut(k);
    return seen ? static_cast<int32_t>(space) : 0;
  }
  if (style & TEXT_CUT) return Cut(k);
  return static_cast<int32_t>(advances.size());
}

}  // namespace orvo::gfx
