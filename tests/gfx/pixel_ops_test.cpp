// Alpha key, single pixels, surface information, the clip rectangle, the colour pass and
// the colour conversions.
#include "tests/gfx/gfx_test_support.h"

namespace orvo::gfx::test {
namespace {

using PixelOps = GfxTest;

TEST_F(PixelOps, AlphaKeyForEveryPixelCountsOnlyChanges) {
  const int32_t s = NewSurface(6, 4, Px(1, 2, 3, 255));
  Set(s, 1, 1, Px(1, 2, 3, 0));
  Set(s, 2, 1, Px(7, 7, 7, 0));
  EXPECT_EQ(AlphaKey(g, M(), s, 0, 0, 6, 4, 0xFFFFFFFFu, 0xFFFFFFFFu, 0), 22u);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) EXPECT_EQ(Get(s, x, y) >> 24, 0u);
  EXPECT_EQ(Get(s, 2, 1), Px(7, 7, 7, 0));
  EXPECT_EQ(Get(s, 0, 0), Px(1, 2, 3, 0));
  ExpectIdle();
}

TEST_F(PixelOps, AlphaKeyByColourCountsEveryMatch) {
  const int32_t s = NewSurface(5, 5, Px(0x30, 0x20, 0x10, 255));
  Set(s, 0, 0, Px(0x30, 0x20, 0x11, 255));
  Set(s, 4, 4, Px(0x30, 0x20, 0x10, 9));  // matches whatever its alpha
  // Key colour word 0x00302010 names red 0x10, green 0x20, blue 0x30.
  SetClip(g, M(), s, 0, 0, 5, 5, nullptr);
  EXPECT_EQ(AlphaKey(g, M(), s, -3, -3, 100, 100, 0x00302010u, 0, 40), 24u);
  EXPECT_EQ(Get(s, 0, 0), Px(0x30, 0x20, 0x11, 255));
  EXPECT_EQ(Get(s, 4, 4), Px(0x30, 0x20, 0x10, 40));
  // Cut to the clip; a key already at the alpha is still counted.
  SetClip(g, M(), s, 1, 1, 2, 2, nullptr);
  EXPECT_EQ(AlphaKey(g, M(), s, 0, 0, 5, 5, 0x00302010u, 0, 40), 4u);
  // The alpha is a byte.
  EXPECT_EQ(AlphaKey(g, M(), s, 0, 0, 5, 5, 0x00302010u, 0, 256 + 7), 4u);
  EXPECT_EQ(Get(s, 1, 1) >> 24, 7u);
  EXPECT_EQ(Get(s, 3, 3) >> 24, 40u);
}

TEST_F(PixelOps, AlphaKeyInvalidatesTheCutRectangle) {
  SetClip(g, M(), SURFACE_SCREEN, 10, 10, 20, 20, nullptr);
  EXPECT_EQ(AlphaKey(g, M(), SURFACE_SCREEN, 5, 25, 10, 10, 0xFFFFFFFFu, 0xFFFFFFFFu, 255), 25u);
  ExpectDirty(10, 25, 5, 5);
  EXPECT_EQ(AlphaKey(g, M(), SURFACE_SCREEN, 0, 0, 5, 5, 0xFFFFFFFFu, 0xFFFFFFFFu, 255), 0u);
  ExpectClean();
}

TEST_F(PixelOps, ReadPixelUsesTheSurfaceBoundsNotTheClip) {
  const int32_t s = NewSurface(3, 2, Px(0x11, 0x22, 0x33, 0x44));
  SetClip(g, M(), s, 1, 1, 1, 1, nullptr);
  EXPECT_EQ(ReadPixel(g, M(), s, 0, 0), 0x44112233u);  // red back in the low byte
  EXPECT_EQ(ReadPixel(g, M(), s, 2, 1), 0x44112233u);
  EXPECT_EQ(ReadPixel(g, M(), s, -1, 0), 0u);
  EXPECT_EQ(ReadPixel(g, M(), s, 3, 0), 0u);
  EXPECT_EQ(ReadPixel(g, M(), s, 0, 2), 0u);
  ExpectIdle();
}

TEST_F(PixelOps, BlendPixelRuleAndInvalidation) {
  const int32_t s = NewSurface(2, 2, Px(100, 50, 0, 200));
  // Colour word: red 255, green 0, blue 90, alpha 51.
  BlendPixel(g, M(), s, 1, 0, 0x335A00FFu);
  // Blue 90*51/255 + 100*204/255, green 0 + 50*204/255, red 255*51/255 + 0,
  // alpha 51*51/255 + 200*204/255.
  EXPECT_EQ(Get(s, 1, 0), Px(18 + 80, 40, 51, 10 + 160));
  EXPECT_EQ(Get(s, 0, 0), Px(100, 50, 0, 200));
  BlendPixel(g, M(), s, 5, 5, 0xFFFFFFFFu);
  ExpectClean();
  BlendPixel(g, M(), SURFACE_SCREEN, 3, 4, 0xFF0000FFu);
  EXPECT_EQ(Get(SURFACE_SCREEN, 3, 4), Px(0, 0, 255, 255));
  ExpectDirty(3, 4, 1, 1);
  // Outside the screen: nothing drawn, the one-pixel area still named (and cut away).
  BlendPixel(g, M(), SURFACE_SCREEN, SCREEN_W - 1, -1, 0xFF0000FFu);
  ExpectClean();
  ExpectIdle();
}

TEST_F(PixelOps, SurfaceInfoAndClip) {
  const int32_t s = NewSurface(100, 50);
  int32_t info[6];
  ASSERT_TRUE(SurfaceInfo(g, M(), s, info));
  EXPECT_EQ(std::vector<int32_t>(info, info + 6), (std::vector<int32_t>{100, 50, 0, 0, 100, 50}));
  int32_t old[4];
  // A negative corner is raised to 0 and keeps the width that fits.
  ASSERT_TRUE(SetClip(g, M(), s, -10, 5, 60, 80, old));
  EXPECT_EQ(std::vector<int32_t>(old, old + 4), (std::vector<int32_t>{0, 0, 100, 50}));
  ASSERT_TRUE(SurfaceInfo(g, M(), s, info));
  EXPECT_EQ(std::vector<int32_t>(info, info + 6), (std::vector<int32_t>{100, 50, 0, 5, 60, 45}));
  // The record holds the clip.
  EXPECT_EQ(RecordWord(s, 4), 5u);
  EXPECT_EQ(RecordWord(s, 6), 45u);
  // Corners beyond the surface, negative sizes.
  ASSERT_TRUE(SetClip(g, M(), s, 150, 20, 10, -4, nullptr));
  ASSERT_TRUE(SurfaceInfo(g, M(), s, info));
  EXPECT_EQ(std::vector<int32_t>(info, info + 6), (std::vector<int32_t>{100, 50, 100, 20, 0, 0}));
  // A corner inside the surface but beyond the requested width stays where it was asked.
  ASSERT_TRUE(SetClip(g, M(), s, 50, 0, 10, 10, nullptr));
  ASSERT_TRUE(SurfaceInfo(g, M(), s, info));
  EXPECT_EQ(info[2], 50);
  EXPECT_EQ(info[4], 10);

  // The screen's clip lives in its descriptor.
  ASSERT_TRUE(SetClip(g, M(), SURFACE_SCREEN, 4, 4, 8, 8, nullptr));
  EXPECT_EQ(g.screen.clipX, 4);
  EXPECT_EQ(g.screen.clipWidth, 8);
  DrawRectangle(g, M(), SURFACE_SCREEN, 0, 0, SCREEN_W, SCREEN_H, 0xFFFFFFFFu, 0);
  EXPECT_EQ(Get(SURFACE_SCREEN, 3, 4), 0u);
  EXPECT_EQ(Get(SURFACE_SCREEN, 4, 4), 0xFFFFFFFFu);
  EXPECT_EQ(Get(SURFACE_SCREEN, 12, 4), 0u);
  ExpectIdle();
}

// ---- Colour adjust ----

TEST_F(PixelOps, ColourAdjustWithSaturationZeroGivesGreyOfTheNewValue) {
  const int32_t s = NewSurface(2, 1, Px(10, 200, 60, 77));
  // Contrast 0, brightness 0: L = V = 200.
  ColourAdjust(g, M(), s, 0, 0, 1, 1, -1, 0, 0, 0);
  EXPECT_EQ(Get(s, 0, 0), Px(200, 200, 200, 77));
  // Contrast 255: K = V + (V - 128) = 272, brightness -51: K + (-51*272)/255 = 272 - 54.
  ColourAdjust(g, M(), s, 1, 0, 1, 1, -1, 0, -51, 255);
  EXPECT_EQ(Get(s, 1, 0), Px(218, 218, 218, 77));
}

TEST_F(PixelOps, ColourAdjustRebuildsFromHueSectors) {
  const int32_t s = NewSurface(4, 1, Px(0, 0, 255, 255));
  // Hue 0 (sector 0, f = 0), saturation 255, value 255: (L, t, p) = (255, 0, 0).
  ColourAdjust(g, M(), s, 0, 0, 1, 1, 0, 255, 0, 0);
  EXPECT_EQ(Get(s, 0, 0), Px(255, 0, 0, 255));
  // Hue 50: sector 1, f = 8*6 = 48; q = (62730 - 48*255)*255/62730 = 205; (q, L, p).
  ColourAdjust(g, M(), s, 1, 0, 1, 1, 50, 255, 0, 0);
  EXPECT_EQ(Get(s, 1, 0), Px(205, 255, 0, 255));
  // Hue 255 reads sector 6 as 0: f = 3*6; t = ((18-246)*128 + 62730)*255/62730 = 136,
  // p = 127*255/255.
  ColourAdjust(g, M(), s, 2, 0, 1, 1, 255 + 256, 128, 0, 0);
  EXPECT_EQ(Get(s, 2, 0), Px(255, 136, 127, 255));
}

TEST_F(PixelOps, ColourAdjustKeepingHueAndSaturation) {
  // Negative hue and saturation keep the analysed ones. Pure colours analyse to the
  // sector starts and are rebuilt unchanged.
  const int32_t s = NewSurface(3, 1, 0);
  Set(s, 0, 0, Px(255, 0, 0, 1));  // first channel: h = 0
  Set(s, 1, 0, Px(0, 255, 0, 2));  // h = 85, sector 2, f = 6
  Set(s, 2, 0, Px(0, 0, 255, 3));  // h = 171, sector 4, f = 3*6
  ColourAdjust(g, M(), s, 0, 0, 3, 1, -1, -1, 0, 0);
  EXPECT_EQ(Get(s, 0, 0), Px(255, 0, 0, 1));
  // Sector 2 (p, L, t): t = ((6-246)*255 + 62730)*255/62730 = 6.
  EXPECT_EQ(Get(s, 1, 0), Px(0, 255, 6, 2));
  // Sector 4 (t, p, L): t = ((18-246)*255 + 62730)*255/62730 = 18.
  EXPECT_EQ(Get(s, 2, 0), Px(18, 0, 255, 3));
}

TEST_F(PixelOps, ColourAdjustNegativeAnalysedHueStaysOnTheCircle) {
  // Blue the largest and red above green: the analysed hue is just below 0 and is taken
  // round to the last sector, which keeps blue largest and red above green.
  const int32_t s = NewSurface(1, 1, Px(250, 10, 60, 255));
  ColourAdjust(g, M(), s, 0, 0, 1, 1, -1, -1, 0, 0);
  const uint32_t p = Get(s, 0, 0);
  EXPECT_EQ(Ch(p, 0), 250u);
  EXPECT_GT(Ch(p, 2), Ch(p, 1));
  EXPECT_LT(Ch(p, 2), 250u);
}

TEST_F(PixelOps, ColourAdjustCutsToTheClipAndInvalidates) {
  DrawRectangle(g, M(), SURFACE_SCREEN, 0, 0, SCREEN_W, SCREEN_H, 0xFF204080u, 0);
  int32_t x, y, w, h;
  ASSERT_TRUE(Dirty(x, y, w, h));
  SetClip(g, M(), SURFACE_SCREEN, 8, 8, 10, 10, nullptr);
  ColourAdjust(g, M(), SURFACE_SCREEN, 2, 12, 10, 10, -1, 0, 0, 0);
  ExpectDirty(8, 12, 4, 6);
  EXPECT_EQ(Get(SURFACE_SCREEN, 8, 12), Px(0x80, 0x80, 0x80, 255));
  EXPECT_EQ(Get(SURFACE_SCREEN, 12, 12), Px(0x20, 0x40, 0x80, 255));
  EXPECT_EQ(Get(SURFACE_SCREEN, 7, 12), Px(0x20, 0x40, 0x80, 255));
}

// ---- Conversions ----

TEST(ColourConversions, NamedValues) {
  EXPECT_EQ(RgbToHsv(0x120000FFu), 0x12FFFF00u);  // pure red: hue 0, saturation and value 255
  EXPECT_EQ(RgbToHsv(0x0000FF00u), 0x00FFFF00u | 84);
  EXPECT_EQ(RgbToHsv(0x00FF0000u), 0x00FFFF00u | 168);
  EXPECT_EQ(RgbToHsv(0x80808080u), 0x80800000u);        // grey: value only
  EXPECT_EQ(HsvToRgb(0x77FFFF00u | 252), 0x77000000u);  // off the circle: black
  EXPECT_EQ(HsvToRgb(0x55FFFF00u | 255), 0x55000000u);
  EXPECT_EQ(HsvToRgb(0x33FFFF00u), 0x330000FFu);
  EXPECT_EQ(HsvToRgb(0x33FFFF00u | 84), 0x3300FF00u);
  EXPECT_EQ(HsvToRgb(0x33FFFF00u | 168), 0x33FF0000u);
  EXPECT_EQ(HsvToRgb(0x44C00000u | 200), 0x44C0C0C0u);  // saturation 0: grey, hue unused
}

TEST(ColourConversions, RoundTripsStayClose) {
  // Every truncation loses less than a step: converting back lands within a few levels.
  std::mt19937 rng(4);
  for (int i = 0; i < 20000; ++i) {
    const uint32_t c = rng();
    const uint32_t hsv = RgbToHsv(c);
    EXPECT_EQ(hsv >> 24, c >> 24);
    const uint32_t back = HsvToRgb(hsv);
    EXPECT_EQ(back >> 24, c >> 24);
    for (int ch = 0; ch < 3; ++ch) {
      const int diff = int(Ch(back, ch)) - int(Ch(c, ch));
      ASSERT_LE(std::abs(diff), 8) << std::hex << c << " -> " << hsv << " -> " << back;
    }
    // Value is kept exactly by both directions' truncation of the same maximum.
    const uint32_t maxCh = std::max({Ch(c, 0), Ch(c, 1), Ch(c, 2)});
    ASSERT_EQ(Ch(hsv, 2), maxCh);
  }
}

TEST(ColourConversions, RoundTripOfEveryColour) {
  // All 2^24 colours there and back: greys and the six pure hues at every value come back
  // exactly, the value byte of the HSV word is always the largest channel, and no channel
  // of any colour moves by more than 7 levels (the truncations of hue and saturation).
  int worst = 0;
  uint32_t worstColour = 0;
  for (uint32_t c = 0; c < (1u << 24); ++c) {
    const uint32_t hsv = RgbToHsv(c);
    const uint32_t back = HsvToRgb(hsv);
    ASSERT_EQ(Ch(hsv, 2), std::max({Ch(c, 0), Ch(c, 1), Ch(c, 2)})) << std::hex << c;
    for (int ch = 0; ch < 3; ++ch) {
      const int diff = std::abs(int(Ch(back, ch)) - int(Ch(c, ch)));
      if (diff > worst) worst = diff, worstColour = c;
    }
  }
  EXPECT_EQ(worst, 7) << std::hex << worstColour;
  for (uint32_t v = 0; v < 256; ++v) {
    const uint32_t pure[] = {
        v, v << 8, v << 16, v | v << 8, v << 8 | v << 16, v | v << 16, v | v << 8 | v << 16};
    for (uint32_t c : pure) ASSERT_EQ(HsvToRgb(RgbToHsv(c)), c) << std::hex << c;
  }
  // The pure hues sit on the circle's sector starts: red 0, yellow 42, green 84, cyan 126,
  // blue 168, magenta 210.
  EXPECT_EQ(RgbToHsv(0xFF00FFFFu) & 0xFF, 42u);
  EXPECT_EQ(RgbToHsv(0xFFFFFF00u) & 0xFF, 126u);
  EXPECT_EQ(RgbToHsv(0xFFFF00FFu) & 0xFF, 210u);
  // Alpha passes through both ways untouched.
  for (uint32_t a = 0; a < 256; ++a) {
    EXPECT_EQ(RgbToHsv(a << 24 | 0x123456u) >> 24, a);
    EXPECT_EQ(HsvToRgb(a << 24 | 0x8040C0u) >> 24, a);
  }
}

TEST(ColourConversions, MatchTheDoubleFormulas) {
  // Sampled against the formulas computed here step by step.
  std::mt19937 rng(9);
  for (int i = 0; i < 20000; ++i) {
    const uint32_t w = rng();
    const double S = Ch(w, 1) / 255.0, V = Ch(w, 2) / 255.0;
    double rgb[3];
    bool black = false;
    if (S == 0) {
      rgb[0] = rgb[1] = rgb[2] = V;
    } else {
      const double F = Ch(w, 0) / 42.0, k = std::floor(F), f = F - k;
      const double p = V * (1 - S), q = V * (1 - S * f), t = V * (1 - S * (1 - f));
      const double table[6][3] = {{V, t, p}, {q, V, p}, {p, V, t}, {p, q, V}, {t, p, V}, {V, p, q}};
      if (k >= 6)
        black = true;
      else
        for (int c = 0; c < 3; ++c) rgb[c] = table[int(k)][c];
    }
    uint32_t want = w & 0xFF000000u;
    if (!black)
      want |= uint32_t(rgb[0] * 255) | uint32_t(rgb[1] * 255) << 8 | uint32_t(rgb[2] * 255) << 16;
    ASSERT_EQ(HsvToRgb(w), want) << std::hex << w;
  }
}

}  // namespace
}  // namespace orvo::gfx::test
