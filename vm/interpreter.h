// The instruction loop and the host's entry into the program.
#pragma once

#include <cstdint>

namespace orvo::vm {

struct Machine;

// Delivers one event: a frame for the entry at 512 with the code and three arguments,
// the run, then heap compaction. Returns the program's event result byte.
uint8_t CallProgram(Machine& m, uint32_t code, uint32_t a1, uint32_t a2, uint32_t a3);

// Runs from the state in the header until the program returns to 0, ends, suspends or
// faults. With bounded set, at most m.budget instructions run. These go through the
// compiling tier when the machine's settings allow and the build has it.
void Interpret(Machine& m);
void InterpretBounded(Machine& m);
// The same in the fast loop alone.
void InterpretFast(Machine& m);
void InterpretFastBounded(Machine& m);

}  // namespace orvo::vm
