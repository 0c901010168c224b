// The instruction loop. VPC, VSP, VFP and the flags live in locals while an instruction
// runs and are written back to the header before the next one starts, so the header
// always shows the machine as of the current instruction. Every VM address turned into a
// host pointer is checked for its whole length; the register slots and the immediate
// slot lie in the header and need no check.
#include "vm/interpreter.h"

#include <cstring>

#include "vm/decode.h"
#include "vm/formats.h"
#include "vm/machine.h"
#include "vm/operations.h"
#include "vm/sys.h"

namespace orvo::vm {
namespace {

constexpr uint32_t kStackMargin = 100;
constexpr uint32_t kSavedStateBytes = 140;
constexpr uint32_t kRegisterBytes = 128;
// sfvr/efr save registers 14 - n .. 13; more than 14 would reach into the header.
constexpr uint32_t kMaxSavedRegisters = 14;

unsigned long Hex(uint32_t v) {
  return static_cast<unsigned long>(v);
}

// A fault of the running program: the message names the instruction, and the host ends
// the program once the delivery is over.
void EndInOrder(Machine& m, const char* format, uint32_t instruction) {
  ShowMessage(m, Format(format, Hex(instruction)));
  m.hostFlags |= HOST_END_PROGRAM;
}

// Float operations at size b or w do nothing but say so.
void FloatSizeMessage(Machine& m, uint32_t instruction) {
  ShowMessage(m, Format("BYTE/WORD size illegal for FLOAT/DOUBLE at 0x%8.8lX", Hex(instruction)));
}

// A 4-bit two's-complement field, sign-extended.
uint32_t ShortImmediate(uint32_t field) {
  return static_cast<uint32_t>(static_cast<int32_t>(field << 28) >> 28);
}

// The VM address of an operand location; immediates are first placed in their slot.
// Extension words are taken in order from cursor.
template <Loc kLoc>
[[gnu::always_inline]] inline uint32_t Locate(uint8_t* mem, uint32_t w, unsigned size, uint32_t fp,
                                              uint32_t& cursor) {
  const unsigned regA = (w >> 5) & 15, regB = (w >> 16) & 15;
  if constexpr (kLoc == LOC_REG_A) {
    return RegisterAddress(regA);
  } else if constexpr (kLoc == LOC_REG_B) {
    return RegisterAddress(regB);
  } else if constexpr (kLoc == LOC_IND_A || kLoc == LOC_IND_B) {
    const uint32_t e = Load32(mem + cursor);
    cursor += 4;
    return Load32(mem + RegisterAddress(kLoc == LOC_IND_A ? regA : regB)) + e;
  } else if constexpr (kLoc == LOC_ABS) {
    const uint32_t e = Load32(mem + cursor);
    cursor += 4;
    return e;
  } else if constexpr (kLoc == LOC_FRAME_F) {
    return fp + static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(w >> 16)));
  } else if constexpr (kLoc == LOC_FRAME_E) {
    const uint32_t e = Load32(mem + cursor);
    cursor += 4;
    return fp + e;
  } else if constexpr (kLoc == LOC_SIMM_A || kLoc == LOC_SIMM_B) {
    Store32(mem + HDR_IMMEDIATE, ShortImmediate(kLoc == LOC_SIMM_A ? regA : regB));
    if (size == SIZE_Q) Store32(mem + HDR_IMMEDIATE + 4, 0);
    return HDR_IMMEDIATE;
  } else {
    static_assert(kLoc == LOC_LIMM);
    Store32(mem + HDR_IMMEDIATE, Load32(mem + cursor));
    if (size == SIZE_Q) Store32(mem + HDR_IMMEDIATE + 4, Load32(mem + cursor + 4));
    return HDR_IMMEDIATE;
  }
}

