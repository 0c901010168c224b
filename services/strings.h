// Sys group 3: formatted output, string and memory primitives, and the message box.
#pragma once

#include <cstdint>

namespace orvo::vm {
struct Machine;
}

namespace orvo::services {

inline constexpr uint32_t SYS_GROUP_STRINGS = 3;

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

// Runs row `row` of the group; args is the VM address of the first argument word. Every
// address is checked: a bad one stops the program in order.
void StringsSys(vm::Machine& m, uint32_t row, uint32_t args);

}  // namespace orvo::services
