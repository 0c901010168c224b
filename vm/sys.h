// The sys dispatcher: routes a request block to its group.
#pragma once

#include <cstdint>

namespace orvo::vm {

struct Machine;

inline constexpr uint32_t SYS_COMMANDS = 2560;

// Runs the request whose address is in $15; the header's VPC holds the sys instruction.
void SysDispatch(Machine& m);
void UnknownSys(Machine& m);
// Writes a result word to the low half of $14 (and the high half for pair results).
void SetResult(Machine& m, uint32_t low);
void SetResultPair(Machine& m, uint32_t low, uint32_t high);

}  // namespace orvo::vm
