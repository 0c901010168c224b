// The fast loop of interpreter.cpp and the compiling tier of vm/jit/ against the plain
// step of step.cpp: two machines load the same image and run it, one through the tier
// under test and one through InterpretReference, one instruction at a time or with
// budgets; after each run their whole memory (registers and header included), their
// machine fields and everything they told the hooks must agree.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "tests/vm/differential.h"
#include "tests/vm/vm_test_support.h"

namespace orvo::vm::test {
namespace {

class DispatchReference : public testing::TestWithParam<Tier> {};

TEST_P(DispatchReference, RandomStreamsAgreeAfterEveryInstruction) {
  constexpr int kStreams = 60, kSteps = 400;
  for (int stream = 0; stream < kStreams; ++stream) {
    StreamGen gen(1000 + stream);
    Twins twins(gen.MakeImage(), GetParam());
    std::vector<uint8_t> mem = twins.Memory();
    gen.Seed(mem);
    twins.SetMemory(mem);
    for (int step = 0; step < kSteps; ++step) {
      const uint32_t pc = Load32(twins.fast().m.mem + HDR_VPC);
      const std::string before = Describe(twins, pc);
      twins.Step();
      const std::string diff = twins.Difference();
      ASSERT_EQ(diff, "") << "stream " << stream << ", step " << step << ", " << before;
      // A stream that stopped (returned to 0, ended, faulted) goes on elsewhere.
      if (!twins.fast().m.BudgetSpent() || twins.fast().m.hostFlags != 0)
        twins.Restart(gen.Target());
    }
  }
}

// Straight runs of register and short-immediate operations on one register at one size,
// which the fast loop runs handler after handler without a single change of place (and
// near misses: another register, another size, an operation that needs the plain step,
// an illegal one), must end exactly as the plain step ends them, unbounded and with
// budgets that stop inside a run.
class ChainGen : public StreamGen {
 public:
  using StreamGen::StreamGen;

  // One chain: a first instruction of any format with a register destination, then
  // operations on that register.
  void Chain(std::vector<uint32_t>& code) {
    static constexpr unsigned kFirstFormats[] = {17, 18, 22, 26, 28, 30};
    const unsigned format = kFirstFormats[Pick(6)];
    const unsigned size = Pick(8) ? 2 + Pick(2) : Pick(4);
    const unsigned a = Reg();
    const unsigned op = Pick(2) ? unsigned{OP2_MOV} : Op();
    const uint32_t upper = format == 17 ? 8 * Pick(4) + 12 : Reg();
    code.push_back(format | a << 5 | size << 9 | op << 11 | (upper & 0xFFFF) << 16);
    if (format == 18) code.push_back(0);
    if (format == 26) code.push_back(kDataStart + 8 * Pick(64));
    if (format == 22) {
      code.push_back(Immediate());
      if (size == Q) code.push_back(Immediate());
    }
    for (unsigned n = 1 + Pick(5); n > 0; --n) {
      const unsigned format2 = Pick(2) ? 28 : 30;
      const unsigned a2 = Pick(8) ? a : Reg();
      const unsigned size2 = Pick(8) ? size : Pick(4);
      const unsigned b2 = format2 == 28 ? (Pick(4) ? Reg() : a) : Pick(16);
      code.push_back(format2 | a2 << 5 | size2 << 9 | Op() << 11 | b2 << 16);
    }
  }

  // Mostly operations that pair, now and then any operation at all.
  unsigned Op() { return Pick(20) ? Pick(24) : Pick(32); }

  // The code, then TERM, then the data.
  Image CodeImage(const std::vector<uint32_t>& code) {
    Image image;
    image.zeroSize = kZeroBytes;
    image.stackSize = kStackBytes;
    image.heapSize = kHeapBytes;
    for (const uint32_t w : code) image.Emit(w);
    image.Emit(TERM);
    while (image.Here() < kCodeStart + kCodeBytes) image.Emit(NOP);
    for (uint32_t i = 0; i < kDataBytes; i += 4) image.Emit(Immediate());
    return image;
  }

