// The fast instruction loop: threaded dispatch (computed goto) through a table indexed by
// the low 16 bits of the opcode word, built once from the decoding tables of decode.h and
// formats.h. The common two-operand instructions have a handler for their format,
// operation and size together; every other two-operand instruction goes through a
// handler for its format and then one for its operation and size; the one-operand group
// likewise through its operand form and then its operation and size.
//
// VPC, VSP, VFP and the flags live in locals and are written to the header only where
// something can look there: before Step runs an instruction, and when Interpret ends.
// The fast handlers touch no address below kFastLow, so nothing they do can read the
// stale header fields, and anything the program writes over them is overwritten before
// it can be read, exactly as if they were stored after every instruction.
//
// Each handler makes its checks before its first side effect (the immediate slot aside,
// which Step fills the same way again) and hands anything unusual to Step (step.cpp):
// addresses near the header or the end of memory, block moves, float operations at the
// wrong size, division by zero, illegal opcodes and the system-level instructions. Step
// runs the instruction from the start, exactly as described, with every check it needs.
// No decoded form is kept between instructions, so code that the program rewrites runs
// as written. What each instruction does is written once, in semantics.h, for this loop
// and Step alike; the handlers here add the dispatch and the fast range's checks.
#include "vm/interpreter.h"

#include <array>
#include <cstring>
#include <type_traits>

#include "vm/compiled_tier.h"
#include "vm/decode.h"
#include "vm/formats.h"
#include "vm/machine.h"
#include "vm/operations.h"
#include "vm/semantics.h"
#include "vm/step.h"
#include "vm/stepper.h"
#include "vm/stops.h"

namespace orvo::vm {
namespace {

using Label = const void*;

// Accesses at or above this address cannot touch the working copies in the header
// (VPC at 136, VSP at 160, VFP at 168, the flags at 192).
constexpr uint32_t kFastLow = 200;
// Below this size the whole run goes through Step.
constexpr uint32_t kFastMinMemory = 1024;

template <unsigned kSize>
using SizeType =
    std::conditional_t<kSize == SIZE_B, uint8_t,
                       std::conditional_t<kSize == SIZE_W, uint16_t,
                                          std::conditional_t<kSize == SIZE_D, uint32_t, uint64_t>>>;

constexpr bool IsMemory(Loc loc) {
  return loc == LOC_IND_A || loc == LOC_IND_B || loc == LOC_ABS || loc == LOC_FRAME_F ||
         loc == LOC_FRAME_E;
}

// What the fast loop may touch: any place whose 8 bytes lie between kFastLow and the end
// of memory, or whose bytes do if it is longer. A located operand has been checked for 8
// bytes where it was located; registers and the immediate slot need no check.
struct FastAccess {
  Machine& m;
  uint8_t* mem;
  uint32_t lim8;
  uint64_t limAll;
  static constexpr bool kLeaveNan = true;

