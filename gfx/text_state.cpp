#include "gfx/text.h"

namespace orvo::gfx {

bool TextStartup(TextState& t, const Graphics& g) {
  TextShutdown(t);
  if (!OpenFontLibrary(t.fonts)) return false;
  t.fonts.visibleRows = g.text.height;
  t.wide = std::make_unique<char32_t[]>(TEXT_WIDE_INITIAL);
  t.wideCapacity = TEXT_WIDE_INITIAL;
  t.running = true;
  return true;
}

void TextShutdown(TextState& t) {
  ClearFontCache(t.cache);
  CloseFontLibrary(t.fonts);
  t.wide.reset();
  t.wideCapacity = 0;
  t.advances = {};
  t.glyphs = {};
  t.running = false;
}

}  // namespace orvo::gfx
