// Data statements: what follows a size word, and the '&' address word.
#pragma once

#include "assembler.h"

namespace orvo::velda {

// After b, w, d or q: a zero-segment reservation, a string, a number list, a
// repeat, or an instruction of that size.
void AssembleSized(Assembler& a);
void AssembleAddressWord(Assembler& a);

}  // namespace orvo::velda
