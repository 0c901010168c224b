// What a successful run writes: BUILDNUM, the header fields, main.ove, main.map.
#pragma once

#include <filesystem>
#include <string>

#include "assembler.h"

namespace orvo::velda {

std::filesystem::path OutputPath(const Assembler& a, const char* name);
// Creates or replaces path with size bytes of data; false when any step failed.
bool WriteFile(const std::filesystem::path& path, const void* data, size_t size);

// Reads BUILDNUM, adds 1, writes the new number back (the file holds only its
// text afterwards) and sets buildNumber.
void UpdateBuildNumber(Assembler& a);
// The assembler's fields of the image header: date, build number, sizes.
void WriteHeaderFields(Assembler& a, int year, int month, int day);
bool WriteImage(const Assembler& a);
// "%6.6lX %s\r\n" for every mapped code label, then every mapped zero label.
std::string FormatMap(const Assembler& a);
bool WriteMap(const Assembler& a);

}  // namespace orvo::velda
