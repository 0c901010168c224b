// The fast loop of interpreter.cpp against the plain step of step.cpp: two machines load
// the same image and run it one instruction at a time, one through Interpret and one
// through InterpretReference; after every instruction their whole memory (registers and
// header included), their machine fields and everything they told the hooks must agree.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/vm/vm_test_support.h"
#include "vm/decode.h"
#include "vm/formats.h"
#include "vm/step.h"
#include "vm/stepper.h"

namespace orvo::vm::test {
namespace {

// Layout of the test image: code, initialised data, zero data, stack, a small heap.
constexpr uint32_t kCodeStart = 512;
constexpr uint32_t kCodeBytes = 4096;
constexpr uint32_t kDataBytes = 2048;
constexpr uint32_t kZeroBytes = 1024;
constexpr uint32_t kStackBytes = 2048;
constexpr uint32_t kHeapBytes = 1024;
constexpr uint32_t kDataStart = kCodeStart + kCodeBytes;
constexpr uint32_t kStackLow = kDataStart + kDataBytes + kZeroBytes;
constexpr uint32_t kStackTop = kStackLow + kStackBytes;
constexpr uint32_t kMemSize = kStackTop + kHeapBytes;

// Random but plausible instruction streams: mostly legal instructions whose operands
// point at data, the stack and the registers, with a share of header addresses, the
// last bytes of memory, wild addresses and illegal encodings.
class StreamGen {
 public:
  explicit StreamGen(uint32_t seed) : rng_(seed) {}

  uint32_t Pick(uint32_t n) { return static_cast<uint32_t>(rng_() % n); }
  uint32_t Word() { return static_cast<uint32_t>(rng_()); }
  uint64_t Quad() { return (uint64_t{Word()} << 32) | Word(); }

  uint32_t DataAddress() { return kDataStart + Pick(kDataBytes + kZeroBytes - 8); }
  uint32_t StackAddress() { return kStackLow + Pick(kStackBytes - 8); }
  uint32_t Target() { return kCodeStart + 4 * Pick(kCodeBytes / 4); }

  uint32_t Address() {
    switch (Pick(16)) {
      case 0:
        return Pick(HEADER_SIZE);  // header: registers, working copies, immediate slot
      case 1:
        return 130 + Pick(70);  // around VPC, VSP, VFP and the flags
      case 2:
        return kMemSize - 1 - Pick(12);  // the last bytes of memory
      case 3:
        return Word();  // anywhere at all
      case 4:
        return StackAddress();
      default:
        return DataAddress();
    }
  }
  uint32_t SmallOffset() { return static_cast<uint32_t>(static_cast<int32_t>(Pick(97)) - 48); }
  uint32_t Immediate() {
    switch (Pick(4)) {
      case 0:
        return Pick(64);
      case 1:
        return static_cast<uint32_t>(-static_cast<int32_t>(Pick(64)));
      case 2:
        return Pick(2) ? 0x3FF00000u : 0x40100000u;  // high words of 1.0 and 4.0
      default:
        return Word();
    }
  }
  unsigned Reg() { return Pick(8) == 0 ? 14 + Pick(2) : Pick(14); }

  uint64_t RegisterValue() {
    switch (Pick(10)) {
      case 0:
      case 1:
        return Pick(100);
      case 2:
        return Quad();
      case 3:
        return StackAddress();
      case 4:
        return Pick(HEADER_SIZE);
      default:
        return DataAddress() | (Pick(4) == 0 ? uint64_t{Word()} << 32 : 0);
    }
  }

  // Extension word for an operand location.
  uint32_t ExtensionFor(Loc loc) {
    switch (loc) {
      case LOC_IND_A:
      case LOC_IND_B:
        return Pick(3) ? Pick(32) : Address();
      case LOC_ABS:
        return Address();
      case LOC_FRAME_E:
        return SmallOffset();
      default:
        return Immediate();
    }
  }

