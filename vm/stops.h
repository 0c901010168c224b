// What the fast loop and the plain step share: frame sizes and the in-order stops of a
// faulting program.
#pragma once

#include <cstdint>

#include "vm/machine.h"

namespace orvo::vm {

inline constexpr uint32_t kStackMargin = 100;
inline constexpr uint32_t kSavedStateBytes = 140;
inline constexpr uint32_t kRegisterBytes = 128;
// sfvr/efr save registers 14 - n .. 13; more than 14 would reach into the header.
inline constexpr uint32_t kMaxSavedRegisters = 14;

inline unsigned long Hex(uint32_t v) {
  return static_cast<unsigned long>(v);
}

// A fault of the running program: the message names the instruction, and the host ends
// the program once the delivery is over.
inline void EndInOrder(Machine& m, FaultKind kind, const char* format, uint32_t instruction) {
  const Fault fault{kind, instruction, 0};
  ShowFault(m, fault, Format(format, Hex(instruction)));
  m.hostFlags |= HOST_END_PROGRAM;
  m.Stop(RunStop::FAULTED, fault);
}

// Float operations at size b or w do nothing but say so.
inline void FloatSizeMessage(Machine& m, uint32_t instruction) {
  ShowMessage(m, Format("BYTE/WORD size illegal for FLOAT/DOUBLE at 0x%8.8lX", Hex(instruction)));
}

}  // namespace orvo::vm
