#include "gfx/font_fit.h"

namespace orvo::gfx {

namespace {

// The height is known without loading a glyph, so it is tested first.
bool Reaches(Font& font, std::u32string_view sample, int32_t widthLimit, int32_t heightLimit) {
  if (font.Height() >= heightLimit) return true;
  return MeasureText(font, sample).width >= widthLimit;
}

}  // namespace

std::unique_ptr<Font> FitFont(FontLibrary& lib, std::u32string_view sample, int32_t widthLimit,
                              int32_t heightLimit, uint32_t style) {
  // Upwards: the first size that reaches a limit is n. The size below it, which did not,
  // is kept: it is the first one the downward search would accept.
  std::unique_ptr<Font> below;
  int32_t n = FIT_START_POINTS;
  if (!sample.empty()) {
    for (; n < FIT_MAX_POINTS; ++n) {
      std::unique_ptr<Font> font = CreateFont(lib, n, style);
      if (!font) break;
      if (Reaches(*font, sample, widthLimit, heightLimit)) break;
      below = std::move(font);
    }
    if (below && below->points == n - 1) return below;
    below.reset();
  }
  // Downwards from n - 1; the floor size is used whether it fits or not.
  for (int32_t points = n - 1; points > FIT_MIN_POINTS; --points) {
    std::unique_ptr<Font> font = CreateFont(lib, points, style);
    if (font && !sample.empty() && !Reaches(*font, sample, widthLimit, heightLimit)) return font;
  }
  return CreateFont(lib, FIT_MIN_POINTS, style);
}

}  // namespace orvo::gfx
