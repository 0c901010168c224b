// The instruction set, written once as data: where the operands of each two-operand
// format live, the operations of the two- and one-operand groups, the condition names,
// and the opcode patterns of every other family. The machine's decode tables, velda's
// mnemonic and format-choice tables and the disassembler are all built from here.
#pragma once

#include <array>
#include <cstdint>

namespace orvo::isa {

enum SizeCode : uint8_t { SIZE_B, SIZE_W, SIZE_D, SIZE_Q };
inline constexpr char kSizeNames[] = "bwdq";

// Where the fields of an opcode word start.
inline constexpr unsigned kFieldA = 5;   // register or short immediate, 4 bits
inline constexpr unsigned kFieldB = 16;  // register or short immediate, 4 bits; F, 16 bits
inline constexpr unsigned kFieldS2 = 9;  // size of the two-operand group
inline constexpr unsigned kFieldOp2 = 11;
inline constexpr unsigned kFieldS1 = 8;  // size of the one-operand group and of push
inline constexpr unsigned kFieldOp1 = 10;
inline constexpr unsigned kFieldSJ = 5;  // size of test and jump
inline constexpr unsigned kFieldCC = 7;
inline constexpr unsigned kFieldT = 10;         // jump target / 4, 22 bits
inline constexpr unsigned kFieldIndex = 7;      // operations without operands
inline constexpr unsigned kFieldJmpReg = 6;     // jmp through memory
inline constexpr unsigned kFieldJsrReg = 12;    // jsrfr through a register
inline constexpr unsigned kFieldArgBytes = 16;  // jsrfr
inline constexpr unsigned kFieldCount = 10;     // sfvr, efr: saved registers, 4 bits
inline constexpr unsigned kFieldLocals = 14;    // sfvr: bytes of local variables

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

// The two-operand formats, indexed by the low 5 bits of the opcode word; LOC_NONE marks
// a value that names no format.
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
      return size == SIZE_Q ? 2 : 1;
    default:
      return 0;
  }
}

// How an operand is written: $r, [$r][o], [a], [FP][f], =v in a field or in words.
enum Form : uint8_t { FORM_R, FORM_I, FORM_A, FORM_F, FORM_K_SHORT, FORM_K_LONG, FORM_COUNT };

constexpr Form FormOf(Loc loc) {
  switch (loc) {
    case LOC_REG_A:
    case LOC_REG_B:
      return FORM_R;
    case LOC_IND_A:
    case LOC_IND_B:
      return FORM_I;
    case LOC_ABS:
      return FORM_A;
    case LOC_SIMM_A:
    case LOC_SIMM_B:
      return FORM_K_SHORT;
    case LOC_LIMM:
      return FORM_K_LONG;
    default:
      return FORM_F;
  }
}

