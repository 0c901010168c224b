// The translator. Translated code keeps VSP in r12d, VFP in r13d and the budget in rdi;
// VM memory is at rbx and the context at rbp. Up to four of the VM registers a block
// uses most live in rsi, r10, r11 and r14 while it runs: loaded on the way in, written
// back to their header slots on every way out; the others stay in their slots, which x86
// reaches as memory operands. Flags are kept as the value they come from (r15, at a size
// known when translating) and made into the flags byte in the context only where
// something may read it: on the way out of the block. The immediate slot is written
// once, on the way out, with what the last instruction that located an immediate left
// there. A conditional jump back to the block's start stays in the block, so a loop
// keeps its registers in host registers from one round to the next.
//
// Every check comes before the first side effect of an instruction, as in the
// interpreter, and anything out of the ordinary (an address below 512 or within 8 bytes
// of the end, a store into translated code, division by zero, a NaN result, a
// frame with locked blocks) leaves the block at that instruction with nothing of it
// done: the checked step runs it from the start and reports whatever it finds.
#include "vm/jit/translate.h"

#include <asmjit/x86.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "vm/decode.h"
#include "vm/formats.h"
#include "vm/heap.h"
#include "vm/jit/context.h"
#include "vm/jit/translations.h"
#include "vm/machine.h"
#include "vm/semantics.h"
#include "vm/stops.h"

namespace orvo::vm::jit {
namespace {

using namespace asmjit;
using namespace asmjit::x86;

constexpr unsigned kMaxInstructions = 96;

// One instruction the translator takes.
struct Insn {
  uint32_t pc = 0, w = 0, words = 1;
  Kind kind = K_ILLEGAL;
  uint8_t entry = 0;  // op * 4 + size of the two- and one-operand groups
  bool endsBlock = false;
};

bool IsCall(const Insn& in) {
  return in.kind == K_JSR_ABS || in.kind == K_JSR_REG;
}

// Whether the instruction at pc is one the translator takes, and its length.
bool Decode(const uint8_t* mem, uint32_t memSize, uint32_t pc, Insn& in) {
  if (pc % 4 != 0 || uint64_t{pc} + 16 > memSize || pc < kLowestAddress) return false;
  const uint32_t w = Load32(mem + pc);
  in = {pc, w, 1, kDecode[w & 1023], 0, false};
  switch (in.kind) {
    case K_NOP:
    case K_LJ:
    case K_PUSH_SHORT:
      return true;
    case K_F1 ... K_F30: {
      in.entry = kOp2Table[(w >> 9) & 127];
      if (in.entry >= GROUP_ILLEGAL) return false;
      const unsigned op = in.entry >> 2;
      if (op == OP2_MEMMOV || op == OP2_PUMEM || op == OP2_POMEM) return false;
      in.words = kFormatWords[(w & 31) * 4 + ((w >> 9) & 3)];
      return true;
    }
    case K_ONE_REG:
    case K_ONE_IND:
    case K_ONE_FRAME:
    case K_ONE_ABS: {
      in.entry = kOp1Table[(w >> 8) & 127];
      if (in.entry >= GROUP_ILLEGAL) return false;
      if (in.kind == K_ONE_REG && (w >> 16) > 15) return false;
      const unsigned op = in.entry >> 2;
      // Unsigned 64-bit integers to floating point have no one x86 instruction.
      if ((op == OP1_CVUF || op == OP1_CVUD) && (in.entry & 3) == SIZE_Q) return false;
      in.words = in.kind == K_ONE_IND || in.kind == K_ONE_ABS ? 2 : 1;
      return true;
    }
    case K_TLJ_REG:
    case K_TLJ_IND:
      if (Load32(mem + pc + 4) > 15) return false;
      in.words = 2;
      return true;
    case K_TLJ_ABS:
    case K_TLJ_FRAME:
      in.words = 2;
      return true;
    case K_JMP:
    case K_JMP_MEM:
    case K_JSR_REG:
      in.endsBlock = true;
      return true;
    case K_JSR_ABS:
      in.words = 2;
      in.endsBlock = true;
      return true;
    case K_SFVR:
      return ((w >> 10) & 15) <= kMaxSavedRegisters;
    case K_EFR:
      in.endsBlock = true;
      return ((w >> 10) & 15) <= kMaxSavedRegisters;
    case K_PUSH_LONG:
      in.words = ((w >> 8) & 3) == SIZE_Q ? 3 : 2;
      return true;
    default:
      return false;
  }
}

// The flags are those of the value in r15 at a size, or of the float or double result
// kept in xmm2 by a floating-point subtraction until something reads them. Between
// blocks they are those of a 64-bit value in r15.
struct FlagState {
  enum Source : uint8_t { VALUE, FLOAT, DOUBLE };
  unsigned size = SIZE_Q;
  Source source = VALUE;
  bool operator==(const FlagState&) const = default;
};

// What the immediate slot must hold on the way out, word by word.
struct SlotState {
  bool low = false, high = false;
  uint32_t lowValue = 0, highValue = 0;
  bool operator==(const SlotState&) const = default;
};

// The state translated code carries from one instruction to the next beyond memory.
struct CarriedState {
  FlagState flags;
  SlotState slot;
  bool operator==(const CarriedState&) const = default;
};

// The host registers VM registers may live in within a block: general registers first
// for those used mostly as integers, xmm3 .. xmm15 for floating point and for the rest.
const Gp kCacheRegisters[] = {rsi, r10, r11, r14};
const Xmm kCacheXmms[] = {xmm3, xmm4,  xmm5,  xmm6,  xmm7,  xmm8,
                          xmm9, xmm10, xmm11, xmm12, xmm13, xmm14, xmm15};
constexpr unsigned kNoHost = 0xFF;

// Where a VM register lives within a block. A narrow one is only ever used at 32 bits or
// fewer there: its host register holds the low word, and only that goes back to its slot,
// so that 32-bit operations work on the host register in place.
struct Home {
  unsigned vmReg = 0;
  bool inXmm = false, narrow = false;
  Gp gp;
  Xmm xmm;
};

// Marks the VM registers the instruction uses at all 64 bits: operations at size q,
// movz and conversions (which write all of their register), frames (which save and
// restore whole registers).
void MarkWideRegisters(const uint8_t* mem, const Insn& in, bool wide[16]) {
  const uint32_t w = in.w;
  switch (in.kind) {
    case K_F1 ... K_F30: {
      const unsigned size = (w >> 9) & 3, op = in.entry >> 2;
      if (size != SIZE_Q && op != OP2_MOVZ) return;
      const FormatLocs locs = kFormatLocs[w & 31];
      for (const Loc loc : {locs.dst, locs.src}) {
        if (op == OP2_MOVZ && size != SIZE_Q && loc == locs.src) continue;  // read at size
        if (loc == LOC_REG_A) wide[(w >> 5) & 15] = true;
        if (loc == LOC_REG_B) wide[(w >> 16) & 15] = true;
      }
      return;
    }
    case K_ONE_REG: {
      const unsigned op = in.entry >> 2;
      if ((in.entry & 3) == SIZE_Q || op >= OP1_CVUU) wide[(w >> 16) & 15] = true;
      return;
    }
    case K_TLJ_REG:
      if (((w >> 5) & 3) == SIZE_Q) wide[Load32(mem + in.pc + 4) & 15] = true;
      return;
    case K_SFVR:
    case K_EFR:
      for (unsigned i = 0, n = (w >> 10) & 15; i < n; ++i) wide[14 - n + i] = true;
      return;
    default:
      return;  // the rest read a register's low word, if any
  }
}

// The VM registers whose values the instruction reaches, each counted once per mention,
// and in floats those a floating-point operation reaches as values.
void CountRegisters(const uint8_t* mem, const Insn& in, unsigned counts[16], unsigned floats[16]) {
  const uint32_t w = in.w;
  switch (in.kind) {
    case K_F1 ... K_F30: {
      const FormatLocs locs = kFormatLocs[w & 31];
      const unsigned op = in.entry >> 2;
      const bool isFloat = op >= OP2_ADDF && op <= OP2_CMPF;
      for (const Loc loc : {locs.dst, locs.src}) {
        if (loc == LOC_REG_A || loc == LOC_IND_A) ++counts[(w >> 5) & 15];
        if (loc == LOC_REG_B || loc == LOC_IND_B) ++counts[(w >> 16) & 15];
        if (isFloat && loc == LOC_REG_A) ++floats[(w >> 5) & 15];
        if (isFloat && loc == LOC_REG_B) ++floats[(w >> 16) & 15];
      }
      return;
    }
    case K_ONE_REG:
    case K_ONE_IND:
      ++counts[(w >> 16) & 15];
      return;
    case K_TLJ_REG:
    case K_TLJ_IND:
      ++counts[Load32(mem + in.pc + 4) & 15];
      return;
    case K_JMP_MEM:
      ++counts[(w >> 6) & 15];
      return;
    case K_JSR_REG:
      ++counts[(w >> 12) & 15];
      return;
    case K_SFVR:
    case K_EFR:
      for (unsigned i = 0, n = (w >> 10) & 15; i < n; ++i) ++counts[14 - n + i];
      return;
    default:
      return;
  }
}

// Whether the instruction is a 64-bit move from register b to register a.
bool RegisterMove(const Insn& in, unsigned& a, unsigned& b) {
  if (in.kind < K_F1 || in.kind > K_F30 || in.entry >> 2 != OP2_MOV || (in.entry & 3) != SIZE_Q)
    return false;
  const FormatLocs locs = kFormatLocs[in.w & 31];
  const auto reg = [&](Loc loc, unsigned& r) {
    if (loc != LOC_REG_A && loc != LOC_REG_B) return false;
    r = loc == LOC_REG_A ? (in.w >> 5) & 15 : (in.w >> 16) & 15;
    return true;
  };
  return reg(locs.dst, a) && reg(locs.src, b);
}

// An operand: a register's slot, an immediate, or VM memory at the address in a host
// register, less bias. An operand's address less 512, wrapped to 32 bits, puts every
// address below 512 (the header) above 4 GiB - 512: past the end of any VM memory, so
// that one unsigned compare checks both ends, and the guard after memory catches it.
struct Place {
  enum Kind : uint8_t { REG, IMM, MEM } kind = REG;
  uint32_t header = 0;
  uint64_t imm = 0;
  Gp addr;
  int32_t bias = 0;
};
constexpr int32_t kOperandBias = static_cast<int32_t>(kLowestAddress);

// The two-operand operations whose loads may go unchecked when memory is guarded: each
// loads its operands before it changes anything the step would see, so a load that
// faults leaves the machine as the instruction found it.
constexpr bool LoadsBeforeEffects(unsigned op) {
  switch (op) {
    case OP2_ADD: case OP2_SUB: case OP2_CMP: case OP2_MUL: case OP2_TST: case OP2_AND:
    case OP2_OR: case OP2_XOR: case OP2_MOV: case OP2_MOVZ: case OP2_RSHI: case OP2_RSHU:
    case OP2_LSH: case OP2_DIVI: case OP2_MODI: case OP2_DIVU: case OP2_MODU: case OP2_ADDF:
    case OP2_SUBF: case OP2_MULF: case OP2_DIVF: case OP2_CMPF:
      return true;
    default:
      return false;
  }
}

Gp Sized(const Gp& r, unsigned size) {
  switch (size) {
    case SIZE_B:
      return r.r8();
    case SIZE_W:
      return r.r16();
    case SIZE_D:
      return r.r32();
    default:
      return r.r64();
  }
}

// Whether an immediate can be an x86 operand (32 bits, sign-extended) for an operation
// whose result counts at size.
bool ImmediateFits(uint64_t imm, unsigned size) {
  if (size < SIZE_Q) return true;
  return static_cast<int64_t>(imm) == static_cast<int32_t>(static_cast<uint32_t>(imm));
}

class BlockTranslator {
 public:
  BlockTranslator(Machine& m, Cache& cache, std::vector<Insn> insns)
      : m_(m), cache_(cache), mem_(m.mem), memSize_(m.memSize), insns_(std::move(insns)) {
    code_.init(cache.runtime().environment());
    code_.setErrorHandler(&errors_);
    // ORVO_JIT_LOG=1 prints every block's host code on standard error, for work on
    // the translator.
    if (const char* log = std::getenv("ORVO_JIT_LOG"); log && *log) {
      std::fprintf(stderr, "block at %u\n", insns_.front().pc);
      code_.setLogger(&logger_);
    }
    code_.attach(&a_);
    FindSegments();
    ChooseCachedRegisters();
  }

