// The screen rectangles each drawing operation marks for repainting, one operation at a
// time, and the operations that mark nothing. The screen is 64 x 48; marked areas are cut
// to it.
#include "tests/gfx/gfx_test_support.h"

namespace orvo::gfx::test {
namespace {

using Invalidation = GfxTest;

constexpr uint32_t WHITE = 0xFFFFFFFFu;

TEST_F(Invalidation, LineRunMarksTheBoxOfEverySegment) {
  const std::vector<int32_t> pts = {5, 5, 20, 3, 10, 30};
  std::vector<uint8_t> bytes(pts.size() * 4);
  for (size_t i = 0; i < pts.size(); ++i) vm::Store32(bytes.data() + 4 * i, uint32_t(pts[i]));
  DrawLineRun(g, M(), SURFACE_SCREEN, bytes.data(), 3, WHITE);
  // (5, 5)-(20, 3) and (20, 3)-(10, 30): columns 5..20, rows 3..30.
  ExpectDirty(5, 3, 16, 28);
  // One point is no line and marks nothing.
  DrawLineRun(g, M(), SURFACE_SCREEN, bytes.data(), 1, WHITE);
  ExpectClean();
  // Through the row, with the points in VM memory.
  for (size_t i = 0; i < pts.size(); ++i)
    vm::Store32(vm.m.mem + At(1024) + 4 * i, uint32_t(pts[i]));
  Sys(0, {0, At(1024), 2, WHITE});
  ExpectDirty(5, 3, 16, 3);
  ExpectIdle();
}

TEST_F(Invalidation, RectangleMarksItsNominalArea) {
  DrawRectangle(g, M(), SURFACE_SCREEN, 3, 4, 10, 5, 0xFF102030u, WHITE);
  ExpectDirty(3, 4, 10, 5);
  // A negative width counts to the left of x.
  DrawRectangle(g, M(), SURFACE_SCREEN, 20, 10, -5, 3, 0xFF102030u, 0);
  ExpectDirty(15, 10, 5, 3);
  // Neither fill nor border has alpha: nothing is drawn, the area is still marked.
  const Canvas before = Snap(SURFACE_SCREEN);
  DrawRectangle(g, M(), SURFACE_SCREEN, 1, 2, 3, 4, 0x00FFFFFFu, 0x00FFFFFFu);
  EXPECT_EQ(Differences(Snap(SURFACE_SCREEN), before), 0);
  ExpectDirty(1, 2, 3, 4);
  // Partly off the screen: only the part on it.
  DrawRectangle(g, M(), SURFACE_SCREEN, 60, 40, 10, 10, 0xFF102030u, 0);
  ExpectDirty(60, 40, 4, 8);
  ExpectIdle();
}

TEST_F(Invalidation, FullyClippedShapesStillMarkTheirArea) {
  SetClip(g, M(), SURFACE_SCREEN, 50, 40, 4, 4, nullptr);
  const Canvas before = Snap(SURFACE_SCREEN);
  DrawRectangle(g, M(), SURFACE_SCREEN, 2, 3, 8, 9, 0xFF102030u, WHITE);
  ExpectDirty(2, 3, 8, 9);
  DrawEllipse(g, M(), SURFACE_SCREEN, 4, 5, 10, 7, 0xFF102030u, WHITE);
  ExpectDirty(4, 5, 11, 8);
  GradientSquare(g, M(), SURFACE_SCREEN, 1, 1, 6, 6, 40);
  ExpectDirty(1, 1, 6, 6);
  DrawLine(g, M(), SURFACE_SCREEN, 0, 0, 9, 3, WHITE);
  ExpectDirty(0, 0, 10, 4);
  EXPECT_EQ(Differences(Snap(SURFACE_SCREEN), before), 0);
  ExpectIdle();
}

TEST_F(Invalidation, EllipseMarksOneMoreColumnAndRow) {
  DrawEllipse(g, M(), SURFACE_SCREEN, 10, 12, 9, 6, 0xFF102030u, WHITE);
  ExpectDirty(10, 12, 10, 7);
  DrawEllipse(g, M(), SURFACE_SCREEN, 0, 0, 4, 4, 0, WHITE);
  ExpectDirty(0, 0, 5, 5);
  // Height 0 is the line from (x, y) to (x + width, y): its end points' box.
  DrawEllipse(g, M(), SURFACE_SCREEN, 30, 20, 8, 0, WHITE, WHITE);
  ExpectDirty(30, 20, 9, 1);
  ExpectIdle();
}

TEST_F(Invalidation, GradientMarksTheMagnitudeOfItsSizes) {
  // Mirrored axes draw the same area as plain ones, from (x, y) on.
  GradientSquare(g, M(), SURFACE_SCREEN, 10, 5, -8, 6, 0);
  ExpectDirty(10, 5, 8, 6);
  GradientSquare(g, M(), SURFACE_SCREEN, 10, 5, 8, -6, 0);
  ExpectDirty(10, 5, 8, 6);
  // The drawn pixels are exactly that area.
  for (int y = 0; y < SCREEN_H; ++y)
    for (int x = 0; x < SCREEN_W; ++x) {
      const bool inside = x >= 10 && x < 18 && y >= 5 && y < 11;
      ASSERT_EQ(Get(SURFACE_SCREEN, x, y) != 0, inside) << x << "," << y;
    }
  ExpectIdle();
}

TEST_F(Invalidation, BlitsMarkTheirTilingEdges) {
  const int32_t s = NewSurface(8, 8, Px(1, 2, 3, 255));
  // With edges: from (dx, dy) up to the edges, however many tiles that takes.
  Blit(g, M(), SURFACE_SCREEN, 4, 6, s, 0, 0, 8, 8, 0, 30, 25);
  ExpectDirty(4, 6, 26, 19);
  // The source rectangle runs off the source: nothing is read beyond it, but the nominal
  // area is marked.
  Blit(g, M(), SURFACE_SCREEN, 40, 30, s, 6, 6, 10, 10, 0, 0, 0);
  ExpectDirty(40, 30, 10, 10);
  EXPECT_EQ(Get(SURFACE_SCREEN, 41, 31), Px(1, 2, 3, 255));
  EXPECT_EQ(Get(SURFACE_SCREEN, 42, 31), 0u);
  ScaledBlit(g, M(), SURFACE_SCREEN, 2, 3, 16, 16, s, 0, 0, 8, 8, 40, 0);
  ExpectDirty(2, 3, 38, 16);
  ExpectIdle();
}

TEST_F(Invalidation, ReadingOperationsAndOtherSurfacesMarkNothing) {
  const int32_t s = NewSurface(16, 16, Px(10, 20, 30, 255));
  int32_t info[6], old[4];
  ReadPixel(g, M(), SURFACE_SCREEN, 3, 3);
  SurfaceInfo(g, M(), SURFACE_SCREEN, info);
  SetClip(g, M(), SURFACE_SCREEN, 1, 1, 30, 30, old);
  SetClip(g, M(), SURFACE_SCREEN, 0, 0, SCREEN_W, SCREEN_H, nullptr);
  RgbToHsv(0xFF123456u);
  SetLinePattern(g, 0xF0F0F0F0F0F0F0F0ull);
  // The screen as the source of a blit onto another surface.
  Blit(g, M(), s, 0, 0, SURFACE_SCREEN, 0, 0, 16, 16, 0, 0, 0);
  ScaledBlit(g, M(), s, 0, 0, 8, 8, SURFACE_SCREEN, 0, 0, 16, 16, 0, 0);
  DrawRectangle(g, M(), s, 0, 0, 16, 16, WHITE, WHITE);
  DrawEllipse(g, M(), s, 0, 0, 16, 16, WHITE, WHITE);
  GradientSquare(g, M(), s, 0, 0, 16, 16, 3);
  DrawLine(g, M(), s, 0, 0, 15, 9, WHITE);
  AlphaKey(g, M(), s, 0, 0, 16, 16, 0xFFFFFFFFu, 0xFFFFFFFFu, 7);
  BlendPixel(g, M(), s, 2, 2, WHITE);
  ColourAdjust(g, M(), s, 0, 0, 16, 16, 10, 10, 10, 10);
  ExpectClean();
  ExpectIdle();
}

TEST_F(Invalidation, MarkedAreasOfSeveralOperationsAreUnited) {
  DrawLine(g, M(), SURFACE_SCREEN, 2, 2, 4, 2, WHITE);
  BlendPixel(g, M(), SURFACE_SCREEN, 30, 20, WHITE);
  DrawRectangle(g, M(), SURFACE_SCREEN, 10, 40, 3, 3, WHITE, 0);
  ExpectDirty(2, 2, 29, 41);
  ExpectClean();
}

}  // namespace
}  // namespace orvo::gfx::test
