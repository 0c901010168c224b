// The blit and its row kernels; the division by 255.
#include "gfx/blend.h"
#include "tests/gfx/gfx_test_support.h"

namespace orvo::gfx::test {
namespace {

TEST(Division, ShortcutIsTruncatingDivisionOverItsWholeRange) {
  for (uint32_t x = 0; x <= 255 * 255; ++x) ASSERT_EQ(Div255(x), x / 255) << x;
#if ORVO_GFX_SSE2
  for (uint32_t x = 0; x <= 255 * 255; x += 8) {
    alignas(16) uint16_t in[8], out[8];
    for (int k = 0; k < 8; ++k) in[k] = uint16_t(std::min<uint32_t>(x + k, 255 * 255));
    __m128i v;
    std::memcpy(&v, in, 16);
    v = blend::Div255x8(v);
    std::memcpy(out, &v, 16);
    for (int k = 0; k < 8; ++k) ASSERT_EQ(out[k], in[k] / 255) << in[k];
  }
#endif
}

TEST(BlendKernels, VectorAndPortableRowsAgreeOnRandomData) {
  std::mt19937 rng(7);
  for (int round = 0; round < 400; ++round) {
    const size_t n = rng() % 140;
    std::vector<uint32_t> src(n), d0(n);
    for (auto& p : src) {
      const uint32_t kind = rng() % 5;
      uint32_t a = rng() & 0xFF;
      if (kind == 0) a = 0;
      if (kind == 1) a = 255;
      p = (rng() & 0xFFFFFF) | a << 24;
    }
    // Runs of one kind, so the sixteen- and thirty-two-pixel fast paths are taken too.
    if (round % 3 == 0)
      for (auto& p : src) p |= 0xFF000000u;
    if (round % 3 == 1 && n > 40)
      for (size_t i = 0; i < 40; ++i) src[i] &= 0x00FFFFFFu;
    for (auto& p : d0) p = rng();
    for (int invert = 0; invert < 2; ++invert) {
      std::vector<uint32_t> a = d0, b = d0, want = d0;
      blend::BlitRowPortable(reinterpret_cast<uint8_t*>(a.data()),
                             reinterpret_cast<const uint8_t*>(src.data()), n, invert);
      blend::BlitRow(reinterpret_cast<uint8_t*>(b.data()),
                     reinterpret_cast<const uint8_t*>(src.data()), n, invert);
      for (size_t i = 0; i < n; ++i) want[i] = RefBlitPixel(d0[i], src[i], invert);
      ASSERT_EQ(a, want);
      ASSERT_EQ(b, want);
#if ORVO_GFX_SSE2
      std::vector<uint32_t> c = d0;
      blend::BlitRowSse2(reinterpret_cast<uint8_t*>(c.data()),
                         reinterpret_cast<const uint8_t*>(src.data()), n, invert);
      ASSERT_EQ(c, want);
#endif
#if ORVO_GFX_AVX2
      if (blend::HaveAvx2()) {
        std::vector<uint32_t> e = d0;
        blend::BlitRowAvx2(reinterpret_cast<uint8_t*>(e.data()),
                           reinterpret_cast<const uint8_t*>(src.data()), n, invert);
        ASSERT_EQ(e, want);
      }
#endif
    }
    const uint32_t colour = round % 4 == 0 ? 0xFF123456u : rng();
    std::vector<uint32_t> a = d0, b = d0, want = d0;
    blend::FillRowPortable(reinterpret_cast<uint8_t*>(a.data()), n, colour);
    blend::FillRow(reinterpret_cast<uint8_t*>(b.data()), n, colour);
    for (size_t i = 0; i < n; ++i) want[i] = colour >> 24 ? RefColourBlend(d0[i], colour) : d0[i];
    ASSERT_EQ(a, want);
    ASSERT_EQ(b, want);
  }
}

TEST(BlendKernels, EveryKernelIsExactForEveryChannelTriple) {
  // For every source alpha a, the rows hold every pair of destination and source channel
  // values (in a different arrangement per channel), so each product of the blend rule
  // meets every input it can have, in every kernel, both modes.
  using Row = void (*)(uint8_t*, const uint8_t*, size_t, bool);
  std::vector<std::pair<const char*, Row>> kernels = {{"portable", blend::BlitRowPortable},
                                                      {"chosen", blend::BlitRow}};
#if ORVO_GFX_SSE2
  kernels.push_back({"sse2", blend::BlitRowSse2});
#endif
#if ORVO_GFX_AVX2
  if (blend::HaveAvx2()) kernels.push_back({"avx2", blend::BlitRowAvx2});
#endif
  constexpr size_t N = 65536;
  std::vector<uint32_t> src(N), dst(N), want(N), got(N);
  for (uint32_t d = 0; d < 256; ++d)
    for (uint32_t v = 0; v < 256; ++v) dst[d * 256 + v] = Px(d, v, d, v);
  for (int invert = 0; invert < 2; ++invert) {
    for (uint32_t a = 0; a < 256; ++a) {
      for (uint32_t d = 0; d < 256; ++d)
        for (uint32_t v = 0; v < 256; ++v) src[d * 256 + v] = Px(v, d, 255 - v, a);
      for (size_t i = 0; i < N; ++i) want[i] = RefBlitPixel(dst[i], src[i], invert);
      for (const auto& [name, row] : kernels) {
        got = dst;
        row(reinterpret_cast<uint8_t*>(got.data()), reinterpret_cast<const uint8_t*>(src.data()), N,
            invert != 0);
        ASSERT_EQ(got, want) << name << " alpha " << a << " invert " << invert;
      }
    }
  }
  // The fill kernels: every colour channel value at every alpha over every destination
  // value.
  std::vector<uint32_t> ground(256);
  for (uint32_t d = 0; d < 256; ++d) ground[d] = Px(d, 255 - d, d ^ 0x5A, d);
  for (uint32_t a = 0; a < 256; ++a)
    for (uint32_t c = 0; c < 256; ++c) {
      const uint32_t colour = Px(c, 255 - c, c ^ 0x3C, a);
      std::vector<uint32_t> fillWant(256), portable = ground, chosen = ground;
      for (uint32_t d = 0; d < 256; ++d)
        fillWant[d] = a ? RefColourBlend(ground[d], colour) : ground[d];
      blend::FillRowPortable(reinterpret_cast<uint8_t*>(portable.data()), 256, colour);
      blend::FillRow(reinterpret_cast<uint8_t*>(chosen.data()), 256, colour);
      ASSERT_EQ(portable, fillWant) << a << " " << c;
      ASSERT_EQ(chosen, fillWant) << a << " " << c;
    }
}

using Blits = GfxTest;

TEST_F(Blits, AlphaRuleOnSinglePixels) {
  const int32_t d = NewSurface(4, 1, Px(200, 100, 50, 10));
  const int32_t s = CreateSurface(M(), 4, 1);
  Set(s, 0, 0, Px(1, 2, 3, 255));     // opaque: replaces, alpha 255
  Set(s, 1, 0, Px(90, 90, 90, 0));    // clear: untouched
  Set(s, 2, 0, Px(0, 255, 30, 128));  // half
  Set(s, 3, 0, Px(10, 20, 30, 250));  // alpha sum limited
  Blit(g, M(), d, 0, 0, s, 0, 0, 4, 1, 0, 0, 0);
  EXPECT_EQ(Get(d, 0, 0), Px(1, 2, 3, 255));
  EXPECT_EQ(Get(d, 1, 0), Px(200, 100, 50, 10));
  // 200*127/255 + 0 = 99; 100*127/255 + 255*128/255 = 49 + 128; 50*127/255 + 30*128/255.
  EXPECT_EQ(Get(d, 2, 0), Px(99, 177, 24 + 15, 138));
  EXPECT_EQ(Get(d, 3, 0), Px(3 + 9, 1 + 19, 0 + 29, 255));
  ExpectIdle();
  ExpectClean();
}

TEST_F(Blits, TwoHalfLayersSumToOpaque) {
  const int32_t d = NewSurface(2, 2, 0);
  const int32_t s = NewSurface(2, 2, Px(255, 255, 255, 128));
  Blit(g, M(), d, 0, 0, s, 0, 0, 2, 2, 0, 0, 0);
  Blit(g, M(), d, 0, 0, s, 0, 0, 2, 2, 0, 0, 0);
  EXPECT_EQ(Get(d, 1, 1) >> 24, 255u);
}

TEST_F(Blits, InvertMode) {
  const int32_t d = NewSurface(2, 1, Px(100, 100, 100, 0));
  const int32_t s = CreateSurface(M(), 2, 1);
  Set(s, 0, 0, Px(0, 55, 255, 255));
  Set(s, 1, 0, Px(0, 55, 255, 51));
  Blit(g, M(), d, 0, 0, s, 0, 0, 2, 1, 1, 0, 0);
  EXPECT_EQ(Get(d, 0, 0), Px(255, 200, 0, 255));
  // (255-S)*51/255 + 100*204/255.
  EXPECT_EQ(Get(d, 1, 0), Px(51 + 80, 40 + 80, 0 + 80, 51));
}

TEST_F(Blits, TilingEdgesCutTheLastTile) {
  std::mt19937 rng(3);
  const int32_t s = CreateSurface(M(), 5, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x) Set(s, x, y, Px(x, y, 7, 255));
  const int32_t d = NewSurface(40, 30, Px(1, 1, 1, 1));
  // Tiles of 3 x 2 from (1, 1) of the source, two whole tiles and five columns of a
  // third to the right (R = dx + 2*3 + 5 cuts the fourth tile), rows to B.
  const int dx = 4, dy = 2, R = dx + 2 * 3 + 5, B = 9;
  Blit(g, M(), d, dx, dy, s, 1, 1, 3, 2, 0, R, B);
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < 40; ++x) {
      const bool in = x >= dx && x < R && y >= dy && y < B;
      const uint32_t want = in ? Px(1 + (x - dx) % 3, 1 + (y - dy) % 2, 7, 255) : Px(1, 1, 1, 1);
      ASSERT_EQ(Get(d, x, y), want) << x << "," << y;
    }
  }
  // Without edges only the first tile is drawn; non-positive sizes draw nothing.
  const int32_t e = NewSurface(10, 10, 0);
  Blit(g, M(), e, 2, 2, s, 0, 0, 3, 3, 0, 0, 0);
  Blit(g, M(), e, 0, 0, s, 0, 0, 0, 3, 0, 10, 10);
  Blit(g, M(), e, 0, 0, s, 0, 0, 3, -1, 0, 10, 10);
  int drawn = 0;
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) drawn += Get(e, x, y) != 0;
  EXPECT_EQ(drawn, 9);
  ExpectIdle();
}

