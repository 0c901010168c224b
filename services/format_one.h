// SYS_PRTFMT's formatter: one printf-style conversion with one value from the program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orvo::vm {
struct Machine;
}

namespace orvo::services {

// The value words of a SYS_PRTFMT request. size is 4 (one word), 8 (low and high word) or
// 1 (low is the VM address of a string).
struct FormatArgument {
  uint32_t size = 4;
  uint32_t low = 0;
  uint32_t high = 0;
};

enum class FormatStatus {
  FORMAT_OK,
  FORMAT_BAD_STRING,  // the string for %s runs outside VM memory (at FormatArgument::low)
  FORMAT_NO_ROOM,     // the text would be longer than room bytes
};

// Formats format with arg into out, following the Windows C library's printf for the first
// conversion only. Text outside that conversion is copied, "%%" giving one percent sign;
// later conversions, and a first one that cannot be performed safely with this argument
// (%n, '*', a wide or unknown conversion, or a size that does not suit it), are copied
// as written. Reads VM memory only for %s, always within bounds.
FormatStatus FormatOne(const vm::Machine& m, std::string_view format, const FormatArgument& arg,
                       size_t room, std::string& out);

}  // namespace orvo::services
