// Instruction decoding tables: the opcode word's low 10 bits pick an instruction kind;
// the two- and one-operand groups pick their operation from 128-entry tables.
#pragma once

#include <array>
#include <cstdint>

#include "isa/instruction_set.h"
#include "vm/memory.h"

namespace orvo::vm {

using isa::Kind;
using enum isa::Kind;
using isa::Op1;
using enum isa::Op1;
using isa::Op2;
using enum isa::Op2;
using isa::SizeCode;
using enum isa::SizeCode;
using isa::DecodeKind;
using isa::kConditionSuffix;
using isa::kFormatKind;
using isa::kOp1Info;
using isa::kOp2Info;
using isa::Op1Info;
using isa::Op2Info;

// Entries of the 128-entry group tables: op * 4 + size for a legal operation, or one of
// these two for the cases that never reach an operation.
inline constexpr uint8_t GROUP_ILLEGAL = 128;
inline constexpr uint8_t GROUP_FLOAT_SIZE = 129;  // float operation at size b or w

template <typename Info>
constexpr std::array<uint8_t, 128> MakeGroupTable(const std::array<Info, 32>& ops) {
  std::array<uint8_t, 128> t{};
  for (unsigned i = 0; i < 128; ++i) {
    const Info& op = ops[i >> 2];
    unsigned size = i & 3;
    if (!op.mnemonic)
      t[i] = GROUP_ILLEGAL;
    else if (op.isFloat && size < SIZE_D)
      t[i] = GROUP_FLOAT_SIZE;
    else
      t[i] = static_cast<uint8_t>(i);
  }
  return t;
}

constexpr std::array<Kind, 1024> MakeDecodeTable() {
  std::array<Kind, 1024> t{};
  for (unsigned i = 0; i < 1024; ++i) t[i] = DecodeKind(i);
  return t;
}

inline constexpr std::array<Kind, 1024> kDecode = MakeDecodeTable();
inline constexpr std::array<uint8_t, 128> kOp2Table = MakeGroupTable(kOp2Info);
inline constexpr std::array<uint8_t, 128> kOp1Table = MakeGroupTable(kOp1Info);

// Condition codes: each holds when any of its flags is set (whenSet) or when all of
// them are clear.
struct ConditionTest {
  uint8_t flags;
  bool whenSet;
};
inline constexpr ConditionTest kConditionTests[8] = {
    {FLAG_ZERO, true},                   // eq
    {FLAG_ZERO, false},                  // ne
    {FLAG_NEGATIVE, false},              // ge
    {FLAG_ZERO | FLAG_NEGATIVE, false},  // gt
    {FLAG_ZERO | FLAG_NEGATIVE, true},   // le
    {FLAG_NEGATIVE, true},               // lt
    {FLAG_ODD, false},                   // ev
    {FLAG_ODD, true},                    // od
};

// As masks over the eight flag values: bit f set = the condition holds when the flags
// byte is f.
constexpr uint8_t ConditionMask(unsigned cc) {
  uint8_t mask = 0;
  for (unsigned f = 0; f < 8; ++f)
    if (((f & kConditionTests[cc].flags) != 0) == kConditionTests[cc].whenSet)
      mask = static_cast<uint8_t>(mask | 1u << f);
  return mask;
}

inline constexpr std::array<uint8_t, 8> kConditionMask = {
    ConditionMask(0), ConditionMask(1), ConditionMask(2), ConditionMask(3),
    ConditionMask(4), ConditionMask(5), ConditionMask(6), ConditionMask(7)};

}  // namespace orvo::vm