TEST_F(Blits, ClipAndSourceBoundsMatchTheReference) {
  std::mt19937 rng(11);
  for (int round = 0; round < 120; ++round) {
    const int sw = 1 + rng() % 12, sh = 1 + rng() % 9;
    const int32_t s = RandomSurface(sw, sh, rng);
    const int32_t d = RandomSurface(23, 17, rng);
    const int cx = int(rng() % 30) - 5, cy = int(rng() % 20) - 4;
    SetClip(g, M(), d, cx, cy, int(rng() % 30), int(rng() % 25), nullptr);
    Canvas want = Snap(d);
    const Canvas src = Snap(s);
    const int dx = int(rng() % 34) - 8, dy = int(rng() % 26) - 6;
    // Source corners and sizes that reach outside the source are cut to it.
    const int sx = int(rng() % 16) - 4, sy = int(rng() % 12) - 3;
    const int w = int(rng() % 14) - 1, h = int(rng() % 10) - 1;
    const int R = rng() % 3 ? 0 : dx + int(rng() % 40) - 3;
    const int B = rng() % 3 ? 0 : dy + int(rng() % 30) - 3;
    const int invert = int(rng() % 2);
    Blit(g, M(), d, dx, dy, s, sx, sy, w, h, invert, R, B);
    RefBlit(want, &src, dx, dy, sx, sy, w, h, invert, R, B);
    ASSERT_EQ(Differences(Snap(d), want), 0) << "round " << round;
    FreeSurface(M(), s);
    FreeSurface(M(), d);
    vm::CompactHeap(M());
  }
  ExpectIdle();
}

