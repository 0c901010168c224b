// Lines, the dash pattern, line runs and rectangles.
#include <chrono>

#include "tests/gfx/gfx_test_support.h"

namespace orvo::gfx::test {
namespace {

using Lines = GfxTest;

constexpr uint32_t WHITE = 0xFFFFFFFFu;

TEST_F(Lines, PatternDrawsItsSetBitsAndTurnsOncePerPixel) {
  const int32_t s = NewSurface(20, 1, 0);
  SetLinePattern(g, 0xF0F0F0F0F0F0F0F0ull);
  DrawLine(g, M(), s, 0, 0, 15, 0, WHITE);
  for (int x = 0; x < 20; ++x) {
    const bool on = x < 16 && x % 8 < 4;
    EXPECT_EQ(Get(s, x, 0), on ? WHITE : 0u) << x;
  }
  EXPECT_EQ(g.linePattern, 0xF0F0F0F0F0F0F0F0ull);
  // Three more pixels turn it by three.
  DrawLine(g, M(), s, 0, 0, 0, 0, WHITE);
  DrawLine(g, M(), s, 5, 0, 6, 0, WHITE);
  EXPECT_EQ(g.linePattern, 0x8787878787878787ull);
  ExpectIdle();
}

TEST_F(Lines, PatternStartsAtTheFirstVisiblePixel) {
  const int32_t s = NewSurface(20, 1, 0);
  SetClip(g, M(), s, 10, 0, 10, 1, nullptr);
  SetLinePattern(g, 0xA000000000000000ull);  // on, off, on, then off
  DrawLine(g, M(), s, 0, 0, 19, 0, WHITE);
  for (int x = 0; x < 20; ++x) EXPECT_EQ(Get(s, x, 0), x == 10 || x == 12 ? WHITE : 0u) << x;
  // Ten visible pixels turned it ten times.
  EXPECT_EQ(g.linePattern, 0xA000000000000000ull >> 54 | 0xA000000000000000ull << 10);
  // Backwards, the walk starts at the other end.
  const int32_t t = NewSurface(20, 1, 0);
  SetLinePattern(g, 0x8000000000000000ull);
  DrawLine(g, M(), t, 19, 0, 0, 0, WHITE);
  EXPECT_EQ(Get(t, 19, 0), WHITE);
  EXPECT_EQ(Get(t, 0, 0), 0u);
}

TEST_F(Lines, BresenhamStepsOnPositiveErrorOnly) {
  const int32_t s = NewSurface(6, 4, 0);
  DrawLine(g, M(), s, 0, 0, 4, 2, WHITE);
  // Error 0 at the start: no step; the ties fall to the lower row.
  const std::vector<std::pair<int, int>> want = {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 2}};
  int drawn = 0;
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) {
      const bool on = std::find(want.begin(), want.end(), std::make_pair(x, y)) != want.end();
      EXPECT_EQ(Get(s, x, y), on ? WHITE : 0u) << x << "," << y;
      drawn += on;
    }
  EXPECT_EQ(drawn, 5);
  // A 45-degree line is x-major; the result is the diagonal.
  const int32_t d = NewSurface(4, 4, 0);
  DrawLine(g, M(), d, 3, 3, 0, 0, WHITE);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(Get(d, k, k), WHITE);
}

TEST_F(Lines, RandomLinesMatchTheRuleWithClipAndPattern) {
  std::mt19937 rng(17);
  const int32_t s = RandomSurface(40, 30, rng);
  for (int round = 0; round < 3000; ++round) {
    if (round % 50 == 0)
      SetClip(g, M(), s, int(rng() % 20) - 5, int(rng() % 15) - 5, int(rng() % 45), int(rng() % 35),
              nullptr);
    Canvas want = Snap(s);
    const int span = round % 3 == 0 ? 6000 : 70;
    auto coord = [&](int limit) { return int(rng() % uint32_t(limit)) - limit / 2 + 15; };
    const int x1 = coord(span), y1 = coord(span), x2 = coord(span), y2 = coord(span);
    const uint64_t pattern = round % 4 ? (uint64_t(rng()) << 32 | rng()) : ~uint64_t{0};
    const uint32_t colour = rng();
    uint64_t refPattern = pattern;
    SetLinePattern(g, pattern);
    DrawLine(g, M(), s, x1, y1, x2, y2, colour);
    RefLine(want, refPattern, x1, y1, x2, y2, Swap(colour));
    ASSERT_EQ(Differences(Snap(s), want), 0)
        << "(" << x1 << "," << y1 << ")-(" << x2 << "," << y2 << ")";
    ASSERT_EQ(g.linePattern, refPattern);
  }
  ExpectIdle();
}