  // Emits the block; false if asmjit refused it.
  bool Emit() {
    const uint32_t n = segmentEnds_[0];
    const Label shortBudget = a_.newLabel();
    a_.sub(rdi, n);
    a_.jb(shortBudget);  // less than n left: given back below
    for (const Home& home : cached_) LoadHome(home);
    top_ = a_.newLabel();
    loopTop_ = a_.newLabel();
    a_.bind(top_);
    EmitInstructions();
    if (loops_) {
      // The loop's second copy starts with the state its jump back carries, so that
      // the flags and the immediate slot need not be settled on every round.
      a_.bind(loopTop_);
      state_ = loopState_;
      secondCopy_ = true;
      EmitInstructions();
    }
    a_.bind(shortBudget);
    a_.add(rdi, n);
    StoreFlagsByte(SIZE_Q);
    a_.mov(eax, insns_.front().pc);
    a_.mov(edx, EXIT_STEP);
    a_.jmp(qword_ptr(rbp, kExitOffset));
    EmitPending();
    for (const auto& emit : outOfLine_) emit();
    return !errors_.failed;
  }

  CodeHolder& code() { return code_; }
  // Code offsets where loads are left to the guard, and the ways out their checks would take.
  struct FaultSite {
    size_t from, to;
    Label exit;
  };
  const std::vector<FaultSite>& faultSites() const { return faultSites_; }
  uint32_t end() const { return insns_.back().pc + 4 * insns_.back().words; }

 private:
  // Ways out kept for the end of the block, each with the state at its place.
  struct Pending {
    enum Kind : uint8_t { STEP, CHAIN, LOOP } kind;
    Label label;
    uint32_t pc;
    uint32_t refund;  // instructions of the block the way out does not run
    CarriedState state;
  };

  uint32_t Count() const { return static_cast<uint32_t>(insns_.size()); }
  // A block goes on after its calls; each call ends a segment, the instructions paid for
  // together from the budget: the first on the way in, each other when its call returns.
  // The end of the current instruction's segment (past the last, the block's end).
  uint32_t SegmentEnd() const { return index_ < Count() ? segmentEnds_[index_] : Count(); }
  bool Segmented() const { return segmentEnds_[0] != Count(); }
  void FindSegments() {
    segmentEnds_.assign(Count(), Count());
    uint32_t end = Count();
    for (uint32_t i = Count(); i-- > 0;) {
      if (IsCall(insns_[i]) && i + 1 < Count()) end = i + 1;
      segmentEnds_[i] = end;
    }
  }
  uint32_t Start() const { return insns_.front().pc; }

  void EmitInstructions() {
    flagsLive_ = false;
    for (index_ = 0; index_ < Count(); ++index_) Instruction(insns_[index_]);
    const Insn& last = insns_.back();
    if (last.endsBlock) return;
    // Stopped at the length limit, or before an instruction the step runs.
    const uint32_t next = last.pc + 4 * last.words;
    if (Count() == kMaxInstructions)
      Chain(next, 0, state_);
    else
      a_.jmp(StepExit(next));
  }

  // The registers the block mentions most get host registers; in a block that may loop
  // even one mention pays.
  // Mentions inside the loop, if the block has one, count for eight rounds.
  void ChooseCachedRegisters() {
    size_t loopEnd = 0;
    for (size_t i = 0; i < insns_.size(); ++i) {
      const Insn& in = insns_[i];
      if ((in.kind == K_LJ || in.kind == K_JMP) && (in.w >> 10) << 2 == Start()) loopEnd = i + 1;
    }
    const unsigned least = loopEnd != 0 ? 1 : 2;
    unsigned counts[16] = {}, floats[16] = {};
    bool wide[16] = {};
    for (size_t i = 0; i < insns_.size(); ++i) {
      unsigned mentions[16] = {}, floatMentions[16] = {};
      CountRegisters(mem_, insns_[i], mentions, floatMentions);
      MarkWideRegisters(mem_, insns_[i], wide);
      const unsigned weight = i < loopEnd ? 8 : 1;
      for (unsigned r = 0; r < 16; ++r) {
        counts[r] += mentions[r] * weight;
        floats[r] += floatMentions[r] * weight;
      }
    }
    // A 64-bit move between registers goes the way of floating point when either side
    // does, so that a value moved about between float operations stays in xmm.
    std::vector<bool> counted(insns_.size());
    for (int round = 0; round < 2; ++round) {
      for (size_t i = 0; i < insns_.size(); ++i) {
        unsigned a, b;
        if (counted[i] || !RegisterMove(insns_[i], a, b) || floats[a] + floats[b] == 0) continue;
        counted[i] = true;
        const unsigned weight = i < loopEnd ? 8 : 1;
        floats[a] += weight;
        floats[b] += weight;
      }
    }
    std::fill(std::begin(hostOf_), std::end(hostOf_), kNoHost);
    size_t gps = 0, xmms = 0;
    bool chosen[16] = {};
    for (;;) {
      unsigned best = 16;
      for (unsigned r = 0; r < 16; ++r)
        if (!chosen[r] && counts[r] >= least && (best == 16 || counts[r] > counts[best])) best = r;
      if (best == 16) break;
      chosen[best] = true;
      Home home;
      home.vmReg = best;
      const bool mostlyFloat = 2 * floats[best] > counts[best];
      if (gps < std::size(kCacheRegisters) && (!mostlyFloat || xmms == std::size(kCacheXmms))) {
        home.gp = kCacheRegisters[gps++];
        home.narrow = !wide[best];
      } else if (xmms < std::size(kCacheXmms) && (mostlyFloat || wide[best])) {
        home.inXmm = true;
        home.xmm = kCacheXmms[xmms++];
      } else {
        continue;  // 32-bit integer work in xmm costs more than memory operands do
      }
      hostOf_[best] = static_cast<uint8_t>(cached_.size());
      cached_.push_back(home);
    }
  }

