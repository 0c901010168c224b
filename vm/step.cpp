// The plain instruction step. Every VM address turned into a host pointer is checked for
// its whole length; the register slots and the immediate slot lie in the header and need
// no check.
#include "vm/step.h"

#include <algorithm>
#include <cstring>

#include "vm/decode.h"
#include "vm/formats.h"
#include "vm/machine.h"
#include "vm/semantics.h"
#include "vm/stops.h"
#include "vm/sys.h"

namespace orvo::vm {
namespace {

// The step may touch any place whose bytes all lie in VM memory; it remembers the first
// place it refused.
struct CheckedAccess {
  Machine& m;
  uint8_t* mem;
  uint64_t memSize;
  uint32_t refused = 0;
  static constexpr bool kLeaveNan = false;

  bool Fits(uint32_t addr, uint64_t len) {
    if (uint64_t{addr} + len <= memSize) return true;
    refused = addr;
    return false;
  }
  bool Operand(uint32_t addr, uint64_t len) { return Fits(addr, len); }
  uint64_t Value(uint32_t addr, unsigned size) const {
    switch (size) {
      case SIZE_B:
        return mem[addr];
      case SIZE_W:
        return Load16(mem + addr);
      case SIZE_D:
        return Load32(mem + addr);
      default:
        return Load64(mem + addr);
    }
  }
  // The save area may reach into the header here.
  static void MoveRegisters(uint8_t* to, const uint8_t* from, unsigned n) {
    std::memmove(to, from, 8 * n);
  }
};

// The locating function of each operand place, by its Loc.
using Locator = uint32_t (*)(uint8_t* mem, uint32_t w, unsigned size, uint32_t fp,
                             uint32_t& cursor);
// clang-format off
constexpr Locator kLocate[] = {nullptr, Locate<LOC_REG_A>, Locate<LOC_REG_B>, Locate<LOC_IND_A>,
  Locate<LOC_IND_B>, Locate<LOC_ABS>, Locate<LOC_FRAME_F>, Locate<LOC_FRAME_E>,
  Locate<LOC_SIMM_A>, Locate<LOC_SIMM_B>, Locate<LOC_LIMM>};
// clang-format on

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
  CheckedAccess acc{m, mem, memSize};
  Outcome outcome = Outcome::DONE;

