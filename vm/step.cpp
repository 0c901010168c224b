// The plain instruction step. Every VM address turned into a host pointer is checked for
// its whole length; the register slots and the immediate slot lie in the header and need
// no check.
#include "vm/step.h"

#include <cstring>

#include "vm/decode.h"
#include "vm/formats.h"
#include "vm/machine.h"
#include "vm/operations.h"
#include "vm/stops.h"
#include "vm/sys.h"

namespace orvo::vm {
namespace {

// A 4-bit two's-complement field, sign-extended.
uint32_t ShortImmediate(uint32_t field) {
  return static_cast<uint32_t>(static_cast<int32_t>(field << 28) >> 28);
}

// The VM address of an operand location; immediates are first placed in their slot.
// Extension words are taken in order from cursor.
uint32_t Locate(Loc loc, uint8_t* mem, uint32_t w, unsigned size, uint32_t fp, uint32_t& cursor) {
  const unsigned regA = (w >> 5) & 15, regB = (w >> 16) & 15;
  switch (loc) {
    case LOC_REG_A:
      return RegisterAddress(regA);
    case LOC_REG_B:
      return RegisterAddress(regB);
    case LOC_IND_A:
    case LOC_IND_B: {
      const uint32_t e = Load32(mem + cursor);
      cursor += 4;
      return Load32(mem + RegisterAddress(loc == LOC_IND_A ? regA : regB)) + e;
    }
    case LOC_ABS: {
      const uint32_t e = Load32(mem + cursor);
      cursor += 4;
      return e;
    }
    case LOC_FRAME_F:
      return fp + static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(w >> 16)));
    case LOC_FRAME_E: {
      const uint32_t e = Load32(mem + cursor);
      cursor += 4;
      return fp + e;
    }
    case LOC_SIMM_A:
    case LOC_SIMM_B:
      Store32(mem + HDR_IMMEDIATE, ShortImmediate(loc == LOC_SIMM_A ? regA : regB));
      if (size == SIZE_Q) Store32(mem + HDR_IMMEDIATE + 4, 0);
      return HDR_IMMEDIATE;
    default:  // LOC_LIMM
      Store32(mem + HDR_IMMEDIATE, Load32(mem + cursor));
      if (size == SIZE_Q) Store32(mem + HDR_IMMEDIATE + 4, Load32(mem + cursor + 4));
      return HDR_IMMEDIATE;
  }
}

}  // namespace

Cpu LoadCpu(const Machine& m) {
  return {m.Word(HDR_VPC), m.Word(HDR_VSP), m.Word(HDR_VFP),
          static_cast<uint8_t>(m.mem[HDR_FLAGS] & 7)};
}

void StoreCpu(Machine& m, const Cpu& cpu) {
  m.SetWord(HDR_VPC, cpu.pc);
  m.SetWord(HDR_VSP, cpu.sp);
  m.SetWord(HDR_VFP, cpu.fp);
  m.mem[HDR_FLAGS] = cpu.flags;
}

