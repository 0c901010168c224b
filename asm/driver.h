// The velda command line: load the sources, run the passes, write the outputs.
#pragma once

#include <string>
#include <vector>

#include "assembler.h"

namespace orvo::velda {

// Exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitOpen = 1;
inline constexpr int kExitMemory = 2;
inline constexpr int kExitSyntax = 3;
inline constexpr int kExitListing = 4;
inline constexpr int kExitImage = 5;
inline constexpr int kExitErrors = 6;

// Runs velda with the arguments after the program name; returns the exit code.
int RunVelda(Assembler& a, const std::vector<std::string>& args);

// Display name of a source argument: no leading path, no .ova extension.
std::string DisplayName(const std::string& argument);

}  // namespace orvo::velda