  const Home* HomeOf(unsigned r) const {
    return r < 16 && hostOf_[r] != kNoHost ? &cached_[hostOf_[r]] : nullptr;
  }
  // The general register VM register r lives in, when it has one.
  bool HostOf(unsigned r, Gp& host) const {
    const Home* home = HomeOf(r);
    if (!home || home->inXmm) return false;
    host = home->gp;
    return true;
  }
  // The xmm register VM register r lives in, when it has one.
  bool XmmOf(unsigned r, Xmm& xmm) const {
    const Home* home = HomeOf(r);
    if (!home || !home->inXmm) return false;
    xmm = home->xmm;
    return true;
  }
  static bool RegisterOfSlot(uint32_t header, unsigned& r) {
    if (header < HDR_REGS || (header - HDR_REGS) % 8 != 0) return false;
    r = (header - HDR_REGS) / 8;
    return r < 16;
  }
  bool HostOfSlot(uint32_t header, Gp& host) const {
    unsigned r;
    return RegisterOfSlot(header, r) && HostOf(r, host);
  }
  bool XmmOfSlot(uint32_t header, Xmm& xmm) const {
    unsigned r;
    return RegisterOfSlot(header, r) && XmmOf(r, xmm);
  }

  // Moves between where a register lives and its header slot.
  void LoadHome(const Home& home) {
    const int32_t slot = static_cast<int32_t>(RegisterAddress(home.vmReg));
    if (home.inXmm) return void(a_.movq(home.xmm, qword_ptr(rbx, slot)));
    if (home.narrow) return void(a_.mov(home.gp.r32(), dword_ptr(rbx, slot)));
    a_.mov(home.gp, qword_ptr(rbx, slot));
  }
  void StoreHome(const Home& home) {
    const int32_t slot = static_cast<int32_t>(RegisterAddress(home.vmReg));
    if (home.inXmm) return void(a_.movq(qword_ptr(rbx, slot), home.xmm));
    if (home.narrow) return void(a_.mov(dword_ptr(rbx, slot), home.gp.r32()));
    a_.mov(qword_ptr(rbx, slot), home.gp);
  }
  bool Narrow(const Place& p) const {
    unsigned r;
    const Home* home = p.kind == Place::REG && RegisterOfSlot(p.header, r) ? HomeOf(r) : nullptr;
    return home && !home->inXmm && home->narrow;
  }
  // VM register r from or to the 8 bytes at mem.
  void RegisterFrom(unsigned r, const Mem& mem) {
    if (const Home* home = HomeOf(r))
      return void(home->inXmm ? a_.movq(home->xmm, mem) : a_.mov(home->gp, mem));
    a_.mov(rax, mem);
    a_.mov(qword_ptr(rbx, static_cast<int32_t>(RegisterAddress(r))), rax);
  }
  void RegisterTo(unsigned r, const Mem& mem) {
    if (const Home* home = HomeOf(r))
      return void(home->inXmm ? a_.movq(mem, home->xmm) : a_.mov(mem, home->gp));
    a_.mov(rax, qword_ptr(rbx, static_cast<int32_t>(RegisterAddress(r))));
    a_.mov(mem, rax);
  }

  // The low word of VM register r into dst.
  void ReadRegister32(unsigned r, const Gp& dst) {
    Gp host;
    Xmm xmm;
    if (HostOf(r, host))
      a_.mov(dst.r32(), host.r32());
    else if (XmmOf(r, xmm))
      a_.movd(dst.r32(), xmm);
    else
      a_.mov(dst.r32(), dword_ptr(rbx, static_cast<int32_t>(RegisterAddress(r))));
  }

  // The way out before the current instruction (or at next, past the last one).
  Label StepExit(uint32_t pc) {
    const Label l = a_.newLabel();
    pending_.push_back({Pending::STEP, l, pc, SegmentEnd() - index_, state_});
    return l;
  }
  Label StepExit() { return StepExit(insns_[index_].pc); }

  // The immediate slot as the state says it is.
  void SettleSlot(const SlotState& slot) {
    if (slot.low) a_.mov(dword_ptr(rbx, HDR_IMMEDIATE), slot.lowValue);
    if (slot.high) a_.mov(dword_ptr(rbx, HDR_IMMEDIATE + 4), slot.highValue);
  }

  // The flags byte in the context from the value in r15 at a size. Leaves eax as it was.
  void StoreFlagsByte(unsigned size) {
    const Gp v = Sized(r15, size);
    a_.mov(ecx, r15d);
    a_.and_(ecx, FLAG_ODD);
    a_.test(v, v);
    a_.sets(dl);
    a_.movzx(edx, dl);
    a_.shl(edx, 2);
    a_.or_(ecx, edx);
    a_.mov(edx, FLAG_ZERO);
    a_.test(v, v);
    a_.cmovnz(edx, ecx);
    a_.mov(dword_ptr(rbp, offsetof(Context, flags)), edx);
  }

  // The flags of the result in xmm2 as a value in r15: 0 for zero, -2 for negative, 2
  // for neither (also NaN). Leaves eax as it was.
  void FlagsFromXmm(bool isDouble) {
    a_.xorps(xmm1, xmm1);
    a_.xor_(ecx, ecx);
    a_.mov(rdx, -2);
    a_.mov(r15d, 2);
    isDouble ? a_.ucomisd(xmm2, xmm1) : a_.ucomiss(xmm2, xmm1);
    a_.cmovz(r15, rcx);  // equal, or unordered
    a_.cmovb(r15, rdx);  // below, or unordered
    a_.mov(ecx, 2);
    a_.cmovp(r15, rcx);  // unordered
  }

  // The state as the start of a block expects it: the flags' value widened to 64 bits
  // (keeping zero, sign and parity), the immediate slot written. Leaves eax as it was.
  void Normalize(const CarriedState& state) {
    if (state.flags.source != FlagState::VALUE)
      FlagsFromXmm(state.flags.source == FlagState::DOUBLE);
    switch (state.flags.size) {
      case SIZE_B:
        a_.movsx(r15, r15b);
        break;
      case SIZE_W:
        a_.movsx(r15, r15w);
        break;
      case SIZE_D:
        a_.movsxd(r15, r15d);
        break;
      default:
        break;
    }
    SettleSlot(state.slot);
  }

  void WriteBackRegisters() {
    for (const Home& home : cached_) StoreHome(home);
  }

  // The state on the way out to the driver: the budget of instructions not run back,
  // the flags byte, the immediate slot and the registers in their slots. Leaves eax as
  // it was.
  void ExitState(uint32_t refund, const CarriedState& state) {
    if (refund != 0) a_.add(rdi, refund);
    if (state.flags.source != FlagState::VALUE)
      FlagsFromXmm(state.flags.source == FlagState::DOUBLE);
    StoreFlagsByte(state.flags.source == FlagState::VALUE ? state.flags.size : unsigned{SIZE_Q});
    SettleSlot(state.slot);
    WriteBackRegisters();
  }

  void EmitPending() {
    for (size_t i = 0; i < pending_.size(); ++i) {
      const Pending p = pending_[i];
      a_.bind(p.label);
      switch (p.kind) {
        case Pending::CHAIN:
          Chain(p.pc, p.refund, p.state);
          break;
        case Pending::LOOP:
          LoopBack(p);
          break;
        default:
          ExitState(p.refund, p.state);
          a_.mov(eax, p.pc);
          a_.mov(edx, EXIT_STEP);
          a_.jmp(qword_ptr(rbp, kExitOffset));
      }
    }
  }

  // Back to the start for another round, paid for as the block's start pays; with too
  // little budget left, out to the step at the start.
  void LoopBack(const Pending& p) {
    const Label shortBudget = a_.newLabel();
    // What this round did not run is given back and the next round paid for at once.
    const uint32_t charge = Count() - p.refund;
    a_.sub(rdi, charge);
    a_.jb(shortBudget);
    if (loops_ && p.state == loopState_) {
      a_.jmp(loopTop_);
    } else {
      Normalize(p.state);
      a_.jmp(top_);
    }
    a_.bind(shortBudget);
    a_.add(rdi, Count());  // back to what was left with this round's refund
    ExitState(0, p.state);
    a_.mov(eax, Start());
    a_.mov(edx, EXIT_STEP);
    a_.jmp(qword_ptr(rbp, kExitOffset));
  }

