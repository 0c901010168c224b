// The mnemonic table: 93 rows searched in order, case-insensitively; the first
// match wins and empty rows never match.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace orvo::velda {

enum class InsnClass : uint8_t {
  kNone,  // empty row
  kTwoOperand,
  kTestJump,
  kLongJump,
  kOneOperand,
  kNoOperand,
  kEfr,
  kSfvr,
  kJsrfr,
  kJmp,
  kPushs,
};

struct Mnemonic {
  char name[8];
  InsnClass cls;
  uint8_t index;  // operation number placed into the word
};

inline constexpr int kMnemonicRows = 93;
extern const std::array<Mnemonic, kMnemonicRows> kMnemonics;

// Row number of the first row named `word`, or -1.
int FindMnemonic(std::string_view word);

}  // namespace orvo::velda
