// Row 16 end to end on a real screen: the result words, wrapping and cutting, measuring,
// alignment and the font and glyph caches behind them.
#include "tests/gfx/text_test_support.h"

namespace orvo::gfx::test {
namespace {

constexpr uint32_t kWhite = 0x00FFFFFF;
constexpr uint32_t kClear = 0;

using TextDraw = TextFixture;

uint32_t Bytes(uint32_t result) {
  return result & 0xFFFF;
}
int32_t Width(uint32_t result) {
  return static_cast<int32_t>(result >> 16);
}

TEST_F(TextDraw, TextThatFitsIsDrawnWhole) {
  const int32_t w = Measure("Hello, world", 20);
  ASSERT_GT(w, 40);
  const uint32_t r = Draw(SURFACE_SCREEN, "Hello, world", 100, 50, 400, 20, 0, kClear, kWhite);
  EXPECT_EQ(Bytes(r), 12u);
  EXPECT_EQ(Width(r), w);
  // Ink only inside the drawn part.
  EXPECT_GT(CountLit(100, 50, 100 + w, 70), 50);
  EXPECT_EQ(CountLit(0, 0, kScreenWidth, 50), 0);
  EXPECT_EQ(CountLit(100 + w, 50, kScreenWidth, 70), 0);
  EXPECT_EQ(CountLit(0, 70, kScreenWidth, kScreenHeight), 0);
  EXPECT_EQ(CountLit(0, 50, 100, 70), 0);
}

TEST_F(TextDraw, WordWrapDrawsTheWordsBeforeTheLastSpace) {
  const int32_t box = Measure("hello wo", 18, TEXT_WRAP);
  const int32_t hello = Measure("hello", 18);
  const uint32_t r =
      Draw(SURFACE_SCREEN, "hello world", 10, 10, box, 18, TEXT_WRAP, kClear, kWhite);
  EXPECT_EQ(Bytes(r), 5u);
  EXPECT_EQ(Width(r), hello);
  EXPECT_GT(CountLit(10, 10, 10 + hello, 28), 20);
  EXPECT_EQ(CountLit(10 + hello, 0, kScreenWidth, kScreenHeight), 0);
  // The program lays out the rest itself: the next call starts after the space.
  const uint32_t rest = Draw(SURFACE_SCREEN, "world", 10, 28, box, 18, TEXT_WRAP, kClear, kWhite);
  EXPECT_EQ(Bytes(rest), 5u);
}

TEST_F(TextDraw, ALongWordWithoutCutDrawsNothing) {
  const std::string before = ScreenBytes();
  const int32_t box = Measure("Extraordinary", 18) / 2;
  EXPECT_EQ(Draw(SURFACE_SCREEN, "Extraordinary", 10, 10, box, 18, TEXT_WRAP, 0xFF0000FF, kWhite),
            0u);
  EXPECT_EQ(ScreenBytes(), before);
  // With the cut it is broken inside the word instead.
  const uint32_t r =
      Draw(SURFACE_SCREEN, "Extraordinary", 10, 10, box, 18, TEXT_WRAP | TEXT_CUT, kClear, kWhite);
  EXPECT_GT(Bytes(r), 0u);
  EXPECT_LT(Bytes(r), 13u);
  EXPECT_LE(Width(r), box);
}

TEST_F(TextDraw, CharacterCutDrawsOneFewerThanFit) {
  // Courier: every character is as wide as the others.
  const uint32_t mono = TEXT_COURIER;
  const int32_t three = Measure("abc", 20, mono);
  const uint32_t r =
      Draw(SURFACE_SCREEN, "abcdefgh", 0, 0, three, 20, mono | TEXT_CUT, kClear, kWhite);
  EXPECT_EQ(Bytes(r), 2u);
  EXPECT_EQ(Width(r), Measure("ab", 20, mono));
  // A box narrower than the first character: nothing.
  EXPECT_EQ(Draw(SURFACE_SCREEN, "abcdefgh", 0, 0, 3, 20, mono | TEXT_CUT, kClear, kWhite), 0u);
}

TEST_F(TextDraw, MeasureOnlyDrawsNothingAndReportsTheSame) {
  const std::string before = ScreenBytes();
  const uint32_t style = TEXT_WRAP | TEXT_BOLD;
  const uint32_t measured = Draw(SURFACE_SCREEN, "measure me please", 5, 5, 120, 24,
                                 style | TEXT_MEASURE, 0xFF00FF00, kWhite);
  EXPECT_EQ(ScreenBytes(), before);
  EXPECT_FALSE(g.dirty.any);
  const uint32_t drawn =
      Draw(SURFACE_SCREEN, "measure me please", 5, 5, 120, 24, style, 0xFF00FF00, kWhite);
  EXPECT_EQ(measured, drawn);
  EXPECT_NE(ScreenBytes(), before);
  EXPECT_TRUE(g.dirty.any);
}

TEST_F(TextDraw, EmptyCasesReturnZero) {
  EXPECT_EQ(Draw(SURFACE_SCREEN, "", 0, 0, 100, 20, 0, 0xFF0000FF, kWhite), 0u);
  EXPECT_EQ(Draw(SURFACE_SCREEN, "abc", 0, 0, 0, 20, 0, 0xFF0000FF, kWhite), 0u);
  EXPECT_EQ(Draw(SURFACE_SCREEN, "abc", 0, 0, 100, 0, 0, 0xFF0000FF, kWhite), 0u);
  EXPECT_EQ(CountLit(0, 0, kScreenWidth, kScreenHeight), 0);
  EXPECT_EQ(FontCacheCount(t.cache), 0);
}

TEST_F(TextDraw, ItalicWidensTheMeasureBySixthOfTheLineHeight) {
  // Liberation Mono's italic advances equal its upright ones.
  for (int32_t height : {12, 24, 30}) {
    EXPECT_EQ(Measure("monospace", height, TEXT_COURIER | TEXT_ITALIC),
              Measure("monospace", height, TEXT_COURIER) + height / 6);
  }
}

TEST_F(TextDraw, RightAlignedTextWiderThanTheBoxStartsLeftOfX) {
  const int32_t w = Measure("right aligned text", 20);
  const int32_t x = 300, box = w / 2;
  const uint32_t r =
      Draw(SURFACE_SCREEN, "right aligned text", x, 40, box, 20, TEXT_RIGHT, kClear, kWhite);
  EXPECT_EQ(Width(r), w);
  EXPECT_GT(CountLit(x + box - w, 40, x, 60), 20);
  EXPECT_EQ(CountLit(0, 40, x + box - w, 60), 0);
  EXPECT_EQ(CountLit(x + box, 40, kScreenWidth, 60), 0);
}

TEST_F(TextDraw, CentredAndRightAlignedTextLandInTheBox) {
  const int32_t w = Measure("mid", 20);
  const int32_t box = 200;
  Draw(SURFACE_SCREEN, "mid", 100, 0, box, 20, TEXT_CENTRE, kClear, kWhite);
  const int32_t left = 100 + (box - w) / 2;
  EXPECT_EQ(CountLit(0, 0, left, 20), 0);
  EXPECT_EQ(CountLit(left + w, 0, kScreenWidth, 20), 0);
  EXPECT_GT(CountLit(left, 0, left + w, 20), 10);
  // Centring wins over right alignment.
  Draw(SURFACE_SCREEN, "mid", 100, 30, box, 20, TEXT_CENTRE | TEXT_RIGHT, kClear, kWhite);
  EXPECT_EQ(CountLit(0, 30, left, 50), 0);
  Draw(SURFACE_SCREEN, "mid", 100, 60, box, 20, TEXT_RIGHT, kClear, kWhite);
  EXPECT_EQ(CountLit(0, 60, 100 + box - w, 80), 0);
  EXPECT_GT(CountLit(100 + box - w, 60, 100 + box, 80), 10);
}

TEST_F(TextDraw, LeftAlignedTextWiderThanTheBoxIsCutAtTheBox) {
  const int32_t w = Measure("no wrap, no cut, too long", 20);
  const uint32_t r =
      Draw(SURFACE_SCREEN, "no wrap, no cut, too long", 10, 0, 60, 20, 0, 0xFF808080, kWhite);
  EXPECT_EQ(Width(r), w);
  EXPECT_EQ(Bytes(r), 25u);
  EXPECT_EQ(ScreenPixel(69, 5), (Rgb{0x80, 0x80, 0x80, 255}));
  EXPECT_EQ(CountLit(70, 0, kScreenWidth, 20), 0);
}

TEST_F(TextDraw, RedrawingUsesTheCachedFontAndGlyphs) {
  Draw(SURFACE_SCREEN, "Cached glyphs", 0, 0, 500, 22, TEXT_TIMES, kClear, kWhite);
  const FontCounters first = t.fonts.counters;
  Draw(SURFACE_SCREEN, "Cached glyphs", 0, 30, 500, 22, TEXT_TIMES, kClear, kWhite);
  Draw(SURFACE_SCREEN, "glyphs Cached", 0, 60, 500, 22, TEXT_TIMES | TEXT_MEASURE, kClear, kWhite);
  EXPECT_EQ(t.fonts.counters.glyphsRasterised, first.glyphsRasterised);
  EXPECT_EQ(t.fonts.counters.fontsCreated, first.fontsCreated);
  EXPECT_EQ(FontCacheCount(t.cache), 1);
  // A new character is rasterised once; another style is another font.
  Draw(SURFACE_SCREEN, "Cached glyphs!", 0, 90, 500, 22, TEXT_TIMES, kClear, kWhite);
  EXPECT_EQ(t.fonts.counters.glyphsRasterised, first.glyphsRasterised + 1);
  Draw(SURFACE_SCREEN, "Cached glyphs", 0, 120, 500, 22, TEXT_TIMES | TEXT_BOLD, kClear, kWhite);
  EXPECT_EQ(FontCacheCount(t.cache), 2);
}

TEST_F(TextDraw, TheWideBufferGrowsWithSlackAndNeverShrinks) {
  EXPECT_EQ(t.wideCapacity, TEXT_WIDE_INITIAL);
  const std::string longText(3000, 'x');
  const uint32_t r = Draw(SURFACE_SCREEN, longText, 0, 0, 1 << 30, 12, TEXT_MEASURE, 0, 0);
  EXPECT_EQ(Bytes(r), 3000u);
  EXPECT_EQ(t.wideCapacity, 3001 + TEXT_WIDE_SLACK);
  Draw(SURFACE_SCREEN, "short", 0, 0, 100, 12, 0, 0, kWhite);
  EXPECT_EQ(t.wideCapacity, 3001 + TEXT_WIDE_SLACK);
}

}  // namespace
}  // namespace orvo::gfx::test

