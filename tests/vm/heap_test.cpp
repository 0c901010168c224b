#include "vm/heap.h"

#include <gtest/gtest.h>

#include "tests/vm/vm_test_support.h"

namespace orvo::vm::test {
namespace {

class Heap : public ::testing::Test {
 protected:
  Vm vm;
  uint32_t heapStart = 0;
  void SetUp() override {
    Image image;
    image.heapSize = 100000;
    image.Code(TERM);
    ASSERT_TRUE(vm.Load(image));
    heapStart = vm.m.heap.heapStart;
  }
  const HandleRecord& Rec(uint32_t h) const { return vm.m.heap.records[h]; }
};

TEST_F(Heap, FreedBlocksAreReusedInsideTheWindow) {
  const uint32_t h = AllocHeap(vm.m, 100);
  EXPECT_EQ(h, 1u);
  EXPECT_EQ(Rec(h).address, heapStart + 4);
  FreeHeap(vm.m, h);
  EXPECT_NE(AllocHeap(vm.m, 50), h);
  EXPECT_NE(AllocHeap(vm.m, 101), h);
  EXPECT_EQ(AllocHeap(vm.m, 51), h);
  EXPECT_EQ(Rec(h).address, heapStart + 4);
  EXPECT_EQ(Rec(h).size, 51u);
  EXPECT_EQ(Rec(h).capacity, 100u);

  const uint32_t big = AllocHeap(vm.m, 5000);
  FreeHeap(vm.m, big);
  EXPECT_NE(AllocHeap(vm.m, 3976), big);
  EXPECT_EQ(AllocHeap(vm.m, 3977), big);  // window capped at 1024
}

TEST_F(Heap, ZeroSizedRequestsNeverReuse) {
  const uint32_t h = AllocHeap(vm.m, 0);
  FreeHeap(vm.m, h);
  EXPECT_NE(AllocHeap(vm.m, 0), h);
}

TEST_F(Heap, CompactionClosesHolesAndRecyclesHandlesHighestFirst) {
  const uint32_t a = AllocHeap(vm.m, 10), b = AllocHeap(vm.m, 20), c = AllocHeap(vm.m, 30),
                 d = AllocHeap(vm.m, 40);
  Store32(vm.m.mem + Rec(c).address, 0xC0C0C0C0);
  Store32(vm.m.mem + Rec(d).address + 36, 0xD0D0D0D0);
  FreeHeap(vm.m, a);
  FreeHeap(vm.m, c);
  CompactHeap(vm.m);
  EXPECT_EQ(Rec(b).address, heapStart + 4);
  EXPECT_EQ(Rec(d).address, heapStart + 24);
  EXPECT_EQ(Load32(vm.m.mem + heapStart + 24 + 36), 0xD0D0D0D0u);
  EXPECT_EQ(vm.m.heap.heapTop, heapStart + 64);
  EXPECT_EQ(Rec(a).list, LIST_UNUSED);
  // c lay higher than a, so its handle comes back first.
  EXPECT_EQ(AllocHeap(vm.m, 1), c);
  EXPECT_EQ(AllocHeap(vm.m, 1), a);
}

TEST_F(Heap, CompactionOrdersEqualAddressesLastInsertedFirst) {
  // Zero-sized blocks share their address with the next block: the walk must keep the
  // allocated one whatever list order it met them in.
  const uint32_t z1 = AllocHeap(vm.m, 0), z2 = AllocHeap(vm.m, 0);
  const uint32_t x = AllocHeap(vm.m, 8), hole = AllocHeap(vm.m, 8), y = AllocHeap(vm.m, 8);
  Store32(vm.m.mem + Rec(y).address, 0x12345678);
  FreeHeap(vm.m, z1);
  FreeHeap(vm.m, hole);
  CompactHeap(vm.m);
  EXPECT_EQ(Rec(z2).address, heapStart + 4);
  EXPECT_EQ(Rec(x).address, heapStart + 4);
  EXPECT_EQ(Rec(y).address, heapStart + 12);
  EXPECT_EQ(Load32(vm.m.mem + heapStart + 12), 0x12345678u);
  // Handles return in walk order, so the hole (higher) is handed out before z1.
  EXPECT_EQ(AllocHeap(vm.m, 1), hole);
  EXPECT_EQ(AllocHeap(vm.m, 1), z1);
}

TEST_F(Heap, ManyBlocksCompactInAddressOrder) {
  std::vector<uint32_t> handles;
  for (int i = 0; i < 3000; ++i) handles.push_back(AllocHeap(vm.m, 1 + i % 7));
  for (size_t i = 0; i < handles.size(); i += 3) FreeHeap(vm.m, handles[i]);
  for (size_t i = 1; i < handles.size(); i += 3)
    Store32(vm.m.mem + Rec(handles[i]).address, static_cast<uint32_t>(i));
  CompactHeap(vm.m);
  uint32_t p = heapStart + 4;
  for (size_t i = 0; i < handles.size(); ++i) {
    if (i % 3 == 0) continue;
    ASSERT_EQ(Rec(handles[i]).address, p) << i;
    p += Rec(handles[i]).capacity;
  }
  EXPECT_EQ(vm.m.heap.heapTop, p);
}

TEST_F(Heap, LocksStampTheStackAndFramesReleaseThem) {
  const uint32_t h = AllocHeap(vm.m, 16);
  vm.m.SetWord(HDR_VSP, 5000);
  EXPECT_EQ(LockHeap(vm.m, h), Rec(h).address);
  vm.m.SetWord(HDR_VSP, 4000);
  LockHeap(vm.m, h);
  EXPECT_EQ(Rec(h).lockStamp, 5000u);  // first lock only
  EXPECT_EQ(Rec(h).lockCount, 2u);
  UnlockHeap(vm.m, h);
  EXPECT_EQ(Rec(h).list, LIST_LOCKED);
  ReleaseFrameLocks(vm.m, 5000);  // not above the stamp
  EXPECT_EQ(Rec(h).list, LIST_LOCKED);
  ReleaseFrameLocks(vm.m, 5001);
  EXPECT_EQ(Rec(h).list, LIST_ALLOCATED);
  EXPECT_EQ(Rec(h).lockCount, 0u);
  EXPECT_EQ(Rec(h).lockStamp, 0u);
}

TEST_F(Heap, LockedBlocksAtCompactionAreFatal) {
  const uint32_t h = AllocHeap(vm.m, 16);
  LockHeap(vm.m, h);
  CompactHeap(vm.m);
  EXPECT_EQ(vm.hooks.messages,
            std::vector<std::string>{"Hey, Dummy! You shouldn't have left blocks locked when "
                                     "CompactHeap() needs to run!"});
  EXPECT_TRUE(vm.m.Fatal());
}

TEST_F(Heap, BadHandlesAreReportedWithTheirLines) {
  Store32(vm.m.mem + HDR_DEBUG_GETHEAPADR, 0xABC);
  Store32(vm.m.mem + HDR_DEBUG_FREEHEAP, 0xDEF);
  vm.m.SetWord(HDR_VPC, 0x1234);
  vm.m.pcPreJsr = 0x5678;
  EXPECT_EQ(GetHeapAdr(vm.m, 70000), 0xFFFFFFFFu);
  EXPECT_EQ(LockHeap(vm.m, 0xFFFFFFFF), 0xFFFFFFFFu);
  FreeHeap(vm.m, 65536);
  FreeHeap(vm.m, 500);  // unused handle: refused the same way
  UnlockHeap(vm.m, 65536);
  EXPECT_EQ(vm.hooks.debugLog,
            "====== GetHeapAdr(70000) FAILED! HPCNT=65536 PC=0x00000ABC\n"
            "====== LockHeap(-1) FAILED! HPCNT=65536 PC=0x00001234 PCpreJSR=0x00005678\n"
            "====== FreeHeap(65536) FAILED! HPCNT=65536 PC=0x00000DEF\n"
            "====== FreeHeap(500) FAILED! HPCNT=65536 PC=0x00000DEF\n");
  EXPECT_EQ(vm.hooks.messages, (std::vector<std::string>{"GetHeapAdr() failed", "LockHeap() failed",
                                                         "FreeHeap() failed", "FreeHeap() failed",
                                                         "UnlockHeap() bad index"}));
  EXPECT_EQ(Rec(500).list, LIST_UNUSED);
  EXPECT_FALSE(vm.m.Fatal());
}

TEST_F(Heap, UnusedHandlesCannotBeLockedIntoTheHeap) {
  EXPECT_EQ(LockHeap(vm.m, 500), 0xFFFFFFFFu);
  EXPECT_EQ(PinHeap(vm.m, 501), nullptr);
  EXPECT_EQ(vm.m.heap.heapPinCount, 0);
  UnlockHeap(vm.m, 500);
  EXPECT_EQ(Rec(500).list, LIST_UNUSED);
  EXPECT_EQ(vm.hooks.messages,
            (std::vector<std::string>{"LockHeap() failed", "LockHeap() failed"}));
  CompactHeap(vm.m);
  EXPECT_FALSE(vm.m.Fatal());
}

TEST_F(Heap, FreeingTwiceChangesNothing) {
  const uint32_t a = AllocHeap(vm.m, 16), b = AllocHeap(vm.m, 16);
  FreeHeap(vm.m, a);
  FreeHeap(vm.m, b);
  FreeHeap(vm.m, a);
  EXPECT_EQ(vm.m.heap.listHead[LIST_FREED], static_cast<int32_t>(b));
  EXPECT_TRUE(vm.hooks.messages.empty());
  CompactHeap(vm.m);
  EXPECT_EQ(vm.m.heap.heapTop, heapStart + 4);
}

TEST_F(Heap, ExhaustionIsFatal) {
  EXPECT_EQ(AllocHeap(vm.m, 200000), 0xFFFFFFFFu);
  EXPECT_EQ(vm.hooks.messages,
            std::vector<std::string>{"Terminating: insufficient Heap space. So sorry."});
  EXPECT_TRUE(vm.m.Fatal());
  EXPECT_EQ(vm.m.ExitCode(), 1);

  Vm pinned;
  Image image;
  image.Code(TERM);
  ASSERT_TRUE(pinned.Load(image));
  ASSERT_NE(PinHeap(pinned.m, 0), nullptr);
  AllocHeap(pinned.m, 4);
  EXPECT_EQ(pinned.hooks.messages,
            std::vector<std::string>{
                "Hey, Dummy! You can't AllocHeap() while you have a pointer INTO the Heap!"});
}

TEST_F(Heap, RunningOutOfHandlesIsFatal) {
  for (uint32_t i = 1; i < HEAP_HANDLES; ++i) ASSERT_EQ(AllocHeap(vm.m, 0), i);
  EXPECT_FALSE(vm.m.Fatal());
  AllocHeap(vm.m, 0);
  EXPECT_EQ(vm.hooks.messages,
            std::vector<std::string>{"Terminating: insufficient HeapPtrs. So sorry."});
}

TEST_F(Heap, FreeingHandleZeroLetsTheHeapEmpty) {
  FreeHeap(vm.m, 0);
  AllocHeap(vm.m, 0);  // a zero-sized block does not reuse handle 0
  CompactHeap(vm.m);
  EXPECT_EQ(vm.m.heap.heapTop, heapStart);
}

}  // namespace
}  // namespace orvo::vm::test