  // A two-operand instruction; forcedOp, when given, is its operation.
  void Two(std::vector<uint32_t>& out, int forcedOp = -1) {
    static constexpr unsigned kFormats[] = {1,  2,  3,  5,  6,  7,  9,  10, 11, 13, 14, 15,
                                            17, 18, 19, 21, 22, 23, 25, 26, 27, 28, 29, 30};
    static constexpr unsigned kCommonOps[] = {OP2_ADD,  OP2_SUB,  OP2_CMP, OP2_MOV,  OP2_AND,
                                              OP2_MUL,  OP2_LSH,  OP2_XOR, OP2_MOVZ, OP2_ADDF,
                                              OP2_MULF, OP2_CMPF, OP2_TST, OP2_RSHI};
    const unsigned format = kFormats[Pick(24)];
    const unsigned op = forcedOp >= 0 ? static_cast<unsigned>(forcedOp)
                        : Pick(3)     ? kCommonOps[Pick(14)]
                                      : Pick(32);
    const unsigned size = Pick(4);
    const uint32_t upper = Pick(2) ? Reg() | (Pick(8) == 0 ? Pick(16) << 4 : 0) : SmallOffset();
    out.push_back(format | Reg() << 5 | size << 9 | op << 11 | (upper & 0xFFFF) << 16);
    const FormatLocs locs = kFormatLocs[format];
    for (const Loc loc : {locs.dst, locs.src})
      for (unsigned i = 0; i < ExtensionWords(loc, size); ++i) out.push_back(ExtensionFor(loc));
  }

  void One(std::vector<uint32_t>& out) {
    static constexpr unsigned kForms[] = {0xD4, 0x6C, 0xAC, 0xEC};
    static constexpr unsigned kCommonOps[] = {OP1_PUSH, OP1_POP, OP1_NEG,  OP1_NOT,
                                              OP1_TST,  OP1_PEA, OP1_CVSD, OP1_CVDS};
    const unsigned form = kForms[Pick(4)];
    const unsigned op = Pick(2) ? kCommonOps[Pick(8)] : Pick(32);
    uint32_t upper = form == 0xAC ? SmallOffset() : Reg();
    if (form == 0xD4 && Pick(16) == 0) upper = 16 + Pick(100);  // not a register
    out.push_back(form | Pick(4) << 8 | op << 10 | (upper & 0xFFFF) << 16);
    if (form == 0x6C) out.push_back(Pick(32));
    if (form == 0xEC) out.push_back(Address());
  }

  void Instruction(std::vector<uint32_t>& out) {
    const uint32_t roll = Pick(100);
    if (roll < 45) return Two(out);
    if (roll < 57) return One(out);
    if (roll < 65) {  // test and jump
      static constexpr unsigned kForms[] = {0, 8, 16, 24};
      const unsigned form = kForms[Pick(4)];
      out.push_back(Tlj(form, Pick(4), Pick(8), Target()));
      if (form == 8)
        out.push_back(Address());
      else if (form == 24)
        out.push_back(SmallOffset());
      else
        out.push_back(Pick(10) ? Reg() : 16 + Pick(20));
      return;
    }
    if (roll < 73) return out.push_back(Lj(Pick(8), Target()));
    if (roll < 75) return out.push_back(Jmp(Target()));
    if (roll < 76) return out.push_back(JmpMem(Reg(), 4 * Pick(8)));
    if (roll < 79) {
      out.push_back(JsrAbs(Pick(3) * 4));
      out.push_back(Pick(8) ? Target() : Address());
      return;
    }
    if (roll < 80) return out.push_back(JsrReg(Reg(), Pick(3) * 4));
    if (roll < 83) return out.push_back(Sfvr(Pick(16), Pick(40)));
    if (roll < 86) return out.push_back(Efr(Pick(16)));
    if (roll < 89) {
      const unsigned size = Pick(4);
      out.push_back(PushLong(size));
      out.push_back(Immediate());
      if (size == Q) out.push_back(Immediate());
      return;
    }
    if (roll < 92) return out.push_back(PushShort(Pick(4), static_cast<int32_t>(Word()) >> 11));
    if (roll < 96) {
      static constexpr uint32_t kNoOperand[] = {DBG, 148, SYS, BRK, TERM, NOP, SMOD, EMOD};
      return out.push_back(kNoOperand[Pick(8)]);
    }
    out.push_back(Word());  // whatever it decodes to
  }

  Image MakeImage() {
    Image image;
    image.zeroSize = kZeroBytes;
    image.stackSize = kStackBytes;
    image.heapSize = kHeapBytes;
    std::vector<uint32_t> code;
    while (code.size() < kCodeBytes / 4) Instruction(code);
    code.resize(kCodeBytes / 4);
    for (uint32_t w : code) image.Emit(w);
    for (uint32_t i = 0; i < kDataBytes; i += 4) image.Emit(Pick(4) ? Immediate() : Target());
    return image;
  }

