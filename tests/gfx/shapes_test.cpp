// Ellipses and the gradient square.
#include <string>
#include <vector>

#include "tests/gfx/gfx_test_support.h"

namespace orvo::gfx::test {
namespace {

using Shapes = GfxTest;

TEST_F(Shapes, EllipsesFillTheirBoxSymmetricallyWritingEachPixelOnce) {
  for (int w = 1; w <= 14; ++w) {
    for (int h = 1; h <= 14; ++h) {
      const int32_t s = NewSurface(20, 20, 0);
      // Half-transparent colours: a pixel written twice would show it.
      DrawEllipse(g, M(), s, 3, 2, w, h, 0x80402010u, 0xC0FF8040u);
      Canvas want(20, 20, 0);
      std::map<std::pair<int64_t, int64_t>, int> writes;
      uint64_t pattern = ~uint64_t{0};
      RefEllipse(want, 3, 2, w, h, 0x80402010u, 0xC0FF8040u, &writes, pattern);
      ASSERT_EQ(Differences(Snap(s), want), 0) << w << "x" << h;
      int minX = 99, maxX = -1, minY = 99, maxY = -1;
      for (auto& [p, n] : writes) {
        ASSERT_EQ(n, 1) << w << "x" << h << " at " << p.first << "," << p.second;
        minX = std::min<int>(minX, int(p.first)), maxX = std::max<int>(maxX, int(p.first));
        minY = std::min<int>(minY, int(p.second)), maxY = std::max<int>(maxY, int(p.second));
      }
      // The walk ends when its rows meet, so very flat ellipses (height 4 and less here)
      // stop short of the box's left and right ends; the rows always span the box.
      if (h >= 5) {
        EXPECT_EQ(minX, 3) << w << "x" << h;
        EXPECT_EQ(maxX, 3 + w - 1) << w << "x" << h;
      }
      EXPECT_EQ(minY, 2);
      EXPECT_EQ(maxY, 2 + h - 1);
      const Canvas got = Snap(s);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          ASSERT_EQ(got.at(3 + x, 2 + y), got.at(3 + w - 1 - x, 2 + y)) << w << "x" << h;
          ASSERT_EQ(got.at(3 + x, 2 + y), got.at(3 + x, 2 + h - 1 - y)) << w << "x" << h;
        }
      FreeSurface(M(), s);
      vm::CompactHeap(M());
    }
  }
  ExpectIdle();
}

TEST_F(Shapes, SmallEllipseShapes) {
  // Outline pixels (o) and fill (f) of a 5 x 5 and a 6 x 4 ellipse.
  const char* five[] = {".ooo.", "offfo", "offfo", "offfo", ".ooo."};
  const char* sixByFour[] = {".oooo.", "offffo", "offffo", ".oooo."};
  auto check = [&](int w, int h, const char** rows) {
    const int32_t s = NewSurface(w, h, 0);
    DrawEllipse(g, M(), s, 0, 0, w, h, 0xFF0000FFu, 0xFF00FF00u);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const char c = rows[y][x];
        // Red and blue swapped: the fill word's red byte lands in the blue byte.
        const uint32_t want = c == 'o' ? Px(0, 255, 0, 255) : c == 'f' ? Px(255, 0, 0, 255) : 0;
        EXPECT_EQ(Get(s, x, y), want) << w << "x" << h << " at " << x << "," << y;
      }
  };
  check(5, 5, five);
  check(6, 4, sixByFour);
}

