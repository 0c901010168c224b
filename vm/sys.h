// The sys dispatcher: reads a request block's command and runs its row of the table.
#pragma once

#include <cstdint>
#include <span>

#include "vm/requests.h"

namespace orvo::vm {

// Runs the request whose address is in $15; the header's VPC holds the sys instruction.
void SysDispatch(Machine& m);
void UnknownSys(Machine& m);
// Writes a result word to the low half of $14 (and the high half for pair results).
void SetResult(Machine& m, uint32_t low);
void SetResultPair(Machine& m, uint32_t low, uint32_t high);
// The machine's own rows: the time group (through the hooks) and the heap group.
std::span<const RequestRow> CoreRequests();

}  // namespace orvo::vm
