// One-operand class (rows 48-79): `name operand`.
#include "emit.h"
#include "encoders.h"
#include "mnemonics.h"
#include "operand.h"
#include "report.h"

namespace orvo::velda {

namespace {

constexpr uint32_t kFormRegister = 0xD4;
constexpr uint32_t kFormIndirect = 0x6C;
constexpr uint32_t kFormFrame = 0xAC;
constexpr uint32_t kFormAbsolute = 0xEC;
constexpr uint32_t kPushLong = 0x74;
constexpr uint32_t kPushShort = 0xF4;

bool FitsShortPush(const Operand& op) {
  return !op.hasLabel && op.value >= -2097152 && op.value <= 2097151;
}

void EncodePushImmediate(Assembler& a, const Operand& op) {
  if (a.sizeCode == 0) {
    ReportError(a, "b push is illegal");
    return;
  }
  if (FitsShortPush(op)) {
    EmitWord(a, kPushShort | a.sizeCode << 8 | (static_cast<uint32_t>(op.value) & 0x3FFFFF) << 10);
    return;
  }
  if (!EmitWord(a, kPushLong | a.sizeCode << 8)) return;
  EmitImmediate(a, op.value);
}

}  // namespace

void EncodeOneOperand(Assembler& a, int row) {
  Operand op;
  if (!ParseOperand(a, op)) return;
  if (op.mode == MODE_IMM) {
    if (row != kRowPush) {
      ReportError(a, "invalid addressing mode");
      return;
    }
    EncodePushImmediate(a, op);
    return;
  }
  uint32_t base = a.sizeCode << 8 | uint32_t{kMnemonics[static_cast<size_t>(row)].index} << 10;
  if (IsRegister(op)) {
    if (row == kRowPea) {
      ReportError(a, "invalid addressing mode");
      return;
    }
    EmitWord(a, kFormRegister | base | op.reg << 16);
  } else if (IsIndirect(op)) {
    if (EmitWord(a, kFormIndirect | base | op.reg << 16))
      EmitWord(a, static_cast<uint32_t>(op.value));
  } else if (op.mode == MODE_ABS) {
    if (EmitWord(a, kFormAbsolute | base)) EmitWord(a, static_cast<uint32_t>(op.value));
  } else if (FrameOffsetFits(a, op)) {
    EmitWord(a, kFormFrame | base | (static_cast<uint32_t>(op.value) & 0xFFFF) << 16);
  }
}

void EncodePushs(Assembler& a, int) {
  Operand op;
  if (!ParseOperand(a, op)) return;
  if (op.mode != MODE_IMM || !FitsShortPush(op)) {
    ReportError(a, "invalid addressing mode");
    return;
  }
  EmitWord(a, kPushShort | a.sizeCode << 8 | (static_cast<uint32_t>(op.value) & 0x3FFFFF) << 10);
}

}  // namespace orvo::velda