TEST_F(Shapes, EllipsePixelSetsOfOddAndEvenSizes) {
  // Outline (o), fill (f) and untouched (.) pixels of the decision walk for boxes of odd
  // and even widths and heights. The flat 10 x 3 box stops short of its ends: its rows
  // meet before the columns reach them.
  struct Case {
    int w, h;
    std::vector<std::string> rows;
  };
  const Case cases[] = {
      {1, 1, {"o"}},
      {2, 2, {"oo", "oo"}},
      {3, 3, {".o.", "ofo", ".o."}},
      {4, 4, {".oo.", "offo", "offo", ".oo."}},
      {1, 4, {"o", "o", "o", "o"}},
      {2, 5, {"oo", "oo", "oo", "oo", "oo"}},
      {7, 7, {"..ooo..", ".offfo.", "offfffo", "offfffo", "offfffo", ".offfo.", "..ooo.."}},
      {8,
       8,
       {"..oooo..", ".offffo.", "offffffo", "offffffo", "offffffo", "offffffo", ".offffo.",
        "..oooo.."}},
      {9, 6, {"..ooooo..", ".offfffo.", "offfffffo", "offfffffo", ".offfffo.", "..ooooo.."}},
      {10, 3, {"..oooooo..", ".offffffo.", "..oooooo.."}},
      {6,
       9,
       {"..oo..", ".offo.", "offffo", "offffo", "offffo", "offffo", "offffo", ".offo.", "..oo.."}},
      {11,
       11,
       {"...ooooo...", "..offfffo..", ".offfffffo.", "offfffffffo", "offfffffffo", "offfffffffo",
        "offfffffffo", "offfffffffo", ".offfffffo.", "..offfffo..", "...ooooo..."}},
      {12,
       12,
       {"...oooooo...", "..offffffo..", ".offffffffo.", "offffffffffo", "offffffffffo",
        "offffffffffo", "offffffffffo", "offffffffffo", "offffffffffo", ".offffffffo.",
        "..offffffo..", "...oooooo..."}},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(int(c.rows.size()), c.h);
    const int32_t s = NewSurface(c.w + 4, c.h + 4, 0);
    DrawEllipse(g, M(), s, 2, 2, c.w, c.h, 0xFF0000FFu, 0xFF00FF00u);
    for (int y = 0; y < c.h + 4; ++y)
      for (int x = 0; x < c.w + 4; ++x) {
        const bool inBox = x >= 2 && x < c.w + 2 && y >= 2 && y < c.h + 2;
        const char k = inBox ? c.rows[size_t(y - 2)][size_t(x - 2)] : '.';
        // The fill word's red byte lands in the pixel's blue byte.
        const uint32_t want = k == 'o' ? Px(0, 255, 0, 255) : k == 'f' ? Px(255, 0, 0, 255) : 0;
        ASSERT_EQ(Get(s, x, y), want) << c.w << "x" << c.h << " at " << x - 2 << "," << y - 2;
      }
    FreeSurface(M(), s);
    vm::CompactHeap(M());
  }
  ExpectIdle();
}

TEST_F(Shapes, ClippedAndNegativeEllipsesMatchTheWalk) {
  std::mt19937 rng(31);
  for (int round = 0; round < 300; ++round) {
    const int32_t s = RandomSurface(30, 24, rng);
    SetClip(g, M(), s, int(rng() % 10) - 2, int(rng() % 8) - 2, int(rng() % 34), int(rng() % 28),
            nullptr);
    Canvas want = Snap(s);
    const int x = int(rng() % 40) - 8, y = int(rng() % 30) - 6;
    const int w = int(rng() % 44) - 4, h = int(rng() % 36) - 4;
    const uint32_t fill = rng() % 4 ? rng() : rng() & 0xFFFFFF;
    const uint32_t outline = rng() % 4 ? rng() : rng() & 0xFFFFFF;
    uint64_t pattern = uint64_t(rng()) << 32 | rng();
    SetLinePattern(g, pattern);
    DrawEllipse(g, M(), s, x, y, w, h, fill, outline);
    RefEllipse(want, x, y, w, h, fill, outline, nullptr, pattern);
    ASSERT_EQ(Differences(Snap(s), want), 0) << x << "," << y << " " << w << "x" << h;
    ASSERT_EQ(g.linePattern, pattern);
    FreeSurface(M(), s);
    vm::CompactHeap(M());
  }
}

TEST_F(Shapes, DegenerateEllipsesAreLines) {
  const int32_t s = NewSurface(10, 10, 0);
  // Width 0: a vertical line of height + 1 pixels, in the line's colour order.
  DrawEllipse(g, M(), s, 4, 1, 0, 6, 0xFF0000FFu, 0);
  int n = 0;
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) {
      const bool on = x == 4 && y >= 1 && y <= 7;
      EXPECT_EQ(Get(s, x, y), on ? Px(0, 0, 255, 255) : 0u);
      n += on;
    }
  EXPECT_EQ(n, 7);
  DrawEllipse(g, M(), SURFACE_SCREEN, 2, 3, 5, 0, 0xFFFFFFFFu, 0xFFFFFFFFu);
  ExpectDirty(2, 3, 6, 1);
}

