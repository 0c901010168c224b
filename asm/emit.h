// Appending to the code image from statements. A statement that would run
// past the end of the image writes nothing more, reports the size error and
// stops the assembly, as the check before each line does.
#pragma once

#include <cstdint>

#include "assembler.h"

namespace orvo::velda {

void ReportTooLarge(Assembler& a);
// True when `bytes` more fit; otherwise reports and stops.
bool EnsureRoom(Assembler& a, uint64_t bytes);
bool Emit(Assembler& a, uint64_t value, unsigned width);
inline bool EmitWord(Assembler& a, uint32_t word) {
  return Emit(a, word, 4);
}

}  // namespace orvo::velda