  // Runs the image from the code's start on both twins with registers for the chains;
  // what differs (empty when nothing does), and in translated whether translated code ran.
  std::string RunFromStart(const Image& image, Tier tier, uint64_t budget, bool& translated) {
    Twins twins(image, tier);
    std::vector<uint8_t> mem = twins.Memory();
    Seed(mem);
    for (unsigned r = 0; r < 16; ++r) Store64(mem.data() + RegisterAddress(r), ChainRegister());
    Store32(mem.data() + HDR_VPC, kCodeStart);
    Store32(mem.data() + HDR_VFP, kStackTop - 64);
    twins.SetMemory(mem);
    twins.Run(budget);
    translated = twins.TranslatedEntries() > 0;
    return twins.Difference();
  }

  // Runs the image with each budget: what differs first (empty when nothing does), and
  // the unbounded runs that went through translated code counted in translatedRuns.
  std::string RunWithBudgets(const Image& image, Tier tier, std::span<const uint64_t> budgets,
                             int& translatedRuns) {
    for (const uint64_t budget : budgets) {
      bool translated = false;
      const std::string diff = RunFromStart(image, tier, budget, translated);
      if (!diff.empty()) return "budget " + std::to_string(budget) + ": " + diff;
      if (budget == 0 && translated) ++translatedRuns;
    }
    return {};
  }

  // Registers hold small numbers and double values, so that divisions mostly work and
  // float operations see ordinary operands as well as NaNs.
  uint64_t ChainRegister() {
    switch (Pick(8)) {
      case 0:
      case 1:
        return 0x3FF0000000000000u + (uint64_t{Word()} << 20);
      case 2:
        return 0x7FF8000000000000u | Word();
      case 3:
        return Quad();
      default:
        return 1 + Pick(1000);
    }
  }
};

TEST_P(DispatchReference, ChainsOnOneRegisterAgreeWithThePlainStep) {
  constexpr int kPrograms = 300;
  int translatedRuns = 0;  // unbounded runs that went through translated code
  for (int program = 0; program < kPrograms; ++program) {
    ChainGen gen(50000 + program);
    std::vector<uint32_t> code;
    // Now and then a conditional jump after a chain, decided with the chain's last
    // operation: forward to the next chain or to the end, so the program always ends.
    std::vector<size_t> toEnd;
    while (code.size() < kCodeBytes / 4 - 32) {
      gen.Chain(code);
      if (gen.Pick(3) == 0) {
        const size_t at = code.size();
        const uint32_t next = kCodeStart + 4 * static_cast<uint32_t>(at + 1);
        if (gen.Pick(4) == 0) toEnd.push_back(at);
        code.push_back(Lj(gen.Pick(8), next));
      }
    }
    const uint32_t instructions = static_cast<uint32_t>(code.size());
    const uint32_t end = kCodeStart + 4 * instructions;
    for (const size_t at : toEnd) code[at] = (code[at] & 0x3FF) | (end / 4) << 10;
    const Image image = gen.CodeImage(code);

    // Unbounded, then with budgets that end inside the stream.
    const uint64_t budgets[] = {0, 1 + gen.Pick(instructions), 1 + gen.Pick(instructions / 4),
                                2 + gen.Pick(instructions / 2), 3 + gen.Pick(40)};
    ASSERT_EQ(gen.RunWithBudgets(image, GetParam(), budgets, translatedRuns), "")
        << "program " << program;
  }
  // Most programs run as translated code (a few fault or end before their first block).
  if (GetParam() == Tier::COMPILED) {
    EXPECT_GT(translatedRuns, kPrograms / 2);
  }
}

// Counted loops whose bodies work on registers (integer and floating point, every size,
// now and then a memory operand or a jump out), which the compiling tier runs round and
// round with the registers in host registers, must end as the plain step ends them,
// also when a budget runs out in the middle of a round.
class LoopGen : public ChainGen {
 public:
  using ChainGen::ChainGen;
  static constexpr unsigned kCounter = 13;