// What the low 10 bits of an opcode word select.
enum Kind : uint8_t {
  K_ILLEGAL,
  K_NOP,
  // Two-operand formats, named by their low 5 bits, in the order of kFormatLocs.
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

struct Op2Info {
  const char* mnemonic;
  bool isFloat;       // size b and w are refused
  bool memorySource;  // the source is an address: no register, no immediate
};
struct Op1Info {
  const char* mnemonic;
  bool isFloat;  // size b and w are refused
};

// The operation lists; nullptr marks an illegal operation.
inline constexpr std::array<Op2Info, 32> kOp2Info = {{
    {"divi", false, false},  {"modi", false, false},  {"rshi", false, false},
    {"divu", false, false},  {"modu", false, false},  {"rshu", false, false},
    {"add", false, false},   {"sub", false, false},   {"cmp", false, false},
    {"mul", false, false},   {"tst", false, false},   {"lsh", false, false},
    {"and", false, false},   {"or", false, false},    {"xor", false, false},
    {"mov", false, false},   {"movz", false, false},  {"addf", true, false},
    {"subf", true, false},   {"mulf", true, false},   {"divf", true, false},
    {"cmpf", true, false},   {"lea", false, true},    {"memmov", false, true},
    {nullptr, false, false}, {nullptr, false, false}, {nullptr, false, false},
    {nullptr, false, false}, {nullptr, false, false}, {nullptr, false, false},
    {"pumem", false, true},  {"pomem", false, true},
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

// Condition codes (CC) of the test-and-jump and long-jump families.
inline constexpr const char* kConditionSuffix[8] = {"eq", "ne", "ge", "gt", "le", "lt", "ev", "od"};

// Family 20 without operands: opcode kNoOperandOpcode + 128 * index.
inline constexpr unsigned kNoOperandOpcode = 20;
struct NoOperand {
  const char* mnemonic;  // nullptr: illegal
  Kind kind;
};
inline constexpr std::array<NoOperand, 8> kNoOperand = {{
    {"dbg", K_DBG},
    {nullptr, K_ILLEGAL},
    {"sys", K_SYS},
    {"brk", K_NOP},
    {"term", K_TERM},
    {"nop", K_NOP},
    {"smod", K_SMOD},
    {"emod", K_EMOD},
}};

// The other families as opcode patterns: the first row whose bits under `mask` equal
// `value` names the kind. Low 5 bits that no row claims are the two-operand formats.
struct Pattern {
  uint16_t value, mask;
  Kind kind;
  const char* mnemonic;  // tlj and lj take the condition's suffix
};
inline constexpr Pattern kPatterns[] = {
    {0x000, 0x01F, K_TLJ_REG, "tlj"},
    {0x008, 0x01F, K_TLJ_ABS, "tlj"},
    {0x010, 0x01F, K_TLJ_IND, "tlj"},
    {0x018, 0x01F, K_TLJ_FRAME, "tlj"},
    {0x004, 0x01F, K_ILLEGAL, nullptr},
    {0x01F, 0x01F, K_NOP, nullptr},
    // Family 12; what it leaves (300, 556, 812) has no effect.
    {0x00C, 0x03F, K_JMP_MEM, "jmp"},
    {0x02C, 0x3FF, K_JMP, "jmp"},
    {0x06C, 0x0FF, K_ONE_IND, nullptr},
    {0x0AC, 0x0FF, K_ONE_FRAME, nullptr},
    {0x0EC, 0x0FF, K_ONE_ABS, nullptr},
    {0x00C, 0x01F, K_NOP, nullptr},
    // Family 20 beside the operations without operands.
    {0x034, 0x07F, K_LJ, "lj"},
    {0x0D4, 0x0FF, K_ONE_REG, nullptr},
    {0x054, 0x3FF, K_JSR_ABS, "jsrfr"},
    {0x154, 0x3FF, K_SFVR, "sfvr"},
    {0x254, 0x3FF, K_EFR, "efr"},
    {0x354, 0x3FF, K_JSR_REG, "jsrfr"},
    {0x074, 0x0FF, K_PUSH_LONG, "push"},
    {0x0F4, 0x0FF, K_PUSH_SHORT, "pushs"},
};

// The pattern of a kind (its first row); every kind but the formats has one.
constexpr const Pattern& PatternOf(Kind kind) {
  for (const Pattern& p : kPatterns)
    if (p.kind == kind) return p;
  return kPatterns[4];  // illegal
}
constexpr uint32_t OpcodeOf(Kind kind) {
  return PatternOf(kind).value;
}

// Which kind each low-5-bit value names as a two-operand format (K_ILLEGAL where none):
// the formats take K_F1.. in their order.
constexpr std::array<Kind, 32> MakeFormatKinds() {
  std::array<Kind, 32> t{};
  unsigned next = K_F1;
  for (unsigned f = 0; f < 32; ++f)
    t[f] = kFormatLocs[f].dst == LOC_NONE ? K_ILLEGAL : static_cast<Kind>(next++);
  return t;
}
inline constexpr std::array<Kind, 32> kFormatKind = MakeFormatKinds();
static_assert(kFormatKind[30] == K_F30 && K_F30 + 1 == K_TLJ_REG);

constexpr Kind DecodeKind(unsigned opcode) {
  if ((opcode & 0x7F) == kNoOperandOpcode) return kNoOperand[opcode >> 7 & 7].kind;
  for (const Pattern& p : kPatterns)
    if ((opcode & p.mask) == p.value) return p.kind;
  return kFormatKind[opcode & 31];
}

}  // namespace orvo::isa