StepEnd Step(Machine& m, Cpu& cpu) {
  uint8_t* const mem = m.mem;
  const uint64_t memSize = m.memSize;
  const uint32_t pc = cpu.pc;
  uint32_t& sp = cpu.sp;
  uint32_t& fp = cpu.fp;
  uint8_t& flags = cpu.flags;
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
    next = pc + 4u * (n);                    \
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

  if (uint64_t{pc} + 4 > memSize) {
    faultAddress = pc;
    goto address_fault;
  }
  {
    const uint32_t w = Load32(mem + pc);
    const Kind kind = kDecode[w & 1023];
    switch (kind) {
      case K_NOP:
        next = pc + 4;
        break;

      case K_ILLEGAL:
        next = pc + 4;
        goto illegal;

      case K_F1:
      case K_F2:
      case K_F3:
      case K_F5:
      case K_F6:
      case K_F7:
      case K_F9:
      case K_F10:
      case K_F11:
      case K_F13:
      case K_F14:
      case K_F15:
      case K_F17:
      case K_F18:
      case K_F19:
      case K_F21:
      case K_F22:
      case K_F23:
      case K_F25:
      case K_F26:
      case K_F27:
      case K_F28:
      case K_F29:
      case K_F30: {
        const unsigned format = w & 31;
        const unsigned size = (w >> 9) & 3;
        NEED_WORDS(kFormatWords[format * 4 + size]);
        const uint8_t entry = kOp2Table[(w >> 9) & 127];
        if (entry == GROUP_ILLEGAL) goto illegal;
        if (entry == GROUP_FLOAT_SIZE) {
          FloatSizeMessage(m, pc);
          break;
        }
        uint32_t cursor = pc + 4;
        const uint32_t da = Locate(kFormatLocs[format].dst, mem, w, size, fp, cursor);
        const uint32_t sa = Locate(kFormatLocs[format].src, mem, w, size, fp, cursor);
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
          case OP2_ADDF:
          case OP2_SUBF:
          case OP2_MULF:
          case OP2_DIVF:
          case OP2_CMPF: {  // at size d or q
            CHECKED(d, da, bytes);
            CHECKED(s, sa, bytes);
            if (size == SIZE_D)
              FloatOp2<uint32_t>(op, d, s, flags);
            else
              FloatOp2<uint64_t>(op, d, s, flags);
            break;
          }
          default: {  // the integer operations; shifts read one byte of their count
            const bool shift = op == OP2_RSHI || op == OP2_RSHU || op == OP2_LSH;
            CHECKED(d, da, bytes);
            CHECKED(s, sa, shift ? 1 : bytes);
            bool divided = true;
            BY_SIZE(size, divided = IntegerOp2<T>(op, d, s, flags));
            if (!divided) goto divide_by_zero;
            break;
          }
        }
        break;
      }

      case K_ONE_REG:
      case K_ONE_IND:
      case K_ONE_FRAME:
      case K_ONE_ABS: {
        NEED_WORDS((kind == K_ONE_IND || kind == K_ONE_ABS) ? 2 : 1);
        const uint8_t entry = kOp1Table[(w >> 8) & 127];
        if (entry == GROUP_ILLEGAL) goto illegal;
        if (entry == GROUP_FLOAT_SIZE) {
          FloatSizeMessage(m, pc);
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
              std::memmove(to, s, bytes);
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
        break;
      }

      case K_TLJ_REG:
      case K_TLJ_ABS:
      case K_TLJ_IND:
      case K_TLJ_FRAME: {
        NEED_WORDS(2);
        const uint32_t e = EXT(1);
        uint32_t a;
        switch (kind) {
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
        if ((kConditionMask[(w >> 7) & 7] >> flags) & 1) next = (w >> 10) << 2;
        break;
      }

      case K_LJ:
        next = (kConditionMask[(w >> 7) & 7] >> flags) & 1 ? (w >> 10) << 2 : pc + 4;
        break;

      case K_JMP:
        next = (w >> 10) << 2;
        break;

      case K_JMP_MEM: {
        next = pc + 4;
        CHECKED(p, REG_LOW((w >> 6) & 15) + ((w >> 10) << 2), 4);
        next = Load32(p);
        break;
      }

      case K_JSR_ABS:
      case K_JSR_REG: {
        const bool absolute = kind == K_JSR_ABS;
        NEED_WORDS(absolute ? 2 : 1);
        const uint32_t target = absolute ? EXT(1) : REG_LOW((w >> 12) & 15);
        CHECKED(frame, sp - 8, 8);
        m.pcPreJsr = pc + 4;
        Store32(frame + 4, w >> 16);
        Store32(frame, next);
        sp -= 8;
        next = target;
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
        next = ret;
        if (ret == 0) goto leave;
        break;
      }

      case K_PUSH_LONG: {
        const unsigned size = (w >> 8) & 3;
        NEED_WORDS(size == SIZE_Q ? 3 : 2);
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
        break;
      }

      case K_SYS:
        next = pc + 4;
        // The header's VPC holds this instruction while the request runs.
        SysDispatch(m);
        if (m.stopRequested) goto leave;
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
          ShowMessage(m, Format("Illegal EMOD at 0x%8.8lX", Hex(pc)));
          goto leave;
        }
        const uint32_t base = Load32(mem + HDR_STATE_CHAIN);
        CHECKED(state, base, kSavedStateBytes);
        m.modalDepth -= 1;
        Store32(mem + HDR_STATE_CHAIN, Load32(state));
        fp = Load32(state + 4);
        next = Load32(state + 8);
        std::memmove(mem + HDR_REGS, state + 12, kRegisterBytes);
        sp = base + kSavedStateBytes;
        break;
      }

      default:
        next = pc + 4;
        goto illegal;
    }
  }
  cpu.pc = next;
  return StepEnd::NEXT;

illegal:
  EndInOrder(m, "Illegal opcode at 0x%8.8lX\nTerminating program. So terribly sorry.", pc);
  goto leave;

stack_overflow:
  EndInOrder(m, "Stack overflow at 0x%8.8lX. Terminating. So sorry.", pc);
  goto leave;

divide_by_zero:
  EndInOrder(m, "Divide by zero at 0x%8.8lX\nTerminating program. So terribly sorry.", pc);
  goto leave;

address_fault:
  AddressFault(m, faultAddress, pc);
  goto leave;

leave:
  cpu.pc = next;
  return StepEnd::LEAVE;

#undef CHECKED
#undef NEED_WORDS
#undef EXT
#undef REG_LOW
#undef BY_SIZE
}

void InterpretReference(Machine& m) {
  Cpu cpu = LoadCpu(m);
  for (;;) {
    StoreCpu(m, cpu);
    if (m.bounded) {
      if (m.budget == 0) {
        m.budgetExhausted = true;
        break;
      }
      --m.budget;
    }
    if (Step(m, cpu) == StepEnd::LEAVE) break;
  }
  StoreCpu(m, cpu);
}

}  // namespace orvo::vm