  // Two-operand formats with a register destination that the loops use.
  void BodyInstruction(std::vector<uint32_t>& code) {
    static constexpr unsigned kFormats[] = {28, 28, 30, 22, 26, 18};
    static constexpr unsigned kFloatOps[] = {OP2_ADDF, OP2_SUBF, OP2_MULF, OP2_CMPF, OP2_MOV};
    const unsigned format = kFormats[Pick(6)];
    const bool floats = Pick(2) == 0;
    unsigned op = floats ? kFloatOps[Pick(5)] : Op();
    // Block moves could write the counter (and so never end): the chains cover them.
    if (op == OP2_MEMMOV || op == OP2_PUMEM || op == OP2_POMEM) op = OP2_ADD;
    const unsigned size = floats ? Q - Pick(4) / 3 : Pick(4);
    const unsigned a = floats ? Pick(4) : Pick(12);
    const unsigned b = format == 30 ? Pick(16) : floats ? Pick(5) : Pick(kCounter + 1);
    code.push_back(format | a << 5 | size << 9 | op << 11 | b << 16);
    if (format == 18) code.push_back(Pick(2) ? 0 : kDataStart + 8 * Pick(64));
    if (format == 26) code.push_back(kDataStart + 8 * Pick(64));
    if (format == 22) {
      code.push_back(Immediate());
      if (size == Q) code.push_back(Immediate());
    }
  }