  // To the translation at a known place, or out to the driver when there is none.
  void Chain(uint32_t target, uint32_t refund, const CarriedState& state) {
    if (refund != 0) a_.add(rdi, refund);
    Normalize(state);
    WriteBackRegisters();
    const Label miss = a_.newLabel();
    if (target % 4 == 0 && target / 4 < cache_.places()) {
      a_.mov(rax, reinterpret_cast<uint64_t>(cache_.entries() + target / 4));
      a_.mov(rax, qword_ptr(rax));
      a_.test(rax, rax);
      a_.jz(miss);
      a_.jmp(rax);
    }
    a_.bind(miss);
    StoreFlagsByte(SIZE_Q);
    a_.mov(eax, target);
    a_.mov(edx, EXIT_CHAIN);
    a_.jmp(qword_ptr(rbp, kExitOffset));
  }

  // The translation at the place in eax into rcx, or to miss when there is none.
  void LookUpPlaceInEax(const Label& miss) {
    a_.cmp(eax, cache_.places() * 4);
    a_.jae(miss);
    a_.test(eax, 3);
    a_.jnz(miss);
    a_.mov(rcx, reinterpret_cast<uint64_t>(cache_.entries()));
    a_.mov(rcx, qword_ptr(rcx, rax, 1));
    a_.test(rcx, rcx);
    a_.jz(miss);
  }
  // The same for a place known now (also in eax).
  void LookUpPlace(uint32_t pc, const Label& miss) {
    a_.mov(eax, pc);
    if (pc % 4 != 0 || pc / 4 >= cache_.places()) return void(a_.jmp(miss));
    a_.mov(rcx, reinterpret_cast<uint64_t>(cache_.entries() + pc / 4));
    a_.mov(rcx, qword_ptr(rcx));
    a_.test(rcx, rcx);
    a_.jz(miss);
  }
  // Out to the driver at the place in eax, which has no translation.
  void ChainMiss(const Label& miss) {
    a_.bind(miss);
    StoreFlagsByte(SIZE_Q);
    a_.mov(edx, EXIT_CHAIN);
    a_.jmp(qword_ptr(rbp, kExitOffset));
  }

  // To the place in eax, with the registers in their slots and the state as a block's
  // start expects it.
  void JumpToPlaceInEax() {
    const Label miss = a_.newLabel();
    LookUpPlaceInEax(miss);
    a_.jmp(rcx);
    ChainMiss(miss);
  }

  // To the place in eax.
  void ChainDynamic() {
    Normalize(state_);
    WriteBackRegisters();
    JumpToPlaceInEax();
  }

  // A jump to the block's start goes round the loop; the first one seen decides the
  // state the loop's second copy starts with.
  Label LoopJump() {
    const Label l = a_.newLabel();
    pending_.push_back({Pending::LOOP, l, Start(), SegmentEnd() - index_ - 1, state_});
    if (!loops_ && !secondCopy_ && !(state_ == CarriedState{})) {
      loops_ = true;
      loopState_ = state_;
    }
    return l;
  }

  // A conditional jump on the current flags to target, taken out of the block or round
  // its loop.
  void Branch(unsigned cc, uint32_t target, bool flagsLive = false) {
    Label taken;
    if (target == Start() && !Segmented()) {
      taken = LoopJump();
    } else {
      taken = a_.newLabel();
      pending_.push_back({Pending::CHAIN, taken, target, SegmentEnd() - index_ - 1, state_});
    }
    if (state_.flags.source != FlagState::VALUE)
      return FloatBranch(cc, state_.flags.source == FlagState::DOUBLE, taken);
    const FlagState& flags = state_.flags;
    const Gp v = Sized(r15, flags.size);
    // The x86 flags of the operation that made the value still stand (flagsLive) for
    // its zero and sign; greater and less-or-equal also need the overflow flag clear.
    if (cc >= 6)
      a_.test(r15b, 1);
    else if (!flagsLive || cc == 3 || cc == 4)
      a_.test(v, v);
    switch (cc) {
      case 0:  // eq
      case 6:  // ev
        a_.jz(taken);
        break;
      case 1:  // ne
      case 7:  // od
        a_.jnz(taken);
        break;
      case 2:  // ge
        a_.jns(taken);
        break;
      case 3:  // gt
        a_.jg(taken);
        break;
      case 4:  // le
        a_.jle(taken);
        break;
      default:  // lt
        a_.js(taken);
        break;
    }
  }

  // A conditional jump on the flags of the float or double result in xmm2, which stays
  // there: zero when it is zero, negative when below zero, and neither (greater) when
  // it is NaN, so that the flags' value is always even.
  void FloatBranch(unsigned cc, bool isDouble, const Label& taken) {
    const Label notTaken = a_.newLabel();
    a_.xorps(xmm1, xmm1);
    isDouble ? a_.ucomisd(xmm2, xmm1) : a_.ucomiss(xmm2, xmm1);
    // eq ne ge gt le lt: whether NaN (unordered) jumps, and the x86 condition otherwise.
    static constexpr struct {
      bool nanJumps;
      CondCode ordered;
    } kJumps[6] = {{false, CondCode::kE},  {true, CondCode::kNE}, {true, CondCode::kAE},
                   {true, CondCode::kA},   {false, CondCode::kBE}, {false, CondCode::kB}};
    if (cc == 6) a_.jmp(taken);  // ev: the value is always even
    if (cc < 6) {
      a_.jp(kJumps[cc].nanJumps ? taken : notTaken);
      a_.j(kJumps[cc].ordered, taken);
    }
    a_.bind(notTaken);
  }

  // Checks that len bytes at the address in addr lie in translated code's range, and
  // for a store that they touch no translated code. The code map is marked 8 bytes
  // ahead of each block, so the map's byte for a store's first address covers 8 bytes.
  // addr holds the address less bias.
  void CheckRange(const Gp& addr, uint32_t len, bool store, const Label& exit, int32_t bias = 0) {
    const uint32_t room = len < 8 ? 8 : len;
    if (bias == kOperandBias) {
      a_.cmp(addr.r32(), memSize_ - kLowestAddress - room);
    } else {
      a_.lea(ecx, ptr(addr.r64(), bias - kOperandBias));
      a_.cmp(ecx, memSize_ - kLowestAddress - room);
    }
    a_.ja(exit);
    if (!store) return;
    a_.mov(rdx, reinterpret_cast<uint64_t>(cache_.codeMap()));
    for (uint32_t at = 0; at < room; at += 8) {
      a_.lea(ecx, ptr(addr.r64(), bias + static_cast<int32_t>(at)));
      a_.shr(ecx, kCodeMapShift);
      a_.cmp(byte_ptr(rdx, rcx), 0);
      a_.jne(exit);
    }
  }
  // A load left to the guard (unchecked) needs nothing here.
  void Check(const Place& p, bool store, const Label& exit, bool unchecked = false) {
    if (p.kind != Place::MEM) return;
    if (store) return CheckStore(p.addr, 8, exit, p.bias);
    if (!unchecked) CheckRange(p.addr, 8, false, exit, p.bias);
  }

  // A store, which most often lands where no translation lies (the stack, the heap, the
  // zero area): a look at whether it does, and only when it does not the whole check,
  // kept out of line.
  void CheckStore(const Gp& addr, uint32_t len, const Label& exit, int32_t bias = 0) {
    const uint32_t room = len < 8 ? 8 : len;
    const uint32_t low = cache_.plainLow(), high = cache_.plainHigh();
    if (!cache_.PlainHoldsNoCode() || high - low < room)
      return CheckRange(addr, len, true, exit, bias);
    const Label elsewhere = a_.newLabel(), checked = a_.newLabel();
    a_.lea(ecx, ptr(addr.r64(), bias - static_cast<int32_t>(low)));
    a_.cmp(ecx, high - low - room);
    a_.ja(elsewhere);
    a_.bind(checked);
    outOfLine_.push_back([this, elsewhere, checked, addr, len, exit, bias] {
      a_.bind(elsewhere);
      CheckRange(addr, len, true, exit, bias);
      a_.jmp(checked);
    });
  }

  Mem At(const Place& p, unsigned bytes) const {
    if (p.kind == Place::REG) return ptr(rbx, static_cast<int32_t>(p.header), bytes);
    return ptr(rbx, p.addr.r64(), 0, p.bias, bytes);
  }
  bool Cached(const Place& p, Gp& host) const {
    return p.kind == Place::REG && HostOfSlot(p.header, host);
  }

