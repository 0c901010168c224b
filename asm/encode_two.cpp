// Two-operand class (rows 0-31): `name dst, src`.
#include <cstddef>

#include "emit.h"
#include "encoders.h"
#include "lexer.h"
#include "mnemonics.h"
#include "operand.h"
#include "report.h"

namespace orvo::velda {

namespace {

enum Src { kR, kI, kA, kKShort, kKLong, kF, kSrcKinds };
enum Dst { kDR, kDI, kDA, kDF, kDstKinds };

// What goes into field A (bits 5-8) and the upper half (bits 16-31).
enum class Field : uint8_t { kNone, kDstReg, kSrcReg, kShort, kDstFrame, kSrcFrame };

struct Format2 {
  uint8_t format;
  Field a;
  Field upper;
};

// The format chosen for each destination and source form. Extension words are
// always the destination's (offset or address) followed by the source's
// (offset, address or immediate); a frame source goes into an extension word
// only where its offset has no field (format 15).
constexpr Format2 kFormat2[kDstKinds][kSrcKinds] = {
    // R $d
    {{28, Field::kDstReg, Field::kSrcReg},
     {18, Field::kDstReg, Field::kSrcReg},
     {26, Field::kDstReg, Field::kNone},
     {30, Field::kDstReg, Field::kShort},
     {22, Field::kDstReg, Field::kNone},
     {17, Field::kDstReg, Field::kSrcFrame}},
    // I [$d][o1]
    {{2, Field::kDstReg, Field::kSrcReg},
     {10, Field::kDstReg, Field::kSrcReg},
     {6, Field::kDstReg, Field::kNone},
     {1, Field::kDstReg, Field::kShort},
     {14, Field::kDstReg, Field::kNone},
     {9, Field::kDstReg, Field::kSrcFrame}},
    // A [a1]
    {{25, Field::kSrcReg, Field::kNone},
     {5, Field::kSrcReg, Field::kNone},
     {21, Field::kNone, Field::kNone},
     {29, Field::kShort, Field::kNone},
     {13, Field::kNone, Field::kNone},
     {3, Field::kNone, Field::kSrcFrame}},
    // F [FP][f1]
    {{19, Field::kSrcReg, Field::kDstFrame},
     {11, Field::kSrcReg, Field::kDstFrame},
     {27, Field::kNone, Field::kDstFrame},
     {23, Field::kShort, Field::kDstFrame},
     {7, Field::kNone, Field::kDstFrame},
     {15, Field::kNone, Field::kDstFrame}},
};

Dst DstKind(const Operand& op) {
  if (IsRegister(op)) return kDR;
  if (IsIndirect(op)) return kDI;
  return op.mode == MODE_ABS ? kDA : kDF;
}

// Short immediates are -4..3 without a label term. At size q the machine
// fills the high word of a short immediate with 0, so a negative one would
// read as 2^32 + value: those take the long form.
bool IsShortImmediate(const Operand& op, unsigned size) {
  if (op.hasLabel || op.value < -4 || op.value > 3) return false;
  return !(size == 3 && op.value < 0);
}

Src SrcKind(const Operand& op, unsigned size) {
  if (IsRegister(op)) return kR;
  if (IsIndirect(op)) return kI;
  if (op.mode == MODE_ABS) return kA;
  if (op.mode == MODE_IMM) return IsShortImmediate(op, size) ? kKShort : kKLong;
  return kF;
}

uint32_t FieldValue(Field f, const Operand& dst, const Operand& src) {
  switch (f) {
    case Field::kNone:
      return 0;
    case Field::kDstReg:
      return dst.reg;
    case Field::kSrcReg:
      return src.reg;
    case Field::kShort:
      return static_cast<uint32_t>(src.value) & 0xF;
    case Field::kDstFrame:
      return static_cast<uint32_t>(dst.value) & 0xFFFF;
    case Field::kSrcFrame:
      return static_cast<uint32_t>(src.value) & 0xFFFF;
  }
  return 0;
}

bool NeedsMemorySource(int row) {
  return row == kRowLea || row == kRowMemmov || row == kRowPumem || row == kRowPomem;
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
  if (NeedsMemorySource(row) && (IsRegister(src) || src.mode == MODE_IMM)) {
    ReportError(a, "invalid argument addressing mode");
    return;
  }
  unsigned size = a.sizeCode;
  Dst d = DstKind(dst);
  Src s = SrcKind(src, size);
  const Format2& f = kFormat2[d][s];
  const Operand* frame = f.upper == Field::kDstFrame   ? &dst
                         : f.upper == Field::kSrcFrame ? &src
                                                       : nullptr;
  if (frame && !FrameOffsetFits(a, *frame)) return;  // the reserved word stays 0
  uint32_t word = f.format | FieldValue(f.a, dst, src) << 5 | size << 9 |
                  uint32_t{kMnemonics[static_cast<size_t>(row)].index} << 11 |
                  FieldValue(f.upper, dst, src) << 16;
  a.image.Put(at, word, 4);

  if (d == kDI || d == kDA) EmitWord(a, static_cast<uint32_t>(dst.value));
  if (s == kI || s == kA) EmitWord(a, static_cast<uint32_t>(src.value));
  if (s == kKLong) EmitImmediate(a, src.value);
  if (s == kF && f.upper != Field::kSrcFrame) EmitWord(a, static_cast<uint32_t>(src.value));
}

}  // namespace orvo::velda