TEST_F(Blits, OntoItselfInRowOrder) {
  // A surface copied onto itself one pixel to the right and one row down reads pixels it
  // has just written, exactly as pixel-by-pixel in row order.
  std::mt19937 rng(5);
  for (int round = 0; round < 30; ++round) {
    const int32_t s = RandomSurface(40, 12, rng);
    Canvas want = Snap(s);
    const int dx = int(rng() % 5), dy = int(rng() % 3), sx = int(rng() % 3), sy = int(rng() % 2);
    const bool invert = rng() % 2;
    Blit(g, M(), s, dx, dy, s, sx, sy, 36, 9, invert, 0, 0);
    RefBlit(want, nullptr, dx, dy, sx, sy, 36, 9, invert, 0, 0);
    ASSERT_EQ(Differences(Snap(s), want), 0) << "round " << round;
    FreeSurface(M(), s);
    vm::CompactHeap(M());
  }
  const int32_t s = CreateSurface(M(), 8, 1);
  for (int x = 0; x < 8; ++x) Set(s, x, 0, Px(x, 0, 0, 255));
  Blit(g, M(), s, 1, 0, s, 0, 0, 7, 1, 0, 0, 0);
  // Every pixel receives the one just written to its left: the first colour runs along.
  for (int x = 0; x < 8; ++x) EXPECT_EQ(Get(s, x, 0), Px(0, 0, 0, 255)) << x;
  ExpectIdle();
}

