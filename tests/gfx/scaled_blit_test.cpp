// The scaled blit: box walk, exactness rule, its alpha rule, tiling and source bounds.
#include "tests/gfx/gfx_test_support.h"

namespace orvo::gfx::test {
namespace {

using Scaled = GfxTest;

TEST_F(Scaled, SingleColourSurvivesEveryScale) {
  // 77 / 255 per pixel summed would lose the colour to truncation; the exactness rule
  // keeps it.
  const uint32_t colour = Px(77, 13, 201, 255);
  const int32_t s = NewSurface(7, 5, colour);
  for (int dw : {1, 2, 3, 6, 7, 9, 14, 31, 250}) {
    for (int dh : {1, 4, 5, 11, 200}) {
      const int32_t d = NewSurface(std::min(dw, 40), std::min(dh, 40), 0);
      ScaledBlit(g, M(), d, 0, 0, dw, dh, s, 0, 0, 7, 5, 0, 0);
      for (int y = 0; y < std::min(dh, 40); ++y)
        for (int x = 0; x < std::min(dw, 40); ++x)
          ASSERT_EQ(Get(d, x, y), colour) << dw << "x" << dh << " at " << x << "," << y;
      FreeSurface(M(), d);
    }
  }
  ExpectIdle();
}

TEST_F(Scaled, BoxAverageAndExactChannels) {
  // Two pixels into one: blue differs (sum of halves), green and alpha are equal (kept).
  const int32_t s = CreateSurface(M(), 2, 1);
  Set(s, 0, 0, Px(101, 50, 0, 255));
  Set(s, 1, 0, Px(200, 50, 9, 255));
  const int32_t d = NewSurface(1, 1, Px(1, 2, 3, 4));
  ScaledBlit(g, M(), d, 0, 0, 1, 1, s, 0, 0, 2, 1, 0, 0);
  // Box 64 x 32 sub-pixels, each source pixel weighs half: 101/2 + 200/2 = 50 + 100.
  EXPECT_EQ(Get(d, 0, 0), Px(150, 50, 0 + 4, 255));

  // Three into two: boxes of 48 sub-pixels, the middle pixel split 16 + 32.
  const int32_t t = CreateSurface(M(), 3, 1);
  Set(t, 0, 0, Px(30, 0, 0, 255));
  Set(t, 1, 0, Px(90, 0, 0, 255));
  Set(t, 2, 0, Px(240, 0, 0, 255));
  const int32_t e = NewSurface(2, 1, 0);
  ScaledBlit(g, M(), e, 0, 0, 2, 1, t, 0, 0, 3, 1, 0, 0);
  // Left box: 30*1024/1536 + 90*512/1536 = 20 + 30; right: 90*512/1536 + 240*1024/1536.
  EXPECT_EQ(Get(e, 0, 0), Px(50, 0, 0, 255));
  EXPECT_EQ(Get(e, 1, 0), Px(30 + 160, 0, 0, 255));
  ExpectIdle();
}

TEST_F(Scaled, TinyBoxesTakeTheirSourcePixel) {
  // Enlarging more than 32 times gives boxes of no height or width: each takes the source
  // pixel at its position.
  const int32_t s = CreateSurface(M(), 2, 2);
  Set(s, 0, 0, Px(10, 0, 0, 255));
  Set(s, 1, 0, Px(20, 0, 0, 255));
  Set(s, 0, 1, Px(30, 0, 0, 255));
  Set(s, 1, 1, Px(40, 0, 0, 255));
  const int32_t d = NewSurface(100, 100, 0);
  ScaledBlit(g, M(), d, 0, 0, 100, 100, s, 0, 0, 2, 2, 0, 0);
  Canvas want(100, 100, 0);
  const Canvas src = Snap(s);
  RefScaled(want, &src, 0, 0, 100, 100, 0, 0, 2, 2, 0, 0);
  EXPECT_EQ(Differences(Snap(d), want), 0);
  EXPECT_EQ(Get(d, 0, 0), Px(10, 0, 0, 255));
  EXPECT_EQ(Get(d, 99, 99), Px(40, 0, 0, 255));
  EXPECT_EQ(Get(d, 49, 50), Px(30, 0, 0, 255));
  ExpectIdle();
}

TEST_F(Scaled, OwnAlphaRule) {
  // N = 100 over alpha 200: 200*155/255 + 100*100/255 = 121 + 39.
  const int32_t s = NewSurface(2, 2, Px(255, 0, 10, 100));
  const int32_t d = NewSurface(1, 1, Px(0, 255, 10, 200));
  ScaledBlit(g, M(), d, 0, 0, 1, 1, s, 0, 0, 2, 2, 0, 0);
  EXPECT_EQ(Get(d, 0, 0), Px(100, 155, 3 + 6, 160));
  // N = 0 leaves the pixel.
  const int32_t clear = NewSurface(2, 2, Px(9, 9, 9, 0));
  ScaledBlit(g, M(), d, 0, 0, 1, 1, clear, 0, 0, 2, 2, 0, 0);
  EXPECT_EQ(Get(d, 0, 0), Px(100, 155, 9, 160));
}

TEST_F(Scaled, EqualSizesAreAPlainBlit) {
  std::mt19937 rng(2);
  const int32_t s = RandomSurface(6, 5, rng);
  const int32_t a = RandomSurface(20, 20, rng);
  Canvas want = Snap(a);
  const Canvas src = Snap(s);
  ScaledBlit(g, M(), a, 1, 2, 6, 5, s, 0, 0, 6, 5, 17, 19);
  RefBlit(want, &src, 1, 2, 0, 0, 6, 5, false, 17, 19);
  EXPECT_EQ(Differences(Snap(a), want), 0);
}

TEST_F(Scaled, RandomBoxesTilesClipsAndSourceBoundsMatchTheReference) {
  std::mt19937 rng(21);
  for (int round = 0; round < 150; ++round) {
    const int srcW = 1 + rng() % 14, srcH = 1 + rng() % 10;
    const int32_t s = RandomSurface(srcW, srcH, rng);
    const int32_t d = RandomSurface(26, 20, rng);
    SetClip(g, M(), d, int(rng() % 8) - 2, int(rng() % 6) - 2, int(rng() % 30), int(rng() % 24),
            nullptr);
    Canvas want = Snap(d);
    const Canvas src = Snap(s);
    const int dw = 1 + rng() % 30, dh = 1 + rng() % 22;
    const int sw = 1 + rng() % 16, sh = 1 + rng() % 12;
    const int sx = int(rng() % 6) - 1, sy = int(rng() % 5) - 1;
    const int dx = int(rng() % 30) - 6, dy = int(rng() % 24) - 5;
    const int R = rng() % 3 ? 0 : dx + int(rng() % 50);
    const int B = rng() % 3 ? 0 : dy + int(rng() % 40);
    ScaledBlit(g, M(), d, dx, dy, dw, dh, s, sx, sy, sw, sh, R, B);
    RefScaled(want, &src, dx, dy, dw, dh, sx, sy, sw, sh, R, B);
    ASSERT_EQ(Differences(Snap(d), want), 0)
        << "round " << round << " " << dw << "x" << dh << " from " << sw << "x" << sh;
    FreeSurface(M(), s);
    FreeSurface(M(), d);
    vm::CompactHeap(M());
  }
  ExpectIdle();
}

TEST_F(Scaled, BigReductionUsesWideSums) {
  // A box of 300 x 300 source pixels has an area beyond 32-bit products with a channel.
  std::mt19937 rng(8);
  const int32_t s = RandomSurface(300, 300, rng);
  const int32_t d = NewSurface(1, 1, 0);
  Canvas want = Snap(d);
  const Canvas src = Snap(s);
  ScaledBlit(g, M(), d, 0, 0, 1, 1, s, 0, 0, 300, 300, 0, 0);
  RefScaled(want, &src, 0, 0, 1, 1, 0, 0, 300, 300, 0, 0);
  EXPECT_EQ(Get(d, 0, 0), want.at(0, 0));
}

TEST_F(Scaled, InvalidationAndEmptySizes) {
  const int32_t s = NewSurface(4, 4, Px(5, 5, 5, 255));
  ScaledBlit(g, M(), SURFACE_SCREEN, 2, 3, 8, 6, s, 0, 0, 4, 4, 0, 0);
  ExpectDirty(2, 3, 8, 6);
  ScaledBlit(g, M(), SURFACE_SCREEN, 2, 3, 8, 6, s, 0, 0, 4, 4, 30, 40);
  ExpectDirty(2, 3, 28, 37);
  for (int zero = 0; zero < 4; ++zero) {
    int sizes[4] = {8, 6, 4, 4};
    sizes[zero] = 0;
    ScaledBlit(g, M(), SURFACE_SCREEN, 20, 20, sizes[0], sizes[1], s, 0, 0, sizes[2], sizes[3], 0,
               0);
    ExpectClean();
  }
  EXPECT_EQ(Get(SURFACE_SCREEN, 40, 44), 0u);
  ExpectIdle();
}

}  // namespace
}  // namespace orvo::gfx::test

