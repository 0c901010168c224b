#include "gfx/font_cache.h"

#include "gfx/font_fit.h"

namespace orvo::gfx {

namespace {

constexpr int32_t kFitWidthLimit = 2048;

void Unlink(FontCache& cache, int32_t i) {
  FontCacheEntry& e = cache.entries[static_cast<size_t>(i)];
  if (e.prev >= 0)
    cache.entries[static_cast<size_t>(e.prev)].next = e.next;
  else
    cache.head = e.next;
  if (e.next >= 0) cache.entries[static_cast<size_t>(e.next)].prev = e.prev;
  e.prev = e.next = -1;
}

void LinkAtHead(FontCache& cache, int32_t i) {
  FontCacheEntry& e = cache.entries[static_cast<size_t>(i)];
  e.prev = -1;
  e.next = cache.head;
  if (cache.head >= 0) cache.entries[static_cast<size_t>(cache.head)].prev = i;
  cache.head = i;
}

}  // namespace

Font* LookupFont(FontCache& cache, FontLibrary& lib, int32_t lineHeight, uint32_t styleKey) {
  const auto key = static_cast<int32_t>(styleKey & TEXT_STYLE_KEY);
  int32_t walked = 0, last = -1;
  for (int32_t i = cache.head; i >= 0; i = cache.entries[static_cast<size_t>(i)].next) {
    FontCacheEntry& e = cache.entries[static_cast<size_t>(i)];
    ++walked;
    last = i;
    if (e.lineHeight == lineHeight && e.styleKey == key) {
      if (i != cache.head) {
        Unlink(cache, i);
        LinkAtHead(cache, i);
      }
      return e.font.get();
    }
  }

  std::unique_ptr<Font> font = FitFont(lib, std::u32string_view(kFitSample), kFitWidthLimit,
                                       lineHeight, styleKey & TEXT_STYLE_KEY);
  if (!font) return nullptr;

  int32_t slot = -1;
  if (walked >= FONT_CACHE_SIZE) {
    // Full: the last entry walked is the least recently used one.
    slot = last;
    Unlink(cache, slot);
    cache.entries[static_cast<size_t>(slot)].font.reset();
  } else {
    for (int32_t i = 0; i < FONT_CACHE_SIZE; ++i)
      if (!cache.entries[static_cast<size_t>(i)].font) {
        slot = i;
        break;
      }
  }
  if (slot < 0) return nullptr;  // not reachable: fewer than 100 in the list means a free one
  FontCacheEntry& e = cache.entries[static_cast<size_t>(slot)];
  e.font = std::move(font);
  e.lineHeight = lineHeight;
  e.styleKey = key;
  LinkAtHead(cache, slot);
  return e.font.get();
}

void ClearFontCache(FontCache& cache) {
  for (int32_t i = cache.head; i >= 0;) {
    FontCacheEntry& e = cache.entries[static_cast<size_t>(i)];
    i = e.next;
    e.font.reset();
  }
  for (FontCacheEntry& e : cache.entries) e = FontCacheEntry{};
  cache.head = -1;
}

int32_t FontCacheCount(const FontCache& cache) {
  int32_t n = 0;
  for (int32_t i = cache.head; i >= 0 && n <= FONT_CACHE_SIZE;
       i = cache.entries[static_cast<size_t>(i)].next)
    ++n;
  return n;
}

}  // namespace orvo::gfx