  [[gnu::always_inline]] bool Fits(uint32_t addr, uint64_t len) const {
    if (len <= 8) return static_cast<uint32_t>(addr - kFastLow) <= lim8;
    return uint64_t{static_cast<uint32_t>(addr - kFastLow)} + len <= limAll;
  }
  static constexpr bool Operand(uint32_t, uint64_t) { return true; }
  [[gnu::always_inline]] uint64_t Value(uint32_t addr, unsigned) const {
    return Load64(mem + addr);
  }
  // Registers lie below 120 and the save area above kFastLow: the ranges never overlap,
  // and a fixed count turns into plain loads and stores.
  [[gnu::always_inline]] static void MoveRegisters(uint8_t* to, const uint8_t* from, unsigned n) {
    for (unsigned i = 0; i < n; ++i) Store64(to + 8 * i, Load64(from + 8 * i));
  }
};

// One two-operand operation at one size (entry = OP2 * 4 + size) on operands whose 8
// bytes are known to be in memory. false: Step must run the instruction (nothing has
// been changed yet).
template <unsigned kEntry>
[[gnu::always_inline]] inline bool Op2(FastAccess& acc, uint32_t da, uint32_t sa, uint32_t& sp,
                                       uint8_t& flags) {
  constexpr unsigned kOp = kEntry >> 2;
  if constexpr (kOp2Table[kEntry] >= GROUP_ILLEGAL || kOp == OP2_MEMMOV || kOp == OP2_PUMEM ||
                kOp == OP2_POMEM)
    return false;
  else
    return TwoOperand<SizeType<kEntry & 3>>(acc, kOp, da, sa, sp, flags) == Outcome::DONE;
}

// One one-operand operation at one size on an operand whose 8 bytes are in memory.
// false: Step must run the instruction.
template <unsigned kEntry>
[[gnu::always_inline]] inline bool Op1(FastAccess& acc, uint32_t a, uint32_t& sp, uint8_t& flags) {
  if constexpr (kOp1Table[kEntry] >= GROUP_ILLEGAL)
    return false;
  else
    return OneOperand<SizeType<kEntry & 3>>(acc, kEntry >> 2, a, sp, flags) == Outcome::DONE;
}

// clang-format off
// 0 .. 127, ten at a time: H##0 .. H##9 for the tens digits H.
#define ORVO_TEN(X, H) \
  X(H##0) X(H##1) X(H##2) X(H##3) X(H##4) X(H##5) X(H##6) X(H##7) X(H##8) X(H##9)
#define ORVO_REPEAT_128(X)                                                                   \
  ORVO_TEN(X, ) ORVO_TEN(X, 1) ORVO_TEN(X, 2) ORVO_TEN(X, 3) ORVO_TEN(X, 4) ORVO_TEN(X, 5) \
  ORVO_TEN(X, 6) ORVO_TEN(X, 7) ORVO_TEN(X, 8) ORVO_TEN(X, 9) ORVO_TEN(X, 10)              \
  ORVO_TEN(X, 11) X(120) X(121) X(122) X(123) X(124) X(125) X(126) X(127)

// The two-operand formats, by their low 5 bits.
#define ORVO_FORMATS(X) X(1) X(2) X(3) X(5) X(6) X(7) X(9) X(10) X(11) X(13) X(14) X(15) X(17) \
  X(18) X(19) X(21) X(22) X(23) X(25) X(26) X(27) X(28) X(29) X(30)

#define ORVO_CONDITIONS(X) X(0) X(1) X(2) X(3) X(4) X(5) X(6) X(7)

// Register counts of sfvr and efr.
#define ORVO_COUNTS(X) ORVO_TEN(X, ) X(10) X(11) X(12) X(13) X(14)

// The integer operations that programs use most, at sizes d and q, and the float ones.
#define ORVO_HOT_INTEGER(X, F) X(F, MOV, D) X(F, MOV, Q) X(F, ADD, D) X(F, ADD, Q) X(F, SUB, D) \
  X(F, SUB, Q) X(F, CMP, D) X(F, CMP, Q) X(F, AND, D) X(F, MUL, D) X(F, MOVZ, D)
#define ORVO_HOT_FLOAT(X, F) X(F, ADDF, Q) X(F, SUBF, Q) X(F, MULF, Q) X(F, DIVF, Q) X(F, CMPF, Q)

// Two-operand instructions with one handler for format, operation and size together.
#define ORVO_FUSED(X)                                                                           \
  ORVO_HOT_INTEGER(X, 28) ORVO_HOT_FLOAT(X, 28) X(28, XOR, D) X(28, OR, D) X(28, LSH, D)        \
  X(28, RSHU, D) X(28, MOV, B)                                                                  \
  ORVO_HOT_INTEGER(X, 30) X(30, LSH, D) X(30, RSHU, D) X(30, RSHI, D)                           \
  ORVO_HOT_INTEGER(X, 22) X(22, MOV, B)                                                         \
  ORVO_HOT_INTEGER(X, 17) ORVO_HOT_FLOAT(X, 17)                                                 \
  ORVO_HOT_INTEGER(X, 18) X(18, MOVZ, B) X(18, MOV, B)                                          \
  X(19, MOV, D) X(19, MOV, Q) X(19, ADD, D) X(2, MOV, D) X(2, MOV, Q) X(2, MOV, B) X(2, ADD, D) \
  X(1, MOV, B) X(1, MOV, D) X(1, ADD, D)                                                        \
  X(26, MOV, D) X(26, MOV, Q) X(26, ADD, D) X(26, CMP, D) ORVO_HOT_FLOAT(X, 26)                 \
  X(25, MOV, D) X(25, MOV, Q) X(23, MOV, D) X(23, ADD, D) X(7, MOV, D) X(14, MOV, D)            \
  X(14, ADD, D) X(29, MOV, B) X(29, MOV, D)
// clang-format on

struct FusedKey {
  uint8_t format, entry;
};

#define FUSED_KEY(F, O, S) {F, OP2_##O * 4 + SIZE_##S},
inline constexpr FusedKey kFused[] = {ORVO_FUSED(FUSED_KEY)};
#undef FUSED_KEY
inline constexpr unsigned kFusedCount = sizeof kFused / sizeof kFused[0];

// One-operand instructions with one handler for operand form, operation and size.
// clang-format off
#define ORVO_FUSED_ONE(X)                                                                      \
  X(0xD4, PUSH, D) X(0xD4, PUSH, Q) X(0xD4, POP, D) X(0xD4, POP, Q) X(0xD4, CVSD, D)           \
  X(0xD4, CVSD, Q) X(0xD4, CVDS, Q) X(0xD4, NEG, D) X(0xD4, TST, D)                            \
  X(0xAC, PUSH, D) X(0xAC, PUSH, Q) X(0xAC, POP, D) X(0xAC, PEA, D)                           \
  X(0xEC, PUSH, D) X(0x6C, PUSH, D)
// clang-format on

struct FusedOneKey {
  uint8_t form, entry;
};

#define FUSED_ONE_KEY(F, O, S) {F, OP1_##O * 4 + SIZE_##S},
inline constexpr FusedOneKey kFusedOne[] = {ORVO_FUSED_ONE(FUSED_ONE_KEY)};
#undef FUSED_ONE_KEY
inline constexpr unsigned kFusedOneCount = sizeof kFusedOne / sizeof kFusedOne[0];

// Handler numbers: one per instruction kind (K_ILLEGAL standing for Step), the fused
// two-operand handlers, the fused one-operand handlers, then sfvr and efr for each
// register count 0..14 (bits 10-13, inside the table's index).
inline constexpr unsigned kFusedOneBase = K_COUNT + kFusedCount;
inline constexpr unsigned kSfvrBase = kFusedOneBase + kFusedOneCount;
inline constexpr unsigned kEfrBase = kSfvrBase + kMaxSavedRegisters + 1;
inline constexpr unsigned kLjBase = kEfrBase + kMaxSavedRegisters + 1;
inline constexpr unsigned kHandlerCount = kLjBase + 8;

using HandlerTable = std::array<uint16_t, 65536>;

HandlerTable BuildHandlerTable() {
  std::array<std::array<uint16_t, 128>, 32> fused{};
  for (unsigned i = 0; i < kFusedCount; ++i)
    fused[kFused[i].format][kFused[i].entry] = static_cast<uint16_t>(K_COUNT + i);
  std::array<std::array<uint16_t, 128>, 256> fusedOne{};
  for (unsigned i = 0; i < kFusedOneCount; ++i)
    fusedOne[kFusedOne[i].form][kFusedOne[i].entry] = static_cast<uint16_t>(kFusedOneBase + i);
  HandlerTable t{};
  for (unsigned low = 0; low < 65536; ++low) {
    const Kind kind = kDecode[low & 1023];
    t[low] = static_cast<uint16_t>(kind);
    const unsigned count = (low >> 10) & 15;
    if (kind == K_LJ) t[low] = static_cast<uint16_t>(kLjBase + ((low >> 7) & 7));
    if (kind == K_SFVR && count <= kMaxSavedRegisters)
      t[low] = static_cast<uint16_t>(kSfvrBase + count);
    if (kind == K_EFR && count <= kMaxSavedRegisters)
      t[low] = static_cast<uint16_t>(kEfrBase + count);
    if (kind == K_ONE_REG || kind == K_ONE_IND || kind == K_ONE_FRAME || kind == K_ONE_ABS) {
      const uint8_t entry = kOp1Table[(low >> 8) & 127];
      if (entry < GROUP_ILLEGAL && fusedOne[low & 255][entry] != 0)
        t[low] = fusedOne[low & 255][entry];
    }
    if (kFormatKind[low & 31] != kind) continue;
    // Refused operations go to Step before anything is located: it reports them
    // without filling the immediate slot. Block moves need Step's exact checks.
    const uint8_t entry = kOp2Table[(low >> 9) & 127];
    const unsigned op = entry >> 2;
    if (entry >= GROUP_ILLEGAL || op == OP2_MEMMOV || op == OP2_PUMEM || op == OP2_POMEM)
      t[low] = K_ILLEGAL;
    else if (fused[low & 31][entry] != 0)
      t[low] = fused[low & 31][entry];
  }
  return t;
}

const HandlerTable& Handlers() {
  static const HandlerTable table = BuildHandlerTable();
  return table;
}

// Operations whose flags a conditional jump usually tests next.
constexpr bool LeadsJump(unsigned op) {
  return op == OP2_CMP || op == OP2_SUB || op == OP2_TST || op == OP2_CMPF || op == OP2_AND;
}

template <bool kBounded>
void Run(Machine& m) {
  uint8_t* const mem = m.mem;
  // One unsigned compare each: an address below kFastLow wraps far above these.
  const uint32_t lim8 = m.memSize - kFastLow - 8;          // 8 bytes at the address
  const uint32_t codeLim = m.memSize - kFastLow - 16;      // the longest instruction
  const uint64_t codeEnd = m.memSize - 16;                 // the same, from kFastLow up
  const uint64_t limAll = uint64_t{m.memSize} - kFastLow;  // any length
  // 64 bits wide so that it indexes memory as it is; it never goes past memSize.
  uint64_t pc = Load32(mem + HDR_VPC);
  uint32_t sp = Load32(mem + HDR_VSP);
  uint32_t fp = Load32(mem + HDR_VFP);
  uint8_t flags = mem[HDR_FLAGS] & 7;
  uint32_t next = pc;  // the VPC to leave in the header
  uint32_t w = 0;
  // Between a form handler and an operation handler: the locations and the next VPC.
  uint32_t da = 0, sa = 0, npc = 0;
  FastAccess acc{m, mem, lim8, limAll};
  uint32_t to = 0;  // where a handler's instruction goes on

#define OP2_LABEL(E) &&op2_##E,
#define OP1_LABEL(E) &&op1_##E,
  static const Label kOp2Labels[128] = {ORVO_REPEAT_128(OP2_LABEL)};
  static const Label kOp1Labels[128] = {ORVO_REPEAT_128(OP1_LABEL)};
#undef OP2_LABEL
#undef OP1_LABEL

  Label labels[kHandlerCount];
  for (unsigned k = 0; k < K_COUNT; ++k) labels[k] = &&careful;
  labels[K_NOP] = &&k_nop;
#define FORMAT_KIND(N) labels[K_F##N] = &&format_##N;
  ORVO_FORMATS(FORMAT_KIND)
#undef FORMAT_KIND
  labels[K_TLJ_REG] = &&k_tlj_reg;
  labels[K_TLJ_ABS] = &&k_tlj_abs;
  labels[K_TLJ_IND] = &&k_tlj_ind;
  labels[K_TLJ_FRAME] = &&k_tlj_frame;
#define LJ_LABEL(CC) labels[kLjBase + CC] = &&lj_##CC;
  ORVO_CONDITIONS(LJ_LABEL)
#undef LJ_LABEL
  labels[K_ONE_REG] = &&k_one_reg;
  labels[K_ONE_IND] = &&k_one_ind;
  labels[K_ONE_FRAME] = &&k_one_frame;
  labels[K_ONE_ABS] = &&k_one_abs;
  labels[K_JSR_ABS] = &&k_jsr_abs;
  labels[K_JSR_REG] = &&k_jsr_reg;
  labels[K_PUSH_LONG] = &&k_push_long;
  labels[K_PUSH_SHORT] = &&k_push_short;
  labels[K_JMP_MEM] = &&k_jmp_mem;
  labels[K_JMP] = &&k_jmp;
  {
    unsigned i = K_COUNT;
#define FUSED_LABEL(F, O, S) labels[i++] = &&fused_##F##_##O##_##S;
    ORVO_FUSED(FUSED_LABEL)
#undef FUSED_LABEL
#define FUSED_ONE_LABEL(F, O, S) labels[i++] = &&fused1_##F##_##O##_##S;
    ORVO_FUSED_ONE(FUSED_ONE_LABEL)
#undef FUSED_ONE_LABEL
#define FRAME_LABELS(N)               \
  labels[kSfvrBase + N] = &&sfvr_##N; \
  labels[kEfrBase + N] = &&efr_##N;
    ORVO_COUNTS(FRAME_LABELS)
#undef FRAME_LABELS
  }
  // The dispatch table proper: for each value of the opcode word's low 16 bits, the
  // address of its handler, so that dispatch is one load and a jump.
  static Label handlerAt[65536];
  static bool haveHandlers = false;
  if (!haveHandlers) {
    const uint16_t* const handlerOf = Handlers().data();
    for (unsigned i = 0; i < 65536; ++i) handlerAt[i] = labels[handlerOf[i]];
    haveHandlers = true;
  }

#define FAST(addr) (static_cast<uint32_t>((addr)-kFastLow) <= lim8)
#define FAST_OR_CAREFUL(addr)                           \
  do {                                                  \
    if (__builtin_expect(!FAST(addr), 0)) goto careful; \
  } while (0)
  // Next instruction. Its words are read without further checks: the longest
  // instruction has four. DISPATCH follows an instruction that ran at a place already
  // checked, so only the end of memory can have come near; JUMP_DISPATCH follows a
  // change of place, which may also have gone below the fast range.
#define BUDGET_STEP()                        \
  do {                                       \
    if constexpr (kBounded) {                \
      if (m.budget == 0) goto out_of_budget; \
      --m.budget;                            \
    }                                        \
  } while (0)
#define DISPATCH()                                       \
  do {                                                   \
    BUDGET_STEP();                                       \
    if (__builtin_expect(pc > codeEnd, 0)) goto careful; \
    w = Load32(mem + pc);                                \
    goto* handlerAt[w & 0xFFFF];                         \
  } while (0)
#define JUMP_DISPATCH()                                                                    \
  do {                                                                                     \
    BUDGET_STEP();                                                                         \
    if (__builtin_expect(static_cast<uint32_t>(pc - kFastLow) > codeLim, 0)) goto careful; \
    w = Load32(mem + pc);                                                                  \
    goto* handlerAt[w & 0xFFFF];                                                           \
  } while (0)
  // After an operation that set the flags, ending at pc: when the next instruction is a
  // conditional jump (lj), it is decided here on the new flags, saving its dispatch.
  // Its place is checked as a dispatch checks it; in a bounded run it counts as one
  // instruction. A jump taken dispatches from its target; otherwise the handler goes on
  // to the instruction after the lj.
#define TRY_JUMP()                              \
  do {                                          \
    if (pc > codeEnd) break;                    \
    const uint32_t w2 = Load32(mem + pc);       \
    if ((w2 & 0x7F) != 52) break;               \
    if constexpr (kBounded) {                   \
      if (m.budget == 0) break;                 \
      --m.budget;                               \
    }                                           \
    if (ConditionHolds((w2 >> 7) & 7, flags)) { \
      pc = (w2 >> 10) << 2;                     \
      JUMP_DISPATCH();                          \
    }                                           \
    pc += 4;                                    \
  } while (0)

  JUMP_DISPATCH();

  // The header gets the working copies, Step runs the instruction, and the loop goes on
  // with what Step left.
careful : {
  Cpu cpu{static_cast<uint32_t>(pc), sp, fp, flags};
  StoreCpu(m, cpu);
  const StepEnd end = Step(m, cpu);
  pc = cpu.pc;
  sp = cpu.sp;
  fp = cpu.fp;
  flags = cpu.flags;
  if (end == StepEnd::LEAVE) {
    next = cpu.pc;
    goto leave;
  }
  JUMP_DISPATCH();
}

k_nop:
  pc += 4;
  DISPATCH();

#define FUSED_HANDLER(F, O, S)                                                                 \
  fused_##F##_##O##_##S : {                                                                    \
    constexpr FormatLocs kLocs = kFormatLocs[F];                                               \
    uint32_t cursor = pc + 4;                                                                  \
    const uint32_t d = Locate<kLocs.dst>(mem, w, SIZE_##S, fp, cursor);                        \
    const uint32_t s = Locate<kLocs.src>(mem, w, SIZE_##S, fp, cursor);                        \
    if constexpr (IsMemory(kLocs.dst)) FAST_OR_CAREFUL(d);                                     \
    if constexpr (IsMemory(kLocs.src)) FAST_OR_CAREFUL(s);                                     \
    if (__builtin_expect(!Op2<OP2_##O * 4 + SIZE_##S>(acc, d, s, sp, flags), 0)) goto careful; \
    pc = cursor;                                                                               \
    if constexpr (LeadsJump(OP2_##O)) TRY_JUMP();                                              \
    DISPATCH();                                                                                \
  }
  ORVO_FUSED(FUSED_HANDLER)
#undef FUSED_HANDLER

  // Two-operand formats: both locations and their checks, then the operation's handler.
#define FORMAT_HANDLER(N)                                   \
  format_##N : {                                            \
    constexpr FormatLocs kLocs = kFormatLocs[N];            \
    const unsigned size = (w >> 9) & 3;                     \
    uint32_t cursor = pc + 4;                               \
    da = Locate<kLocs.dst>(mem, w, size, fp, cursor);       \
    sa = Locate<kLocs.src>(mem, w, size, fp, cursor);       \
    if constexpr (IsMemory(kLocs.dst)) FAST_OR_CAREFUL(da); \
    if constexpr (IsMemory(kLocs.src)) FAST_OR_CAREFUL(sa); \
    npc = cursor;                                           \
    goto* kOp2Labels[(w >> 9) & 127];                       \
  }
  ORVO_FORMATS(FORMAT_HANDLER)
#undef FORMAT_HANDLER

#define OP2_HANDLER(E)                                         \
  op2_##E : if (!Op2<E>(acc, da, sa, sp, flags)) goto careful; \
  pc = npc;                                                    \
  DISPATCH();
  ORVO_REPEAT_128(OP2_HANDLER)
#undef OP2_HANDLER

  // One-operand group: the operand's location, then the operation's handler.
#define ONE_FORM(K, WORDS)                               \
  do {                                                   \
    if (!LocateOne<K>(mem, w, pc, fp, da)) goto careful; \
    if constexpr ((K) != K_ONE_REG) FAST_OR_CAREFUL(da); \
    npc = pc + 4 * (WORDS);                              \
    goto* kOp1Labels[(w >> 8) & 127];                    \
  } while (0)
k_one_reg:
  ONE_FORM(K_ONE_REG, 1);
k_one_ind:
  ONE_FORM(K_ONE_IND, 2);
k_one_frame:
  ONE_FORM(K_ONE_FRAME, 1);
k_one_abs:
  ONE_FORM(K_ONE_ABS, 2);
#undef ONE_FORM

#define OP1_HANDLER(E)                                     \
  op1_##E : if (!Op1<E>(acc, da, sp, flags)) goto careful; \
  pc = npc;                                                \
  DISPATCH();
  ORVO_REPEAT_128(OP1_HANDLER)
#undef OP1_HANDLER

#define FUSED_ONE_HANDLER(F, O, S)                                                          \
  fused1_##F##_##O##_##S : {                                                                \
    constexpr Kind kForm = kDecode[F];                                                      \
    uint32_t a;                                                                             \
    if (__builtin_expect(!LocateOne<kForm>(mem, w, pc, fp, a), 0)) goto careful;            \
    if constexpr (kForm != K_ONE_REG) FAST_OR_CAREFUL(a);                                   \
    if (__builtin_expect(!Op1<OP1_##O * 4 + SIZE_##S>(acc, a, sp, flags), 0)) goto careful; \
    pc += kForm == K_ONE_IND || kForm == K_ONE_ABS ? 8 : 4;                                 \
    DISPATCH();                                                                             \
  }
  ORVO_FUSED_ONE(FUSED_ONE_HANDLER)
#undef FUSED_ONE_HANDLER

  // The remaining handlers run their instruction's semantics and go on at `to`.
#define RUN_OR_CAREFUL(call)                                        \
  do {                                                              \
    if (__builtin_expect((call) != Outcome::DONE, 0)) goto careful; \
  } while (0)
k_tlj_reg:
  RUN_OR_CAREFUL(TestAndJump<K_TLJ_REG>(acc, w, pc, fp, flags, to));
  pc = to;
  JUMP_DISPATCH();
k_tlj_ind:
  RUN_OR_CAREFUL(TestAndJump<K_TLJ_IND>(acc, w, pc, fp, flags, to));
  pc = to;
  JUMP_DISPATCH();
k_tlj_abs:
  RUN_OR_CAREFUL(TestAndJump<K_TLJ_ABS>(acc, w, pc, fp, flags, to));
  pc = to;
  JUMP_DISPATCH();
k_tlj_frame:
  RUN_OR_CAREFUL(TestAndJump<K_TLJ_FRAME>(acc, w, pc, fp, flags, to));
  pc = to;
  JUMP_DISPATCH();

#define LJ_HANDLER(CC)                                                \
  lj_##CC : pc = ConditionHolds(CC, flags) ? (w >> 10) << 2 : pc + 4; \
  JUMP_DISPATCH();
  ORVO_CONDITIONS(LJ_HANDLER)
#undef LJ_HANDLER

k_jmp:
  pc = (w >> 10) << 2;
  JUMP_DISPATCH();

k_jmp_mem:
  RUN_OR_CAREFUL(JumpThrough(acc, w, to));
  pc = to;
  JUMP_DISPATCH();

k_jsr_abs:
  RUN_OR_CAREFUL(Call<K_JSR_ABS>(acc, w, pc, sp, to));
  pc = to;
  JUMP_DISPATCH();
k_jsr_reg:
  RUN_OR_CAREFUL(Call<K_JSR_REG>(acc, w, pc, sp, to));
  pc = to;
  JUMP_DISPATCH();

// Frames, one handler per register count: the save area moves as whole 8-byte
// registers, which a fixed count turns into plain loads and stores.
#define SFVR_HANDLER(N)                                    \
  sfvr_##N : RUN_OR_CAREFUL(SaveFrame(acc, w, N, sp, fp)); \
  pc += 4;                                                 \
  DISPATCH();
  ORVO_COUNTS(SFVR_HANDLER)
#undef SFVR_HANDLER

#define EFR_HANDLER(N)                                    \
  efr_##N : RUN_OR_CAREFUL(EndFrame(acc, N, sp, fp, to)); \
  if (to == 0) {                                          \
    next = 0;                                             \
    goto leave;                                           \
  }                                                       \
  pc = to;                                                \
  JUMP_DISPATCH();
  ORVO_COUNTS(EFR_HANDLER)
#undef EFR_HANDLER

k_push_long:
  RUN_OR_CAREFUL(PushImmediate<true>(acc, w, pc, sp, to));
  pc = to;
  DISPATCH();
k_push_short:
  RUN_OR_CAREFUL(PushImmediate<false>(acc, w, pc, sp, to));
  pc = to;
  DISPATCH();
#undef RUN_OR_CAREFUL

out_of_budget:
  __attribute__((unused));
  m.Stop(RunStop::BUDGET_SPENT);
  next = pc;

leave:
  StoreCpu(m, Cpu{next, sp, fp, flags});

#undef FAST
#undef FAST_OR_CAREFUL
#undef DISPATCH
#undef JUMP_DISPATCH
#undef BUDGET_STEP
#undef TRY_JUMP
}

#undef ORVO_REPEAT_128
#undef ORVO_TEN
#undef ORVO_FORMATS
#undef ORVO_HOT_INTEGER
#undef ORVO_HOT_FLOAT
#undef ORVO_FUSED
#undef ORVO_FUSED_ONE
#undef ORVO_COUNTS
#undef ORVO_CONDITIONS

}  // namespace

void InterpretFast(Machine& m) {
  if (m.memSize < kFastMinMemory) return InterpretReference(m);
  Run<false>(m);
}

void InterpretFastBounded(Machine& m) {
  if (m.memSize < kFastMinMemory) return InterpretReference(m);
  Run<true>(m);
}

void Interpret(Machine& m) {
  if (m.tier.enabled && RunCompiled(m)) return;
  InterpretFast(m);
}

void InterpretBounded(Machine& m) {
  if (m.tier.enabled && RunCompiled(m)) return;
  InterpretFastBounded(m);
}

uint8_t CallProgram(Machine& m, uint32_t code, uint32_t a1, uint32_t a2, uint32_t a3) {
  if (m.Fatal() || !m.mem) return 0;
  m.ClearStopRequest();
  const uint32_t sp = m.Word(HDR_VSP);
  const uint32_t limit = m.Word(HDR_STACK_LIMIT);
  // The frame must fit above the limit's margin and inside VM memory; a stack pointer
  // below 100 would wrap the margin test.
  const uint8_t* frame = sp >= 24 ? m.Ptr(sp - 24, 24) : nullptr;
  if (sp < kStackMargin || sp - kStackMargin < limit || !frame) {
    FatalError(m, "Out of stack");
    return 0;
  }
  uint8_t* f = m.mem + (sp - 24);
  Store32(f, 0);  // return address: back to the host
  Store32(f + 4, 16);
  Store32(f + 8, code);
  Store32(f + 12, a1);
  Store32(f + 16, a2);
  Store32(f + 20, a3);
  m.SetWord(HDR_VSP, sp - 24);
  m.SetWord(HDR_VPC, ENTRY_ADDRESS);
  if (m.interpret)
    m.interpret(m);
  else if (m.bounded)
    InterpretBounded(m);
  else
    Interpret(m);
  if (m.Fatal()) return 0;
  CompactHeap(m);
  if (m.Fatal()) return 0;
  if (m.hostFlags == HOST_END_PROGRAM) {
    m.hostFlags = HOST_END_PROGRAM | HOST_ENDING;
    m.hooks->EndProgram(m);
  }
  return m.mem ? m.mem[HDR_EVENT_RESULT] : 0;
}

}  // namespace orvo::vm
