// The main.ove velda would write, made in memory from an in-memory run (analysis.h):
// the code image with the header fields velda fills in when it writes the file.
#pragma once

#include <cstdint>
#include <vector>

#include "analysis.h"

namespace orvo::velda {

// Empty when the run found errors or gave up: velda writes no image then either.
std::vector<uint8_t> ImageFromAnalysis(const Analysis& analysis, int year, int month, int day,
                                       uint32_t buildNumber);

}  // namespace orvo::velda
