// One-operand class (rows 48-79): `name operand`.
#include "emit.h"
#include "encoders.h"
#include "isa/instruction_set.h"
#include "mnemonics.h"
#include "operand.h"
#include "report.h"

namespace orvo::velda {

namespace {

using namespace isa;

constexpr uint32_t kPushLong = OpcodeOf(K_PUSH_LONG);
constexpr uint32_t kPushShort = OpcodeOf(K_PUSH_SHORT);

bool FitsShortPush(const Operand& op) {
  return !op.hasLabel && op.value >= -2097152 && op.value <= 2097151;
}

uint32_t ShortPush(const Assembler& a, const Operand& op) {
  return kPushShort | a.sizeCode << kFieldS1 |
         (static_cast<uint32_t>(op.value) & 0x3FFFFF) << kFieldT;
}

void EncodePushImmediate(Assembler& a, const Operand& op) {
  if (a.sizeCode == 0) {
    ReportError(a, "b push is illegal");
    return;
  }
  if (FitsShortPush(op)) {
    EmitWord(a, ShortPush(a, op));
    return;
  }
  if (!EmitWord(a, kPushLong | a.sizeCode << kFieldS1)) return;
  EmitImmediate(a, op.value);
}

}  // namespace

void EncodeOneOperand(Assembler& a, int row) {
  Operand op;
  if (!ParseOperand(a, op)) return;
  const unsigned index = kMnemonics[static_cast<size_t>(row)].index;
  if (op.mode == MODE_IMM) {
    if (index != OP1_PUSH) {
      ReportError(a, "invalid addressing mode");
      return;
    }
    EncodePushImmediate(a, op);
    return;
  }
  uint32_t base = a.sizeCode << kFieldS1 | index << kFieldOp1;
  if (IsRegister(op)) {
    if (index == OP1_PEA) {
      ReportError(a, "invalid addressing mode");
      return;
    }
    EmitWord(a, OpcodeOf(K_ONE_REG) | base | op.reg << kFieldB);
  } else if (IsIndirect(op)) {
    if (EmitWord(a, OpcodeOf(K_ONE_IND) | base | op.reg << kFieldB))
      EmitWord(a, static_cast<uint32_t>(op.value));
  } else if (op.mode == MODE_ABS) {
    if (EmitWord(a, OpcodeOf(K_ONE_ABS) | base)) EmitWord(a, static_cast<uint32_t>(op.value));
  } else if (FrameOffsetFits(a, op)) {
    EmitWord(a,
             OpcodeOf(K_ONE_FRAME) | base | (static_cast<uint32_t>(op.value) & 0xFFFF) << kFieldB);
  }
}

void EncodePushs(Assembler& a, int) {
  Operand op;
  if (!ParseOperand(a, op)) return;
  if (op.mode != MODE_IMM || !FitsShortPush(op)) {
    ReportError(a, "invalid addressing mode");
    return;
  }
  EmitWord(a, ShortPush(a, op));
}

}  // namespace orvo::velda