  // Registers, working copies and the rest of the machine state to start a stream from.
  void Seed(std::vector<uint8_t>& mem) {
    for (unsigned r = 0; r < 16; ++r) Store64(mem.data() + RegisterAddress(r), RegisterValue());
    Store32(mem.data() + HDR_VPC, Target());
    Store32(mem.data() + HDR_VSP, kStackTop - 64 - 2 * Pick(64));
    Store32(mem.data() + HDR_VFP, kStackTop - 2 * Pick(32));
    Store32(mem.data() + HDR_MOVE_COUNT, Pick(24));
    mem[HDR_FLAGS] = static_cast<uint8_t>(Pick(8));
    // Frames on the stack mostly return into the code.
    for (uint32_t a = kStackLow; a < kStackTop; a += 4)
      Store32(mem.data() + a, Pick(3) ? Target() : Pick(3) == 0 ? 0 : Pick(64));
  }

 private:
  std::mt19937 rng_;
};

// Two machines that must stay equal: `fast` runs Interpret, `plain` the reference step.
class Twins {
 public:
  explicit Twins(const Image& image) {
    EXPECT_TRUE(fast_.Load(image));
    EXPECT_TRUE(plain_.Load(image));
  }

  void SetMemory(const std::vector<uint8_t>& mem) {
    std::memcpy(fast_.m.mem, mem.data(), mem.size());
    std::memcpy(plain_.m.mem, mem.data(), mem.size());
  }
  std::vector<uint8_t> Memory() const {
    return std::vector<uint8_t>(fast_.m.mem, fast_.m.mem + fast_.m.memSize);
  }

  // One instruction on each. The reference honours m.bounded; the fast loop runs in its
  // bounded form, which counts the budget the same way.
  void Step() {
    for (Vm* v : {&fast_, &plain_}) {
      v->m.bounded = true;
      v->m.budget = 1;
      if (v->m.BudgetSpent()) v->m.stop = {};  // the last run's budget
    }
    InterpretBounded(fast_.m);
    InterpretReference(plain_.m);
  }

  // Empty when both agree; otherwise what differs first.
  std::string Difference() const {
    const Machine& a = fast_.m;
    const Machine& b = plain_.m;
    std::ostringstream why;
    if (a.memSize != b.memSize) return "memory sizes differ";
    for (uint32_t i = 0; i < a.memSize; ++i) {
      if (a.mem[i] != b.mem[i]) {
        why << "memory differs at " << i << ": fast " << int{a.mem[i]} << ", plain "
            << int{b.mem[i]};
        return why.str();
      }
    }
    if (a.hostFlags != b.hostFlags) return "host flags differ";
    if (a.modalDepth != b.modalDepth) return "modal depth differs";
    if (a.pcPreJsr != b.pcPreJsr) return "PCpreJSR differs";
    if (a.stop != b.stop) return "stop states differ";
    if (a.heap.listHead != b.heap.listHead || a.heap.heapTop != b.heap.heapTop)
      return "heap state differs";
    if (fast_.hooks.messages != plain_.hooks.messages) {
      why << "messages differ: fast said "
          << (fast_.hooks.messages.empty() ? "nothing" : fast_.hooks.messages.back())
          << ", plain said "
          << (plain_.hooks.messages.empty() ? "nothing" : plain_.hooks.messages.back());
      return why.str();
    }
    if (fast_.hooks.debugLog != plain_.hooks.debugLog) return "debug logs differ";
    return {};
  }

  // Both continue at pc with the program's stop flags cleared, as after a new delivery.
  void Restart(uint32_t pc) {
    for (Vm* v : {&fast_, &plain_}) {
      Store32(v->m.mem + HDR_VPC, pc);
      v->m.hostFlags = 0;
      v->m.ClearStopRequest();
    }
  }

  // Runs both until they leave, the fast machine through Interpret unbounded (budget 0)
  // or through InterpretBounded with that budget, the plain one with the same budget.
  void Run(uint64_t budget) {
    for (Vm* v : {&fast_, &plain_}) {
      v->m.bounded = budget != 0;
      v->m.budget = budget;
      if (v->m.BudgetSpent()) v->m.stop = {};  // the last run's budget
    }
    if (budget == 0)
      Interpret(fast_.m);
    else
      InterpretBounded(fast_.m);
    // A long enough budget for the plain machine when the fast one ran unbounded.
    if (budget == 0) {
      plain_.m.bounded = true;
      plain_.m.budget = 1u << 20;
    }
    InterpretReference(plain_.m);
    plain_.m.bounded = fast_.m.bounded;
  }

  const Vm& fast() const { return fast_; }

