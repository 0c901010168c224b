#include "mnemonics.h"

#include <vector>

#include "id_table.h"

namespace orvo::velda {

namespace {
constexpr InsnClass k2 = InsnClass::kTwoOperand;
constexpr InsnClass kT = InsnClass::kTestJump;
constexpr InsnClass kL = InsnClass::kLongJump;
constexpr InsnClass k1 = InsnClass::kOneOperand;
constexpr InsnClass k0 = InsnClass::kNoOperand;
constexpr InsnClass kX = InsnClass::kNone;
}  // namespace

const std::array<Mnemonic, kMnemonicRows> kMnemonics = {{
    // 0-31: two-operand, index = row
    {"divi", k2, 0},
    {"modi", k2, 1},
    {"rshi", k2, 2},
    {"divu", k2, 3},
    {"modu", k2, 4},
    {"rshu", k2, 5},
    {"add", k2, 6},
    {"sub", k2, 7},
    {"cmp", k2, 8},
    {"mul", k2, 9},
    {"tst", k2, 10},
    {"lsh", k2, 11},
    {"and", k2, 12},
    {"or", k2, 13},
    {"xor", k2, 14},
    {"mov", k2, 15},
    {"movz", k2, 16},
    {"addf", k2, 17},
    {"subf", k2, 18},
    {"mulf", k2, 19},
    {"divf", k2, 20},
    {"cmpf", k2, 21},
    {"lea", k2, 22},
    {"memmov", k2, 23},
    {"", kX, 24},
    {"", kX, 25},
    {"", kX, 26},
    {"", kX, 27},
    {"", kX, 28},
    {"", kX, 29},
    {"pumem", k2, 30},
    {"pomem", k2, 31},
    // 32-39: test and jump, index = condition
    {"tljeq", kT, 0},
    {"tljne", kT, 1},
    {"tljge", kT, 2},
    {"tljgt", kT, 3},
    {"tljle", kT, 4},
    {"tljlt", kT, 5},
    {"tljev", kT, 6},
    {"tljod", kT, 7},
    // 40-47: long jump, index = condition
    {"ljeq", kL, 0},
    {"ljne", kL, 1},
    {"ljge", kL, 2},
    {"ljgt", kL, 3},
    {"ljle", kL, 4},
    {"ljlt", kL, 5},
    {"ljev", kL, 6},
    {"ljod", kL, 7},
    // 48-79: one-operand, index = row - 48 (the "tst" here is shadowed by row 10)
    {"negf", k1, 0},
    {"neg", k1, 1},
    {"not", k1, 2},
    {"tst", k1, 3},
    {"push", k1, 4},
    {"pop", k1, 5},
    {"pea", k1, 6},
    {"", kX, 7},
    {"cvuu", k1, 8},
    {"cvss", k1, 9},
    {"cvuf", k1, 10},
    {"cvsf", k1, 11},
    {"cvud", k1, 12},
    {"cvsd", k1, 13},
    {"cvfs", k1, 14},
    {"cvds", k1, 15},
    {"cvfd", k1, 16},
    {"cvdf", k1, 17},
    {"", kX, 18},
    {"", kX, 19},
    {"", kX, 20},
    {"", kX, 21},
    {"", kX, 22},
    {"", kX, 23},
    {"", kX, 24},
    {"", kX, 25},
    {"", kX, 26},
    {"", kX, 27},
    {"", kX, 28},
    {"", kX, 29},
    {"", kX, 30},
    {"", kX, 31},
    // 80-87: no operand
    {"dbg", k0, 0},
    {"", kX, 1},
    {"sys", k0, 2},
    {"brk", k0, 3},
    {"term", k0, 4},
    {"nop", k0, 5},
    {"smod", k0, 6},
    {"emod", k0, 7},
    // 88-92: one row each
    {"efr", InsnClass::kEfr, 0},
    {"sfvr", InsnClass::kSfvr, 0},
    {"jsrfr", InsnClass::kJsrfr, 0},
    {"jmp", InsnClass::kJmp, 0},
    {"pushs", InsnClass::kPushs, 0},
}};

namespace {

// Rows bucketed by folded first letter, each bucket in row order, so the
// first match of a bucket is the first match of the table.
struct FirstLetterIndex {
  std::array<std::vector<uint8_t>, 128> rows;
  FirstLetterIndex() {
    for (int r = 0; r < kMnemonicRows; ++r) {
      const char* name = kMnemonics[static_cast<size_t>(r)].name;
      if (name[0] != '\0')
        rows[static_cast<uint8_t>(FoldCase(name[0])) & 127].push_back(static_cast<uint8_t>(r));
    }
  }
};

}  // namespace

int FindMnemonic(std::string_view word) {
  static const FirstLetterIndex index;
  if (word.empty() || static_cast<unsigned char>(word[0]) >= 128) return -1;
  for (uint8_t r : index.rows[static_cast<uint8_t>(FoldCase(word[0]))])
    if (EqualNoCase(kMnemonics[r].name, word)) return r;
  return -1;
}

}  // namespace orvo::velda
