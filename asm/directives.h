// The statement level: what the first word of a line means.
#pragma once

#include "assembler.h"

namespace orvo::velda {

void AssembleLine(Assembler& a);

// Pads the current segment to a multiple of `alignment`.
void AlignSegment(Assembler& a, uint32_t alignment);

}  // namespace orvo::velda
