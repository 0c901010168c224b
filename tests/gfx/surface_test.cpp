// Screen and text surfaces, heap surfaces, the drawing slots and invalidation.
#include "gfx/surface.h"

#include "tests/gfx/gfx_test_support.h"

namespace orvo::gfx::test {
namespace {

using Surfaces = GfxTest;

TEST_F(Surfaces, ScreenAndTextSurfaceGeometry) {
  Graphics big;
  ASSERT_TRUE(CreateScreen(big, 1920, 1080));
  EXPECT_EQ(big.screen.stride, 1920 * 4);
  EXPECT_EQ(big.screen.clipWidth, 1920);
  EXPECT_EQ(big.screen.clipHeight, 1080);
  EXPECT_EQ(big.text.width, 1920);
  EXPECT_EQ(big.text.height, 72);  // 1080 / 15
  EXPECT_EQ(big.text.clipHeight, 72);
  DeleteScreen(big);
  EXPECT_EQ(big.screen.bits, nullptr);
  EXPECT_EQ(big.text.bits, nullptr);
  Graphics none;
  EXPECT_FALSE(CreateScreen(none, -1, 10));
}

TEST_F(Surfaces, NewSurfaceRecordAndClip) {
  const int32_t s = CreateSurface(M(), 7, 5);
  EXPECT_GT(s, 0);
  EXPECT_EQ(RecordWord(s, 0), 7u);
  EXPECT_EQ(RecordWord(s, 1), 5u);
  EXPECT_EQ(RecordWord(s, 2), 28u);
  EXPECT_EQ(RecordWord(s, 3), 0u);
  EXPECT_EQ(RecordWord(s, 4), 0u);
  EXPECT_EQ(RecordWord(s, 5), 7u);
  EXPECT_EQ(RecordWord(s, 6), 5u);
  const uint32_t pixels = RecordWord(s, 7);
  EXPECT_EQ(M().heap.records[pixels].size, 7u * 5 * 4);
  // The record is allocated first, then the pixels.
  EXPECT_LT(M().heap.records[uint32_t(s)].address, M().heap.records[pixels].address);
  ExpectIdle();
}

TEST_F(Surfaces, SlotsPinRecordAndPixelsAndEndUnpins) {
  const int32_t a = NewSurface(4, 4), b = NewSurface(4, 4);
  ASSERT_TRUE(StartDST(g, M(), a));
  EXPECT_EQ(M().heap.heapPinCount, 2);
  EXPECT_EQ(g.dst.handle, a);
  EXPECT_EQ(g.dst.width, 4);
  EXPECT_EQ(g.dst.stride, 16);
  EXPECT_EQ(g.dst.record, M().heap.records[uint32_t(a)].address);
  EXPECT_EQ(g.dst.pixels, Bits(a));
  ASSERT_TRUE(StartSRC(g, M(), b));
  EXPECT_EQ(M().heap.heapPinCount, 4);
  EndSRC(g, M());
  EndDST(g, M());
  ExpectIdle();

  // The same handle on both sides is pinned once and shares the geometry.
  ASSERT_TRUE(StartPair(g, M(), a, a));
  EXPECT_EQ(M().heap.heapPinCount, 2);
  EXPECT_EQ(g.src.pixels, g.dst.pixels);
  EXPECT_EQ(g.src.handle, a);
  EndPair(g, M());
  ExpectIdle();

  ASSERT_TRUE(StartPair(g, M(), a, b));
  EXPECT_EQ(M().heap.heapPinCount, 4);
  EndPair(g, M());
  ExpectIdle();

  // The screen and the text surface pin nothing.
  ASSERT_TRUE(StartPair(g, M(), SURFACE_TEXT, SURFACE_SCREEN));
  EXPECT_EQ(M().heap.heapPinCount, 0);
  EXPECT_EQ(g.dst.pixels, g.screen.bits);
  EXPECT_EQ(g.src.pixels, g.text.bits);
  EXPECT_EQ(g.src.height, SCREEN_H / 15);
  EndPair(g, M());
  ExpectIdle();
}

TEST_F(Surfaces, StartingABusySlotEndsTheProgram) {
  ASSERT_TRUE(StartDST(g, M(), SURFACE_SCREEN));
  EXPECT_FALSE(StartDST(g, M(), SURFACE_SCREEN));
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_EQ(Messages()[0], "StartDST() already started");
  EXPECT_TRUE(M().Fatal());
  EXPECT_EQ(M().ExitCode(), 1);
  EndDST(g, M());
  ASSERT_TRUE(StartSRC(g, M(), SURFACE_SCREEN));
  EXPECT_FALSE(StartSRC(g, M(), SURFACE_TEXT));
  EXPECT_EQ(Messages().back(), "StartSRC() already started");
  EndSRC(g, M());
}

TEST_F(Surfaces, RecordWithoutPixelsIsReportedAndSkipped) {
  const int32_t s = NewSurface(4, 4, Px(1, 2, 3, 255));
  const uint32_t pixels = RecordWord(s, 7);
  SetRecordWord(s, 7, 0);
  EXPECT_FALSE(StartDST(g, M(), s));
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_EQ(Messages()[0], "StartDST: hBM==0");
  ExpectIdle();
  EXPECT_FALSE(StartSRC(g, M(), s));
  EXPECT_EQ(Messages().back(), "StartSRC: hBM==0");
  ExpectIdle();

  // Operations skip such a surface on either side and leave nothing started.
  const int32_t other = NewSurface(4, 4, Px(9, 9, 9, 255));
  Blit(g, M(), other, 0, 0, s, 0, 0, 4, 4, 0, 0, 0);
  Blit(g, M(), s, 0, 0, other, 0, 0, 4, 4, 0, 0, 0);
  ExpectIdle();
  EXPECT_EQ(Get(other, 0, 0), Px(9, 9, 9, 255));
  SetRecordWord(s, 7, pixels);
  EXPECT_EQ(Get(s, 0, 0), Px(1, 2, 3, 255));
  EXPECT_FALSE(M().Fatal());
}

TEST_F(Surfaces, RecordsThatDoNotFitTheirPixelsAreRefused) {
  const int32_t s = NewSurface(4, 4);
  // Wider than its pixel block: drawing would run past the block.
  SetRecordWord(s, 0, 400);
  SetRecordWord(s, 2, 1600);
  EXPECT_FALSE(StartDST(g, M(), s));
  ExpectIdle();
  // A stride that does not match the width.
  SetRecordWord(s, 0, 2);
  SetRecordWord(s, 2, 16);
  EXPECT_FALSE(StartSRC(g, M(), s));
  ExpectIdle();
  // A heap block too small for a record.
  const int32_t tiny = int32_t(vm::AllocHeap(M(), 8));
  EXPECT_FALSE(StartDST(g, M(), tiny));
  ExpectIdle();
  // Handles that are no heap blocks at all are reported by the heap.
  EXPECT_FALSE(StartDST(g, M(), 70000));
  EXPECT_FALSE(StartDST(g, M(), SURFACE_NONE));
  ExpectIdle();
  EXPECT_EQ(Messages().size(), 5u);
}

TEST_F(Surfaces, ClipWordsBeyondTheSurfaceAreCutInTheSlot) {
  const int32_t s = NewSurface(8, 6);
  SetRecordWord(s, 3, uint32_t(-5));
  SetRecordWord(s, 4, 2);
  SetRecordWord(s, 5, 100);
  SetRecordWord(s, 6, 100);
  ASSERT_TRUE(StartDST(g, M(), s));
  EXPECT_EQ(g.dst.clipX, 0);
  EXPECT_EQ(g.dst.clipY, 2);
  EXPECT_EQ(g.dst.clipWidth, 8);
  EXPECT_EQ(g.dst.clipHeight, 4);
  EndDST(g, M());
  // Drawing stays in the surface.
  DrawRectangle(g, M(), s, -100, -100, 1000, 1000, 0xFF112233u, 0);
  EXPECT_EQ(Get(s, 0, 1), 0u);
  EXPECT_EQ(Get(s, 7, 5), Px(0x11, 0x22, 0x33, 255));
}

TEST_F(Surfaces, EndUnpinsThePixelBlockThatWasPinned) {
  // b's pixel block is a's record: a blit from a onto b rewrites a's record, pixel handle
  // included, while a is started. Ending a must still unpin the block its start pinned.
  const int32_t a = NewSurface(8, 1, Px(0x44, 0x33, 0x22, 255));
  const int32_t b = CreateSurface(M(), 8, 1);
  SetRecordWord(b, 7, uint32_t(a));
  ASSERT_TRUE(StartPair(g, M(), a, b));
  EXPECT_EQ(M().heap.heapPinCount, 4);
  EndPair(g, M());
  ExpectIdle();
  Blit(g, M(), b, 0, 0, a, 0, 0, 8, 1, 0, 0, 0);
  ExpectIdle();
  EXPECT_EQ(RecordWord(a, 7), Px(0x44, 0x33, 0x22, 255));
}

TEST_F(Surfaces, FreeSurfaceFreesBothBlocksAndIgnoresTheScreen) {
  const int32_t s = NewSurface(4, 4);
  const uint32_t pixels = RecordWord(s, 7);
  FreeSurface(M(), s);
  EXPECT_EQ(M().heap.records[uint32_t(s)].list, uint32_t(vm::LIST_FREED));
  EXPECT_EQ(M().heap.records[pixels].list, uint32_t(vm::LIST_FREED));
  ExpectIdle();

  FreeSurface(M(), SURFACE_SCREEN);
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(M().heap.records[0].list, uint32_t(vm::LIST_ALLOCATED));

  // A record whose pixel handle is 0 frees only itself.
  const int32_t t = NewSurface(2, 2);
  const uint32_t tPixels = RecordWord(t, 7);
  SetRecordWord(t, 7, 0);
  FreeSurface(M(), t);
  EXPECT_EQ(M().heap.records[uint32_t(t)].list, uint32_t(vm::LIST_FREED));
  EXPECT_EQ(M().heap.records[tPixels].list, uint32_t(vm::LIST_ALLOCATED));
  EXPECT_TRUE(Messages().empty());
}

TEST_F(Surfaces, NegativeSizesMakeAnEmptySurface) {
  const int32_t s = CreateSurface(M(), -3, 4);
  EXPECT_EQ(RecordWord(s, 0), 0u);
  EXPECT_EQ(RecordWord(s, 1), 4u);
  DrawRectangle(g, M(), s, 0, 0, 10, 10, 0xFFFFFFFFu, 0xFFFFFFFFu);
  EXPECT_EQ(ReadPixel(g, M(), s, 0, 0), 0u);
  EXPECT_TRUE(Messages().empty());
  ExpectIdle();
}

TEST_F(Surfaces, InvalidateCountsNegativeSizesFromTheOtherEdge) {
  InvalidateArea(g, 10, 10, -5, -3);
  ExpectDirty(5, 7, 5, 3);
  ExpectClean();

  InvalidateArea(g, 1, 2, 3, 4);
  InvalidateArea(g, 20, 30, 2, 2);
  ExpectDirty(1, 2, 21, 30);

  // Empty areas mark nothing; areas are cut to the screen.
  InvalidateArea(g, 5, 5, 0, 9);
  InvalidateArea(g, -100, -100, 10, 10);
  ExpectClean();
  InvalidateArea(g, -10, 40, 1000, 1000);
  ExpectDirty(0, 40, SCREEN_W, SCREEN_H - 40);
  InvalidateArea(g, INT32_MAX, INT32_MAX, INT32_MAX, -INT32_MAX);
  ExpectClean();
}

TEST_F(Surfaces, OnlyTheScreenIsInvalidated) {
  const int32_t s = NewSurface(8, 8);
  DrawRectangle(g, M(), s, 0, 0, 8, 8, 0xFF000000u, 0);
  DrawRectangle(g, M(), SURFACE_TEXT, 0, 0, 8, 2, 0xFF000000u, 0);
  ExpectClean();
  DrawRectangle(g, M(), SURFACE_SCREEN, 2, 3, 4, 5, 0xFF000000u, 0);
  ExpectDirty(2, 3, 4, 5);
}

}  // namespace
}  // namespace orvo::gfx::test
