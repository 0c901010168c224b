// The instruction lengths of the two-operand formats, from where their operands live.
#pragma once

#include <array>
#include <cstdint>

#include "isa/instruction_set.h"

namespace orvo::vm {

using isa::ExtensionWords;
using isa::FormatLocs;
using isa::kFormatLocs;
using isa::Loc;
using enum isa::Loc;

// Words of a two-operand instruction by format (low 5 bits) * 4 + size.
constexpr std::array<uint8_t, 128> MakeFormatWords() {
  std::array<uint8_t, 128> t{};
  for (unsigned f = 0; f < 32; ++f)
    for (unsigned s = 0; s < 4; ++s)
      t[f * 4 + s] = static_cast<uint8_t>(1 + ExtensionWords(kFormatLocs[f].dst, s) +
                                          ExtensionWords(kFormatLocs[f].src, s));
  return t;
}

inline constexpr std::array<uint8_t, 128> kFormatWords = MakeFormatWords();

}  // namespace orvo::vm
