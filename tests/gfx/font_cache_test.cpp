// The FontCache: one font per (line height, style key), most recently used first, the
// least recently used evicted by the 101st pair.
#include "gfx/font_cache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace orvo::gfx {
namespace {

class FontCacheTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(OpenFontLibrary(lib)); }
  void TearDown() override { ClearFontCache(cache); }

  // Line heights front to back.
  std::vector<int32_t> Order() const {
    std::vector<int32_t> out;
    for (int32_t i = cache.head; i >= 0 && out.size() <= 100; i = cache.entries[i].next)
      out.push_back(cache.entries[i].lineHeight);
    return out;
  }
  // Every link agrees with its neighbour's.
  void ExpectLinksConsistent() const {
    int32_t prev = -1;
    for (int32_t i = cache.head; i >= 0; i = cache.entries[i].next) {
      EXPECT_EQ(cache.entries[i].prev, prev);
      EXPECT_TRUE(cache.entries[i].font);
      prev = i;
    }
  }

  FontLibrary lib;
  FontCache cache;
};

TEST_F(FontCacheTest, TheSameHeightAndStyleMakeOneFont) {
  Font* first = LookupFont(cache, lib, 20, TEXT_BOLD);
  ASSERT_NE(first, nullptr);
  const uint64_t created = lib.counters.fontsCreated;
  EXPECT_EQ(LookupFont(cache, lib, 20, TEXT_BOLD), first);
  // Flags outside the style key do not make another font.
  EXPECT_EQ(LookupFont(cache, lib, 20, TEXT_BOLD | TEXT_WRAP | TEXT_CENTRE | TEXT_MEASURE), first);
  EXPECT_EQ(lib.counters.fontsCreated, created);
  EXPECT_EQ(FontCacheCount(cache), 1);
  // Another style or height is another font.
  EXPECT_NE(LookupFont(cache, lib, 20, TEXT_BOLD | TEXT_UNDERLINE), first);
  EXPECT_NE(LookupFont(cache, lib, 21, TEXT_BOLD), first);
  EXPECT_EQ(FontCacheCount(cache), 3);
  // The fitting made and deleted fonts; the ones kept are the cache's.
  EXPECT_EQ(lib.counters.fontsCreated - lib.counters.fontsDeleted, 3u);
}

TEST_F(FontCacheTest, AHitMovesToTheHead) {
  for (int32_t h : {10, 11, 12}) LookupFont(cache, lib, h, 0);
  EXPECT_EQ(Order(), (std::vector<int32_t>{12, 11, 10}));
  LookupFont(cache, lib, 10, 0);
  EXPECT_EQ(Order(), (std::vector<int32_t>{10, 12, 11}));
  LookupFont(cache, lib, 12, 0);
  EXPECT_EQ(Order(), (std::vector<int32_t>{12, 10, 11}));
  LookupFont(cache, lib, 12, 0);
  EXPECT_EQ(Order(), (std::vector<int32_t>{12, 10, 11}));
  ExpectLinksConsistent();
}

TEST_F(FontCacheTest, TheHundredAndFirstPairEvictsTheLeastRecentlyUsed) {
  for (int32_t h = 10; h < 110; ++h) ASSERT_NE(LookupFont(cache, lib, h, TEXT_TIMES), nullptr);
  EXPECT_EQ(FontCacheCount(cache), 100);
  // 10 was used first but is used again now; 11 becomes the least recently used.
  Font* kept = LookupFont(cache, lib, 10, TEXT_TIMES);
  const uint64_t deleted = lib.counters.fontsDeleted;
  const uint64_t live = lib.counters.fontsCreated - lib.counters.fontsDeleted;

  ASSERT_NE(LookupFont(cache, lib, 200, TEXT_TIMES), nullptr);
  EXPECT_EQ(FontCacheCount(cache), 100);
  EXPECT_EQ(lib.counters.fontsCreated - lib.counters.fontsDeleted, live);
  EXPECT_GT(lib.counters.fontsDeleted, deleted);
  std::vector<int32_t> order = Order();
  EXPECT_EQ(order.front(), 200);
  EXPECT_EQ(order[1], 10);
  EXPECT_EQ(std::count(order.begin(), order.end(), 11), 0);
  EXPECT_EQ(order.back(), 12);
  ExpectLinksConsistent();

  // 10 is still there (no new font); 11 has to be fitted again and pushes out 12.
  uint64_t created = lib.counters.fontsCreated;
  EXPECT_EQ(LookupFont(cache, lib, 10, TEXT_TIMES), kept);
  EXPECT_EQ(lib.counters.fontsCreated, created);
  ASSERT_NE(LookupFont(cache, lib, 11, TEXT_TIMES), nullptr);
  EXPECT_GT(lib.counters.fontsCreated, created);
  order = Order();
  EXPECT_EQ(std::count(order.begin(), order.end(), 12), 0);
  EXPECT_EQ(order.size(), 100u);
}

TEST_F(FontCacheTest, ALineHeightOfMinusOneIsAnOrdinaryKey) {
  // -1 marked free entries in the table this cache keeps; here it must stay a real key.
  Font* odd = LookupFont(cache, lib, -1, 0);
  ASSERT_NE(odd, nullptr);
  EXPECT_EQ(odd->points, 4);
  Font* other = LookupFont(cache, lib, 30, 0);
  EXPECT_NE(other, odd);
  EXPECT_EQ(LookupFont(cache, lib, -1, 0), odd);
  EXPECT_EQ(LookupFont(cache, lib, 30, 0), other);
  EXPECT_EQ(FontCacheCount(cache), 2);
  ExpectLinksConsistent();
}

TEST_F(FontCacheTest, ClearingDeletesEveryFont) {
  for (int32_t h = 10; h < 20; ++h) LookupFont(cache, lib, h, 0);
  ClearFontCache(cache);
  EXPECT_EQ(cache.head, -1);
  EXPECT_EQ(lib.counters.fontsCreated, lib.counters.fontsDeleted);
  for (const FontCacheEntry& e : cache.entries) {
    EXPECT_FALSE(e.font);
    EXPECT_EQ(e.lineHeight, -1);
    EXPECT_EQ(e.prev, -1);
    EXPECT_EQ(e.next, -1);
  }
}

}  // namespace
}  // namespace orvo::gfx
