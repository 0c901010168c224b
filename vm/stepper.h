// Running the plain step until something a debugger asked for happens: a breakpoint is
// reached, a number of instructions has run, or a watched byte has changed.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

namespace orvo::vm {

struct Machine;

// Bytes begin .. end - 1 of VM memory.
struct WatchRange {
  uint32_t begin = 0, end = 0;
};

struct StopConditions {
  // Stop before the instruction at any of these addresses, but for the first one run.
  std::vector<uint32_t> breakpoints;
  // Stop once this many instructions have run.
  uint64_t steps = std::numeric_limits<uint64_t>::max();
  // Stop after an instruction that changed a byte in any of these ranges.
  std::vector<WatchRange> writeWatches;
};

enum class StopReason : uint8_t {
  LEFT,        // the run ended as Interpret's does: returned to 0, ended, suspended, faulted
  BREAKPOINT,  // the header's VPC is a breakpoint
  STEPS,       // the number of steps has run
  WATCH,       // the last instruction changed a watched byte
};

struct Stopped {
  StopReason reason;
  uint64_t steps;  // instructions run
};

// Runs from the state in the header, one checked step at a time, and leaves the header
// holding the state at the stop. Nothing is run past the stop.
Stopped StepUntil(Machine& m, const StopConditions& conditions);

// Interpret built from the plain step alone, storing the working copies after every
// instruction. Honours m.bounded like Interpret.
void InterpretReference(Machine& m);

}  // namespace orvo::vm