  // One loop of a few rounds; jumps out of it go to exits (patched to the loop's end).
  void Loop(std::vector<uint32_t>& code, std::vector<size_t>& exits) {
    code.push_back(22 | kCounter << 5 | D << 9 | OP2_MOV << 11);  // d mov $13, =rounds
    code.push_back(1 + Pick(24));
    const uint32_t start = kCodeStart + 4 * static_cast<uint32_t>(code.size());
    for (unsigned n = 1 + Pick(8); n > 0; --n) {
      BodyInstruction(code);
      if (Pick(10) == 0) {
        exits.push_back(code.size());
        code.push_back(Lj(Pick(8), 0));
      }
    }
    code.push_back(30 | kCounter << 5 | D << 9 | OP2_SUB << 11 | 1 << 16);  // d sub $13, =1
    code.push_back(Lj(1, start));                                           // ljne start
  }
};

TEST_P(DispatchReference, LoopsOverRegistersAgreeWithThePlainStep) {
  constexpr int kPrograms = 150;
  int translatedRuns = 0;
  for (int program = 0; program < kPrograms; ++program) {
    LoopGen gen(70000 + program);
    std::vector<uint32_t> code;
    while (code.size() < kCodeBytes / 4 - 64) {
      std::vector<size_t> exits;
      gen.Loop(code, exits);
      const uint32_t after = kCodeStart + 4 * static_cast<uint32_t>(code.size());
      for (const size_t at : exits) code[at] = (code[at] & 0x3FF) | (after / 4) << 10;
    }
    const Image image = gen.CodeImage(code);

    const uint64_t budgets[] = {0, 1 + gen.Pick(2000), 1 + gen.Pick(300), 5 + gen.Pick(60)};
    ASSERT_EQ(gen.RunWithBudgets(image, GetParam(), budgets, translatedRuns), "")
        << "program " << program;
  }
  if (GetParam() == Tier::COMPILED) {
    EXPECT_GT(translatedRuns, kPrograms / 2);
  }
}

// A run that goes into the end of memory stops there exactly as the plain step does,
// whatever its length and wherever it starts.
TEST_P(DispatchReference, ChainsIntoTheEndOfMemoryStopThere) {
  ChainGen gen(77);
  const Image image = gen.MakeImage();
  const uint32_t end = kMemSize;
  for (uint32_t words = 1; words <= 24; ++words) {
    for (const unsigned size : {D, Q}) {
      Twins twins(image, GetParam());
      std::vector<uint8_t> mem = twins.Memory();
      gen.Seed(mem);
      const uint32_t start = end - 4 * words;
      Store32(mem.data() + start, 28 | 3 << 5 | size << 9 | OP2_MOV << 11 | 4u << 16);
      for (uint32_t i = 1; i < words; ++i)
        Store32(mem.data() + start + 4 * i, 30 | 3 << 5 | size << 9 | OP2_ADD << 11 | 1u << 16);
      Store32(mem.data() + HDR_VPC, start);
      twins.SetMemory(mem);
      twins.Run(0);
      ASSERT_EQ(twins.Difference(), "") << words << " words, size " << size;
      EXPECT_EQ(Load32(twins.fast().m.mem + HDR_VPC), end) << words << " words, size " << size;
      EXPECT_EQ(twins.fast().hooks.messages.size(), 1u);
    }
  }
}

// An operation that sets the flags followed by a conditional jump is decided in one
// handler of the fast loop. Streams thick with such pairs, run with budgets of many
// instructions (so that the pairs are taken), must agree with the plain step whenever
// the budget runs out, including a budget that ends between the two.
TEST_P(DispatchReference, FlagOperationsAndTheirJumpsAgreeWithThePlainStep) {
  static constexpr unsigned kFlagOps[] = {OP2_CMP, OP2_SUB, OP2_TST, OP2_AND, OP2_CMPF, OP2_XOR};
  constexpr int kStreams = 60, kRounds = 40;
  for (int stream = 0; stream < kStreams; ++stream) {
    StreamGen gen(90000 + stream);
    Image image;
    image.zeroSize = kZeroBytes;
    image.stackSize = kStackBytes;
    image.heapSize = kHeapBytes;
    std::vector<uint32_t> code;
    while (code.size() < kCodeBytes / 4) {
      if (gen.Pick(3)) {
        gen.Two(code, static_cast<int>(kFlagOps[gen.Pick(6)]));
        if (gen.Pick(6)) code.push_back(Lj(gen.Pick(8), gen.Target()));
      } else {
        gen.Instruction(code);
      }
    }
    code.resize(kCodeBytes / 4);
    for (const uint32_t w : code) image.Emit(w);
    for (uint32_t i = 0; i < kDataBytes; i += 4) image.Emit(gen.Immediate());

    Twins twins(image, GetParam());
    std::vector<uint8_t> mem = twins.Memory();
    gen.Seed(mem);
    twins.SetMemory(mem);
    for (int round = 0; round < kRounds; ++round) {
      const uint64_t budget = 1 + gen.Pick(gen.Pick(2) ? 8 : 200);
      twins.Run(budget);
      ASSERT_EQ(twins.Difference(), "")
          << "stream " << stream << ", round " << round << ", budget " << budget;
      twins.Restart(gen.Target());
    }
  }
}

// Every change of place (taken and untaken conditional jumps, the test-and-jump, a
// compare decided together with its jump, jumps, calls and returns) to places the fast
// loop may not run: inside the header, the first places above it, the last words of
// memory and beyond. Run with budgets ending on the jump, just after it and later.
TEST_P(DispatchReference, JumpsIntoTheHeaderOrOffTheEndAgreeWithThePlainStep) {
  StreamGen gen(4242);
  const Image image = gen.MakeImage();
  const uint32_t targets[] = {
      0,        64,           132,           136,           196,          200,
      204,      512,          kMemSize - 16, kMemSize - 12, kMemSize - 8, kMemSize - 4,
      kMemSize, kMemSize + 64};
  const uint32_t cmp = 30 | 3u << 5 | D << 9 | OP2_CMP << 11 | 1u << 16;  // d cmp $3, =1
  const uint32_t frame = kStackTop - 100;
  for (const uint32_t target : targets) {
    std::vector<std::vector<uint32_t>> forms;
    for (unsigned cc = 0; cc < 8; ++cc) {
      forms.push_back({cmp, Lj(cc, target)});
      forms.push_back({NOP, Lj(cc, target)});
      forms.push_back({Tlj(0, D, cc, target), 3});
    }
    forms.push_back({Jmp(target)});
    forms.push_back({JmpMem(3, 8)});
    forms.push_back({JsrAbs(4), target});
    forms.push_back({JsrReg(3, 4)});
    forms.push_back({Efr(0)});
    for (const auto& words : forms) {
      for (const uint64_t budget : {1u, 2u, 3u, 40u}) {
        Twins twins(image, GetParam());
        std::vector<uint8_t> mem = twins.Memory();
        gen.Seed(mem);
        for (size_t i = 0; i < words.size(); ++i)
          Store32(mem.data() + kCodeStart + 4 * i, words[i]);
        const bool viaRegister = words[0] == JsrReg(3, 4);
        Store64(mem.data() + RegisterAddress(3), viaRegister ? target : kDataStart);
        Store32(mem.data() + kDataStart + 8, target);
        Store32(mem.data() + frame, frame + 40);
        Store32(mem.data() + frame + 4, target);
        Store32(mem.data() + frame + 8, 0);
        Store32(mem.data() + HDR_VFP, frame);
        Store32(mem.data() + HDR_VSP, frame - 16);
        Store32(mem.data() + HDR_VPC, kCodeStart);
        twins.SetMemory(mem);
        twins.Run(budget);
        ASSERT_EQ(twins.Difference(), "") << "words " << std::hex << words[0] << std::dec
                                          << ", target " << target << ", budget " << budget;
      }
    }
  }
}

// Exhaustive sweeps: one instruction of every form at once, its operands placed where the
// fast loop must be careful.
enum Placement { IN_DATA, ON_WORKING_COPIES, AT_MEMORY_END, IN_REGISTERS, MIXED, PLACEMENTS };

// The address of operand `which` (0 destination, 1 source) under a placement.
uint32_t PlacedAt(Placement p, unsigned which) {
  switch (p) {
    case IN_DATA:
      return kDataStart + 64 + 16 * which;
    case ON_WORKING_COPIES:
      return which ? 190 : 158;  // over the flags, over VSP
    case AT_MEMORY_END:
      return kMemSize - 4 + 2 * which;
    case IN_REGISTERS:
      return which ? HDR_IMMEDIATE : RegisterAddress(5);
    default:
      return which ? 140 : kDataStart + 8;
  }
}

class Sweep {
 public:
  explicit Sweep(Tier tier) : tier_(tier), gen_(7), twins_(gen_.MakeImage(), tier) {
    base_ = twins_.Memory();
    gen_.Seed(base_);
    for (uint32_t a = kDataStart; a < kStackLow; a += 4)
      Store32(base_.data() + a, gen_.Immediate());
    for (uint32_t a = kMemSize - 16; a < kMemSize; a += 4) Store32(base_.data() + a, gen_.Word());
  }

