// The compiling tier on whole deliveries: translated code runs (and agrees with the
// plain step), code that the program, a block move or the host rewrites runs as
// rewritten, and translated code never sits in pages writable and executable at once.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "tests/vm/vm_test_support.h"
#include "vm/decode.h"
#include "vm/jit/translations.h"
#include "vm/stepper.h"

namespace orvo::vm::test {
namespace {

const uint32_t kAdd = Two(OP2_ADD, D, 30, 1, 1);  // add.d $1, =1

// A machine through the tier translating everything at once, and one through the plain
// step, loaded with the same image.
struct CompiledAndPlain {
  Vm compiled, plain;

  explicit CompiledAndPlain(const Image& image) {
    EXPECT_TRUE(compiled.Load(image));
    EXPECT_TRUE(plain.Load(image));
    compiled.m.tier = {true, 0};
    plain.m.interpret = InterpretReference;
  }
  void Call() {
    compiled.Call();
    plain.Call();
  }
  // Both memories and both hooks' messages agree.
  void ExpectSame() const {
    ASSERT_EQ(compiled.m.memSize, plain.m.memSize);
    for (uint32_t i = 0; i < compiled.m.memSize; ++i)
      ASSERT_EQ(compiled.m.mem[i], plain.m.mem[i]) << "at " << i;
    EXPECT_EQ(compiled.hooks.messages, plain.hooks.messages);
    EXPECT_EQ(compiled.m.stop, plain.m.stop);
  }
  const jit::TranslationStats& Stats() const {
    return compiled.m.translations->cache.stats();
  }
};

// sum $1 of 1 .. n in a counted loop.
Image SumLoop(uint32_t n) {
  Image image;
  image.Code(Sfvr(0, 64), Two(OP2_MOV, D, 30, 1, 0), Two(OP2_MOV, D, 22, 2, 0), n);
  const uint32_t loop = image.Code(Two(OP2_ADD, D, 28, 1, 2), Two(OP2_SUB, D, 30, 2, 1));
  image.Code(Lj(1, loop), Efr(0));
  return image;
}

TEST(CompiledTier, ALoopRunsTranslatedAndAgreesWithThePlainStep) {
  CompiledAndPlain vms(SumLoop(1000));
  vms.Call();
  EXPECT_EQ(vms.compiled.Reg(1), 500500u);
  vms.ExpectSame();
  EXPECT_GE(vms.Stats().blocks, 2u);
  EXPECT_GT(vms.Stats().entered, 0u);
  EXPECT_GT(vms.Stats().codeBytes, 0u);
}

TEST(CompiledTier, ColdCodeIsSteppedUntilItIsHot) {
  Vm vm;
  ASSERT_TRUE(vm.Load(SumLoop(3)));
  vm.m.tier = {true, 100};
  vm.Call();
  EXPECT_EQ(vm.Reg(1), 6u);
  EXPECT_EQ(vm.m.translations->cache.stats().blocks, 0u);
  for (int i = 0; i < 120; ++i) vm.Call();
  EXPECT_GT(vm.m.translations->cache.stats().blocks, 0u);
  EXPECT_EQ(vm.Reg(1), 6u);
}

// The loop stores a new instruction over one further on in its own block before that
// one first runs: every round runs the new one.
TEST(CompiledTier, AStoreIntoTheRunningBlockChangesWhatRunsNext) {
  Image image;
  image.Code(Sfvr(0, 64), Two(OP2_MOV, D, 30, 1, 0), Two(OP2_MOV, D, 30, 2, 7));
  const uint32_t load = image.Code(Two(OP2_MOV, D, 26, 3, 0), 0);  // $3 = [replacement]
  const uint32_t loop = image.Code(Two(OP2_MOV, D, 25, 3, 0), 0);  // [target] = $3
  const uint32_t target = image.Code(kAdd);
  image.Code(Two(OP2_SUB, D, 30, 2, 1), Lj(1, loop), Efr(0));
  const uint32_t replacement = image.Emit(Two(OP2_ADD, D, 30, 1, 3));  // add.d $1, =3
  image.Patch(load + 4, replacement);
  image.Patch(loop + 4, target);
  CompiledAndPlain vms(image);
  vms.Call();
  EXPECT_EQ(vms.compiled.Reg(1), 21u);
  vms.ExpectSame();
}

// The same through a block move, which the step runs.
TEST(CompiledTier, ABlockMoveOverTranslatedCodeChangesWhatRunsNext) {
  Image image;
  image.Code(Sfvr(0, 64), Two(OP2_MOV, D, 30, 1, 0), Two(OP2_MOV, D, 30, 2, 5));
  const uint32_t loop = image.Code(kAdd);
  const uint32_t move = image.Code(Two(OP2_MEMMOV, D, 21, 0, 0), 0, 0);  // [loop] = [new]
  image.Code(Two(OP2_SUB, D, 30, 2, 1), Lj(1, loop), Efr(0));
  const uint32_t replacement = image.Emit(Two(OP2_ADD, D, 30, 1, 4));
  image.Patch(move + 4, loop);
  image.Patch(move + 8, replacement);
  CompiledAndPlain vms(image);
  for (Vm* v : {&vms.compiled, &vms.plain}) Store32(v->m.mem + HDR_MOVE_COUNT, 1);
  vms.Call();
  EXPECT_EQ(vms.compiled.Reg(1), 1u + 4 * 4);
  vms.ExpectSame();
}

TEST(CompiledTier, CodeTheHostRewritesBetweenDeliveriesRunsAsRewritten) {
  Image image;
  const uint32_t add = image.Code(Sfvr(0, 0), kAdd) + 4;
  image.Code(Efr(0));
  CompiledAndPlain vms(image);
  vms.Call();
  EXPECT_EQ(vms.compiled.Reg(1), 1u);
  for (Vm* v : {&vms.compiled, &vms.plain}) Store32(v->m.mem + add, Two(OP2_ADD, D, 30, 1, 5));
  vms.Call();
  EXPECT_EQ(vms.compiled.Reg(1), 6u);
  vms.ExpectSame();
}

// Faults inside translated code are reported by the step, at the same instruction with
// the same message.
// Translated calls return by host returns only where the frame still names the place
// the call left: a routine that moves its return place on returns there.
TEST(CompiledTier, ARoutineReturnsWhereItsFrameSaysEvenAfterMovingIt) {
  Image image;
  image.Code(Sfvr(0, 64), Two(OP2_MOV, D, 30, 1, 0), Two(OP2_MOV, D, 22, 2, 0), 300);
  const uint32_t loop = image.Code(JsrAbs(0), 0);
  image.Code(Two(OP2_ADD, D, 30, 1, 1));  // skipped: the routine returns past it
  image.Code(Two(OP2_ADD, D, 30, 3, 1), JsrAbs(0), 0, Two(OP2_ADD, D, 30, 4, 1));
  image.Code(Two(OP2_SUB, D, 30, 2, 1), Lj(1, loop), Efr(0));
  // add.d [FP][4], =4: the word after the saved VFP is the place to return to.
  const uint32_t skipping = image.Code(Sfvr(0, 0), Two(OP2_ADD, D, 23, 4, 4), Efr(0));
  const uint32_t plain = image.Code(Sfvr(0, 0), Efr(0));
  image.Patch(loop + 4, skipping);
  image.Patch(loop + 20, plain);
  CompiledAndPlain vms(image);
  vms.Call();
  EXPECT_EQ(vms.compiled.Reg(1), 0u);
  EXPECT_EQ(vms.compiled.Reg(3), 300u);
  EXPECT_EQ(vms.compiled.Reg(4), 300u);
  vms.ExpectSame();
}

// A block goes on after its calls and pays for what follows each call only when the
// call returns: a run stopped by its budget at any instruction of a loop of calls stops
// where the plain step stops, with the same budget left.
TEST(CompiledTier, BlocksThatGoOnAfterCallsSpendTheBudgetAsThePlainStepDoes) {
  Image image;
  image.Code(Sfvr(0, 64), Two(OP2_MOV, D, 22, 2, 0), 20);
  const uint32_t loop = image.Code(JsrAbs(0), 0, Two(OP2_ADD, D, 30, 3, 1), JsrAbs(0), 0,
                                   Two(OP2_ADD, D, 30, 4, 2));
  image.Code(Two(OP2_SUB, D, 30, 2, 1), Lj(1, loop), Efr(0));
  const uint32_t routine = image.Code(Sfvr(0, 0), Two(OP2_ADD, D, 30, 1, 1), Efr(0));
  image.Patch(loop + 4, routine);
  image.Patch(loop + 16, routine);
  for (uint64_t budget = 1; budget <= 300; ++budget) {
    SCOPED_TRACE(testing::Message() << "budget " << budget);
    CompiledAndPlain vms(image);
    for (Vm* vm : {&vms.compiled, &vms.plain}) {
      vm->m.bounded = true;
      vm->m.budget = budget;
    }
    vms.Call();
    vms.ExpectSame();
    ASSERT_EQ(vms.compiled.m.budget, vms.plain.m.budget);
    if (budget == 300) {
      EXPECT_EQ(vms.compiled.Reg(1), 40u);
    }
  }
}

// Recursion deeper than the host stack the tier lends to calls goes on by plain jumps.
TEST(CompiledTier, RecursionDeeperThanTheHostCallsAllowReturnsAllTheWay) {
  constexpr uint32_t kDepth = 20000;
  Image image;
  image.stackSize = 32 * kDepth;
  image.Code(Sfvr(0, 0), Two(OP2_MOV, D, 22, 1, 0), kDepth, Two(OP2_MOV, D, 30, 2, 0));
  const uint32_t outer = image.Code(JsrAbs(0), 0, Efr(0));
  const uint32_t routine = image.Code(Sfvr(0, 0), Two(OP2_SUB, D, 30, 1, 1), Lj(0, 0));
  const uint32_t inner = image.Code(JsrAbs(0), routine);
  const uint32_t done = image.Code(Two(OP2_ADD, D, 30, 2, 1), Efr(0));
  image.Patch(outer + 4, routine);
  image.Patch(inner - 4, Lj(0, done));
  CompiledAndPlain vms(image);
  vms.Call();
  EXPECT_EQ(vms.compiled.Reg(2), kDepth);
  vms.ExpectSame();
}

// A program that copies code elsewhere and runs it, the copy rewriting its own first
// word from add.d $1, =1 to add.d $1, =3 (in $3) while it counts $2 down from kRounds:
// Main sets $1, $2 and $3 (then anything setup adds), copies the words and jumps to
// them, and the copy ends with a jump to back.
struct SelfRewritingCopy {
  static constexpr uint32_t kRounds = 50;
  Image image;
  uint32_t setup = 0, copies = 0, jump = 0, back = 0;

