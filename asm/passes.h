// The two passes over all source lines.
#pragma once

#include "assembler.h"

namespace orvo::velda {

// Runs pass 1 and pass 2 (unless assembling stops first). Afterwards codeSize,
// zeroSize, ids and image hold the results.
void AssembleAll(Assembler& a);

}  // namespace orvo::velda