  // The operand's value at size, zero- or sign-extended into all of dst.
  void Load(const Place& p, unsigned size, const Gp& dst, bool signExtend = false) {
    if (p.kind == Place::IMM) {
      uint64_t v = p.imm;
      if (size < SIZE_Q) {
        const unsigned bits = 8u << size;
        v &= (uint64_t{1} << bits) - 1;
        if (signExtend && (v >> (bits - 1)) & 1) v |= ~uint64_t{0} << bits;
      }
      a_.mov(dst.r64(), v);
      return;
    }
    Gp host;
    Xmm xmm;
    if (p.kind == Place::REG && XmmOfSlot(p.header, xmm)) {
      a_.movq(dst.r64(), xmm);
      if (size == SIZE_D)
        signExtend ? a_.movsxd(dst.r64(), dst.r32()) : a_.mov(dst.r32(), dst.r32());
      else if (size != SIZE_Q)
        signExtend ? a_.movsx(dst.r64(), Sized(dst, size)) : a_.movzx(dst.r32(), Sized(dst, size));
      return;
    }
    if (Cached(p, host)) {
      const Gp from = Sized(host, size);
      if (size == SIZE_Q)
        a_.mov(dst.r64(), from);
      else if (size == SIZE_D)
        signExtend ? a_.movsxd(dst.r64(), from) : a_.mov(dst.r32(), from);
      else
        signExtend ? a_.movsx(dst.r64(), from) : a_.movzx(dst.r32(), from);
      return;
    }
    const Mem at = At(p, 1u << size);
    switch (size) {
      case SIZE_B:
      case SIZE_W:
        if (signExtend)
          a_.movsx(dst.r64(), at);
        else
          a_.movzx(dst.r32(), at);
        break;
      case SIZE_D:
        if (signExtend)
          a_.movsxd(dst.r64(), at);
        else
          a_.mov(dst.r32(), at);
        break;
      default:
        a_.mov(dst.r64(), at);
    }
  }
  // Stores the low size bytes of src; the bytes above them stay as they were. Uses rcx
  // for a register living in a host register, or src itself when the caller is done
  // with it (srcDone).
  void Store(const Place& p, unsigned size, const Gp& src, bool srcDone = false) {
    Gp host;
    Xmm xmm;
    if (p.kind == Place::REG && XmmOfSlot(p.header, xmm)) {
      if (size == SIZE_Q) return void(a_.movq(xmm, src.r64()));
      a_.movq(rcx, xmm);
      if (size == SIZE_D) {
        a_.shr(rcx, 32);
        a_.shl(rcx, 32);
        a_.mov(src.r32(), src.r32());  // only its low word counts from here on
        a_.or_(rcx, src.r64());
      } else {
        a_.mov(Sized(rcx, size), Sized(src, size));
      }
      return void(a_.movq(xmm, rcx));
    }
    if (!Cached(p, host)) return void(a_.mov(At(p, 1u << size), Sized(src, size)));
    if (size != SIZE_D || Narrow(p)) return void(a_.mov(Sized(host, size), Sized(src, size)));
    // A 32-bit move would clear the high word: flip the low word's bits that differ.
    if (srcDone) {
      a_.xor_(src.r32(), host.r32());
      return void(a_.xor_(host, src.r64()));
    }
    a_.mov(ecx, host.r32());
    a_.xor_(ecx, src.r32());
    a_.xor_(host, rcx);
  }

  // A float (4 bytes) or double (8) between an operand and an xmm register.
  void LoadXmm(const Place& p, bool isDouble, const Xmm& dst) {
    Gp host;
    Xmm xmm;
    if (p.kind == Place::REG && XmmOfSlot(p.header, xmm))
      a_.movaps(dst, xmm);
    else if (Cached(p, host))
      isDouble ? a_.movq(dst, host) : a_.movd(dst, host.r32());
    else if (isDouble)
      a_.movsd(dst, At(p, 8));
    else
      a_.movss(dst, At(p, 4));
  }
  void StoreXmm(const Place& p, bool isDouble, const Xmm& src) {
    Gp host;
    Xmm xmm;
    if (p.kind == Place::REG && XmmOfSlot(p.header, xmm)) {
      isDouble ? a_.movq(xmm, src) : a_.movss(xmm, src);
    } else if (Cached(p, host) && isDouble) {
      a_.movq(host, src);
    } else if (Cached(p, host)) {
      a_.movd(eax, src);
      Store(p, SIZE_D, rax);
    } else if (isDouble) {
      a_.movsd(At(p, 8), src);
    } else {
      a_.movss(At(p, 4), src);
    }
  }

  void FlagsFrom(const Gp& r, unsigned size) {
    a_.mov(r15, r.r64());
    state_.flags = {size};
  }

  // Locates an operand of a two-operand format, advancing cursor past its words.
  Place Locate(Loc loc, uint32_t w, unsigned size, uint32_t& cursor, const Gp& into) {
    const unsigned regA = (w >> 5) & 15, regB = (w >> 16) & 15;
    Place p;
    switch (loc) {
      case LOC_REG_A:
      case LOC_REG_B:
        p.header = RegisterAddress(loc == LOC_REG_A ? regA : regB);
        return p;
      case LOC_IND_A:
      case LOC_IND_B: {
        const uint32_t e = Load32(mem_ + cursor);
        cursor += 4;
        ReadRegister32(loc == LOC_IND_A ? regA : regB, into);
        if (e != kLowestAddress) a_.add(into.r32(), e - kLowestAddress);
        break;
      }
      case LOC_ABS:
        a_.mov(into.r32(), Load32(mem_ + cursor) - kLowestAddress);
        cursor += 4;
        break;
      case LOC_FRAME_F:
        a_.lea(into.r32(), ptr(r13, static_cast<int32_t>(FrameOffset(w) - kLowestAddress)));
        break;
      case LOC_FRAME_E:
        a_.lea(into.r32(),
               ptr(r13, static_cast<int32_t>(Load32(mem_ + cursor) - kLowestAddress)));
        cursor += 4;
        break;
      case LOC_SIMM_A:
      case LOC_SIMM_B: {
        const uint32_t field = loc == LOC_SIMM_A ? regA : regB;
        const uint32_t v = ShortImmediate(field);
        p.kind = Place::IMM;
        p.imm = v;
        state_.slot.low = true;
        state_.slot.lowValue = v;
        if (size == SIZE_Q) {
          state_.slot.high = true;
          state_.slot.highValue = 0;
        }
        return p;
      }
      default: {  // long immediate
        const uint32_t low = Load32(mem_ + cursor);
        cursor += 4;
        p.kind = Place::IMM;
        p.imm = low;
        state_.slot.low = true;
        state_.slot.lowValue = low;
        if (size == SIZE_Q) {
          const uint32_t high = Load32(mem_ + cursor);
          cursor += 4;
          p.imm |= uint64_t{high} << 32;
          state_.slot.high = true;
          state_.slot.highValue = high;
        }
        return p;
      }
    }
    p.kind = Place::MEM;
    p.addr = into;
    p.bias = kOperandBias;
    return p;
  }

  void Instruction(const Insn& in) {
    const bool flagsLive = flagsLive_;
    flagsLive_ = false;
    switch (in.kind) {
      case K_NOP:
        return;
      case K_F1 ... K_F30:
        return TwoOperand(in);
      case K_ONE_REG:
      case K_ONE_IND:
      case K_ONE_FRAME:
      case K_ONE_ABS:
        return OneOperand(in);
      case K_TLJ_REG:
      case K_TLJ_IND:
      case K_TLJ_ABS:
      case K_TLJ_FRAME:
        return TestAndJump(in);
      case K_LJ:
        return Branch((in.w >> 7) & 7, (in.w >> 10) << 2, flagsLive);
      case K_JMP:
        if ((in.w >> 10) << 2 == Start() && !Segmented()) return void(a_.jmp(LoopJump()));
        return Chain((in.w >> 10) << 2, 0, state_);
      case K_JMP_MEM: {
        const Label exit = StepExit();
        ReadRegister32((in.w >> 6) & 15, r8);
        a_.add(r8d, (in.w >> 10) << 2);
        CheckRange(r8, 4, false, exit);
        a_.mov(eax, dword_ptr(rbx, r8, 0, 0));
        return ChainDynamic();
      }
      case K_JSR_ABS:
      case K_JSR_REG:
        return CallTo(in);
      case K_SFVR:
        return SaveFrame(in);
      case K_EFR:
        return EndFrame(in);
      case K_PUSH_LONG:
      case K_PUSH_SHORT:
        return PushImmediate(in);
      default:
        return;  // never decoded as translatable
    }
  }

  void TwoOperand(const Insn& in) {
    const unsigned format = in.w & 31, size = (in.w >> 9) & 3, op = in.entry >> 2;
    const Label exit = StepExit();
    uint32_t cursor = in.pc + 4;
    const Place d = Locate(kFormatLocs[format].dst, in.w, size, cursor, r8);
    const Place s = Locate(kFormatLocs[format].src, in.w, size, cursor, r9);
    if (op == OP2_LEA) {
      Check(d, true, exit);
      if (s.kind == Place::MEM) {
        a_.lea(s.addr.r32(), ptr(s.addr.r64(), s.bias));
        return Store(d, SIZE_D, s.addr);
      }
      a_.mov(eax, s.kind == Place::IMM ? HDR_IMMEDIATE : s.header);
      return Store(d, SIZE_D, rax);
    }
    const bool stores = op != OP2_CMP && op != OP2_TST && op != OP2_CMPF;
    const bool unchecked = cache_.Guarded() && LoadsBeforeEffects(op);
    Check(d, stores, exit, unchecked);
    Check(s, false, exit, unchecked);
    if (!unchecked) return Operate(in, d, s, size, op, exit);
    LeftToTheGuard(exit, [&] { Operate(in, d, s, size, op, exit); });
  }

