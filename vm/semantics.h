// What each instruction does, written once for both loops. Every function runs over an
// access policy that says which places may be touched:
//   Fits(addr, len)     a place the instruction itself finds (stack slots, frames, targets);
//   Operand(addr, len)  the place of a located operand, which the fast loop checks once
//                       while locating it;
//   Value(addr, size)   the raw bits of the operand at addr, the low 1 << size bytes valid;
//   kLeaveNan           a NaN float result is handed back (REFUSED) instead of ordered.
// The fast loop's policy (interpreter.cpp) refuses whatever lies outside its fast range,
// and it then hands the instruction to Step; the step's (step.cpp) checks exact lengths
// and remembers the address it refused. Every check comes before the first side effect.
#pragma once

#include <cstdint>
#include <cstring>

#include "vm/decode.h"
#include "vm/formats.h"
#include "vm/heap.h"
#include "vm/machine.h"
#include "vm/memory.h"
#include "vm/operations.h"
#include "vm/stops.h"

namespace orvo::vm {

enum class Outcome : uint8_t { DONE, REFUSED, ILLEGAL, DIVIDE_BY_ZERO, STACK_OVERFLOW };

#define ORVO_ALWAYS_INLINE [[gnu::always_inline]] inline

ORVO_ALWAYS_INLINE bool ConditionHolds(unsigned cc, uint8_t flags) {
  return (kConditionMask[cc] >> flags) & 1;
}

ORVO_ALWAYS_INLINE uint32_t FrameOffset(uint32_t w) {
  return static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(w >> 16)));
}

// The value of a short immediate: its 4-bit field, signed.
ORVO_ALWAYS_INLINE uint32_t ShortImmediate(uint32_t field) {
  return static_cast<uint32_t>(static_cast<int32_t>(field << 28) >> 28);
}

// Result flags of the low 1 << size bytes of raw.
ORVO_ALWAYS_INLINE uint8_t SizedFlags(uint64_t raw, unsigned size) {
  const unsigned bits = 8u << size;
  const uint64_t v = size == SIZE_Q ? raw : raw & ((uint64_t{1} << (bits & 63)) - 1);
  if (v == 0) return FLAG_ZERO;
  return static_cast<uint8_t>((((v >> (bits - 1)) & 1) << 2) | (v & 1));
}

// The location of one operand of a two-operand format; immediates are placed in their
// slot. cursor moves past the extension words taken, so after both operands it is the
// address of the next instruction.
template <Loc kLoc>
ORVO_ALWAYS_INLINE uint32_t Locate(uint8_t* mem, uint32_t w, unsigned size, uint32_t fp,
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
    return fp + FrameOffset(w);
  } else if constexpr (kLoc == LOC_FRAME_E) {
    const uint32_t e = Load32(mem + cursor);
    cursor += 4;
    return fp + e;
  } else if constexpr (kLoc == LOC_SIMM_A || kLoc == LOC_SIMM_B) {
    const uint32_t field = kLoc == LOC_SIMM_A ? regA : regB;
    Store32(mem + HDR_IMMEDIATE, ShortImmediate(field));
    if (size == SIZE_Q) Store32(mem + HDR_IMMEDIATE + 4, 0);
    return HDR_IMMEDIATE;
  } else {
    static_assert(kLoc == LOC_LIMM);
    Store32(mem + HDR_IMMEDIATE, Load32(mem + cursor));
    if (size == SIZE_Q) {
      Store32(mem + HDR_IMMEDIATE + 4, Load32(mem + cursor + 4));
      cursor += 4;
    }
    cursor += 4;
    return HDR_IMMEDIATE;
  }
}

// The operand of the one-operand group by its form; false: the register field names no
// register.
template <Kind kForm>
ORVO_ALWAYS_INLINE bool LocateOne(const uint8_t* mem, uint32_t w, uint32_t pc, uint32_t fp,
                                  uint32_t& a) {
  if constexpr (kForm == K_ONE_REG) {
    if ((w >> 16) > 15) return false;
    a = RegisterAddress(w >> 16);
  } else if constexpr (kForm == K_ONE_IND) {
    a = Load32(mem + RegisterAddress((w >> 16) & 15)) + Load32(mem + pc + 4);
  } else if constexpr (kForm == K_ONE_FRAME) {
    a = fp + FrameOffset(w);
  } else {
    static_assert(kForm == K_ONE_ABS);
    a = Load32(mem + pc + 4);
  }
  return true;
}