TEST_F(Blits, ScreenInvalidationNamesTheNominalArea) {
  const int32_t s = NewSurface(4, 4, Px(1, 1, 1, 255));
  Blit(g, M(), SURFACE_SCREEN, 3, 4, s, 0, 0, 4, 4, 0, 0, 0);
  ExpectDirty(3, 4, 4, 4);
  Blit(g, M(), SURFACE_SCREEN, 3, 4, s, 0, 0, 4, 4, 0, 20, 30);
  ExpectDirty(3, 4, 17, 26);
  // Fully clipped or cut away by the source: still the nominal area.
  Blit(g, M(), SURFACE_SCREEN, 10, 10, s, 50, 50, 4, 4, 0, 0, 0);
  ExpectDirty(10, 10, 4, 4);
  EXPECT_EQ(Get(SURFACE_SCREEN, 30, 40), 0u);
  Blit(g, M(), s, 0, 0, SURFACE_SCREEN, 0, 0, 4, 4, 0, 0, 0);
  ExpectClean();
}

}  // namespace
}  // namespace orvo::gfx::test

namespace orvo::gfx::test {
namespace {

TEST_F(Blits, RightEdgeTwoTilesAndFiveColumnsOfAThird) {
  // Tiles 8 wide, R = dx + 2*8 + 5: columns dx .. dx+20 are drawn, the third tile only in
  // its first five columns; nothing from R on. No bottom edge: one row of tiles.
  const int32_t s = CreateSurface(M(), 8, 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 8; ++x) Set(s, x, y, Px(10 * x, y, 5, 255));
  const int32_t d = NewSurface(40, 6, 0);
  const int dx = 3, R = dx + 2 * 8 + 5;
  Blit(g, M(), d, dx, 1, s, 0, 0, 8, 3, 0, R, 0);
  int drawn = 0;
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 40; ++x) {
      const bool in = x >= dx && x < R && y >= 1 && y < 4;
      ASSERT_EQ(Get(d, x, y), in ? Px(10 * ((x - dx) % 8), y - 1, 5, 255) : 0u) << x << "," << y;
      drawn += in;
    }
  EXPECT_EQ(drawn, (2 * 8 + 5) * 3);
  EXPECT_EQ(Get(d, dx + 20, 1), Px(40, 0, 5, 255));  // the third tile's fifth column
  ExpectIdle();
}

}  // namespace
}  // namespace orvo::gfx::test