  // Emits code whose loads of VM memory go unchecked: a fault in the guard there takes
  // exit, as the checks would have.
  template <typename EmitCode>
  void LeftToTheGuard(const Label& exit, EmitCode emit) {
    const size_t from = a_.offset();
    emit();
    faultSites_.push_back({from, a_.offset(), exit});
  }

  void Operate(const Insn& in, const Place& d, const Place& s, unsigned size, unsigned op,
               const Label& exit) {
    const bool stores = op != OP2_CMP && op != OP2_TST && op != OP2_CMPF;
    switch (op) {
      case OP2_ADD:
      case OP2_SUB:
      case OP2_CMP:
      case OP2_MUL:
      case OP2_TST:
      case OP2_AND:
      case OP2_OR:
      case OP2_XOR: {
        if (!stores) return CompareOrTest(d, s, size, op);
        if (InPlace(d, s, size, op)) return;
        Load(d, size, rax);
        // Only the low size bytes of the result count, so a narrow immediate may stand
        // sign-extended as the operand itself.
        Operand source = rcx;
        Gp host;
        if (s.kind == Place::IMM && ImmediateFits(s.imm, size))
          source = Imm(static_cast<int32_t>(static_cast<uint32_t>(s.imm)));
        else if (Cached(s, host))
          source = host;  // its bytes above size reach only bytes of the result that do not count
        else
          Load(s, size, rcx);
        EmitInteger(op, rax, source);
        if (op != OP2_ADD && op != OP2_MUL && op != OP2_OR) FlagsFrom(rax, size);
        return Store(d, size, rax, true);
      }
      case OP2_MOV:
        if (MoveDirect(d, s, size)) return;
        Load(s, size, rax);
        return Store(d, size, rax, true);
      case OP2_MOVZ:
        if (Gp host; Cached(d, host)) return Load(s, size, host);
        Load(s, size, rax);
        Store(d, SIZE_Q, rax);
        return;
      case OP2_RSHI:
      case OP2_RSHU:
      case OP2_LSH: {
        Load(s, SIZE_B, rcx);
        Load(d, size, rax, op == OP2_RSHI);
        const Gp v = size == SIZE_Q ? Gp(rax) : Gp(eax);
        if (op == OP2_RSHI)
          a_.sar(v, cl);
        else if (op == OP2_RSHU)
          a_.shr(v, cl);
        else
          a_.shl(v, cl);
        FlagsFrom(rax, size);
        return Store(d, size, rax, true);
      }
      case OP2_DIVI:
      case OP2_MODI:
      case OP2_DIVU:
      case OP2_MODU:
        return Divide(in, d, s, size, op, exit);
      default:
        return FloatOperation(d, s, size, op, exit);
    }
  }

  // An immediate as an x86 operand of an operation at size: its low bytes, sign-extended
  // as x86 extends them.
  static Imm SizedImmediate(uint64_t imm, unsigned size) {
    switch (size) {
      case SIZE_B:
        return Imm(static_cast<int8_t>(imm));
      case SIZE_W:
        return Imm(static_cast<int16_t>(imm));
      default:
        return Imm(static_cast<int32_t>(static_cast<uint32_t>(imm)));
    }
  }

  // The x86 instruction of add, sub (and cmp), mul, and (and tst), or, xor on target.
  void EmitInteger(unsigned op, const Gp& target, const Operand& source) {
    const InstId id = op == OP2_ADD                    ? Inst::kIdAdd
                      : op == OP2_SUB || op == OP2_CMP ? Inst::kIdSub
                      : op == OP2_MUL                  ? Inst::kIdImul
                      : op == OP2_TST || op == OP2_AND ? Inst::kIdAnd
                      : op == OP2_OR                   ? Inst::kIdOr
                                                       : Inst::kIdXor;
    if (id == Inst::kIdImul && source.isImm())
      a_.emit(id, target, target, source);
    else
      a_.emit(id, target, source);
  }

  // cmp and tst compute their result into r15 at their size, so that a conditional jump
  // right after them can use the x86 flags the operation left.
  // The source is loaded first, so that nothing (r15 holds the flags' value) has changed
  // when the load of either operand faults.
  void CompareOrTest(const Place& d, const Place& s, unsigned size, unsigned op) {
    const Gp v = Sized(r15, size);
    Operand source;
    Gp host;
    if (s.kind == Place::IMM && ImmediateFits(s.imm, size)) {
      source = SizedImmediate(s.imm, size);
    } else if (Cached(s, host)) {
      source = Sized(host, size);
    } else {
      Load(s, size, rcx);
      source = Sized(rcx, size);
    }
    Load(d, size, r15);
    EmitInteger(op, v, source);
    state_.flags = {size};
    flagsLive_ = true;
  }

  // add, sub, mul, and, or, xor on a register living in a general register, worked on
  // there: at 64 bits, or at 32 on a narrow one. The flags' value is the register itself,
  // and the x86 flags of sub, and and xor stand for a jump right after.
  bool InPlace(const Place& d, const Place& s, unsigned size, unsigned op) {
    Gp host, sourceHost;
    if (!Cached(d, host) || !(size == SIZE_Q || (size == SIZE_D && Narrow(d)))) return false;
    const Gp target = Sized(host, size);
    Operand source;
    if (s.kind == Place::IMM && ImmediateFits(s.imm, size))
      source = Imm(static_cast<int32_t>(static_cast<uint32_t>(s.imm)));
    else if (Cached(s, sourceHost))
      source = Sized(sourceHost, size);
    else {
      Load(s, size, rcx);
      source = Sized(rcx, size);
    }
    EmitInteger(op, target, source);
    if (op == OP2_SUB || op == OP2_AND || op == OP2_XOR) {
      a_.mov(r15, host);
      state_.flags = {size};
      flagsLive_ = true;
    }
    return true;
  }

  // A move that needs no scratch register: between two registers living in host
  // registers (64 bits), or of an immediate into memory or a register's slot. False when
  // the move is not one of those.
  bool MoveDirect(const Place& d, const Place& s, unsigned size) {
    Gp dGp, sGp;
    Xmm dXmm, sXmm;
    const bool dInGp = Cached(d, dGp), dInXmm = d.kind == Place::REG && XmmOfSlot(d.header, dXmm);
    if (s.kind == Place::IMM) {
      if (dInGp || dInXmm || !ImmediateFits(s.imm, size)) return false;
      a_.mov(At(d, 1u << size), SizedImmediate(s.imm, size));
      return true;
    }
    const bool sInGp = Cached(s, sGp), sInXmm = s.kind == Place::REG && XmmOfSlot(s.header, sXmm);
    if (size == SIZE_D && dInGp && Narrow(d)) {
      if (sInGp)
        a_.mov(dGp.r32(), sGp.r32());
      else if (sInXmm)
        a_.movd(dGp.r32(), sXmm);
      else
        a_.mov(dGp.r32(), At(s, 4));
      return true;
    }
    if (size != SIZE_Q) return false;
    if (dInXmm && sInXmm)
      a_.movaps(dXmm, sXmm);
    else if (dInXmm && sInGp)
      a_.movq(dXmm, sGp);
    else if (dInGp && sInXmm)
      a_.movq(dGp, sXmm);
    else if (dInGp && sInGp)
      a_.mov(dGp, sGp);
    else
      return false;
    return true;
  }

  void Divide(const Insn&, const Place& d, const Place& s, unsigned size, unsigned op,
              const Label& exit) {
    const bool isSigned = op == OP2_DIVI || op == OP2_MODI;
    const bool wide = size == SIZE_Q;
    const Gp a = wide ? Gp(rax) : Gp(eax), b = wide ? Gp(rcx) : Gp(ecx);
    // Narrow signed operands divide as 32-bit values, where no quotient overflows.
    Load(d, size, rax, isSigned && size < SIZE_D);
    Load(s, size, rcx, isSigned && size < SIZE_D);
    a_.test(b, b);
    a_.jz(exit);
    if (isSigned) {
      const Label divide = a_.newLabel(), done = a_.newLabel();
      if (size >= SIZE_D) {
        // The most negative value divided by -1 wraps onto itself, remainder 0.
        a_.cmp(b, -1);
        a_.jne(divide);
        a_.neg(a);
        a_.xor_(edx, edx);
        a_.jmp(done);
      }
      a_.bind(divide);
      if (wide)
        a_.cqo();
      else
        a_.cdq();
      a_.idiv(b);
      a_.bind(done);
    } else {
      a_.xor_(edx, edx);
      a_.div(b);
    }
    Store(d, size, op == OP2_DIVI || op == OP2_DIVU ? rax : rdx, true);
  }

