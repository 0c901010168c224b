// Two-operand class (rows 0-31): `name dst, src`.
#include <array>
#include <cstddef>

#include "emit.h"
#include "encoders.h"
#include "isa/instruction_set.h"
#include "lexer.h"
#include "mnemonics.h"
#include "operand.h"
#include "report.h"

namespace orvo::velda {

namespace {

using namespace isa;

// The format of each destination and source form, from where the formats put their
// operands. Extension words are the destination's, then the source's.
constexpr std::array<std::array<uint8_t, FORM_COUNT>, FORM_COUNT> MakeFormatChoice() {
  std::array<std::array<uint8_t, FORM_COUNT>, FORM_COUNT> t{};
  for (unsigned f = 0; f < 32; ++f)
    if (kFormatLocs[f].dst != LOC_NONE)
      t[FormOf(kFormatLocs[f].dst)][FormOf(kFormatLocs[f].src)] = static_cast<uint8_t>(f);
  return t;
}
constexpr auto kFormatChoice = MakeFormatChoice();

// Short immediates are -4..3 without a label term. At size q the machine
// fills the high word of a short immediate with 0, so a negative one would
// read as 2^32 + value: those take the long form.
bool IsShortImmediate(const Operand& op, unsigned size) {
  if (op.hasLabel || op.value < -4 || op.value > 3) return false;
  return !(size == SIZE_Q && op.value < 0);
}

Form FormOfOperand(const Operand& op, unsigned size) {
  if (IsRegister(op)) return FORM_R;
  if (IsIndirect(op)) return FORM_I;
  if (op.mode == MODE_ABS) return FORM_A;
  if (op.mode == MODE_IMM) return IsShortImmediate(op, size) ? FORM_K_SHORT : FORM_K_LONG;
  return FORM_F;
}

// The bits of the opcode word that an operand at `loc` fills.
uint32_t WordFields(Loc loc, const Operand& op) {
  const uint32_t value = static_cast<uint32_t>(op.value);
  switch (loc) {
    case LOC_REG_A:
    case LOC_IND_A:
      return op.reg << kFieldA;
    case LOC_REG_B:
    case LOC_IND_B:
      return op.reg << kFieldB;
    case LOC_SIMM_A:
      return (value & 0xF) << kFieldA;
    case LOC_SIMM_B:
      return (value & 0xF) << kFieldB;
    case LOC_FRAME_F:
      return (value & 0xFFFF) << kFieldB;
    default:
      return 0;
  }
}

void EmitExtension(Assembler& a, Loc loc, const Operand& op) {
  if (loc == LOC_LIMM)
    EmitImmediate(a, op.value);
  else if (ExtensionWords(loc, a.sizeCode) == 1)
    EmitWord(a, static_cast<uint32_t>(op.value));
}

}  // namespace

void EncodeTwoOperand(Assembler& a, int row) {
  Operand dst, src;
  if (!ParseOperand(a, dst)) return;
  // pumem and pomem would take an immediate count here, but no word can
  // carry one; like every other row they refuse it.
  if (dst.mode == MODE_IMM) {
    ReportError(a, "illegal destination addressing mode");
    return;
  }
  uint32_t at = a.image.size();
  if (!EmitWord(a, 0)) return;
  if (!ExpectComma(a) || !ParseOperand(a, src)) return;
  const unsigned op = kMnemonics[static_cast<size_t>(row)].index;
  if (kOp2Info[op].memorySource && (IsRegister(src) || src.mode == MODE_IMM)) {
    ReportError(a, "invalid argument addressing mode");
    return;
  }
  const unsigned size = a.sizeCode;
  const unsigned format = kFormatChoice[FormOfOperand(dst, size)][FormOfOperand(src, size)];
  const FormatLocs& locs = kFormatLocs[format];
  const Operand* frame = locs.dst == LOC_FRAME_F ? &dst : locs.src == LOC_FRAME_F ? &src : nullptr;
  if (frame && !FrameOffsetFits(a, *frame)) return;  // the reserved word stays 0
  a.image.Put(at,
              format | WordFields(locs.dst, dst) | WordFields(locs.src, src) | size << kFieldS2 |
                  op << kFieldOp2,
              4);
  EmitExtension(a, locs.dst, dst);
  EmitExtension(a, locs.src, src);
}

}  // namespace orvo::velda
