// Operand syntax of instructions.
#pragma once

#include <cstdint>

#include "assembler.h"

namespace orvo::velda {

// Modes 0-15 are registers, 16-31 register indirect ([$n][offset]).
inline constexpr int MODE_IND = 16;
inline constexpr int MODE_ABS = 32;
inline constexpr int MODE_IMM = 33;
inline constexpr int MODE_FRAME = 34;

struct Operand {
  int mode = 0;
  unsigned reg = 0;   // register modes
  int64_t value = 0;  // offset, address, immediate value or frame offset
  bool hasLabel = false;
};

inline bool IsRegister(const Operand& op) {
  return op.mode < MODE_IND;
}
inline bool IsIndirect(const Operand& op) {
  return op.mode >= MODE_IND && op.mode < MODE_ABS;
}

// "$n" at line[pos]: returns its length (2 or 3) and the number, which may be
// 16..23; 0 when there is no register there.
size_t ParseRegister(const Assembler& a, size_t pos, unsigned& number);

// Reads one operand; reports "invalid addressing mode" and returns false when
// there is none.
bool ParseOperand(Assembler& a, Operand& op);

}  // namespace orvo::velda