  void LoadFloat(const Place& p, bool isDouble, const Xmm& dst) {
    if (p.kind == Place::IMM) {
      a_.mov(rax, p.imm);
      a_.movq(dst, rax);
    } else {
      LoadXmm(p, isDouble, dst);
    }
  }

  // The second operand of a floating-point operation as x86 takes it: the xmm register
  // the VM register lives in, memory, or else loaded into xmm1.
  Operand FloatSource(const Place& p, bool isDouble) {
    Xmm xmm;
    Gp host;
    if (p.kind == Place::REG && XmmOfSlot(p.header, xmm)) return xmm;
    if (p.kind != Place::IMM && !Cached(p, host)) return At(p, isDouble ? 8 : 4);
    LoadFloat(p, isDouble, xmm1);
    return xmm1;
  }

  // The flags of the result in xmm0, taken from it only when something reads them.
  void FloatFlags(bool isDouble) {
    a_.movaps(xmm2, xmm0);
    state_.flags = {SIZE_Q, isDouble ? FlagState::DOUBLE : FlagState::FLOAT};
  }

  void FloatOperation(const Place& d, const Place& s, unsigned size, unsigned op,
                      const Label& exit) {
    const bool isDouble = size == SIZE_Q;
    const InstId id = op == OP2_ADDF                     ? (isDouble ? Inst::kIdAddsd : Inst::kIdAddss)
                      : op == OP2_SUBF || op == OP2_CMPF ? (isDouble ? Inst::kIdSubsd : Inst::kIdSubss)
                      : op == OP2_MULF                   ? (isDouble ? Inst::kIdMulsd : Inst::kIdMulss)
                                                         : (isDouble ? Inst::kIdDivsd : Inst::kIdDivss);
    Xmm home;
    if (op != OP2_CMPF && d.kind == Place::REG && XmmOfSlot(d.header, home)) {
      // In place, the old value kept in xmm0 for the step should the result be NaN.
      a_.movaps(xmm0, home);
      a_.emit(id, home, FloatSource(s, isDouble));
      isDouble ? a_.ucomisd(home, home) : a_.ucomiss(home, home);
      const Label nan = a_.newLabel();
      a_.jp(nan);
      outOfLine_.push_back([this, nan, home, exit] {
        a_.bind(nan);
        a_.movaps(home, xmm0);
        a_.jmp(exit);
      });
      if (op == OP2_SUBF) {
        a_.movaps(xmm2, home);
        state_.flags = {SIZE_Q, isDouble ? FlagState::DOUBLE : FlagState::FLOAT};
      }
      return;
    }
    LoadFloat(d, isDouble, xmm0);
    const Operand source = FloatSource(s, isDouble);
    a_.emit(id, xmm0, source);
    if (op == OP2_CMPF) return FloatFlags(isDouble);
    // A NaN result takes the step, which chooses its bits.
    isDouble ? a_.ucomisd(xmm0, xmm0) : a_.ucomiss(xmm0, xmm0);
    a_.jp(exit);
    StoreXmm(d, isDouble, xmm0);
    if (op == OP2_SUBF) FloatFlags(isDouble);
  }

  void OneOperand(const Insn& in) {
    const unsigned size = in.entry & 3, op = in.entry >> 2, bytes = 1u << size;
    const Label exit = StepExit();
    Place p;
    switch (in.kind) {
      case K_ONE_REG:
        p.header = RegisterAddress(in.w >> 16);
        break;
      case K_ONE_IND:
        ReadRegister32((in.w >> 16) & 15, r8);
        a_.add(r8d, Load32(mem_ + in.pc + 4));
        p.kind = Place::MEM;
        break;
      case K_ONE_FRAME:
        a_.lea(r8d, ptr(r13, static_cast<int32_t>(FrameOffset(in.w))));
        p.kind = Place::MEM;
        break;
      default:
        a_.mov(r8d, Load32(mem_ + in.pc + 4));
        p.kind = Place::MEM;
    }
    p.addr = r8;
    switch (op) {
      case OP1_PUSH: {
        const uint32_t room = bytes < 2 ? 2 : bytes;
        Check(p, false, exit);
        a_.lea(r9d, ptr(r12, -static_cast<int32_t>(room)));
        CheckStore(r9, room, exit);
        Load(p, size, rax);
        a_.mov(ptr(rbx, r9, 0, 0, room), Sized(rax, size == SIZE_B ? unsigned{SIZE_W} : size));
        a_.mov(r12d, r9d);
        return;
      }
      case OP1_POP: {
        Check(p, true, exit);
        a_.mov(r9d, r12d);
        CheckRange(r9, bytes, false, exit);
        Place top;
        top.kind = Place::MEM;
        top.addr = r9;
        Load(top, size, rax);
        Store(p, size, rax);
        a_.add(r12d, bytes < 2 ? 2 : bytes);
        return;
      }
      case OP1_PEA:
        a_.lea(r9d, ptr(r12, -4));
        CheckStore(r9, 4, exit);
        if (p.kind == Place::MEM)
          a_.mov(dword_ptr(rbx, r9, 0, 0), r8d);
        else
          a_.mov(dword_ptr(rbx, r9, 0, 0), p.header);
        a_.mov(r12d, r9d);
        return;
      default:
        break;
    }
    Check(p, op != OP1_TST, exit);
    switch (op) {
      case OP1_NEGF:
        Load(p, size, rax);
        a_.btc(rax, 8 * bytes - 1);
        Store(p, size, rax);
        return;
      case OP1_NEG:
        Load(p, size, rax);
        a_.neg(rax);
        Store(p, size, rax);
        return;
      case OP1_NOT:
        Load(p, size, rax);
        a_.not_(rax);
        Store(p, size, rax);
        FlagsFrom(rax, size);
        return;
      case OP1_TST:
        Load(p, size, rax);
        FlagsFrom(rax, size);
        return;
      case OP1_CVUU:
      case OP1_CVSS:
        Load(p, size, rax, op == OP1_CVSS);
        Store(p, SIZE_Q, rax);
        return;
      case OP1_CVUF:
      case OP1_CVSF:
        Load(p, size, rax, op == OP1_CVSF);
        a_.cvtsi2ss(xmm0, rax);
        a_.movd(eax, xmm0);
        Store(p, SIZE_Q, rax);  // the float, and 0 above it
        return;
      case OP1_CVUD:
      case OP1_CVSD:
        Load(p, size, rax, op == OP1_CVSD);
        a_.cvtsi2sd(xmm0, rax);
        StoreXmm(p, true, xmm0);
        return;
      case OP1_CVFS:
        LoadXmm(p, false, xmm0);
        a_.cvttss2si(rax, xmm0);  // out of range and NaN give 1 << 63, as the step does
        Store(p, SIZE_Q, rax);
        return;
      case OP1_CVDS:
        LoadXmm(p, true, xmm0);
        a_.cvttsd2si(rax, xmm0);
        Store(p, SIZE_Q, rax);
        return;
      case OP1_CVFD:
        LoadXmm(p, false, xmm0);
        a_.cvtss2sd(xmm0, xmm0);
        StoreXmm(p, true, xmm0);
        return;
      default:  // OP1_CVDF
        LoadXmm(p, true, xmm0);
        a_.cvtsd2ss(xmm0, xmm0);
        StoreXmm(p, false, xmm0);
        return;
    }
  }

  void TestAndJump(const Insn& in) {
    const uint32_t e = Load32(mem_ + in.pc + 4);
    const unsigned size = (in.w >> 5) & 3;
    const Label exit = StepExit();
    Place p;
    p.addr = r8;
    switch (in.kind) {
      case K_TLJ_REG:
        p.header = RegisterAddress(e);
        break;
      case K_TLJ_IND:
        ReadRegister32(e, r8);
        a_.sub(r8d, kLowestAddress);
        p.kind = Place::MEM;
        break;
      case K_TLJ_ABS:
        a_.mov(r8d, e - kLowestAddress);
        p.kind = Place::MEM;
        break;
      default:
        a_.lea(r8d, ptr(r13, static_cast<int32_t>(e - kLowestAddress)));
        p.kind = Place::MEM;
    }
    if (p.kind == Place::MEM) p.bias = kOperandBias;
    // The load goes straight into r15, which it changes only when it does not fault.
    if (p.kind == Place::MEM && cache_.Guarded()) {
      LeftToTheGuard(exit, [&] { Load(p, size, r15); });
    } else {
      Check(p, false, exit);
      Load(p, size, r15);
    }
    state_.flags = {size};
    Branch((in.w >> 7) & 7, (in.w >> 10) << 2);
  }

