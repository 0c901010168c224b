// The stepper a debugger drives: it stops before an instruction at a breakpoint or once
// its steps have run, after an instruction that changed a watched byte, and where the
// program leaves.
#include "vm/stepper.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <utility>
#include <vector>

#include "tests/vm/vm_test_support.h"
#include "vm/decode.h"

namespace orvo::vm::test {
namespace {

// sfvr, $3 = 7, [kData] = $3, efr: four instructions, then the data word.
constexpr uint32_t kStore = 524, kEfr = 532, kData = 536;
constexpr uint64_t kInstructions = 4;

// A machine entered at the program's entry with nothing run yet: a delivery whose
// budget is spent before its first instruction.
StopConditions Conditions(std::vector<uint32_t> breakpoints, std::vector<WatchRange> watches,
                          uint64_t steps = std::numeric_limits<uint64_t>::max()) {
  StopConditions c;
  c.breakpoints = std::move(breakpoints);
  c.writeWatches = std::move(watches);
  c.steps = steps;
  return c;
}

void Enter(Vm& vm) {
  Image image;
  image.Code(Sfvr(0, 0), Two(OP2_MOV, D, 22, 3, 0), 7);
  image.Code(Two(OP2_MOV, D, 25, 3, 0), kData, Efr(0), 0);
  ASSERT_TRUE(vm.Load(image));
  vm.m.bounded = true;
  vm.m.budget = 0;
  vm.Call();
  vm.m.bounded = false;
  ASSERT_EQ(vm.m.Word(HDR_VPC), ENTRY_ADDRESS);
}

TEST(StepUntil, StopsAtABreakpointAndResumesOverIt) {
  Vm vm;
  Enter(vm);
  Stopped stop = StepUntil(vm.m, Conditions({kStore}, {}));
  EXPECT_EQ(stop.reason, StopReason::BREAKPOINT);
  EXPECT_EQ(stop.steps, 2u);
  EXPECT_EQ(vm.m.Word(HDR_VPC), kStore);
  EXPECT_EQ(vm.Word(kData), 0u);

  // Resuming runs the instruction at the breakpoint; the watched byte stays 0.
  stop = StepUntil(vm.m, Conditions({kStore}, {{kData + 3, kData + 4}}));
  EXPECT_EQ(stop.reason, StopReason::LEFT);
  EXPECT_EQ(stop.steps, 2u);
  EXPECT_EQ(vm.Word(kData), 7u);
}

TEST(StepUntil, StopsAfterTheInstructionThatChangedAWatchedByte) {
  Vm vm;
  Enter(vm);
  const Stopped stop = StepUntil(vm.m, Conditions({}, {{0, 4}, {kData, kData + 4}}));
  EXPECT_EQ(stop.reason, StopReason::WATCH);
  EXPECT_EQ(stop.steps, 3u);
  EXPECT_EQ(vm.m.Word(HDR_VPC), kEfr);
  EXPECT_EQ(vm.Word(kData), 7u);
}

TEST(StepUntil, AnySplitOfTheStepsEndsLikeOneRun) {
  Vm whole;
  Enter(whole);
  ASSERT_EQ(StepUntil(whole.m, {}).steps, kInstructions);
  for (uint64_t k = 0; k <= kInstructions; ++k) {
    Vm split;
    Enter(split);
    const Stopped first = StepUntil(split.m, Conditions({}, {}, k));
    EXPECT_EQ(first.reason, k < kInstructions ? StopReason::STEPS : StopReason::LEFT) << k;
    EXPECT_EQ(first.steps, k);
    if (k < kInstructions) {
      EXPECT_EQ(StepUntil(split.m, {}).steps, kInstructions - k) << k;
    }
    EXPECT_TRUE(std::equal(split.m.mem, split.m.mem + split.m.memSize, whole.m.mem)) << k;
  }
}

}  // namespace
}  // namespace orvo::vm::test