  SelfRewritingCopy(uint32_t words, std::initializer_list<uint32_t> more, uint32_t zeroSize = 0) {
    image.zeroSize = zeroSize;
    image.Code(Sfvr(0, 64), Two(OP2_MOV, D, 30, 1, 0), Two(OP2_MOV, D, 22, 2, 0), kRounds,
               Two(OP2_MOV, D, 22, 3, 0), Two(OP2_ADD, D, 30, 1, 3));
    setup = image.Here();
    for (const uint32_t w : more) image.Emit(w);
    copies = image.Here();
    for (uint32_t i = 0; i < words; ++i) image.Code(Two(OP2_MOV, D, 13, 0, 0), 0, 0);  // [a] = w
    jump = image.Code(Jmp(0));
    back = image.Code(Efr(0));
  }
  // Copies words to code and checks that each round ran the code as it stood then.
  void Run(uint32_t code, const std::vector<uint32_t>& words) {
    for (uint32_t i = 0; i < words.size(); ++i) {
      image.Patch(copies + 12 * i + 4, code + 4 * i);
      image.Patch(copies + 12 * i + 8, words[i]);
    }
    image.Patch(jump, Jmp(code));
    CompiledAndPlain vms(image);
    vms.Call();
    EXPECT_EQ(vms.plain.Reg(1), 1 + 3 * (kRounds - 1));
    vms.ExpectSame();
  }
};

// Code the program writes onto its stack and runs: a frame-relative store into it,
// which translated code otherwise lets through unchecked on the stack, changes what runs.
TEST(CompiledTier, CodeOnTheStackRewritesItselfThroughItsFrame) {
  SelfRewritingCopy program(5, {});
  // The delivery starts Main with VSP at the stack's top less its 24-byte frame, so
  // Main's sfvr leaves VFP 28 below the top; the code goes among Main's locals.
  const uint32_t fp = program.image.Here() + program.image.stackSize - 28, code = fp - 56;
  program.Run(code, {Two(OP2_ADD, D, 30, 1, 1),                     // add.d $1, =1: rewritten
                     Two(OP2_MOV, D, 19, 3, (code - fp) & 0xFFFF),  // mov.d [FP][code - VFP], $3
                     Two(OP2_SUB, D, 30, 2, 1), Lj(1, code), Jmp(program.back)});
}

// The same beyond the image, where translated stores skip the code map until code is
// translated there: code copied into the zero area rewrites itself through a register.
TEST(CompiledTier, CodeBeyondTheImageRewritesItselfThroughARegister) {
  SelfRewritingCopy program(6, {Two(OP2_MOV, D, 22, 4, 0), 0}, 256);  // $4 = the code
  const uint32_t code = program.image.Here();  // the first byte of the zero area
  program.image.Patch(program.setup + 4, code);
  program.Run(code, {Two(OP2_ADD, D, 30, 1, 1),    // add.d $1, =1: rewritten
                     Two(OP2_MOV, D, 2, 4, 3), 0,  // mov.d [$4][0], $3
                     Two(OP2_SUB, D, 30, 2, 1), Lj(1, code), Jmp(program.back)});
}

TEST(CompiledTier, FaultsInTranslatedCodeSayWhatThePlainStepSays) {
  const std::vector<std::vector<uint32_t>> bodies = {
      {Two(OP2_MOV, D, 30, 2, 0), Two(OP2_DIVI, D, 28, 1, 2)},        // divide by zero
      {Two(OP2_MOV, D, 22, 2, 0), 0xFFFFFF00, Two(OP2_MOV, D, 18, 1, 2), 0},  // bad address
      {Two(OP2_ADD, D, 30, 1, 1), 148},                                 // illegal opcode
  };
  for (const auto& body : bodies) {
    Image image;
    image.Code(Sfvr(0, 64));
    for (const uint32_t w : body) image.Emit(w);
    image.Code(Efr(0));
    CompiledAndPlain vms(image);
    vms.Call();
    ASSERT_EQ(vms.compiled.hooks.messages.size(), 1u);
    vms.ExpectSame();
  }
}

// Loads that translated code leaves to the guard after VM memory: at and around both
// ends of what it may touch, at every size, in each kind of instruction that leaves
// them, each says what the plain step says (a value, or the same message at the same
// place); and the same where memory has no guard and the loads keep their checks.
TEST(CompiledTier, LoadsAroundBothEndsOfMemoryAgreeWithThePlainStep) {
  Image probe;
  const uint32_t memSize = static_cast<uint32_t>(probe.Build().size()) + 6 * 4 +  // six words
                           probe.zeroSize + probe.stackSize + probe.heapSize;
  std::vector<uint32_t> addresses = {0, 8, 120, 504, 0x7FFFFFFF, 0x80000000, 0xFFFFFFF8};
  for (uint32_t d = 0; d <= 9; ++d) {
    addresses.push_back(512 - d);
    addresses.push_back(memSize - d);
    addresses.push_back(0xFFFFFFFF - d);
  }
  // Two words loading from [$2] at a size: op.size $1, [$2][0]; cmp.size [$2][0], $1;
  // tljeq.size [$2] to the next instruction.
  const auto load = [](unsigned op) {
    return [op](unsigned size) { return std::pair{Two(op, size, 18, 1, 2), 0u}; };
  };
  const std::function<std::pair<uint32_t, uint32_t>(unsigned)> forms[] = {
      load(OP2_MOV), load(OP2_MOVZ), load(OP2_ADD), load(OP2_CMP), load(OP2_DIVU), load(OP2_ADDF),
      [](unsigned size) { return std::pair{Two(OP2_CMP, size, 2, 2, 1), 0u}; },
      [](unsigned size) { return std::pair{Tlj(16, size, 0, 512 + 5 * 4), 2u}; }};
  for (const bool guarded : {true, false})
    for (const uint32_t address : addresses)
      for (unsigned size = B; size <= Q; ++size)
        for (const auto& form : forms) {
          const auto [op, extension] = form(size);
          Image image;
          image.Code(Sfvr(0, 64), Two(OP2_MOV, D, 22, 2, 0), address, op, extension, Efr(0));
          ASSERT_EQ(image.Build().size() + probe.zeroSize + probe.stackSize + probe.heapSize,
                    memSize);
          SCOPED_TRACE(testing::Message() << "address " << address << " word " << op
                                          << (guarded ? "" : " without the guard"));
          CompiledAndPlain vms(image);
          ASSERT_TRUE(vms.compiled.m.guarded);
          vms.compiled.m.guarded = guarded;
          vms.Call();
          vms.ExpectSame();
          EXPECT_EQ(vms.compiled.Reg(1), vms.plain.Reg(1));
        }
}

TEST(CompiledTier, TranslatedCodeIsNeverInAWritableAndExecutablePage) {
  CompiledAndPlain vms(SumLoop(50));
  vms.Call();
  ASSERT_GT(vms.Stats().blocks, 0u);
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    const std::string perms = line.substr(line.find(' ') + 1, 4);
    EXPECT_FALSE(perms[1] == 'w' && perms[2] == 'x') << line;
  }
}

// Sets a variable for the life of the object, then puts back what was there.
class ScopedVariable {
 public:
  explicit ScopedVariable(const char* name) : name_(name) {
    const char* was = std::getenv(name);
    had_ = was != nullptr;
    if (had_) was_ = was;
  }
  ~ScopedVariable() {
    if (had_)
      ::setenv(name_, was_.c_str(), 1);
    else
      ::unsetenv(name_);
  }
  void Set(const char* value) { ::setenv(name_, value, 1); }

 private:
  const char* name_;
  bool had_ = false;
  std::string was_;
};

TEST(CompiledTier, TheEnvironmentTurnsTheTierOffOrSetsItsThreshold) {
  ScopedVariable noJit("ORVO_NO_JIT"), threshold("ORVO_JIT_THRESHOLD");
  noJit.Set("1");
  threshold.Set("3");
  const TierSettings off = TierSettingsFromEnvironment();
  noJit.Set("0");
  threshold.Set("many");
  const TierSettings on = TierSettingsFromEnvironment();
  EXPECT_FALSE(off.enabled);
  EXPECT_EQ(off.threshold, 3u);
  EXPECT_TRUE(on.enabled);
  EXPECT_EQ(on.threshold, TierSettings{}.threshold);
}

}  // namespace
}  // namespace orvo::vm::test