  // Calls: the target, the frame words below VSP, PCpreJSR.
  void CallTo(const Insn& in) {
    const bool absolute = in.kind == K_JSR_ABS;
    const Label exit = StepExit();
    const uint32_t target = absolute ? Load32(mem_ + in.pc + 4) : 0;
    if (!absolute) ReadRegister32((in.w >> 12) & 15, r8);
    a_.lea(r9d, ptr(r12, -8));
    CheckStore(r9, 8, exit);
    a_.mov(rcx, reinterpret_cast<uint64_t>(&m_.pcPreJsr));
    a_.mov(dword_ptr(rcx), in.pc + 4);
    a_.mov(dword_ptr(rbx, r9, 0, 4), in.w >> 16);
    a_.mov(dword_ptr(rbx, r9, 0, 0), in.pc + (absolute ? 8 : 4));
    a_.mov(r12d, r9d);
    Normalize(state_);
    WriteBackRegisters();
    // Into the routine by a host call, so that its return is predicted: the host stack
    // holds the place to go back to beside the host's return address, and the routine's
    // efr returns there only when the VM frame names the same place.
    const Label miss = a_.newLabel(), plain = a_.newLabel(), missBack = a_.newLabel();
    if (absolute) {
      LookUpPlace(target, miss);
    } else {
      a_.mov(eax, r8d);
      LookUpPlaceInEax(miss);
    }
    a_.cmp(rsp, qword_ptr(rbp, offsetof(Context, hostFloor)));
    a_.jbe(plain);
    const uint32_t back = in.pc + (absolute ? 8 : 4);
    a_.push(Imm(static_cast<int32_t>(back)));
    a_.call(rcx);
    // Back from the routine: every register is in its slot.
    a_.add(rsp, 8);
    const bool goesOn = index_ + 1 < Count();
    if (!goesOn) LookUpPlace(back, missBack);
    const auto rest = [this, plain, miss, missBack, goesOn] {
      a_.bind(plain);
      a_.jmp(rcx);
      ChainMiss(miss);
      if (!goesOn) ChainMiss(missBack);
    };
    if (!goesOn) return rest();
    outOfLine_.push_back(rest);
    GoOnAfterCall(back);
  }

  // The next segment, in the state a block's start has: paid for, its registers loaded.
  void GoOnAfterCall(uint32_t back) {
    const uint32_t charge = segmentEnds_[index_ + 1] - (index_ + 1);
    const Label shortBudget = a_.newLabel();
    a_.sub(rdi, charge);
    a_.jb(shortBudget);
    for (const Home& home : cached_) LoadHome(home);
    state_ = CarriedState{};
    outOfLine_.push_back([this, shortBudget, charge, back] {
      a_.bind(shortBudget);
      a_.add(rdi, charge);
      StoreFlagsByte(SIZE_Q);
      a_.mov(eax, back);
      a_.mov(edx, EXIT_STEP);
      a_.jmp(qword_ptr(rbp, kExitOffset));
    });
  }

  void SaveFrame(const Insn& in) {
    const unsigned n = (in.w >> 10) & 15;
    const Label exit = StepExit();
    a_.lea(r8d, ptr(r12, -4));
    CheckStore(r8, 4, exit);
    a_.mov(r9d, r8d);
    a_.sub(r9d, (in.w >> 14) + 8 * n);
    if (n != 0)
      CheckStore(r9, 8 * n, exit);
    else
      CheckRange(r9, 0, false, exit);
    a_.mov(dword_ptr(rbx, r8, 0, 0), r13d);
    for (unsigned i = 0; i < n; ++i)
      RegisterTo(14 - n + i, qword_ptr(rbx, r9, 0, static_cast<int32_t>(8 * i)));
    a_.mov(r13d, r8d);
    a_.mov(r12d, r9d);
  }

  void EndFrame(const Insn& in) {
    const unsigned n = (in.w >> 10) & 15;
    const Label exit = StepExit();
    // Locked blocks of the frame are released by the step.
    a_.mov(rcx, reinterpret_cast<uint64_t>(&m_.heap.listHead[LIST_LOCKED]));
    a_.cmp(dword_ptr(rcx), LIST_END);
    a_.jne(exit);
    a_.mov(r9d, r12d);
    CheckRange(r9, 8 * n, false, exit);
    a_.mov(r8d, r13d);
    CheckRange(r8, 12, false, exit);
    for (unsigned i = 0; i < n; ++i)
      RegisterFrom(14 - n + i, qword_ptr(rbx, r9, 0, static_cast<int32_t>(8 * i)));
    a_.mov(ecx, dword_ptr(rbx, r8, 0, 0));
    a_.mov(eax, dword_ptr(rbx, r8, 0, 4));
    a_.mov(edx, dword_ptr(rbx, r8, 0, 8));
    a_.lea(r12d, ptr(r8, rdx, 0, 12));
    a_.mov(r13d, ecx);
    const Label onward = a_.newLabel();
    a_.test(eax, eax);
    a_.jnz(onward);
    ExitState(0, state_);
    a_.mov(edx, EXIT_LEAVE);
    a_.jmp(qword_ptr(rbp, kExitOffset));
    a_.bind(onward);
    Normalize(state_);
    WriteBackRegisters();
    // Back by a host return where the call was made by translated code to this place.
    const Label table = a_.newLabel();
    a_.cmp(rsp, qword_ptr(rbp, offsetof(Context, hostStack)));
    a_.jae(table);
    a_.cmp(eax, dword_ptr(rsp, 8));
    a_.jne(table);
    a_.ret();
    a_.bind(table);
    JumpToPlaceInEax();
  }

  void PushImmediate(const Insn& in) {
    const bool isLong = in.kind == K_PUSH_LONG;
    const unsigned size = (in.w >> 8) & 3;
    const uint32_t room = size == SIZE_Q ? 8 : size == SIZE_D ? 4 : 2;
    const Label exit = StepExit();
    a_.lea(r9d, ptr(r12, -static_cast<int32_t>(room)));
    CheckStore(r9, room, exit);
    const uint32_t shortValue = static_cast<uint32_t>(static_cast<int32_t>(in.w) >> 10);
    const uint32_t value = isLong ? Load32(mem_ + in.pc + 4) : shortValue;
    if (size == SIZE_Q) {
      const uint32_t high = isLong ? Load32(mem_ + in.pc + 8)
                                   : static_cast<uint32_t>(static_cast<int32_t>(in.w) >> 31);
      a_.mov(dword_ptr(rbx, r9, 0, 0), value);
      a_.mov(dword_ptr(rbx, r9, 0, 4), high);
    } else if (size == SIZE_D) {
      a_.mov(dword_ptr(rbx, r9, 0, 0), value);
    } else {
      a_.mov(word_ptr(rbx, r9, 0, 0), value & 0xFFFF);
    }
    a_.mov(r12d, r9d);
  }

  // Any instruction asmjit refuses fails the whole block.
  struct Errors : ErrorHandler {
    bool failed = false;
    void handleError(Error, const char*, BaseEmitter*) override { failed = true; }
  };

  Errors errors_;
  FileLogger logger_{stderr};
  Machine& m_;
  Cache& cache_;
  uint8_t* mem_;
  uint32_t memSize_;
  std::vector<Insn> insns_;
  CodeHolder code_;
  Assembler a_;
  uint32_t index_ = 0;
  CarriedState state_;
  std::vector<Pending> pending_;
  std::vector<FaultSite> faultSites_;
  std::vector<uint32_t> segmentEnds_;  // by instruction
  std::vector<std::function<void()>> outOfLine_;  // rare paths, emitted after the block
  // VM registers living in host registers, and the index into cached_ of each.
  std::vector<Home> cached_;
  uint8_t hostOf_[16];
  Label top_, loopTop_;
  bool loops_ = false, secondCopy_ = false;
  // The x86 flags are those of the flags' value in r15 (zero and sign), left by the
  // instruction just translated.
  bool flagsLive_ = false;
  CarriedState loopState_;
};

}  // namespace

bool Translate(Machine& m, Cache& cache, uint32_t pc) {
  const auto started = std::chrono::steady_clock::now();
  std::vector<Insn> insns;
  Insn in;
  uint32_t at = pc;
  while (insns.size() < kMaxInstructions && Decode(m.mem, m.memSize, at, in)) {
    insns.push_back(in);
    at += 4 * in.words;
    if (in.endsBlock && !IsCall(in)) break;
  }
  if (insns.empty()) return false;
  cache.NoteCodeAt(pc, at);
  BlockTranslator t(m, cache, std::move(insns));
  if (!t.Emit()) return false;
  void* fn = nullptr;
  if (cache.runtime().add(&fn, &t.code()) != kErrorOk) return false;
  Block block;
  block.start = pc;
  block.words.assign(m.mem + pc, m.mem + t.end());
  block.code = fn;
  block.codeBytes = t.code().codeSize();
  const auto base = reinterpret_cast<uintptr_t>(fn);
  for (const auto& site : t.faultSites())
    block.faultRanges.push_back(
        {base + site.from, base + site.to, base + t.code().labelOffsetFromBase(site.exit)});
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
          .count();
  cache.Install(std::move(block), ms);
  return true;
}

}  // namespace orvo::vm::jit
