#include <gtest/gtest.h>

#include "tests/vm/vm_test_support.h"
#include "vm/decode.h"

namespace orvo::vm::test {
namespace {

// Runs one sys request per entry of requests (command and one argument), each request
// block built in the image; $15 is pointed at each block in turn.
struct SysRun {
  Vm vm;
  std::vector<uint32_t> blocks;

  void Run(const std::vector<std::pair<uint32_t, uint32_t>>& requests, uint32_t zeroSize = 256) {
    Image image;
    image.zeroSize = zeroSize;
    image.Code(Sfvr(0, 0));
    const uint32_t code = image.Here();
    for (size_t i = 0; i < requests.size(); ++i) image.Code(Two(OP2_MOV, D, 22, 15, 0), 0, SYS);
    image.Code(Efr(0));
    for (size_t i = 0; i < requests.size(); ++i) {
      blocks.push_back(image.Code(requests[i].first, requests[i].second));
      image.Patch(code + 12 * static_cast<uint32_t>(i) + 4, blocks.back());
    }
    ASSERT_TRUE(vm.Load(image));
    vm.SetReg(14, 0xAAAAAAAA00000000);
    vm.Call();
  }
};

TEST(Sys, UnknownAndIgnoredCommands) {
  SysRun r;
  r.Run({{2560, 0}, {256, 0}, {1024, 0}, {515, 0}, {2309, 0}, {1540, 0}});
  // One message, naming the sys instruction: the first request's sys is at 0x20C.
  EXPECT_EQ(r.vm.hooks.messages,
            std::vector<std::string>{"Unknown SYS command at 0x0000020C. Ack!"});
  EXPECT_EQ(r.vm.hooks.faults, (std::vector<Fault>{{FaultKind::UNKNOWN_REQUEST, 0x20C, 0}}));
  EXPECT_TRUE(r.vm.hooks.unnoted.empty());
  EXPECT_FALSE(r.vm.m.ProgramFault());
  EXPECT_EQ(r.vm.Reg(14), 0xAAAAAAAA00000000u);
}

TEST(Sys, GroupsOutsideTheCoreWithoutTheirRowsReportTheUnknownCommand) {
  SysRun r;
  r.Run({{0x000, 0}, {0x3FF, 0}, {0x500, 0}, {0x7AB, 0}, {0x801, 0}});
  EXPECT_EQ(r.vm.hooks.messages.size(), 5u);
}

TEST(Sys, TimeRows) {
  SysRun r;
  r.Run({{512, 100}, {513, 0}, {514, 0x300 + 0}});
  EXPECT_EQ(r.vm.hooks.timerPeriod, 100u);
  // The result leaves the high half of $14 alone.
  EXPECT_EQ(r.vm.Reg(14), 0xAAAAAAAA00000000u | 1234);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(r.vm.m.mem + 0x300)), "2024-02-03 07:05:09");
}

TEST(Sys, SoundRowsAnswerNoMusic) {
  SysRun r;
  r.Run({{1539, 0}});
  EXPECT_EQ(r.vm.Reg(14) & 0xFFFFFFFF, 0u);
  EXPECT_TRUE(r.vm.hooks.messages.empty());
}

TEST(Sys, HeapRows) {
  SysRun r;
  // alloc 32 → handle 1; lock handle 1; unlock; address; free; lock of a bad handle.
  r.Run({{2304, 32}, {2306, 1}, {2307, 1}, {2308, 1}, {2305, 1}, {2306, 70000}});
  EXPECT_EQ(r.vm.Reg(14) & 0xFFFFFFFF, 0xFFFFFFFFu);
  EXPECT_EQ(r.vm.hooks.messages, std::vector<std::string>{"LockHeap() failed"});
  // The freed handle is back in the unused list after the delivery's compaction.
  EXPECT_EQ(r.vm.m.heap.records[1].list, LIST_UNUSED);
}

TEST(Sys, LockStampIsTheSysInstructionsStackPlus20) {
  SysRun r;
  r.Run({{2304, 8}, {2306, 1}});
  // The lock survives to the end of the delivery, which the frame's efr releases.
  EXPECT_EQ(r.vm.Reg(14) & 0xFFFFFFFF, r.vm.m.heap.records[1].address);
  EXPECT_EQ(r.vm.m.heap.records[1].list, LIST_ALLOCATED);
  EXPECT_FALSE(r.vm.m.Fatal());
}

TEST(Sys, LockStampValue) {
  // Checked directly: run the lock and stop before efr with term.
  Image image;
  image.Code(Sfvr(0, 0), Two(OP2_MOV, D, 22, 15, 0), 0, SYS, Two(OP2_MOV, D, 22, 15, 0), 0, SYS,
             TERM);
  const uint32_t alloc = image.Code(2304, 8), lock = image.Code(2306, 1);
  image.Patch(0x208, alloc);
  image.Patch(0x214, lock);
  Vm vm;
  ASSERT_TRUE(vm.Load(image));
  const uint32_t top = vm.Word(HDR_STACK_TOP);
  CallProgram(vm.m, 5, 0, 0, 0);
  EXPECT_EQ(vm.m.heap.records[1].lockStamp, top - 28 + 20);
  EXPECT_EQ(vm.Word(HDR_VSP), top - 28);
  // term ended the delivery with the block still locked: compaction refuses.
  EXPECT_TRUE(vm.m.Fatal());
}

TEST(Sys, RequestOutsideMemoryStopsTheProgram) {
  Image image;
  image.Code(Sfvr(0, 0), SYS, Efr(0));
  Vm vm;
  ASSERT_TRUE(vm.Load(image));
  vm.SetReg(15, 0xFFFFFFFE);
  vm.Call();
  EXPECT_EQ(vm.hooks.messages,
            std::vector<std::string>{"Bad memory address 0xFFFFFFFE at 0x00000204\nTerminating "
                                     "program. So terribly sorry."});
  EXPECT_EQ(vm.hooks.endProgramCalls, 1);
}

}  // namespace
}  // namespace orvo::vm::test