 private:
  Vm fast_, plain_;
};

std::string Describe(const Twins& t, uint32_t pc) {
  std::ostringstream s;
  const Machine& m = t.fast().m;
  s << "instruction at " << pc;
  if (uint64_t{pc} + 16 <= m.memSize)
    s << ": words " << std::hex << Load32(m.mem + pc) << " " << Load32(m.mem + pc + 4) << " "
      << Load32(m.mem + pc + 8);
  return s.str();
}

TEST(DispatchReference, RandomStreamsAgreeAfterEveryInstruction) {
  constexpr int kStreams = 60, kSteps = 400;
  for (int stream = 0; stream < kStreams; ++stream) {
    StreamGen gen(1000 + stream);
    Twins twins(gen.MakeImage());
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

TEST(DispatchReference, ChainsOnOneRegisterAgreeWithThePlainStep) {
  constexpr int kPrograms = 300;
  for (int program = 0; program < kPrograms; ++program) {
    ChainGen gen(50000 + program);
    Image image;
    image.zeroSize = kZeroBytes;
    image.stackSize = kStackBytes;
    image.heapSize = kHeapBytes;
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
    for (const uint32_t w : code) image.Emit(w);
    image.Emit(TERM);
    while (image.Here() < kCodeStart + kCodeBytes) image.Emit(NOP);
    for (uint32_t i = 0; i < kDataBytes; i += 4) image.Emit(gen.Immediate());

    // Unbounded, then with budgets that end inside the stream.
    const uint64_t budgets[] = {0, 1 + gen.Pick(instructions), 1 + gen.Pick(instructions / 4),
                                2 + gen.Pick(instructions / 2), 3 + gen.Pick(40)};
    for (const uint64_t budget : budgets) {
      Twins twins(image);
      std::vector<uint8_t> mem = twins.Memory();
      gen.Seed(mem);
      for (unsigned r = 0; r < 16; ++r)
        Store64(mem.data() + RegisterAddress(r), gen.ChainRegister());
      Store32(mem.data() + HDR_VPC, kCodeStart);
      Store32(mem.data() + HDR_VFP, kStackTop - 64);
      twins.SetMemory(mem);
      twins.Run(budget);
      ASSERT_EQ(twins.Difference(), "") << "program " << program << ", budget " << budget;
    }
  }
}

// A run that goes into the end of memory stops there exactly as the plain step does,
// whatever its length and wherever it starts.
TEST(DispatchReference, ChainsIntoTheEndOfMemoryStopThere) {
  ChainGen gen(77);
  const Image image = gen.MakeImage();
  const uint32_t end = kMemSize;
  for (uint32_t words = 1; words <= 24; ++words) {
    for (const unsigned size : {D, Q}) {
      Twins twins(image);
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
TEST(DispatchReference, FlagOperationsAndTheirJumpsAgreeWithThePlainStep) {
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

    Twins twins(image);
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
TEST(DispatchReference, JumpsIntoTheHeaderOrOffTheEndAgreeWithThePlainStep) {
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
        Twins twins(image);
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
  Sweep() : gen_(7), twins_(gen_.MakeImage()) {
    base_ = twins_.Memory();
    gen_.Seed(base_);
    for (uint32_t a = kDataStart; a < kStackLow; a += 4)
      Store32(base_.data() + a, gen_.Immediate());
    for (uint32_t a = kMemSize - 16; a < kMemSize; a += 4) Store32(base_.data() + a, gen_.Word());
  }

  // Places the words at pc, lets setup adjust the state, runs one step on both machines
  // and returns what differs.
  std::string Run(const std::vector<uint32_t>& words, uint32_t pc,
                  const std::function<void(std::vector<uint8_t>&)>& setup) {
    std::vector<uint8_t> mem = base_;
    for (size_t i = 0; i < words.size() && pc + 4 * i + 4 <= kMemSize; ++i)
      Store32(mem.data() + pc + 4 * i, words[i]);
    Store32(mem.data() + HDR_VPC, pc);
    if (setup) setup(mem);
    twins_.SetMemory(mem);
    twins_.Restart(pc);
    twins_.Step();
    return twins_.Difference();
  }

 private:
  StreamGen gen_;
  Twins twins_;
  std::vector<uint8_t> base_;
};

TEST(DispatchReference, EveryTwoOperandFormAgreesWhereverItsOperandsLie) {
  Sweep sweep;
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
}

TEST(DispatchReference, EveryOneOperandFormAgreesWhereverItsOperandAndStackLie) {
  Sweep sweep;
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
}

TEST(DispatchReference, ControlInstructionsAgreeAtEveryStackAndCodePosition) {
  Sweep sweep;
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
}

}  // namespace
}  // namespace orvo::vm::test
