// Differential runs of the machine: random but plausible programs (StreamGen), and two
// machines loaded alike (Twins), one run by a tier under test (the fast loop or the
// compiling tier) and one by the plain step of step.cpp, whose memory (registers and
// header included), machine fields and everything they told the hooks must agree. The
// VM tests and the fuzz target of the tiers share them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/vm/vm_image.h"
#include "vm/compiled_tier.h"
#include "vm/decode.h"
#include "vm/formats.h"
#include "vm/interpreter.h"
#include "vm/step.h"
#include "vm/stepper.h"

namespace orvo::vm::test {

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

// Which loop runs the machine under test.
enum class Tier { FAST_LOOP, COMPILED };

inline const char* TierName(Tier t) {
  return t == Tier::FAST_LOOP ? "FastLoop" : "Compiled";
}

// Two machines that must stay equal: `fast` runs the tier under test, `plain` the
// reference step. The compiling tier translates everything on its first arrival.
class Twins {
 public:
  explicit Twins(const Image& image, Tier tier = Tier::FAST_LOOP) : tier_(tier) {
    loaded_ = fast_.Load(image) && plain_.Load(image);
    fast_.m.tier = {tier == Tier::COMPILED, 0};
    plain_.m.tier.enabled = false;
  }
  bool loaded() const { return loaded_; }

  void SetMemory(const std::vector<uint8_t>& mem) {
    std::memcpy(fast_.m.mem, mem.data(), mem.size());
    std::memcpy(plain_.m.mem, mem.data(), mem.size());
  }
  std::vector<uint8_t> Memory() const {
    return std::vector<uint8_t>(fast_.m.mem, fast_.m.mem + fast_.m.memSize);
  }

  // One instruction on each. The reference honours m.bounded; the tier under test runs
  // in its bounded form, which counts the budget the same way.
  void Step() {
    for (Vm* v : {&fast_, &plain_}) {
      v->m.bounded = true;
      v->m.budget = 1;
      if (v->m.BudgetSpent()) v->m.stop = {};  // the last run's budget
    }
    RunFast();
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
    // Messages agreed up to sameMessages_ the last time: only those since are compared.
    const auto& fm = fast_.hooks.messages;
    const auto& pm = plain_.hooks.messages;
    if (fm.size() != pm.size() ||
        !std::equal(fm.begin() + static_cast<std::ptrdiff_t>(std::min(sameMessages_, fm.size())),
                    fm.end(), pm.begin() + static_cast<std::ptrdiff_t>(std::min(sameMessages_, pm.size())))) {
      why << "messages differ: fast said "
          << (fast_.hooks.messages.empty() ? "nothing" : fast_.hooks.messages.back())
          << ", plain said "
          << (plain_.hooks.messages.empty() ? "nothing" : plain_.hooks.messages.back());
      return why.str();
    }
    sameMessages_ = fm.size();
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

  // Runs both until they leave, the machine under test unbounded (budget 0) or with that
  // budget, the plain one with the same budget.
  void Run(uint64_t budget) {
    for (Vm* v : {&fast_, &plain_}) {
      v->m.bounded = budget != 0;
      v->m.budget = budget;
      if (v->m.BudgetSpent()) v->m.stop = {};  // the last run's budget
    }
    RunFast();
    // A long enough budget for the plain machine when the fast one ran unbounded.
    if (budget == 0) {
      plain_.m.bounded = true;
      plain_.m.budget = 1u << 20;
    }
    InterpretReference(plain_.m);
    plain_.m.bounded = fast_.m.bounded;
  }

  const Vm& fast() const { return fast_; }
  Vm& fast() { return fast_; }
  // The machine under test starts again with nothing translated.
  void ForgetTranslations() { fast_.m.translations.reset(); }
  // Times the machine under test has run translated code.
  uint64_t TranslatedEntries() const { return vm::TranslatedEntries(fast_.m); }

 private:
  // The machine under test from the state in its header, bounded as m.bounded says.
  void RunFast() {
    Machine& m = fast_.m;
    if (tier_ == Tier::COMPILED && RunCompiled(m)) return;
    if (m.bounded)
      InterpretFastBounded(m);
    else
      InterpretFast(m);
  }

  Tier tier_;
  bool loaded_ = false;
  mutable size_t sameMessages_ = 0;
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

}  // namespace orvo::vm::test