TEST_F(Lines, HugeLinesWalkOnlyTheirVisiblePart) {
  const int32_t s = NewSurface(32, 32, 0);
  const auto start = std::chrono::steady_clock::now();
  DrawLine(g, M(), s, INT32_MIN, 3, INT32_MAX, 5, WHITE);
  DrawLine(g, M(), s, 7, INT32_MAX, 9, INT32_MIN, WHITE);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 1.0);
  // The nearly horizontal line crosses the surface on row 4 (its middle third).
  int row4 = 0, column8 = 0;
  for (int x = 0; x < 32; ++x) row4 += Get(s, x, 4) == WHITE;
  for (int y = 0; y < 32; ++y) column8 += Get(s, 8, y) == WHITE;
  EXPECT_EQ(row4, 32);
  EXPECT_EQ(column8, 32);
}

TEST_F(Lines, LineInvalidatesTheBoxOfItsEndPoints) {
  DrawLine(g, M(), SURFACE_SCREEN, 9, 2, 3, 7, WHITE);
  ExpectDirty(3, 2, 7, 6);
  DrawLine(g, M(), SURFACE_SCREEN, 5, 5, 5, 5, WHITE);
  ExpectDirty(5, 5, 1, 1);
}

TEST_F(Lines, LineRunVisitsInnerPointsTwiceAndRunsThePatternOn) {
  const int32_t s = NewSurface(20, 20, Px(0, 0, 0, 255));
  Canvas want = Snap(s);
  const std::vector<int32_t> pts = {2, 2, 12, 2, 12, 9, 3, 15, 3, 15};
  std::vector<uint8_t> bytes(pts.size() * 4);
  for (size_t i = 0; i < pts.size(); ++i) vm::Store32(bytes.data() + 4 * i, uint32_t(pts[i]));
  SetLinePattern(g, 0xDB6DB6DB6DB6DB6Dull);
  uint64_t refPattern = g.linePattern;
  const uint32_t half = 0x80FFFFFFu;
  DrawLineRun(g, M(), s, bytes.data(), 5, half);
  for (int i = 0; i + 1 < 5; ++i)
    RefLine(want, refPattern, pts[2 * i], pts[2 * i + 1], pts[2 * i + 2], pts[2 * i + 3],
            Swap(half));
  EXPECT_EQ(Differences(Snap(s), want), 0);
  EXPECT_EQ(g.linePattern, refPattern);
  // Fewer than two points draw nothing.
  const Canvas before = Snap(s);
  DrawLineRun(g, M(), s, bytes.data(), 1, WHITE);
  DrawLineRun(g, M(), s, bytes.data(), -4, WHITE);
  EXPECT_EQ(Differences(Snap(s), before), 0);
  ExpectIdle();
}

// ---- Rectangles ----

TEST_F(Lines, RectangleBorderAndInset) {
  const int32_t s = NewSurface(12, 12, 0);
  DrawRectangle(g, M(), s, 1, 1, 10, 10, 0xFF0000FFu, 0xFF00FF00u);
  int fill = 0, border = 0;
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 12; ++x) {
      const uint32_t p = Get(s, x, y);
      fill += p == Px(0, 0, 255, 255);
      border += p == Px(0, 255, 0, 255);
      const bool edge = x == 1 || x == 10 || y == 1 || y == 10;
      const bool inside = x >= 1 && x <= 10 && y >= 1 && y <= 10;
      EXPECT_EQ(p, !inside ? 0u : edge ? Px(0, 255, 0, 255) : Px(0, 0, 255, 255));
    }
  EXPECT_EQ(fill, 64);
  EXPECT_EQ(border, 36);

  // A border without alpha is off, and the fill covers the whole rectangle.
  const int32_t t = NewSurface(12, 12, 0);
  DrawRectangle(g, M(), t, 1, 1, 10, 10, 0xFF0000FFu, 0x00FFFFFFu);
  int covered = 0;
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 12; ++x) covered += Get(t, x, y) == Px(0, 0, 255, 255);
  EXPECT_EQ(covered, 100);
  ExpectIdle();
}

TEST_F(Lines, RectangleCornersAreVisitedTwiceWithThePattern) {
  std::mt19937 rng(23);
  for (int round = 0; round < 200; ++round) {
    const int32_t s = RandomSurface(24, 20, rng);
    SetClip(g, M(), s, int(rng() % 10) - 2, int(rng() % 8) - 2, int(rng() % 30), int(rng() % 26),
            nullptr);
    Canvas want = Snap(s);
    const int x = int(rng() % 30) - 4, y = int(rng() % 26) - 4;
    const int w = int(rng() % 30) - 3, h = int(rng() % 26) - 3;
    const uint32_t fill = rng(), border = rng() % 3 ? rng() : rng() & 0xFFFFFF;
    const uint64_t pattern = uint64_t(rng()) << 32 | rng();
    uint64_t refPattern = pattern;
    SetLinePattern(g, pattern);
    DrawRectangle(g, M(), s, x, y, w, h, fill, border);
    RefRect(want, refPattern, x, y, w, h, fill, border);
    ASSERT_EQ(Differences(Snap(s), want), 0) << round;
    ASSERT_EQ(g.linePattern, refPattern);
    FreeSurface(M(), s);
    vm::CompactHeap(M());
  }
}

}  // namespace
}  // namespace orvo::gfx::test
