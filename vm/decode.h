// Instruction decoding tables: the opcode word's low 10 bits pick an instruction kind;
// the two- and one-operand groups pick their operation from 128-entry tables.
#pragma once

#include <array>
#include <cstdint>

namespace orvo::vm {

enum Kind : uint8_t {
  K_ILLEGAL,
  K_NOP,
  // Two-operand formats, named by their low 5 bits.
  K_F1,
  K_F2,
  K_F3,
  K_F5,
  K_F6,
  K_F7,
  K_F9,
  K_F10,
  K_F11,
  K_F13,
  K_F14,
  K_F15,
  K_F17,
  K_F18,
  K_F19,
  K_F21,
  K_F22,
  K_F23,
  K_F25,
  K_F26,
  K_F27,
  K_F28,
  K_F29,
  K_F30,
  // Test and jump on a register, [e1], [register], [VFP + e1].
  K_TLJ_REG,
  K_TLJ_ABS,
  K_TLJ_IND,
  K_TLJ_FRAME,
  K_DBG,
  K_SYS,
  K_TERM,
  K_SMOD,
  K_EMOD,
  K_LJ,
  // One-operand group, by operand form.
  K_ONE_REG,
  K_ONE_IND,
  K_ONE_FRAME,
  K_ONE_ABS,
  K_JSR_ABS,
  K_JSR_REG,
  K_SFVR,
  K_EFR,
  K_PUSH_LONG,
  K_PUSH_SHORT,
  K_JMP_MEM,
  K_JMP,
  K_COUNT
};

// Two-operand operations (bits 11-15).
enum Op2 : uint8_t {
  OP2_DIVI,
  OP2_MODI,
  OP2_RSHI,
  OP2_DIVU,
  OP2_MODU,
  OP2_RSHU,
  OP2_ADD,
  OP2_SUB,
  OP2_CMP,
  OP2_MUL,
  OP2_TST,
  OP2_LSH,
  OP2_AND,
  OP2_OR,
  OP2_XOR,
  OP2_MOV,
  OP2_MOVZ,
  OP2_ADDF,
  OP2_SUBF,
  OP2_MULF,
  OP2_DIVF,
  OP2_CMPF,
  OP2_LEA,
  OP2_MEMMOV,
  OP2_PUMEM = 30,
  OP2_POMEM = 31,
};

// One-operand operations (bits 10-14).
enum Op1 : uint8_t {
  OP1_NEGF,
  OP1_NEG,
  OP1_NOT,
  OP1_TST,
  OP1_PUSH,
  OP1_POP,
  OP1_PEA,
  OP1_CVUU = 8,
  OP1_CVSS,
  OP1_CVUF,
  OP1_CVSF,
  OP1_CVUD,
  OP1_CVSD,
  OP1_CVFS,
  OP1_CVDS,
  OP1_CVFD,
  OP1_CVDF,
};

enum SizeCode : uint8_t { SIZE_B, SIZE_W, SIZE_D, SIZE_Q };

// Entries of the 128-entry group tables: op * 4 + size for a legal operation, or one of
// these two for the cases that never reach an operation.
inline constexpr uint8_t GROUP_ILLEGAL = 128;
inline constexpr uint8_t GROUP_FLOAT_SIZE = 129;  // float operation at size b or w

struct Op2Info {
  const char* mnemonic;
  bool isFloat;
};
struct Op1Info {
  const char* mnemonic;
  bool isFloat;  // size b and w are refused
};

// The operation lists, written once; nullptr marks an illegal operation.
inline constexpr std::array<Op2Info, 32> kOp2Info = {{
    {"divi", false},  {"modi", false},  {"rshi", false},  {"divu", false},   {"modu", false},
    {"rshu", false},  {"add", false},   {"sub", false},   {"cmp", false},    {"mul", false},
    {"tst", false},   {"lsh", false},   {"and", false},   {"or", false},     {"xor", false},
    {"mov", false},   {"movz", false},  {"addf", true},   {"subf", true},    {"mulf", true},
    {"divf", true},   {"cmpf", true},   {"lea", false},   {"memmov", false}, {nullptr, false},
    {nullptr, false}, {nullptr, false}, {nullptr, false}, {nullptr, false},  {nullptr, false},
    {"pumem", false}, {"pomem", false},
}};

inline constexpr std::array<Op1Info, 32> kOp1Info = {{
    {"negf", true},   {"neg", false},   {"not", false},   {"tst", false},   {"push", false},
    {"pop", false},   {"pea", false},   {nullptr, false}, {"cvuu", false},  {"cvss", false},
    {"cvuf", false},  {"cvsf", false},  {"cvud", false},  {"cvsd", false},  {"cvfs", false},
    {"cvds", false},  {"cvfd", false},  {"cvdf", false},  {nullptr, false}, {nullptr, false},
    {nullptr, false}, {nullptr, false}, {nullptr, false}, {nullptr, false}, {nullptr, false},
    {nullptr, false}, {nullptr, false}, {nullptr, false}, {nullptr, false}, {nullptr, false},
    {nullptr, false}, {nullptr, false},
}};

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

// Which two-operand format each low-5-bit value names (K_ILLEGAL where it names none).
inline constexpr std::array<Kind, 32> kFormatKind = {
    K_ILLEGAL, K_F1,  K_F2,  K_F3,  K_ILLEGAL, K_F5,  K_F6,  K_F7,
    K_ILLEGAL, K_F9,  K_F10, K_F11, K_ILLEGAL, K_F13, K_F14, K_F15,
    K_ILLEGAL, K_F17, K_F18, K_F19, K_ILLEGAL, K_F21, K_F22, K_F23,
    K_ILLEGAL, K_F25, K_F26, K_F27, K_F28,     K_F29, K_F30, K_ILLEGAL,
};

constexpr Kind DecodeKind(unsigned op) {
  unsigned low5 = op & 31;
  auto bit = [op](unsigned n) { return (op >> n) & 1; };
  switch (low5) {
    case 0:
      return K_TLJ_REG;
    case 8:
      return K_TLJ_ABS;
    case 16:
      return K_TLJ_IND;
    case 24:
      return K_TLJ_FRAME;
    case 4:
      return K_ILLEGAL;
    case 31:
      return K_NOP;
    case 12:
      if (!bit(5)) return K_JMP_MEM;
      if (bit(6) && bit(7)) return K_ONE_ABS;
      if (bit(6)) return K_ONE_IND;
      if (bit(7)) return K_ONE_FRAME;
      return (op >> 8) == 0 ? K_JMP : K_NOP;
    case 20: {
      if (!bit(5) && !bit(6)) {
        constexpr Kind noOperand[8] = {K_DBG,  K_ILLEGAL, K_SYS,  K_NOP,
                                       K_TERM, K_NOP,     K_SMOD, K_EMOD};
        return noOperand[(op >> 7) & 7];
      }
      if (bit(5) && !bit(6)) return K_LJ;
      if (!bit(5)) {
        if (bit(7)) return K_ONE_REG;
        constexpr Kind frame[4] = {K_JSR_ABS, K_SFVR, K_EFR, K_JSR_REG};
        return frame[(op >> 8) & 3];
      }
      return bit(7) ? K_PUSH_SHORT : K_PUSH_LONG;
    }
    default:
      return kFormatKind[low5];
  }
}

constexpr std::array<Kind, 1024> MakeDecodeTable() {
  std::array<Kind, 1024> t{};
  for (unsigned i = 0; i < 1024; ++i) t[i] = DecodeKind(i);
  return t;
}

inline constexpr std::array<Kind, 1024> kDecode = MakeDecodeTable();
inline constexpr std::array<uint8_t, 128> kOp2Table = MakeGroupTable(kOp2Info);
inline constexpr std::array<uint8_t, 128> kOp1Table = MakeGroupTable(kOp1Info);

// Condition codes as masks over the eight flag values: bit f set = the condition holds
// when the flags byte is f.
constexpr uint8_t ConditionMask(unsigned cc) {
  uint8_t mask = 0;
  for (unsigned f = 0; f < 8; ++f) {
    bool odd = f & 1, zero = f & 2, neg = f & 4;
    bool holds = false;
    switch (cc) {
      case 0:
        holds = zero;
        break;
      case 1:
        holds = !zero;
        break;
      case 2:
        holds = !neg;
        break;
      case 3:
        holds = !zero && !neg;
        break;
      case 4:
        holds = zero || neg;
        break;
      case 5:
        holds = neg;
        break;
      case 6:
        holds = !odd;
        break;
      case 7:
        holds = odd;
        break;
    }
    if (holds) mask |= static_cast<uint8_t>(1u << f);
  }
  return mask;
}

inline constexpr std::array<uint8_t, 8> kConditionMask = {
    ConditionMask(0), ConditionMask(1), ConditionMask(2), ConditionMask(3),
    ConditionMask(4), ConditionMask(5), ConditionMask(6), ConditionMask(7)};

inline constexpr const char* kConditionSuffix[8] = {"eq", "ne", "ge", "gt", "le", "lt", "ev", "od"};

}  // namespace orvo::vm
