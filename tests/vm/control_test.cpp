#include <gtest/gtest.h>

#include "tests/vm/exec_fixture.h"
#include "vm/decode.h"

namespace orvo::vm::test {
namespace {

const std::string kIllegalAt204 =
    "Illegal opcode at 0x00000204\nTerminating program. So terribly sorry.";

TEST(Frames, EmptyHandlerReturnsToTheHostWithTheStackRestored) {
  Image image;
  image.Code(Sfvr(0, 0), Efr(0));
  Vm vm;
  ASSERT_TRUE(vm.Load(image));
  const uint32_t top = vm.Word(HDR_VSP);
  vm.m.mem[HDR_EVENT_RESULT] = 42;
  EXPECT_EQ(vm.Call(), 42);
  EXPECT_EQ(vm.Word(HDR_VSP), top);
  EXPECT_EQ(vm.Word(HDR_VPC), 0u);
  EXPECT_EQ(vm.hooks.endProgramCalls, 0);
}

TEST(Frames, CallsSaveRegistersAndRemoveArguments) {
  Image image;
  // entry: push 7 (d); jsrfr f with 4 argument bytes; $1 = [VFP+12] seen by f in $2
  image.Code(Sfvr(0, 0), PushShort(D, 7));
  const uint32_t jsr = image.Code(JsrAbs(4), 0);
  const uint32_t afterCall = image.Here();
  image.Code(Two(OP2_MOV, Q, 22, 5, 0), 0, 0);  // $5 = 0 marks that we came back
  image.Code(Efr(0));
  const uint32_t f = image.Code(Sfvr(2, 8));                           // saves $12 and $13
  image.Code(Two(OP2_MOV, D, 17, 2, 12));                              // $2 = first argument
  image.Code(Two(OP2_MOV, Q, 30, 12, 1), Two(OP2_MOV, Q, 30, 13, 2));  // clobber
  image.Code(Two(OP2_MOV, D, 17, 3, 8));                               // $3 = argument byte count
  image.Code(Two(OP2_MOV, D, 17, 4, 4));                               // $4 = return address
  image.Code(Efr(2));
  image.Patch(jsr + 4, f);
  Vm vm;
  ASSERT_TRUE(vm.Load(image));
  const uint32_t top = vm.Word(HDR_VSP);
  vm.SetReg(12, 0x1212);
  vm.SetReg(13, 0x1313);
  vm.SetReg(5, 99);
  vm.Call();
  EXPECT_EQ(vm.Reg(2), 7u);
  EXPECT_EQ(vm.Reg(3), 4u);
  EXPECT_EQ(vm.Reg(4), afterCall);
  EXPECT_EQ(vm.Reg(12), 0x1212u);
  EXPECT_EQ(vm.Reg(13), 0x1313u);
  EXPECT_EQ(vm.Reg(5), 0u);
  EXPECT_EQ(vm.m.pcPreJsr, jsr + 4);
  EXPECT_EQ(vm.Word(HDR_VSP), top);
}

TEST(Frames, CallThroughRegisterAndJumps) {
  Image image;
  image.Code(Sfvr(0, 0));                   // 0x200
  image.Code(JsrReg(7, 0));                 // 0x204: call [$7]
  image.Code(Jmp(0x214));                   // 0x208
  image.Code(Two(OP2_MOV, D, 30, 1, 1));    // 0x20C skipped
  image.Code(Efr(0));                       // 0x210 never reached
  image.Code(JmpMem(8, 4));                 // 0x214: to the word at $8 + 4
  image.Code(Two(OP2_MOV, D, 30, 1, 2));    // 0x218 skipped
  const uint32_t end = image.Code(Efr(0));  // 0x21C
  const uint32_t sub = image.Code(Sfvr(0, 0), Two(OP2_MOV, D, 30, 2, 3), Efr(0));
  const uint32_t table = image.Code(0, end);
  Vm vm;
  ASSERT_TRUE(vm.Load(image));
  vm.SetReg(7, sub);
  vm.SetReg(8, table);
  vm.Call();
  EXPECT_EQ(vm.Reg(2), 3u);
  EXPECT_EQ(vm.Reg(1), 0u);
  EXPECT_EQ(vm.m.pcPreJsr, 0x208u);
  EXPECT_TRUE(vm.hooks.messages.empty());
}

TEST(Frames, RegisterCountAbove14IsIllegal) {
  for (uint32_t w : {Sfvr(15, 0), Efr(15)}) {
    Image image;
    image.Code(Sfvr(0, 0), w, Efr(0));
    Vm vm;
    ASSERT_TRUE(vm.Load(image));
    vm.Call();
    EXPECT_EQ(vm.hooks.messages, std::vector<std::string>{kIllegalAt204});
    EXPECT_EQ(vm.Word(HDR_VPC), 0x208u);
  }
}

class Control : public ExecTest {};

TEST_F(Control, TestAndJumpReplacesTheFlagsEvenWithoutJumping) {
  Run({Tlj(0, D, 0, 0x300), 1,  // tljeq $1: $1 = 0x80000000, not taken, flags negative
       Two(OP2_MOV, D, 19, 1, static_cast<uint32_t>(-4))},
      [](Vm& v) { v.SetReg(1, 0x80000000); });
  EXPECT_EQ(vm.Flags(), FLAG_NEGATIVE);
  EXPECT_EQ(vm.Word(BodyFp() - 4), 0x80000000u);
}

TEST_F(Control, IndirectTestIgnoresAnyOffset) {
  image.zeroSize = 0x100;
  // tljne on [$3] at size b jumps over the marker when the byte is non-zero.
  const uint32_t here = image.Here() + 4;  // after sfvr
  Run({Tlj(16, B, 1, here + 12), 3, Two(OP2_MOV, D, 30, 1, 1), NOP}, [](Vm& v) {
    v.SetReg(3, 0x700);
    v.m.mem[0x700] = 0x81;
  });
  EXPECT_EQ(vm.Reg(1), 0u);
  EXPECT_EQ(vm.Flags(), FLAG_NEGATIVE | FLAG_ODD);
}

TEST_F(Control, LongJumpsFollowTheirCondition) {
  const uint32_t start = image.Here() + 4;
  Run({Two(OP2_CMP, D, 30, 1, 2),  // $1 (=5) - 2 > 0
       Lj(5, start + 16),          // ljlt: not taken
       Lj(3, start + 16),          // ljgt: taken
       Two(OP2_MOV, D, 30, 2, 1),  // skipped
       Two(OP2_MOV, D, 30, 3, 1)},
      [](Vm& v) { v.SetReg(1, 5); });
  EXPECT_EQ(vm.Reg(2), 0u);
  EXPECT_EQ(vm.Reg(3), 1u);
}

TEST_F(Control, PushAndPopMoveTheStackBySize) {
  Run({One(ONE_REG, OP1_PUSH, B, 1),                   // 2 bytes
       One(ONE_REG, OP1_POP, W, 2),                    // the byte zero-extended
       PushShort(B, -1), One(ONE_REG, OP1_POP, D, 3),  // 2 pushed, 4 popped
       PushLong(Q), 0x55667788, 0x11223344, One(ONE_REG, OP1_POP, Q, 4), PushShort(Q, -2),
       One(ONE_REG, OP1_POP, Q, 5), One(ONE_FRAME, OP1_PEA, D, static_cast<uint32_t>(-4)),
       One(ONE_REG, OP1_POP, D, 6)},
      [](Vm& v) {
        v.SetReg(1, 0x1FF);
        v.SetReg(2, 0xAAAAAAAAAAAAAAAA);
      });
  EXPECT_EQ(vm.Reg(2), 0xAAAAAAAAAAAA00FFu);
  EXPECT_EQ(vm.Reg(3) & 0xFFFF, 0xFFFFu);
  EXPECT_EQ(vm.Reg(4), 0x1122334455667788u);
  EXPECT_EQ(vm.Reg(5), 0xFFFFFFFFFFFFFFFEu);
  EXPECT_EQ(vm.Reg(6), BodyFp() - 4);
}

TEST_F(Control, HeaderStateWrittenAsDataHasNoLastingEffect) {
  Run({Two(OP2_MOV, D, 29, 0, 0), HDR_VSP, Two(OP2_MOV, B, 29, 7, 0), HDR_FLAGS,
       Two(OP2_MOV, D, 26, 1, 0), HDR_VSP});
  EXPECT_EQ(vm.Reg(1), BodyFp() - 64);  // the working VSP won
  EXPECT_EQ(vm.Word(HDR_VPC), 0u);
}

TEST_F(Control, PushMemoryAndPopMemoryCheckTheStack) {
  image.zeroSize = 0x100;
  Run({Two(OP2_PUMEM, B, 21, 0, 0), 0x700, 0x710,   // count at 0x700 (3), from 0x710
       Two(OP2_POMEM, W, 21, 0, 0), 0x700, 0x720},  // copy 3 back to 0x720
      [](Vm& v) {
        v.m.mem[0x700] = 3;
        v.m.mem[0x701] = 0;
        for (int i = 0; i < 3; ++i) v.m.mem[0x710 + i] = static_cast<uint8_t>(0xA0 + i);
      });
  for (int i = 0; i < 3; ++i) EXPECT_EQ(vm.m.mem[0x720 + i], 0xA0 + i);
  EXPECT_TRUE(vm.hooks.messages.empty());
}

TEST(StackChecks, PushMemoryBeyondTheLimitIsAStackOverflow) {
  Image image;
  image.stackSize = 300;
  image.zeroSize = 0x100;
  image.Code(Sfvr(0, 0), Two(OP2_PUMEM, W, 21, 0, 0), 0x700, 0x710, Efr(0));
  Vm vm;
  ASSERT_TRUE(vm.Load(image));
  Store16(vm.m.mem + 0x700, 200);  // leaves less than the 100-byte margin
  vm.Call();
  EXPECT_EQ(vm.hooks.messages,
            std::vector<std::string>{"Stack overflow at 0x00000204. Terminating. So sorry."});
  EXPECT_EQ(vm.Word(HDR_VPC), 0x210u);
  EXPECT_EQ(vm.hooks.endProgramCalls, 1);
}

TEST(StackChecks, PopMemoryPastTheTopIsAStackOverflow) {
  Image image;
  image.zeroSize = 0x100;
  image.Code(Sfvr(0, 0), Two(OP2_POMEM, B, 29, 0, 0), 0x700, Efr(0));  // count from [0x700]
  Vm vm;
  ASSERT_TRUE(vm.Load(image));
  vm.m.mem[0x700] = 200;
  vm.Call();
  ASSERT_EQ(vm.hooks.messages.size(), 1u);
  EXPECT_EQ(vm.hooks.messages[0], "Stack overflow at 0x00000204. Terminating. So sorry.");
}

TEST(StackChecks, DeliveryNeedsAHundredBytesOfStack) {
  Image image;
  image.stackSize = 99;
  image.Code(Sfvr(0, 0), Efr(0));
  Vm vm;
  ASSERT_TRUE(vm.Load(image));
  vm.Call();
  EXPECT_EQ(vm.hooks.messages, std::vector<std::string>{"Out of stack"});
  EXPECT_TRUE(vm.m.Fatal());
  EXPECT_EQ(vm.m.ExitCode(), 1);
}

TEST(SystemInstructions, TermLeavesThePcOnItselfAndEndsTheProgram) {
  Image image;
  image.Code(Sfvr(0, 0), NOP, BRK, 300, 1023, TERM);
  Vm vm;
  ASSERT_TRUE(vm.Load(image));
  vm.Call();
  EXPECT_EQ(vm.Word(HDR_VPC), 0x214u);
  EXPECT_EQ(vm.m.hostFlags, HOST_END_PROGRAM | HOST_ENDING);
  EXPECT_EQ(vm.hooks.endProgramCalls, 1);
  EXPECT_TRUE(vm.hooks.messages.empty());
}

TEST(SystemInstructions, IllegalOpcodesStopAfterTheInstruction) {
  const std::vector<std::vector<uint32_t>> programs = {
      {4},
      {148},
      {Two(24, D, 22, 1, 0), 5},
      {One(ONE_REG, 7, D, 1)},
      {One(ONE_REG, OP1_NEG, D, 16)},  // register number beyond $15
      {Tlj(0, D, 0, 0), 16},
  };
  const uint32_t lengths[] = {4, 4, 8, 4, 4, 8};
  for (size_t i = 0; i < programs.size(); ++i) {
    Image image;
    image.Code(Sfvr(0, 0));
    for (uint32_t w : programs[i]) image.Emit(w);
    image.Code(Efr(0));
    Vm vm;
    ASSERT_TRUE(vm.Load(image));
    vm.Call();
    EXPECT_EQ(vm.hooks.messages, std::vector<std::string>{kIllegalAt204}) << i;
    EXPECT_EQ(vm.Word(HDR_VPC), 0x204 + lengths[i]) << i;
    EXPECT_EQ(vm.m.hostFlags, HOST_END_PROGRAM | HOST_ENDING) << i;
  }
}

TEST(SystemInstructions, DebugTextGoesToTheLog) {
  Image image;
  image.Code(Sfvr(0, 0), DBG, DBG, Efr(0));
  const uint32_t text = image.Text("hello\n");
  Vm vm;
  ASSERT_TRUE(vm.Load(image));
  vm.SetReg(15, text);
  vm.Call();
  EXPECT_EQ(vm.hooks.debugLog, "hello\nhello\n");
}

TEST(SystemInstructions, SuspendAndResumeAcrossDeliveries) {
  // Event 5 sets $1 = 7 and suspends; event 6 clears $1 and resumes; the resumed code
  // copies $1 into $2 and returns.
  Image image;
  image.Code(Sfvr(0, 0));
  image.Code(Two(OP2_MOV, D, 17, 3, 12));  // $3 = event code
  image.Code(Two(OP2_CMP, D, 30, 3, 6));
  const uint32_t jump = image.Code(Lj(0, 0));
  image.Code(Two(OP2_MOV, D, 30, 1, 7), SMOD);
  image.Code(Two(OP2_MOV, Q, 28, 2, 1), Efr(0));
  const uint32_t resume = image.Code(Two(OP2_MOV, D, 30, 1, 0), EMOD, Efr(0));
  image.Patch(jump, Lj(0, resume));
  Vm vm;
  ASSERT_TRUE(vm.Load(image));
  const uint32_t top = vm.Word(HDR_VSP);
  vm.Call(5);
  EXPECT_EQ(vm.m.modalDepth, 1);
  EXPECT_EQ(vm.Word(HDR_STATE_CHAIN), top - 24 - 4 - 140);
  EXPECT_EQ(vm.Word(HDR_VPC), 0x218u);
  EXPECT_EQ(vm.Reg(2), 0u);
  vm.Call(6);
  EXPECT_EQ(vm.m.modalDepth, 0);
  EXPECT_EQ(vm.Reg(2), 7u);  // $1 as it was at smod
  EXPECT_EQ(vm.Word(HDR_VSP), top);
  EXPECT_EQ(vm.Word(HDR_VPC), 0u);
  EXPECT_TRUE(vm.hooks.messages.empty());
}

TEST(SystemInstructions, ResumeWithNothingSavedShowsTheMessage) {
  Image image;
  image.Code(EMOD, Efr(0));
  Vm vm;
  ASSERT_TRUE(vm.Load(image));
  vm.Call();
  EXPECT_EQ(vm.hooks.messages, std::vector<std::string>{"Illegal EMOD at 0x00000200"});
  EXPECT_EQ(vm.Word(HDR_VPC), 0x204u);
  EXPECT_EQ(vm.m.hostFlags, 0u);
}

TEST(MemorySafety, AccessesOutsideVmMemoryStopTheProgram) {
  struct Case {
    std::vector<uint32_t> code;
    uint32_t address;
  } cases[] = {
      {{Two(OP2_MOV, D, 26, 1, 0), 0xFFFFFFFE}, 0xFFFFFFFE},     // read
      {{Two(OP2_MOV, Q, 29, 1, 0), 0xFFFFFFF0}, 0xFFFFFFF0},     // write
      {{Two(OP2_MOVZ, B, 25, 1, 0), 0}, 0},                      // fine: in memory
      {{One(ONE_ABS, OP1_CVSD, B, 0), 0x7FFFFFFC}, 0x7FFFFFFC},  // writes 8 bytes
      {{JmpMem(1, 0)}, 0x40000000},
  };
  for (const Case& c : cases) {
    Image image;
    image.Code(Sfvr(0, 0));
    for (uint32_t w : c.code) image.Emit(w);
    image.Code(Efr(0));
    Vm vm;
    ASSERT_TRUE(vm.Load(image));
    vm.SetReg(1, 0x40000000);
    vm.Call();
    if (c.address == 0) {
      EXPECT_TRUE(vm.hooks.messages.empty());
      continue;
    }
    char expected[128];
    std::snprintf(expected, sizeof expected,
                  "Bad memory address 0x%08X at 0x00000204\nTerminating program. So terribly "
                  "sorry.",
                  c.address);
    EXPECT_EQ(vm.hooks.messages, std::vector<std::string>{expected});
    EXPECT_EQ(vm.hooks.endProgramCalls, 1);
  }
}

TEST(MemorySafety, RunningOffTheEndOfMemoryStops) {
  Image image;
  image.stackSize = 200;
  image.heapSize = 4;
  image.Code(Jmp(0));  // to 0: the header is data, fetched and run until something stops
  Vm vm;
  ASSERT_TRUE(vm.Load(image));
  Store32(vm.m.mem + 512, Jmp(vm.m.memSize - 4));
  vm.Call();
  ASSERT_EQ(vm.hooks.messages.size(), 1u);
  EXPECT_EQ(vm.hooks.messages[0].rfind("Bad memory address", 0), 0u);
}

TEST(Budget, BoundedRunsStopAfterTheirInstructions) {
  Image image;
  image.Code(Jmp(0x200));  // endless loop
  Vm vm;
  ASSERT_TRUE(vm.Load(image));
  vm.m.bounded = true;
  vm.m.budget = 1000;
  vm.Call();
  EXPECT_TRUE(vm.m.BudgetSpent());
  EXPECT_EQ(vm.m.budget, 0u);
}

// The run's stop carries the fault that ended it; messages that let the program go on
// (an emod with nothing saved, an unknown request) are noted but stop nothing.
TEST(Faults, TheStopCarriesTheKindAndPlaceOfTheFaultThatEndedTheRun) {
  struct Case {
    std::vector<uint32_t> code;
    FaultKind kind;
    uint32_t at, address;
    bool ends;
  };
  const Case cases[] = {
      {{Sfvr(0, 0), Sfvr(15, 0), Efr(0)}, FaultKind::ILLEGAL_OPCODE, 0x204, 0, true},
      {{Sfvr(0, 0), Two(OP2_DIVI, D, 28, 1, 2), Efr(0)}, FaultKind::DIVIDE_BY_ZERO, 0x204, 0, true},
      {{Sfvr(0, 0), Two(OP2_POMEM, B, 29, 0, 0), 0x700, Efr(0)},
       FaultKind::STACK_OVERFLOW,
       0x204,
       0,
       true},
      {{Sfvr(0, 0), Two(OP2_MOV, D, 26, 1, 0), 0xFFFFFFFE, Efr(0)},
       FaultKind::BAD_ADDRESS,
       0x204,
       0xFFFFFFFE,
       true},
      {{EMOD, Efr(0)}, FaultKind::ILLEGAL_EMOD, 0x200, 0, false},
  };
  for (const Case& c : cases) {
    Image image;
    image.zeroSize = 0x100;
    for (uint32_t w : c.code) image.Emit(w);
    Vm vm;
    ASSERT_TRUE(vm.Load(image));
    vm.m.mem[0x700] = 200;
    vm.SetReg(1, 0x40000000);
    vm.Call();
    const Fault expected{c.kind, c.at, c.address};
    EXPECT_EQ(vm.hooks.faults, std::vector<Fault>{expected}) << static_cast<int>(c.kind);
    EXPECT_EQ(vm.m.stop.fault, c.ends ? expected : Fault{}) << static_cast<int>(c.kind);
    EXPECT_EQ(vm.m.ProgramFault(), c.ends);
    EXPECT_TRUE(vm.hooks.unnoted.empty());
  }
}

}  // namespace
}  // namespace orvo::vm::test
