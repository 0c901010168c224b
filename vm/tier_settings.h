// Whether the compiling tier runs a machine's code, and after how many arrivals at a
// place it translates the code there. The environment sets the defaults of every
// machine, so that a whole test run can go through the tier (ORVO_JIT_THRESHOLD=0) or
// avoid it (ORVO_NO_JIT=1); orvo's --no-jit turns it off for its one machine.
#pragma once

#include <cstdint>

namespace orvo::vm {

struct TierSettings {
  bool enabled = true;
  // Arrivals at a place (a delivery's start or a change of place) before its code is
  // translated; 0 translates everything on its first arrival.
  uint32_t threshold = 8;
};

// The defaults above as the environment changes them.
TierSettings TierSettingsFromEnvironment();

}  // namespace orvo::vm