  // Places the words at pc, lets setup adjust the state, runs one step on both machines
  // and returns what differs. The compiling tier steps only what it has not translated,
  // so there the words are followed by term and both run two instructions: the
  // instruction, translated as a block of its own, and whatever comes next.
  // Times the tier under test has run translated code so far.
  uint64_t TranslatedEntries() const { return entries_ + twins_.TranslatedEntries(); }

  std::string Run(const std::vector<uint32_t>& words, uint32_t pc,
                  const std::function<void(std::vector<uint8_t>&)>& setup) {
    std::vector<uint8_t> mem = base_;
    for (size_t i = 0; i < words.size() && pc + 4 * i + 4 <= kMemSize; ++i)
      Store32(mem.data() + pc + 4 * i, words[i]);
    const uint32_t after = pc + 4 * static_cast<uint32_t>(words.size());
    const bool compiled = tier_ == Tier::COMPILED;
    if (compiled && after >= pc && uint64_t{after} + 4 <= kMemSize)
      Store32(mem.data() + after, TERM);
    Store32(mem.data() + HDR_VPC, pc);
    if (setup) setup(mem);
    twins_.SetMemory(mem);
    twins_.Restart(pc);
    if (compiled) {
      // What earlier placements had translated would only be compared again and again.
      entries_ += twins_.TranslatedEntries();
      twins_.ForgetTranslations();
      twins_.Run(2);
    }
    else
      twins_.Step();
    return twins_.Difference();
  }