TEST_F(Shapes, OutlineWithoutAlphaTakesTheFillColour) {
  const int32_t s = NewSurface(7, 7, 0);
  DrawEllipse(g, M(), s, 0, 0, 7, 7, 0xFF112233u, 0x00FFFFFFu);
  EXPECT_EQ(Get(s, 3, 0), Px(0x33, 0x22, 0x11, 255));
  EXPECT_EQ(Get(s, 3, 3), Px(0x33, 0x22, 0x11, 255));
  EXPECT_EQ(Get(s, 0, 0), 0u);
  // Fill without alpha: the outline only.
  const int32_t t = NewSurface(7, 7, 0);
  DrawEllipse(g, M(), t, 0, 0, 7, 7, 0x00112233u, 0xFF445566u);
  EXPECT_EQ(Get(t, 3, 0), Px(0x66, 0x55, 0x44, 255));
  EXPECT_EQ(Get(t, 3, 3), 0u);
  DrawEllipse(g, M(), SURFACE_SCREEN, 1, 2, 7, 8, 0xFFFFFFFFu, 0);
  ExpectDirty(1, 2, 8, 9);
  ExpectIdle();
}

// ---- Gradient square ----

TEST_F(Shapes, GradientCornersAndGreyColumn) {
  const int32_t s = NewSurface(16, 11, 0);
  GradientSquare(g, M(), s, 0, 0, 16, 11, 0);
  EXPECT_EQ(Get(s, 0, 0), Px(0, 0, 0, 255));
  for (int i = 0; i < 11; ++i) {
    const uint32_t v = uint32_t(double(i) / 10 * 255);
    EXPECT_EQ(Get(s, 0, i), Px(v, v, v, 255)) << i;
  }
  EXPECT_EQ(Get(s, 0, 10), 0xFFFFFFFFu);
  // Hue byte 0 is red, one step (1/42 of a sector, 6 levels) towards green at the
  // full-saturation, full-value corner; 84 is green and 168 blue the same way.
  EXPECT_EQ(Get(s, 15, 10), Px(0, 6, 255, 255));
  GradientSquare(g, M(), s, 0, 0, 16, 11, 84);
  EXPECT_EQ(Get(s, 15, 10), Px(6, 255, 0, 255));
  GradientSquare(g, M(), s, 0, 0, 16, 11, 168);
  EXPECT_EQ(Get(s, 15, 10), Px(255, 0, 6, 255));
  // Negative sizes mirror: the black corner moves to the bottom right.
  GradientSquare(g, M(), s, 0, 0, -16, -11, 0);
  EXPECT_EQ(Get(s, 15, 10), Px(0, 0, 0, 255));
  EXPECT_EQ(Get(s, 15, 0), 0xFFFFFFFFu);
  EXPECT_EQ(Get(s, 0, 0), Px(0, 6, 255, 255));
}

TEST_F(Shapes, GradientMatchesTheFormulaEverywhere) {
  std::mt19937 rng(41);
  for (int round = 0; round < 80; ++round) {
    const int32_t s = RandomSurface(32, 24, rng);
    SetClip(g, M(), s, int(rng() % 8) - 2, int(rng() % 8) - 2, int(rng() % 36), int(rng() % 28),
            nullptr);
    Canvas want = Snap(s);
    const int x = int(rng() % 20) - 4, y = int(rng() % 16) - 4;
    const int w = int(rng() % 40) - 20, h = int(rng() % 30) - 15;
    const uint32_t hue = rng();
    GradientSquare(g, M(), s, x, y, w, h, hue);
    RefGradient(want, x, y, w, h, hue);
    ASSERT_EQ(Differences(Snap(s), want), 0) << round;
    FreeSurface(M(), s);
    vm::CompactHeap(M());
  }
}

TEST_F(Shapes, GradientOfOneRowOrColumnUsesTheFirstValue) {
  const int32_t s = NewSurface(8, 8, 0x12345678u);
  GradientSquare(g, M(), s, 0, 0, 8, 1, 0);  // one row: value 0 throughout, black
  for (int x = 0; x < 8; ++x) EXPECT_EQ(Get(s, x, 0), Px(0, 0, 0, 255));
  GradientSquare(g, M(), s, 0, 2, 1, 6, 0);  // one column: saturation 0, a grey ramp
  for (int i = 0; i < 6; ++i) {
    const uint32_t v = uint32_t(double(i) / 5 * 255);
    EXPECT_EQ(Get(s, 0, 2 + i), Px(v, v, v, 255));
  }
  EXPECT_EQ(Get(s, 1, 2), 0x12345678u);
  GradientSquare(g, M(), SURFACE_SCREEN, 5, 6, -7, 3, 9);
  ExpectDirty(5, 6, 7, 3);
}

}  // namespace
}  // namespace orvo::gfx::test