template <bool kBounded>
void Run(Machine& m) {
  uint8_t* const mem = m.mem;
  const uint64_t memSize = m.memSize;
  uint32_t pc = Load32(mem + HDR_VPC);
  uint32_t sp = Load32(mem + HDR_VSP);
  uint32_t fp = Load32(mem + HDR_VFP);
  uint8_t flags = mem[HDR_FLAGS] & 7;

  uint32_t ipc = pc;   // the current instruction
  uint32_t next = pc;  // where execution goes on, for the endings that name it
  uint32_t faultAddress = 0;

  // A checked host pointer for len bytes at addr; leaves through address_fault otherwise.
#define CHECKED(ptr, addr, len)                     \
  uint8_t* ptr;                                     \
  do {                                              \
    const uint32_t checkedAddr_ = (addr);           \
    if (uint64_t{checkedAddr_} + (len) > memSize) { \
      faultAddress = checkedAddr_;                  \
      goto address_fault;                           \
    }                                               \
    ptr = mem + checkedAddr_;                       \
  } while (0)
  // The instruction has this many words; all of them must lie in VM memory.
#define NEED_WORDS(n)                        \
  do {                                       \
    if (uint64_t{pc} + 4u * (n) > memSize) { \
      faultAddress = pc + 4u * ((n)-1);      \
      goto address_fault;                    \
    }                                        \
  } while (0)
#define EXT(i) Load32(mem + pc + 4u * (i))
#define REG_LOW(r) Load32(mem + RegisterAddress(r))
#define BY_SIZE(size, call) \
  switch (size) {           \
    case SIZE_B: {          \
      using T = uint8_t;    \
      call;                 \
    } break;                \
    case SIZE_W: {          \
      using T = uint16_t;   \
      call;                 \
    } break;                \
    case SIZE_D: {          \
      using T = uint32_t;   \
      call;                 \
    } break;                \
    default: {              \
      using T = uint64_t;   \
      call;                 \
    } break;                \
  }

  // Working values of the two-operand group, shared by the format cases and the
  // execution after them.
  uint32_t da = 0, sa = 0;
  uint8_t entry = 0;
  unsigned size = 0;
  // One case per two-operand format: length, table entry, then both locations.
#define TWO_FORMAT(N)                                          \
  case K_F##N: {                                               \
    size = (w >> 9) & 3;                                       \
    const unsigned words = kFormatWords[N * 4 + size];         \
    NEED_WORDS(words);                                         \
    next = pc + 4 * words;                                     \
    entry = kOp2Table[(w >> 9) & 127];                         \
    if (entry >= GROUP_ILLEGAL) goto two_refused;              \
    uint32_t cursor = pc + 4;                                  \
    da = Locate<kFormatLocs[N].dst>(mem, w, size, fp, cursor); \
    sa = Locate<kFormatLocs[N].src>(mem, w, size, fp, cursor); \
    goto two_execute;                                          \
  }
#define INTEGER_CASE(OP, SIZE, T)                                              \
  case OP * 4 + SIZE: {                                                        \
    constexpr bool kShift = OP == OP2_RSHI || OP == OP2_RSHU || OP == OP2_LSH; \
    CHECKED(d, da, sizeof(T));                                                 \
    CHECKED(s, sa, kShift ? 1 : sizeof(T));                                    \
    if (!IntegerOp2<T>(OP, d, s, flags)) goto divide_by_zero;                  \
    pc = next;                                                                 \
    continue;                                                                  \
  }