 private:
  Tier tier_;
  uint64_t entries_ = 0;  // of the translations forgotten
  StreamGen gen_;
  Twins twins_;
  std::vector<uint8_t> base_;
};

TEST_P(DispatchReference, EveryTwoOperandFormAgreesWhereverItsOperandsLie) {
  Sweep sweep(GetParam());
  for (const unsigned format : {1u,  2u,  3u,  5u,  6u,  7u,  9u,  10u, 11u, 13u, 14u, 15u,
                                17u, 18u, 19u, 21u, 22u, 23u, 25u, 26u, 27u, 28u, 29u, 30u}) {
    const FormatLocs locs = kFormatLocs[format];
    for (unsigned entry = 0; entry < 128; ++entry) {
      for (int p = 0; p < PLACEMENTS; ++p) {
        const unsigned size = entry & 3;
        uint32_t a = 1, upper = 2;
        uint32_t fp = kStackTop - 32;
        std::vector<uint32_t> ext;
        std::vector<std::pair<unsigned, uint32_t>> regs;
        unsigned which = 0;
        for (const Loc loc : {locs.dst, locs.src}) {
          const uint32_t at = PlacedAt(static_cast<Placement>(p), which);
          switch (loc) {
            case LOC_REG_A:
              a = which ? 2 : 1;
              break;
            case LOC_REG_B:
              upper = 2;
              break;
            case LOC_IND_A:
              a = 3;
              regs.push_back({3, at});
              ext.push_back(0);
              break;
            case LOC_IND_B:
              upper = 4;
              regs.push_back({4, at - 8});
              ext.push_back(8);
              break;
            case LOC_ABS:
              ext.push_back(at);
              break;
            case LOC_FRAME_F:
              fp = at + 16;
              upper = static_cast<uint32_t>(-16);
              break;
            case LOC_FRAME_E:
              ext.push_back(at - fp);
              break;
            case LOC_SIMM_A:
              a = (entry * 5 + p) & 15;
              break;
            case LOC_SIMM_B:
              upper = (entry * 3 + p) & 15;
              break;
            default:  // long immediate
              ext.push_back(0x40000000u + entry * 977);
              if (size == Q) ext.push_back(0x3FF00000u + p);
              break;
          }
          ++which;
        }
        std::vector<uint32_t> words = {format | a << 5 | entry << 9 | (upper & 0xFFFF) << 16};
        words.insert(words.end(), ext.begin(), ext.end());
        const std::string diff = sweep.Run(words, kCodeStart, [&](std::vector<uint8_t>& mem) {
          Store32(mem.data() + HDR_VFP, fp);
          for (auto [r, v] : regs) Store64(mem.data() + RegisterAddress(r), v);
        });
        ASSERT_EQ(diff, "") << "format " << format << ", op " << (entry >> 2) << ", size " << size
                            << ", placement " << p;
      }
    }
  }
  // Most of the placements run as translated code of their own.
  if (GetParam() == Tier::COMPILED) {
    EXPECT_GT(sweep.TranslatedEntries(), 5000u);
  }
}

TEST_P(DispatchReference, EveryOneOperandFormAgreesWhereverItsOperandAndStackLie) {
  Sweep sweep(GetParam());
  const uint32_t stacks[] = {kStackTop - 40, HDR_IMMEDIATE - 56, 203, kMemSize - 3};
  for (const unsigned form : {0xD4u, 0x6Cu, 0xACu, 0xECu}) {
    for (unsigned entry = 0; entry < 128; ++entry) {
      for (int p = 0; p < PLACEMENTS; ++p) {
        for (const uint32_t sp : stacks) {
          const uint32_t at = PlacedAt(static_cast<Placement>(p), 0);
          uint32_t upper = 0, fp = kStackTop - 32;
          std::vector<uint32_t> ext;
          if (form == 0xD4) upper = p == MIXED ? 16 + entry : entry % 16;
          if (form == 0x6C) {
            upper = 3;
            ext.push_back(4);
          }
          if (form == 0xAC) {
            fp = at + 12;
            upper = static_cast<uint32_t>(-12);
          }
          if (form == 0xEC) ext.push_back(at);
          std::vector<uint32_t> words = {form | entry << 8 | (upper & 0xFFFF) << 16};
          words.insert(words.end(), ext.begin(), ext.end());
          const std::string diff = sweep.Run(words, kCodeStart, [&](std::vector<uint8_t>& mem) {
            Store32(mem.data() + HDR_VFP, fp);
            Store32(mem.data() + HDR_VSP, sp);
            Store64(mem.data() + RegisterAddress(3), at - 4);
          });
          ASSERT_EQ(diff, "") << "form " << form << ", op " << (entry >> 2) << ", size "
                              << (entry & 3) << ", placement " << p << ", VSP " << sp;
        }
      }
    }
  }
  // Most of the placements run as translated code of their own.
  if (GetParam() == Tier::COMPILED) {
    EXPECT_GT(sweep.TranslatedEntries(), 2000u);
  }
}

TEST_P(DispatchReference, ControlInstructionsAgreeAtEveryStackAndCodePosition) {
  Sweep sweep(GetParam());
  std::vector<std::vector<uint32_t>> forms;
  for (unsigned n = 0; n < 16; ++n) {
    forms.push_back({Sfvr(n, 4 * n + 2)});
    forms.push_back({Efr(n)});
  }
  for (unsigned size = 0; size < 4; ++size) {
    forms.push_back({PushLong(size), 0x12345678, 0x9ABCDEF0});
    forms.push_back({PushShort(size, -5)});
    for (unsigned cc = 0; cc < 8; ++cc) {
      forms.push_back({Tlj(0, size, cc, 0x700), 5});
      forms.push_back({Tlj(0, size, cc, 0x700), 17});  // not a register
      forms.push_back({Tlj(8, size, cc, 0x700), PlacedAt(ON_WORKING_COPIES, 1)});
      forms.push_back({Tlj(8, size, cc, 0x700), PlacedAt(AT_MEMORY_END, 1)});
      forms.push_back({Tlj(16, size, cc, 0x700), 3});
      forms.push_back({Tlj(24, size, cc, 0x700), static_cast<uint32_t>(-8)});
    }
  }
  for (unsigned cc = 0; cc < 8; ++cc) forms.push_back({Lj(cc, 0x800)});
  forms.push_back({Jmp(0x900)});
  forms.push_back({JmpMem(3, 8)});
  forms.push_back({JsrAbs(8), 0xA00});
  forms.push_back({JsrReg(3, 4)});
  for (const uint32_t w : {DBG, SYS, BRK, TERM, NOP, SMOD, EMOD, 148u, 4u, 1023u})
    forms.push_back({w});

  const uint32_t stacks[] = {kStackTop - 200, 204, HDR_VFP + 12, kMemSize - 6, 20};
  const uint32_t frames[] = {kStackTop - 100, 150, kMemSize - 10};
  const uint32_t codes[] = {kCodeStart, kMemSize - 8, 136, 200};
  for (const auto& words : forms) {
    for (const uint32_t sp : stacks) {
      for (const uint32_t fp : frames) {
        for (const uint32_t pc : codes) {
          for (const uint8_t flags : {0, 2, 5}) {
            const std::string diff = sweep.Run(words, pc, [&](std::vector<uint8_t>& mem) {
              Store32(mem.data() + HDR_VSP, sp);
              Store32(mem.data() + HDR_VFP, fp);
              mem[HDR_FLAGS] = flags;
              Store64(mem.data() + RegisterAddress(3), kDataStart + 40);
              Store64(mem.data() + RegisterAddress(15), kDataStart + 8);
            });
            ASSERT_EQ(diff, "") << "words " << std::hex << words[0] << std::dec << " at " << pc
                                << ", VSP " << sp << ", VFP " << fp << ", flags " << int{flags};
          }
        }
      }
    }
  }
  // Most of the placements run as translated code of their own.
  if (GetParam() == Tier::COMPILED) {
    EXPECT_GT(sweep.TranslatedEntries(), 10000u);
  }
}

// The compiling tier where the build has it.
#ifdef ORVO_HAS_JIT
#define ORVO_TIERS testing::Values(Tier::FAST_LOOP, Tier::COMPILED)
#else
#define ORVO_TIERS testing::Values(Tier::FAST_LOOP)
#endif
INSTANTIATE_TEST_SUITE_P(Tiers, DispatchReference, ORVO_TIERS,
                         [](const testing::TestParamInfo<Tier>& info) {
                           return std::string(TierName(info.param));
                         });
#undef ORVO_TIERS

}  // namespace
}  // namespace orvo::vm::test