namespace orvo::gfx::test {
namespace {

TEST_F(Scaled, OntoItselfReadsThePixelsAlreadyWritten) {
  // Source and destination overlap in one surface: every box is read as the surface is
  // when its pixel is drawn, rows top first, so earlier results feed later boxes.
  std::mt19937 rng(44);
  const struct {
    int dx, dy, dw, dh, sx, sy, sw, sh;
  } cases[] = {{1, 1, 14, 12, 0, 0, 5, 4},  // enlargement: every box one source pixel
               {2, 3, 30, 25, 1, 1, 7, 6},  // more than 4x: boxes of no extent too
               {0, 1, 5, 4, 1, 0, 15, 13},  // reduction over its own result
               {4, 2, 9, 9, 2, 2, 6, 9}};   // uneven both ways
  for (const auto& c : cases) {
    const int32_t s = RandomSurface(24, 20, rng);
    Canvas want = Snap(s);
    ScaledBlit(g, M(), s, c.dx, c.dy, c.dw, c.dh, s, c.sx, c.sy, c.sw, c.sh, 0, 0);
    RefScaled(want, nullptr, c.dx, c.dy, c.dw, c.dh, c.sx, c.sy, c.sw, c.sh, 0, 0);
    EXPECT_EQ(Differences(Snap(s), want), 0)
        << c.dw << "x" << c.dh << " from " << c.sw << "x" << c.sh;
    FreeSurface(M(), s);
    vm::CompactHeap(M());
  }
  ExpectIdle();
}

}  // namespace
}  // namespace orvo::gfx::test

namespace orvo::gfx::test {
namespace {

TEST_F(Scaled, EveryReductionRatioMatchesTheIntegerRule) {
  // Box areas of every ratio from 40 source columns and 24 source rows down to each
  // smaller size: the averaged channels equal the rule's truncating divisions.
  std::mt19937 rng(12);
  const int32_t s = RandomSurface(40, 24, rng);
  const Canvas src = Snap(s);
  for (int dw = 1; dw < 40; dw += 1 + int(rng() % 3)) {
    for (int dh = 1; dh < 24; dh += 1 + int(rng() % 4)) {
      const int32_t d = RandomSurface(40, 24, rng);
      Canvas want = Snap(d);
      ScaledBlit(g, M(), d, 0, 0, dw, dh, s, 0, 0, 40, 24, 0, 0);
      RefScaled(want, &src, 0, 0, dw, dh, 0, 0, 40, 24, 0, 0);
      ASSERT_EQ(Differences(Snap(d), want), 0) << dw << "x" << dh;
      FreeSurface(M(), d);
      vm::CompactHeap(M());
    }
  }
  ExpectIdle();
}

}  // namespace
}  // namespace orvo::gfx::test
