// Where the two operands of each two-operand format live, written once as data, and the
// instruction lengths that follow from it.
#pragma once

#include <array>
#include <cstdint>

namespace orvo::vm {

enum Loc : uint8_t {
  LOC_NONE,
  LOC_REG_A,    // register A (bits 5-8)
  LOC_REG_B,    // register B (bits 16-19)
  LOC_IND_A,    // [A + e]
  LOC_IND_B,    // [B + e]
  LOC_ABS,      // [e]
  LOC_FRAME_F,  // [VFP + F], F the signed 16-bit field
  LOC_FRAME_E,  // [VFP + e], e a 32-bit offset
  LOC_SIMM_A,   // short immediate in A
  LOC_SIMM_B,   // short immediate in B
  LOC_LIMM,     // long immediate: one word, two at size q
};

struct FormatLocs {
  Loc dst, src;
};

// Indexed by the low 5 bits of the opcode word.
inline constexpr std::array<FormatLocs, 32> kFormatLocs = {{
    {LOC_NONE, LOC_NONE},    {LOC_IND_A, LOC_SIMM_B},     // 0, 1
    {LOC_IND_A, LOC_REG_B},  {LOC_ABS, LOC_FRAME_F},      // 2, 3
    {LOC_NONE, LOC_NONE},    {LOC_ABS, LOC_IND_A},        // 4, 5
    {LOC_IND_A, LOC_ABS},    {LOC_FRAME_F, LOC_LIMM},     // 6, 7
    {LOC_NONE, LOC_NONE},    {LOC_IND_A, LOC_FRAME_F},    // 8, 9
    {LOC_IND_A, LOC_IND_B},  {LOC_FRAME_F, LOC_IND_A},    // 10, 11
    {LOC_NONE, LOC_NONE},    {LOC_ABS, LOC_LIMM},         // 12, 13
    {LOC_IND_A, LOC_LIMM},   {LOC_FRAME_F, LOC_FRAME_E},  // 14, 15
    {LOC_NONE, LOC_NONE},    {LOC_REG_A, LOC_FRAME_F},    // 16, 17
    {LOC_REG_A, LOC_IND_B},  {LOC_FRAME_F, LOC_REG_A},    // 18, 19
    {LOC_NONE, LOC_NONE},    {LOC_ABS, LOC_ABS},          // 20, 21
    {LOC_REG_A, LOC_LIMM},   {LOC_FRAME_F, LOC_SIMM_A},   // 22, 23
    {LOC_NONE, LOC_NONE},    {LOC_ABS, LOC_REG_A},        // 24, 25
    {LOC_REG_A, LOC_ABS},    {LOC_FRAME_F, LOC_ABS},      // 26, 27
    {LOC_REG_A, LOC_REG_B},  {LOC_ABS, LOC_SIMM_A},       // 28, 29
    {LOC_REG_A, LOC_SIMM_B}, {LOC_NONE, LOC_NONE},        // 30, 31
}};

constexpr unsigned ExtensionWords(Loc loc, unsigned size) {
  switch (loc) {
    case LOC_IND_A:
    case LOC_IND_B:
    case LOC_ABS:
    case LOC_FRAME_E:
      return 1;
    case LOC_LIMM:
      return size == 3 ? 2 : 1;
    default:
      return 0;
  }
}

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