namespace orvo::gfx::test {
namespace {

// The screen area a line marks is the composited rectangle: the drawing position, the
// drawn width (cut to the box when left-aligned) and the line height.
TEST_F(TextDraw, TheScreenIsMarkedWhereTheLineIsComposited) {
  auto expectDirty = [&](int32_t x, int32_t y, int32_t w, int32_t h) {
    int32_t a = 0, b = 0, c = 0, d = 0;
    ASSERT_TRUE(TakeDirty(g, a, b, c, d));
    EXPECT_EQ(a, x);
    EXPECT_EQ(b, y);
    EXPECT_EQ(c, w);
    EXPECT_EQ(d, h);
  };
  const int32_t w = Measure("marked line", 20);
  const int32_t wi = Measure("marked line", 20, TEXT_ITALIC);
  g.dirty = DirtyRect{};
  Draw(SURFACE_SCREEN, "marked line", 30, 40, 300, 20, 0, kClear, kWhite);
  expectDirty(30, 40, w, 20);
  Draw(SURFACE_SCREEN, "marked line", 30, 40, 300, 20, TEXT_RIGHT, kClear, kWhite);
  expectDirty(30 + 300 - w, 40, w, 20);
  Draw(SURFACE_SCREEN, "marked line", 30, 40, 300, 20, TEXT_CENTRE, 0xFF102030, kWhite);
  expectDirty(30 + (300 - w) / 2, 40, w, 20);
  // Wider than the box: left-aligned text is cut at the box, right-aligned shows whole.
  Draw(SURFACE_SCREEN, "marked line", 200, 100, w / 2, 20, 0, kClear, kWhite);
  expectDirty(200, 100, w / 2, 20);
  Draw(SURFACE_SCREEN, "marked line", 200, 100, w / 2, 20, TEXT_RIGHT, kClear, kWhite);
  expectDirty(200 + w / 2 - w, 100, w, 20);
  // Italic text is widened by a sixth of the line height.
  Draw(SURFACE_SCREEN, "marked line", 5, 6, 300, 20, TEXT_ITALIC, kClear, kWhite);
  expectDirty(5, 6, wi, 20);
  // Measuring marks nothing, nor does drawing on another surface.
  Draw(SURFACE_SCREEN, "marked line", 5, 6, 300, 20, TEXT_MEASURE, kClear, kWhite);
  const int32_t s = CreateSurface(vm.m, 200, 40);
  Draw(s, "marked line", 0, 0, 200, 20, 0, 0xFF000000, kWhite);
  EXPECT_FALSE(g.dirty.any);
}

}  // namespace
}  // namespace orvo::gfx::test