// One two-operand operation at size T on located operands.
template <typename T, class Access>
ORVO_ALWAYS_INLINE Outcome TwoOperand(Access& acc, unsigned op, uint32_t da, uint32_t sa,
                                      uint32_t& sp, uint8_t& flags) {
  uint8_t* const mem = acc.mem;
  constexpr uint32_t kBytes = sizeof(T);
  switch (op) {
    case OP2_LEA:
      if (!acc.Operand(da, 4)) return Outcome::REFUSED;
      Store32(mem + da, sa);
      return Outcome::DONE;
    case OP2_MOVZ:
      if (!acc.Operand(da, 8) || !acc.Operand(sa, kBytes)) return Outcome::REFUSED;
      Store64(mem + da, LoadAs<T>(mem + sa));
      return Outcome::DONE;
    case OP2_MEMMOV: {
      const uint64_t count = uint64_t{Load32(mem + HDR_MOVE_COUNT)} * kBytes;
      if (!acc.Fits(da, count) || !acc.Fits(sa, count)) return Outcome::REFUSED;
      std::memmove(mem + da, mem + sa, count);
      return Outcome::DONE;
    }
    case OP2_PUMEM:
    case OP2_POMEM: {
      if (!acc.Operand(da, kBytes == 1 ? 1 : 2)) return Outcome::REFUSED;
      const uint32_t count = kBytes == 1 ? mem[da] : Load16(mem + da);
      if (op == OP2_PUMEM) {
        const uint32_t top = sp - count;
        const uint64_t lowest = uint64_t{Load32(mem + HDR_STACK_LIMIT)} + kStackMargin;
        if (count > sp || lowest > top) return Outcome::STACK_OVERFLOW;
        if (!acc.Fits(top, count) || !acc.Fits(sa, count)) return Outcome::REFUSED;
        std::memmove(mem + top, mem + sa, count);
        sp = top;
      } else {
        if (uint64_t{sp} + count > Load32(mem + HDR_STACK_TOP)) return Outcome::STACK_OVERFLOW;
        if (!acc.Fits(sp, count) || !acc.Fits(sa, count)) return Outcome::REFUSED;
        std::memmove(mem + sa, mem + sp, count);
      }
      return Outcome::DONE;
    }
    case OP2_ADDF:
    case OP2_SUBF:
    case OP2_MULF:
    case OP2_DIVF:
    case OP2_CMPF:  // at size d or q only
      if constexpr (kBytes >= 4) {
        if (!acc.Operand(da, kBytes) || !acc.Operand(sa, kBytes)) return Outcome::REFUSED;
        if (!FloatOp2<T, Access::kLeaveNan>(op, mem + da, mem + sa, flags)) return Outcome::REFUSED;
      }
      return Outcome::DONE;
    default: {  // the integer operations; shifts read one byte of their count
      const bool shift = op == OP2_RSHI || op == OP2_RSHU || op == OP2_LSH;
      if (!acc.Operand(da, kBytes) || !acc.Operand(sa, shift ? 1 : kBytes)) return Outcome::REFUSED;
      return IntegerOp2<T>(op, mem + da, mem + sa, flags) ? Outcome::DONE : Outcome::DIVIDE_BY_ZERO;
    }
  }
}

// One one-operand operation at size T on its located operand.
template <typename T, class Access>
ORVO_ALWAYS_INLINE Outcome OneOperand(Access& acc, unsigned op, uint32_t a, uint32_t& sp,
                                      uint8_t& flags) {
  uint8_t* const mem = acc.mem;
  constexpr uint32_t kBytes = sizeof(T), kRoom = kBytes < 2 ? 2 : kBytes;
  switch (op) {
    case OP1_PUSH:
      if (!acc.Operand(a, kBytes) || !acc.Fits(sp - kRoom, kRoom)) return Outcome::REFUSED;
      if constexpr (kBytes == 1)
        Store16(mem + sp - kRoom, mem[a]);
      else
        StoreAs<T>(mem + sp - kRoom, LoadAs<T>(mem + a));
      sp -= kRoom;
      return Outcome::DONE;
    case OP1_POP:
      if (!acc.Operand(a, kBytes) || !acc.Fits(sp, kBytes)) return Outcome::REFUSED;
      StoreAs<T>(mem + a, LoadAs<T>(mem + sp));
      sp += kRoom;
      return Outcome::DONE;
    case OP1_PEA:
      if (!acc.Fits(sp - 4, 4)) return Outcome::REFUSED;
      Store32(mem + sp - 4, a);
      sp -= 4;
      return Outcome::DONE;
    default: {  // conversions touch all 8 bytes of the operand
      const bool inPlace = op == OP1_NEGF || op == OP1_NEG || op == OP1_NOT || op == OP1_TST;
      if (!acc.Operand(a, inPlace ? kBytes : 8)) return Outcome::REFUSED;
      UnaryOp<T>(op, mem + a, flags);
      return Outcome::DONE;
    }
  }
}

// Test and jump, by the operand's form: flags from the operand at the size in bits 5-6,
// then the condition on them.
template <Kind kForm, class Access>
ORVO_ALWAYS_INLINE Outcome TestAndJump(Access& acc, uint32_t w, uint32_t pc, uint32_t fp,
                                       uint8_t& flags, uint32_t& next) {
  const uint8_t* const mem = acc.mem;
  const uint32_t e = Load32(mem + pc + 4);
  const unsigned size = (w >> 5) & 3;
  uint32_t a;
  if constexpr (kForm == K_TLJ_REG || kForm == K_TLJ_IND) {
    if (e > 15) return Outcome::ILLEGAL;
    a = RegisterAddress(e);
    if constexpr (kForm == K_TLJ_IND) a = Load32(mem + a);
  } else {
    a = kForm == K_TLJ_ABS ? e : fp + e;
  }
  if constexpr (kForm != K_TLJ_REG) {
    if (!acc.Fits(a, 1u << size)) return Outcome::REFUSED;
  }
  flags = SizedFlags(acc.Value(a, size), size);
  next = ConditionHolds((w >> 7) & 7, flags) ? (w >> 10) << 2 : pc + 8;
  return Outcome::DONE;
}

