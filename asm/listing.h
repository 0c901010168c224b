// The listing: one line per source line (plus continuation lines for long
// statements), into main.ovl in pass 2 and onto the console in pass 1 with -L.
#pragma once

#include <string>

#include "assembler.h"

namespace orvo::velda {

// Lists the line just finished, if listing is active and its file's line
// number has reached 1.
void ListLine(Assembler& a);

// The text of that listing, each line ending in CR LF (exposed for tests).
std::string FormatListing(const Assembler& a);

}  // namespace orvo::velda