  // The instruction has this many words; all of them must lie in VM memory.
#define NEED_WORDS(n)                        \
  do {                                       \
    next = pc + 4u * (n);                    \
    if (uint64_t{pc} + 4u * (n) > memSize) { \
      acc.refused = pc + 4u * ((n)-1);       \
      goto address_fault;                    \
    }                                        \
  } while (0)
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
    acc.refused = pc;
    goto address_fault;
  }
  {
    const uint32_t w = Load32(mem + pc);
    const Kind kind = kDecode[w & 1023];
    switch (kind) {
      case K_NOP:
        next = pc + 4;
        break;

      case K_F1 ... K_F30: {  // the two-operand formats
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
        const uint32_t da = kLocate[kFormatLocs[format].dst](mem, w, size, fp, cursor);
        const uint32_t sa = kLocate[kFormatLocs[format].src](mem, w, size, fp, cursor);
        BY_SIZE(size, outcome = TwoOperand<T>(acc, entry >> 2, da, sa, sp, flags));
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
        uint32_t a = 0;
        const bool located = kind == K_ONE_REG     ? LocateOne<K_ONE_REG>(mem, w, pc, fp, a)
                             : kind == K_ONE_IND   ? LocateOne<K_ONE_IND>(mem, w, pc, fp, a)
                             : kind == K_ONE_FRAME ? LocateOne<K_ONE_FRAME>(mem, w, pc, fp, a)
                                                   : LocateOne<K_ONE_ABS>(mem, w, pc, fp, a);
        if (!located) goto illegal;
        BY_SIZE(entry & 3, outcome = OneOperand<T>(acc, entry >> 2, a, sp, flags));
        break;
      }

#define TLJ_CASE(K)                                        \
  case K:                                                  \
    NEED_WORDS(2);                                         \
    outcome = TestAndJump<K>(acc, w, pc, fp, flags, next); \
    break;
        TLJ_CASE(K_TLJ_REG)
        TLJ_CASE(K_TLJ_ABS)
        TLJ_CASE(K_TLJ_IND)
        TLJ_CASE(K_TLJ_FRAME)
#undef TLJ_CASE

      case K_LJ:
        next = ConditionHolds((w >> 7) & 7, flags) ? (w >> 10) << 2 : pc + 4;
        break;

      case K_JMP:
        next = (w >> 10) << 2;
        break;

      case K_JMP_MEM:
        next = pc + 4;
        outcome = JumpThrough(acc, w, next);
        break;

      case K_JSR_ABS:
        NEED_WORDS(2);
        outcome = Call<K_JSR_ABS>(acc, w, pc, sp, next);
        break;
      case K_JSR_REG:
        next = pc + 4;
        outcome = Call<K_JSR_REG>(acc, w, pc, sp, next);
        break;

      case K_SFVR: {
        next = pc + 4;
        const uint32_t n = (w >> 10) & 15;
        if (n > kMaxSavedRegisters) goto illegal;
        outcome = SaveFrame(acc, w, n, sp, fp);
        break;
      }

      case K_EFR: {
        next = pc + 4;
        const uint32_t n = (w >> 10) & 15;
        if (n > kMaxSavedRegisters) goto illegal;
        outcome = EndFrame(acc, n, sp, fp, next);
        if (outcome == Outcome::DONE && next == 0) goto leave;
        break;
      }

      case K_PUSH_LONG:
        NEED_WORDS(((w >> 8) & 3) == SIZE_Q ? 3 : 2);
        outcome = PushImmediate<true>(acc, w, pc, sp, next);
        break;
      case K_PUSH_SHORT:
        next = pc + 4;
        outcome = PushImmediate<false>(acc, w, pc, sp, next);
        break;

      case K_DBG: {
        next = pc + 4;
        std::string_view text;
        const uint32_t at = Load32(mem + RegisterAddress(15));
        if (!ReadString(m, at, text)) {
          acc.refused = at;
          goto address_fault;
        }
        m.hooks->AppendDebugLog(text);
        break;
      }

      case K_SYS:
        next = pc + 4;
        // The header's VPC holds this instruction while the request runs.
        SysDispatch(m);
        if (m.StopRequested()) goto leave;
        break;

      case K_TERM:
        m.hostFlags |= HOST_END_PROGRAM;
        next = pc;
        goto leave;

      case K_SMOD: {
        next = pc + 4;
        const uint32_t base = sp - kSavedStateBytes;
        if (!acc.Fits(base, kSavedStateBytes)) goto address_fault;
        uint8_t* const state = mem + base;
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
          ShowFault(m, {FaultKind::ILLEGAL_EMOD, pc, 0},
                    Format("Illegal EMOD at 0x%8.8lX", Hex(pc)));
          goto leave;
        }
        const uint32_t base = Load32(mem + HDR_STATE_CHAIN);
        if (!acc.Fits(base, kSavedStateBytes)) goto address_fault;
        const uint8_t* const state = mem + base;
        m.modalDepth -= 1;
        Store32(mem + HDR_STATE_CHAIN, Load32(state));
        fp = Load32(state + 4);
        next = Load32(state + 8);
        std::memmove(mem + HDR_REGS, state + 12, kRegisterBytes);
        sp = base + kSavedStateBytes;
        break;
      }

      default:  // K_ILLEGAL
        if (std::binary_search(m.traps.begin(), m.traps.end(), pc)) {
          m.trapped = true;
          cpu.pc = pc;
          return StepEnd::LEAVE;
        }
        next = pc + 4;
        goto illegal;
    }
  }
  switch (outcome) {
    case Outcome::DONE:
      cpu.pc = next;
      return StepEnd::NEXT;
    case Outcome::REFUSED:
      goto address_fault;
    case Outcome::ILLEGAL:
      goto illegal;
    case Outcome::DIVIDE_BY_ZERO:
      goto divide_by_zero;
    case Outcome::STACK_OVERFLOW:
      goto stack_overflow;
  }

illegal:
  EndInOrder(m, FaultKind::ILLEGAL_OPCODE,
             "Illegal opcode at 0x%8.8lX\nTerminating program. So terribly sorry.", pc);
  goto leave;

stack_overflow:
  EndInOrder(m, FaultKind::STACK_OVERFLOW, "Stack overflow at 0x%8.8lX. Terminating. So sorry.",
             pc);
  goto leave;

divide_by_zero:
  EndInOrder(m, FaultKind::DIVIDE_BY_ZERO,
             "Divide by zero at 0x%8.8lX\nTerminating program. So terribly sorry.", pc);
  goto leave;

address_fault:
  AddressFault(m, acc.refused, pc);
  goto leave;

leave:
  cpu.pc = next;
  return StepEnd::LEAVE;

#undef NEED_WORDS
#undef BY_SIZE
}

}  // namespace orvo::vm
