// The graphics sys group: argument words, results, bad addresses and unknown rows.
#include "tests/gfx/gfx_test_support.h"

namespace orvo::gfx::test {
namespace {

using GraphicsRows = GfxTest;

uint32_t U(int32_t v) {
  return static_cast<uint32_t>(v);
}

TEST_F(GraphicsRows, SetPatternTwiceReturnsTheFirstWords) {
  vm.SetReg(14, 0x1111111122222222ull);
  Sys(14, {0x89ABCDEFu, 0x01234567u});
  EXPECT_EQ(Result(), ~uint64_t{0});
  Sys(14, {0x89ABCDEFu, 0x01234567u});
  EXPECT_EQ(Result(), 0x0123456789ABCDEFull);
  EXPECT_EQ(vm.Word(vm::HDR_RESULT), 0x89ABCDEFu);
  EXPECT_EQ(vm.Word(vm::HDR_RESULT_HIGH), 0x01234567u);
}

TEST_F(GraphicsRows, CreateFreeAndFreeingTheScreen) {
  Sys(19, {3, 2});
  const int32_t s = int32_t(vm.Word(vm::HDR_RESULT));
  EXPECT_GT(s, 0);
  EXPECT_EQ(RecordWord(s, 0), 3u);
  Sys(4, {0});  // the screen: nothing
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(M().heap.records[0].list, uint32_t(vm::LIST_ALLOCATED));
  Sys(4, {U(s)});
  EXPECT_EQ(M().heap.records[uint32_t(s)].list, uint32_t(vm::LIST_FREED));
  ExpectIdle();
}

TEST_F(GraphicsRows, ResultsOfPixelRows) {
  const int32_t s = NewSurface(4, 4, Px(0x10, 0x20, 0x30, 0x40));
  vm.SetReg(14, 0xAAAAAAAABBBBBBBBull);
  Sys(6, {U(s), 1, 1});
  // One result word: the high half of $14 stays.
  EXPECT_EQ(Result(), 0xAAAAAAAA40102030ull);
  Sys(6, {U(s), 9, 1});
  EXPECT_EQ(vm.Word(vm::HDR_RESULT), 0u);
  Sys(7, {U(s), 0, 0, 0xFF0000FFu});
  EXPECT_EQ(Get(s, 0, 0), Px(0, 0, 255, 255));
  Sys(5, {U(s), 0, 0, 4, 4, 0xFFFFFFFFu, 0xFFFFFFFFu, 0x40});
  EXPECT_EQ(Result(), 1u);  // only the blended pixel had another alpha
  Sys(10, {0x550000FFu});
  EXPECT_EQ(vm.Word(vm::HDR_RESULT), 0x55FFFF00u);
  Sys(11, {0x55FFFF00u});
  EXPECT_EQ(vm.Word(vm::HDR_RESULT), 0x550000FFu);
  ExpectIdle();
}

TEST_F(GraphicsRows, DrawingRowsReachTheirOperations) {
  const int32_t s = NewSurface(16, 16, 0);
  Sys(1, {U(s), 1, 1, 4, 4, 0xFF0000FFu, 0});
  EXPECT_EQ(Get(s, 1, 1), Px(0, 0, 255, 255));
  const int32_t t = NewSurface(2, 2, Px(1, 2, 3, 255));
  Sys(3, {U(s), 8, 8, U(t), 0, 0, 2, 2, 0, 12, 0});
  EXPECT_EQ(Get(s, 11, 9), Px(1, 2, 3, 255));
  EXPECT_EQ(Get(s, 12, 9), 0u);
  Sys(8, {U(s), 0, 10, 4, 4, U(t), 0, 0, 2, 2, 0, 0});
  EXPECT_EQ(Get(s, 3, 13), Px(1, 2, 3, 255));
  Sys(15, {U(s), 8, 8, 1, 1, U(-1), 0, 0, 0});
  EXPECT_EQ(Get(s, 8, 8), Px(3, 3, 3, 255));
  Sys(17, {U(s), 0, 14, 2, 2, 0});
  EXPECT_EQ(Get(s, 0, 15), 0xFFFFFFFFu);
  Sys(18, {U(s), 12, 0, 3, 3, 0xFF00FF00u, 0});
  EXPECT_EQ(Get(s, 13, 1), Px(0, 255, 0, 255));
  // A line run from VM memory.
  const uint32_t pts = At(256);
  for (int i = 0; i < 6; ++i)
    vm::Store32(M().mem + pts + 4 * i, uint32_t(std::vector<int>{5, 0, 7, 0, 7, 2}[i]));
  Sys(0, {U(s), pts, 3, 0xFFFFFFFFu});
  EXPECT_EQ(Get(s, 6, 0), 0xFFFFFFFFu);
  EXPECT_EQ(Get(s, 7, 2), 0xFFFFFFFFu);
  ExpectIdle();
  EXPECT_TRUE(Messages().empty());
}

TEST_F(GraphicsRows, InfoAndClipWriteTheirWords) {
  const int32_t s = NewSurface(10, 8);
  Sys(12, {U(s), At(512)});
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(vm.Word(At(512 + 4 * i)), (std::vector<uint32_t>{10, 8, 0, 0, 10, 8}[i]));
  Sys(13, {U(s), 2, 3, 4, 5, At(600)});
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(vm.Word(At(600 + 4 * i)), (std::vector<uint32_t>{0, 0, 10, 8}[i]));
  Sys(13, {U(s), 0, 0, 10, 8, 0});  // 0: the old clip is not wanted
  EXPECT_EQ(RecordWord(s, 5), 10u);
  ExpectIdle();
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(M().hostFlags & vm::HOST_END_PROGRAM, 0u);
}

class BadAddresses : public GfxTest {
 protected:
  // The row stops the program with the address named, and leaves nothing started.
  void ExpectFault(uint32_t row, const std::vector<uint32_t>& words, uint32_t address) {
    vm.hooks.messages.clear();
    M().hostFlags = 0;
    M().ClearStopRequest();
    Sys(row, words);
    ASSERT_EQ(Messages().size(), 1u) << "row " << row;
    EXPECT_NE(Messages()[0].find(vm::Format("0x%8.8lX", static_cast<unsigned long>(address))),
              std::string::npos)
        << Messages()[0];
    EXPECT_TRUE(M().hostFlags & vm::HOST_END_PROGRAM);
    EXPECT_TRUE(M().StopRequested());
    ExpectIdle();
  }
};

TEST_F(BadAddresses, OutputsPointArraysAndArgumentBlocksAreChecked) {
  const int32_t s = NewSurface(4, 4);
  const uint32_t end = M().memSize;
  ExpectFault(12, {U(s), end - 20}, end - 20);  // six words do not fit
  ExpectFault(13, {U(s), 0, 0, 1, 1, end - 12}, end - 12);
  ExpectFault(0, {U(s), end - 16, 3, 0xFFFFFFFFu}, end - 16);  // 24 bytes of points
  ExpectFault(0, {U(s), 64, 0x20000000, 0xFFFFFFFFu}, 64);     // a count beyond memory
  // Valid clip words were not changed by the refused row.
  EXPECT_EQ(RecordWord(s, 5), 4u);
  // The argument block itself.
  vm.hooks.messages.clear();
  M().hostFlags = 0;
  vm::RunRequest(M(), 0x503, end - 8);
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_TRUE(M().hostFlags & vm::HOST_END_PROGRAM);
  // Exactly fitting outputs are fine.
  vm.hooks.messages.clear();
  M().hostFlags = 0;
  Sys(12, {U(s), end - 24});
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(vm.Word(end - 24), 4u);
}

TEST_F(GraphicsRows, RowsServedElsewhereAndUndefinedRowsAreUnknown) {
  for (uint32_t row : {2u, 9u, 16u, 20u, 255u}) {
    vm.hooks.messages.clear();
    Sys(row, {0, 0, 0});
    ASSERT_EQ(Messages().size(), 1u) << row;
    EXPECT_NE(Messages()[0].find("Unknown SYS command"), std::string::npos);
  }
  EXPECT_EQ(M().hostFlags & vm::HOST_END_PROGRAM, 0u);
}

}  // namespace
}  // namespace orvo::gfx::test
