// The compiling tier's entry: Interpret hands a run to it when the machine's settings
// allow and the build has it (x86-64 with ORVO_JIT on).
#pragma once

#include <cstdint>

namespace orvo::vm {

struct Machine;

// Runs from the state in the header as Interpret does (bounded like InterpretBounded
// when m.bounded is set), translating hot code and stepping the rest. false: the tier
// cannot run this machine (not built, or memory too small), and nothing has run.
bool RunCompiled(Machine& m);

// How many times runs of the machine have entered translated code (0 without the tier).
uint64_t TranslatedEntries(const Machine& m);

}  // namespace orvo::vm