#define INTEGER_OP(OP)               \
  INTEGER_CASE(OP, SIZE_B, uint8_t)  \
  INTEGER_CASE(OP, SIZE_W, uint16_t) \
  INTEGER_CASE(OP, SIZE_D, uint32_t) \
  INTEGER_CASE(OP, SIZE_Q, uint64_t)

  for (;;) {
    Store32(mem + HDR_VPC, pc);
    Store32(mem + HDR_VSP, sp);
    Store32(mem + HDR_VFP, fp);
    mem[HDR_FLAGS] = flags;
    if constexpr (kBounded) {
      if (m.budget == 0) {
        m.budgetExhausted = true;
        next = pc;
        goto leave;
      }
      --m.budget;
    }
    ipc = pc;
    if (uint64_t{pc} + 4 > memSize) {
      faultAddress = pc;
      next = pc;
      goto address_fault;
    }
    const uint32_t w = Load32(mem + pc);
    switch (kDecode[w & 1023]) {
      case K_NOP:
        pc += 4;
        break;

      case K_ILLEGAL:
        next = pc + 4;
        goto illegal;

        TWO_FORMAT(1)
        TWO_FORMAT(2)
        TWO_FORMAT(3) TWO_FORMAT(5) TWO_FORMAT(6) TWO_FORMAT(7) TWO_FORMAT(9) TWO_FORMAT(10)
            TWO_FORMAT(11) TWO_FORMAT(13) TWO_FORMAT(14) TWO_FORMAT(15) TWO_FORMAT(17)
                TWO_FORMAT(18) TWO_FORMAT(19) TWO_FORMAT(21) TWO_FORMAT(22) TWO_FORMAT(23)
                    TWO_FORMAT(25) TWO_FORMAT(26) TWO_FORMAT(27) TWO_FORMAT(28) TWO_FORMAT(29)
                        TWO_FORMAT(30)

                            case K_ONE_REG : case K_ONE_IND : case K_ONE_FRAME : case K_ONE_ABS : {
          const Kind kind = kDecode[w & 1023];
          const unsigned words = (kind == K_ONE_IND || kind == K_ONE_ABS) ? 2 : 1;
          NEED_WORDS(words);
          next = pc + 4 * words;
          const uint8_t entry = kOp1Table[(w >> 8) & 127];
          if (entry == GROUP_ILLEGAL) goto illegal;
          if (entry == GROUP_FLOAT_SIZE) {
            FloatSizeMessage(m, ipc);
            pc = next;
            break;
          }
          uint32_t a;
          switch (kind) {
            case K_ONE_REG:
              if ((w >> 16) > 15) goto illegal;
              a = RegisterAddress(w >> 16);
              break;
            case K_ONE_IND:
              a = REG_LOW((w >> 16) & 15) + EXT(1);
              break;
            case K_ONE_FRAME:
              a = fp + static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(w >> 16)));
              break;
            default:
              a = EXT(1);
              break;
          }
          const unsigned op = entry >> 2, size = entry & 3;
          const uint32_t bytes = 1u << size;
          switch (op) {
            case OP1_PUSH: {
              CHECKED(s, a, bytes);
              const uint32_t room = bytes < 2 ? 2 : bytes;
              CHECKED(to, sp - room, room);
              if (size == SIZE_B)
                Store16(to, *s);
              else
                std::memcpy(to, s, bytes);
              sp -= room;
              break;
            }
            case OP1_POP: {
              CHECKED(d, a, bytes);
              CHECKED(from, sp, bytes);
              std::memmove(d, from, bytes);
              sp += bytes < 2 ? 2 : bytes;
              break;
            }
            case OP1_PEA: {
              CHECKED(to, sp - 4, 4);
              Store32(to, a);
              sp -= 4;
              break;
            }
            case OP1_NEGF:
            case OP1_NEG:
            case OP1_NOT:
            case OP1_TST: {
              CHECKED(p, a, bytes);
              BY_SIZE(size, UnaryOp<T>(op, p, flags));
              break;
            }
            default: {  // conversions: all of them touch the 8 bytes of the operand
              CHECKED(p, a, 8);
              BY_SIZE(size, UnaryOp<T>(op, p, flags));
              break;
            }
          }
          pc = next;
          break;
        }

      case K_TLJ_REG:
      case K_TLJ_ABS:
      case K_TLJ_IND:
      case K_TLJ_FRAME: {
        NEED_WORDS(2);
        next = pc + 8;
        const uint32_t e = EXT(1);
        uint32_t a;
        switch (kDecode[w & 1023]) {
          case K_TLJ_REG:
            if (e > 15) goto illegal;
            a = RegisterAddress(e);
            break;
          case K_TLJ_IND:
            if (e > 15) goto illegal;
            a = REG_LOW(e);
            break;
          case K_TLJ_ABS:
            a = e;
            break;
          default:
            a = fp + e;
            break;
        }
        const unsigned size = (w >> 5) & 3;
        CHECKED(p, a, 1u << size);
        BY_SIZE(size, flags = ResultFlags<T>(LoadAs<T>(p)));
        pc = (kConditionMask[(w >> 7) & 7] >> flags) & 1 ? (w >> 10) << 2 : next;
        break;
      }

      case K_LJ:
        pc = (kConditionMask[(w >> 7) & 7] >> flags) & 1 ? (w >> 10) << 2 : pc + 4;
        break;

      case K_JMP:
        pc = (w >> 10) << 2;
        break;

      case K_JMP_MEM: {
        next = pc + 4;
        CHECKED(p, REG_LOW((w >> 6) & 15) + ((w >> 10) << 2), 4);
        pc = Load32(p);
        break;
      }

      case K_JSR_ABS:
      case K_JSR_REG: {
        const bool absolute = kDecode[w & 1023] == K_JSR_ABS;
        if (absolute) NEED_WORDS(2);
        next = pc + (absolute ? 8 : 4);
        const uint32_t target = absolute ? EXT(1) : REG_LOW((w >> 12) & 15);
        CHECKED(frame, sp - 8, 8);
        m.pcPreJsr = pc + 4;
        Store32(frame + 4, w >> 16);
        Store32(frame, next);
        sp -= 8;
        pc = target;
        break;
      }

      case K_SFVR: {
        next = pc + 4;
        const uint32_t n = (w >> 10) & 15, locals = w >> 14;
        if (n > kMaxSavedRegisters) goto illegal;
        CHECKED(link, sp - 4, 4);
        const uint32_t newFp = sp - 4;
        const uint32_t newSp = newFp - locals - 8 * n;
        CHECKED(save, newSp, 8 * n);
        Store32(link, fp);
        std::memmove(save, mem + HDR_RESULT - 8 * n, 8 * n);
        fp = newFp;
        sp = newSp;
        pc = next;
        break;
      }

      case K_EFR: {
        next = pc + 4;
        const uint32_t n = (w >> 10) & 15;
        if (n > kMaxSavedRegisters) goto illegal;
        CHECKED(saved, sp, 8 * n);
        CHECKED(frame, fp, 12);
        std::memmove(mem + HDR_RESULT - 8 * n, saved, 8 * n);
        const uint32_t callerFp = Load32(frame), ret = Load32(frame + 4);
        sp = fp + 12 + Load32(frame + 8);
        if (m.heap.listHead[LIST_LOCKED] != LIST_END) ReleaseFrameLocks(m, sp);
        fp = callerFp;
        if (ret == 0) {
          next = 0;
          goto leave;
        }
        pc = ret;
        break;
      }

      case K_PUSH_LONG: {
        const unsigned size = (w >> 8) & 3;
        const unsigned words = size == SIZE_Q ? 3 : 2;
        NEED_WORDS(words);
        next = pc + 4 * words;
        const uint32_t room = size == SIZE_Q ? 8 : size == SIZE_D ? 4 : 2;
        CHECKED(to, sp - room, room);
        if (size == SIZE_Q) {
          Store32(to, EXT(1));
          Store32(to + 4, EXT(2));
        } else if (size == SIZE_D) {
          Store32(to, EXT(1));
        } else {
          Store16(to, static_cast<uint16_t>(EXT(1)));
        }
        sp -= room;
        pc = next;
        break;
      }

      case K_PUSH_SHORT: {
        next = pc + 4;
        const unsigned size = (w >> 8) & 3;
        const int32_t value = static_cast<int32_t>(w) >> 10;
        const uint32_t room = size == SIZE_Q ? 8 : size == SIZE_D ? 4 : 2;
        CHECKED(to, sp - room, room);
        if (size == SIZE_Q)
          Store64(to, static_cast<uint64_t>(int64_t{value}));
        else if (size == SIZE_D)
          Store32(to, static_cast<uint32_t>(value));
        else
          Store16(to, static_cast<uint16_t>(value));
        sp -= room;
        pc = next;
        break;
      }

      case K_DBG: {
        next = pc + 4;
        std::string_view text;
        const uint32_t at = REG_LOW(15);
        if (!ReadString(m, at, text)) {
          faultAddress = at;
          goto address_fault;
        }
        m.hooks->AppendDebugLog(text);
        pc = next;
        break;
      }

      case K_SYS:
        next = pc + 4;
        // The header's VPC holds this instruction while the request runs.
        SysDispatch(m);
        if (m.stopRequested) {
          goto leave;
        }
        pc = next;
        break;

      case K_TERM:
        m.hostFlags |= HOST_END_PROGRAM;
        next = pc;
        goto leave;

      case K_SMOD: {
        next = pc + 4;
        const uint32_t base = sp - kSavedStateBytes;
        CHECKED(state, base, kSavedStateBytes);
        Store32(state, Load32(mem + HDR_STATE_CHAIN));
        Store32(state + 4, fp);
        Store32(state + 8, next);
        std::memmove(state + 12, mem + HDR_REGS, kRegisterBytes);
        Store32(mem + HDR_STATE_CHAIN, base);
        m.modalDepth += 1;
        sp = base;
        goto leave;
      }

      case K_EMOD: {
        next = pc + 4;
        if (m.modalDepth <= 0) {
          ShowMessage(m, Format("Illegal EMOD at 0x%8.8lX", Hex(ipc)));
          goto leave;
        }
        const uint32_t base = Load32(mem + HDR_STATE_CHAIN);
        CHECKED(state, base, kSavedStateBytes);
        m.modalDepth -= 1;
        Store32(mem + HDR_STATE_CHAIN, Load32(state));
        fp = Load32(state + 4);
        pc = Load32(state + 8);
        std::memmove(mem + HDR_REGS, state + 12, kRegisterBytes);
        sp = base + kSavedStateBytes;
        break;
      }

      default:
        next = pc + 4;
        goto illegal;
    }
    continue;

  two_refused:
    if (entry == GROUP_ILLEGAL) goto illegal;
    FloatSizeMessage(m, ipc);
    pc = next;
    continue;

  two_execute:
    // The common integer operations, one case per operation and size so that each is
    // a straight line; the rest share the general code below.
    switch (entry) {
      INTEGER_OP(OP2_DIVI)
      INTEGER_OP(OP2_MODI)
      INTEGER_OP(OP2_RSHI) INTEGER_OP(OP2_DIVU) INTEGER_OP(OP2_MODU) INTEGER_OP(OP2_RSHU)
          INTEGER_OP(OP2_ADD) INTEGER_OP(OP2_SUB) INTEGER_OP(OP2_CMP) INTEGER_OP(OP2_MUL)
              INTEGER_OP(OP2_TST) INTEGER_OP(OP2_LSH) INTEGER_OP(OP2_AND) INTEGER_OP(OP2_OR)
                  INTEGER_OP(OP2_XOR) INTEGER_OP(OP2_MOV) default : break;
    }
    {
      const unsigned op = entry >> 2;
      const uint32_t bytes = 1u << size;
      switch (op) {
        case OP2_LEA: {
          CHECKED(d, da, 4);
          Store32(d, sa);
          break;
        }
        case OP2_MOVZ: {
          CHECKED(d, da, 8);
          CHECKED(s, sa, bytes);
          uint64_t v = 0;
          BY_SIZE(size, v = LoadAs<T>(s));
          Store64(d, v);
          break;
        }
        case OP2_MEMMOV: {
          const uint64_t count = uint64_t{Load32(mem + HDR_MOVE_COUNT)} << size;
          CHECKED(d, da, count);
          CHECKED(s, sa, count);
          std::memmove(d, s, count);
          break;
        }
        case OP2_PUMEM:
        case OP2_POMEM: {
          CHECKED(c, da, size == SIZE_B ? 1 : 2);
          const uint32_t count = size == SIZE_B ? *c : Load16(c);
          if (op == OP2_PUMEM) {
            const uint32_t top = sp - count;
            const uint64_t lowest = uint64_t{Load32(mem + HDR_STACK_LIMIT)} + kStackMargin;
            if (count > sp || lowest > top) goto stack_overflow;
            CHECKED(to, top, count);
            CHECKED(from, sa, count);
            std::memmove(to, from, count);
            sp = top;
          } else {
            if (uint64_t{sp} + count > Load32(mem + HDR_STACK_TOP)) goto stack_overflow;
            CHECKED(from, sp, count);
            CHECKED(to, sa, count);
            std::memmove(to, from, count);
          }
          break;
        }
        default: {  // addf, subf, mulf, divf, cmpf at size d or q
          CHECKED(d, da, bytes);
          CHECKED(s, sa, bytes);
          if (size == SIZE_D)
            FloatOp2<uint32_t>(op, d, s, flags);
          else
            FloatOp2<uint64_t>(op, d, s, flags);
          break;
        }
      }
      pc = next;
    }
  }

