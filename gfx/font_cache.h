// The FontCache: up to 100 fonts, one per (line height, style key) pair, in a doubly
// linked list in most-recently-used order. A miss on a full cache deletes the least
// recently used font and reuses its entry.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "gfx/font.h"

namespace orvo::gfx {

inline constexpr int32_t FONT_CACHE_SIZE = 100;

struct FontCacheEntry {
  // A free entry has no font. (The line height cannot mark it: a program may ask for a
  // line height of -1, and such an entry must not look free while it is in the list.)
  std::unique_ptr<Font> font;
  int32_t lineHeight = -1;
  int32_t styleKey = -1;
  int32_t prev = -1, next = -1;
};

struct FontCache {
  std::array<FontCacheEntry, FONT_CACHE_SIZE> entries;
  int32_t head = -1;
};

// The font for a line height and style key: from the cache, moved to the head, or fitted
// to the line height (FitFont with the renderer's sample, a width limit of 2048) and put
// at the head. Null when no font can be made.
Font* LookupFont(FontCache& cache, FontLibrary& lib, int32_t lineHeight, uint32_t styleKey);

// Deletes every font and marks every entry free.
void ClearFontCache(FontCache& cache);

// Number of fonts in the list (for tests and diagnostics).
int32_t FontCacheCount(const FontCache& cache);

}  // namespace orvo::gfx
