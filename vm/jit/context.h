// What translated code and the tier's driver share while a run is in translated code:
// the working copies of VPC, VSP, VFP and the flags at the way in and out, the budget,
// and why the code came out.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvo::vm::jit {

enum ExitReason : uint32_t {
  EXIT_STEP,   // the instruction at pc needs the checked step (or is not translated)
  EXIT_CHAIN,  // a change of place to pc, where there is no translation
  EXIT_LEAVE,  // the program returned to the host: pc is 0
};

struct Context {
  uint8_t* mem = nullptr;
  // Instructions a bounded run may still execute (all but unlimited when unbounded).
  uint64_t budget = 0;
  const void* exit = nullptr;  // the way out of translated code
  uint32_t pc = 0, sp = 0, fp = 0, flags = 0;
  // The flags on the way in as a value whose zero, sign and parity they are.
  uint64_t flagValue = 0;
  uint32_t reason = EXIT_STEP;
  // The host stack at the way in, and how far below it calls between translated
  // routines may push their places to go back to.
  uint64_t hostStack = 0, hostFloor = 0;
};

inline constexpr uint64_t kHostCallBytes = 128 * 1024;

inline constexpr int32_t kExitOffset = offsetof(Context, exit);

// Translated code carries the flags as the value they come from. A flags byte with the
// zero flag beside another one (which only a store into the header makes) has no such
// value: the driver runs the step until it has one.
inline constexpr bool kFlagsHaveValue[8] = {true, true, true, false, true, true, false, false};
inline constexpr uint64_t kFlagValue[8] = {2, 1, 0, 0, ~uint64_t{1}, ~uint64_t{0}, 0, 0};
inline bool FlagsHaveValue(uint32_t flags) {
  return flags < 8 && kFlagsHaveValue[flags];
}

// Translated code touches VM memory only from here up (never the header, whose working
// copies, registers aside, it keeps elsewhere) and only 8 bytes below the end at most.
inline constexpr uint32_t kLowestAddress = 512;
// Stores into translated code leave for the step. The code map has a byte for each 8
// bytes of VM memory (1 << kCodeMapShift), set where translated code lies: fine enough
// that data beside code is stored into at full speed.
inline constexpr unsigned kCodeMapShift = 3;

}  // namespace orvo::vm::jit
