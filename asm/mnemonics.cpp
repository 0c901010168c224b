#include "mnemonics.h"

#include <vector>

#include "id_table.h"
#include "isa/instruction_set.h"

namespace orvo::velda {

namespace {

struct MnemonicRows {
  std::array<Mnemonic, kMnemonicRows> rows{};
  size_t next = 0;

  // A row named prefix + name; a missing name leaves the row empty.
  constexpr void Add(const char* prefix, const char* name, InsnClass cls, unsigned index) {
    Mnemonic& m = rows[next++];
    m.index = static_cast<uint8_t>(index);
    m.cls = name ? cls : InsnClass::kNone;
    size_t n = 0;
    for (const char* p = name ? prefix : ""; *p; ++p) m.name[n++] = *p;
    for (const char* p = name ? name : ""; *p; ++p) m.name[n++] = *p;
  }
};

// Rows 0-31 two-operand (index = operation), 32-39 test and jump and 40-47 long jump
// (index = condition), 48-79 one-operand (the "tst" there is shadowed by row 10), 80-87
// without operands, then efr, sfvr, jsrfr, jmp, pushs.
constexpr std::array<Mnemonic, kMnemonicRows> MakeMnemonics() {
  using namespace isa;
  MnemonicRows t;
  for (unsigned op = 0; op < 32; ++op) t.Add("", kOp2Info[op].mnemonic, InsnClass::kTwoOperand, op);
  for (unsigned cc = 0; cc < 8; ++cc)
    t.Add(PatternOf(K_TLJ_REG).mnemonic, kConditionSuffix[cc], InsnClass::kTestJump, cc);
  for (unsigned cc = 0; cc < 8; ++cc)
    t.Add(PatternOf(K_LJ).mnemonic, kConditionSuffix[cc], InsnClass::kLongJump, cc);
  for (unsigned op = 0; op < 32; ++op) t.Add("", kOp1Info[op].mnemonic, InsnClass::kOneOperand, op);
  for (unsigned i = 0; i < 8; ++i) t.Add("", kNoOperand[i].mnemonic, InsnClass::kNoOperand, i);
  t.Add("", PatternOf(K_EFR).mnemonic, InsnClass::kEfr, 0);
  t.Add("", PatternOf(K_SFVR).mnemonic, InsnClass::kSfvr, 0);
  t.Add("", PatternOf(K_JSR_ABS).mnemonic, InsnClass::kJsrfr, 0);
  t.Add("", PatternOf(K_JMP).mnemonic, InsnClass::kJmp, 0);
  t.Add("", PatternOf(K_PUSH_SHORT).mnemonic, InsnClass::kPushs, 0);
  return t.rows;
}

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

constexpr std::array<Mnemonic, kMnemonicRows> kMnemonics = MakeMnemonics();

int FindMnemonic(std::string_view word) {
  static const FirstLetterIndex index;
  if (word.empty() || static_cast<unsigned char>(word[0]) >= 128) return -1;
  for (uint8_t r : index.rows[static_cast<uint8_t>(FoldCase(word[0]))])
    if (EqualNoCase(kMnemonics[r].name, word)) return r;
  return -1;
}

}  // namespace orvo::velda
