// Sys group 3: formatted output, string and memory primitives, and the message box.
#pragma once

#include <cstdint>

namespace orvo::vm {
struct Machine;
struct RequestTable;
}  // namespace orvo::vm

namespace orvo::services {

// Rows of the group (the low byte of the command word).
enum StringsRow : uint32_t {
  SYS_PRTFMT = 0,     // destination, format, argument size, value word(s)
  SYS_STRCPY = 1,     // destination, source
  SYS_STRCAT = 2,     // destination, source
  SYS_STRLEN = 3,     // string
  SYS_STRCMP = 4,     // a, b
  SYS_CHARUPPER = 5,  // string holding one character
  SYS_MEMCPY = 10,    // destination, source, count
  SYS_MEMMOVE = 11,   // destination, source, count
  SYS_MEMSET = 12,    // destination, byte, count
  SYS_MEMCMP = 13,    // a, b, count
  SYS_MESSAGE = 14,   // string
};

// Adds the group's rows to the request table. Every address is checked: a bad one stops
// the program in order.
void AddStringRequests(vm::RequestTable& t);

}  // namespace orvo::services
