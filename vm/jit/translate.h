// Translating a block of VM code into x86-64: from a place, the instructions in order
// until one that changes place unconditionally, one the translator leaves to the
// checked step, or a length limit. Conditional jumps leave the block when taken.
#pragma once

#include <cstdint>

namespace orvo::vm {
struct Machine;
}

namespace orvo::vm::jit {

class Cache;

// Translates the block at pc and installs it in the cache; false when its first
// instruction is one the translator leaves to the step.
bool Translate(Machine& m, Cache& cache, uint32_t pc);

}  // namespace orvo::vm::jit