// Jump through the word at [register + offset].
template <class Access>
ORVO_ALWAYS_INLINE Outcome JumpThrough(Access& acc, uint32_t w, uint32_t& next) {
  const uint32_t a = Load32(acc.mem + RegisterAddress((w >> 6) & 15)) + ((w >> 10) << 2);
  if (!acc.Fits(a, 4)) return Outcome::REFUSED;
  next = Load32(acc.mem + a);
  return Outcome::DONE;
}

// Calls: argument bytes and return address below VSP. The target is read before the
// frame words are stored: they may overwrite it.
template <Kind kKind, class Access>
ORVO_ALWAYS_INLINE Outcome Call(Access& acc, uint32_t w, uint32_t pc, uint32_t& sp,
                                uint32_t& next) {
  uint8_t* const mem = acc.mem;
  constexpr bool kAbsolute = kKind == K_JSR_ABS;
  const uint32_t target =
      kAbsolute ? Load32(mem + pc + 4) : Load32(mem + RegisterAddress((w >> 12) & 15));
  if (!acc.Fits(sp - 8, 8)) return Outcome::REFUSED;
  acc.m.pcPreJsr = pc + 4;
  Store32(mem + sp - 4, w >> 16);
  Store32(mem + sp - 8, pc + (kAbsolute ? 8 : 4));
  sp -= 8;
  next = target;
  return Outcome::DONE;
}

// sfvr: link the caller's VFP below VSP, then save registers 14 - n .. 13 below the
// locals.
template <class Access>
ORVO_ALWAYS_INLINE Outcome SaveFrame(Access& acc, uint32_t w, unsigned n, uint32_t& sp,
                                     uint32_t& fp) {
  const uint32_t newFp = sp - 4;
  const uint32_t newSp = newFp - (w >> 14) - 8 * n;
  if (!acc.Fits(newFp, 4) || !acc.Fits(newSp, 8 * n)) return Outcome::REFUSED;
  Store32(acc.mem + newFp, fp);
  acc.MoveRegisters(acc.mem + newSp, acc.mem + HDR_RESULT - 8 * n, n);
  fp = newFp;
  sp = newSp;
  return Outcome::DONE;
}

// efr: restore the saved registers and the caller's frame; next is the return address,
// 0 for a return to the host.
template <class Access>
ORVO_ALWAYS_INLINE Outcome EndFrame(Access& acc, unsigned n, uint32_t& sp, uint32_t& fp,
                                    uint32_t& next) {
  uint8_t* const mem = acc.mem;
  if (!acc.Fits(sp, 8 * n) || !acc.Fits(fp, 12)) return Outcome::REFUSED;
  acc.MoveRegisters(mem + HDR_RESULT - 8 * n, mem + sp, n);
  const uint32_t callerFp = Load32(mem + fp);
  next = Load32(mem + fp + 4);
  sp = fp + 12 + Load32(mem + fp + 8);
  if (acc.m.heap.listHead[LIST_LOCKED] != LIST_END) ReleaseFrameLocks(acc.m, sp);
  fp = callerFp;
  return Outcome::DONE;
}

// Pushes of an immediate: the short form's value is bits 10-31, the long form's follows
// in one word, or two at size q. Sizes b and w take two bytes of stack.
template <bool kLong, class Access>
ORVO_ALWAYS_INLINE Outcome PushImmediate(Access& acc, uint32_t w, uint32_t pc, uint32_t& sp,
                                         uint32_t& next) {
  uint8_t* const mem = acc.mem;
  const unsigned size = (w >> 8) & 3;
  const uint32_t room = size == SIZE_Q ? 8 : size == SIZE_D ? 4 : 2;
  if (!acc.Fits(sp - room, room)) return Outcome::REFUSED;
  uint8_t* const to = mem + sp - room;
  if (size == SIZE_Q) {
    if constexpr (kLong) {
      Store32(to, Load32(mem + pc + 4));
      Store32(to + 4, Load32(mem + pc + 8));
    } else {
      Store64(to, static_cast<uint64_t>(int64_t{static_cast<int32_t>(w) >> 10}));
    }
  } else {
    const uint32_t value =
        kLong ? Load32(mem + pc + 4) : static_cast<uint32_t>(static_cast<int32_t>(w) >> 10);
    if (size == SIZE_D)
      Store32(to, value);
    else
      Store16(to, static_cast<uint16_t>(value));
  }
  sp -= room;
  next = pc + (kLong ? (size == SIZE_Q ? 12 : 8) : 4);
  return Outcome::DONE;
}

#undef ORVO_ALWAYS_INLINE

}  // namespace orvo::vm
