// Console output and the two error reporters.
#pragma once

#include <string_view>

#include "assembler.h"

namespace orvo::velda {

void ConsoleWrite(Assembler& a, std::string_view text);

// Both reporters stay silent during pass 1 unless `inPass1` is set: only the
// few checks that exist in pass 1 alone report there.
// "name(line): message", with the current file and line.
void ReportError(Assembler& a, std::string_view message, bool inPass1 = false);
// The message alone.
void ReportPlainError(Assembler& a, std::string_view message, bool inPass1 = false);

}  // namespace orvo::velda