illegal:
  EndInOrder(m, "Illegal opcode at 0x%8.8lX\nTerminating program. So terribly sorry.", ipc);
  goto leave;

stack_overflow:
  EndInOrder(m, "Stack overflow at 0x%8.8lX. Terminating. So sorry.", ipc);
  goto leave;

divide_by_zero:
  EndInOrder(m, "Divide by zero at 0x%8.8lX\nTerminating program. So terribly sorry.", ipc);
  goto leave;

address_fault:
  AddressFault(m, faultAddress, ipc);
  goto leave;

leave:
  Store32(mem + HDR_VPC, next);
  Store32(mem + HDR_VSP, sp);
  Store32(mem + HDR_VFP, fp);
  mem[HDR_FLAGS] = flags;

#undef CHECKED
#undef NEED_WORDS
#undef EXT
#undef REG_LOW
#undef BY_SIZE
#undef TWO_FORMAT
#undef INTEGER_CASE
#undef INTEGER_OP
}

}  // namespace

void Interpret(Machine& m) {
  Run<false>(m);
}
void InterpretBounded(Machine& m) {
  Run<true>(m);
}

uint8_t CallProgram(Machine& m, uint32_t code, uint32_t a1, uint32_t a2, uint32_t a3) {
  if (m.fatal || !m.mem) return 0;
  m.stopRequested = false;
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
  if (m.bounded)
    InterpretBounded(m);
  else
    Interpret(m);
  if (m.fatal) return 0;
  CompactHeap(m);
  if (m.fatal) return 0;
  if (m.hostFlags == HOST_END_PROGRAM) {
    m.hostFlags = HOST_END_PROGRAM | HOST_ENDING;
    m.hooks->EndProgram(m);
  }
  return m.mem ? m.mem[HDR_EVENT_RESULT] : 0;
}

}  // namespace orvo::vm
