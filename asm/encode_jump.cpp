// Jumps and calls: tljcc, ljcc, jmp, jsrfr.
#include <string_view>

#include "emit.h"
#include "encoders.h"
#include "expression.h"
#include "lexer.h"
#include "mnemonics.h"
#include "operand.h"
#include "report.h"

namespace orvo::velda {

namespace {

uint32_t Index(int row) {
  return kMnemonics[static_cast<size_t>(row)].index;
}

// An expression at the cursor with the text it was written as.
bool EvalTarget(Assembler& a, Expr& e, std::string_view& text) {
  SkipWhite(a);
  size_t from = a.cursor;
  if (!EvalExpression(a, e)) return false;
  text = std::string_view(a.line).substr(from, a.cursor - from);
  return true;
}

}  // namespace

void EncodeTestJump(Assembler& a, int row) {
  Operand op;
  if (!ParseOperand(a, op)) return;
  uint32_t format;
  uint32_t extension = static_cast<uint32_t>(op.value);
  if (IsRegister(op)) {
    format = 0;
    extension = op.reg;
  } else if (IsIndirect(op)) {
    format = 16;  // the register's address alone: an offset is not encoded
    extension = op.reg;
  } else if (op.mode == MODE_ABS) {
    format = 8;
  } else if (op.mode == MODE_FRAME) {
    format = 24;
  } else {
    ReportError(a, "invalid addressing mode");
    return;
  }
  if (!ExpectComma(a)) return;
  SkipWhite(a);
  Expr target;
  std::string_view text;
  if (Peek(a) != '=') {
    ReportError(a, "bad jump target");
    return;
  }
  ++a.cursor;
  if (!EvalTarget(a, target, text)) {
    ReportError(a, "bad jump target");
    return;
  }
  CheckJumpTarget(a, target.value, text);
  if (op.mode == MODE_FRAME && !FrameOffsetFits(a, op)) return;
  if (EmitWord(a, format | a.sizeCode << 5 | Index(row) << 7 | JumpField(target.value)))
    EmitWord(a, extension);
}

void EncodeLongJump(Assembler& a, int row) {
  SkipWhite(a);
  if (Peek(a) == '=') ++a.cursor;
  Expr target;
  std::string_view text;
  if (!EvalTarget(a, target, text)) {
    ReportError(a, "bad jump target");
    return;
  }
  CheckJumpTarget(a, target.value, text);
  EmitWord(a, 0x34 | Index(row) << 7 | JumpField(target.value));
}

void EncodeJmp(Assembler& a, int) {
  SkipWhite(a);
  size_t from = a.cursor;
  Operand op;
  if (!ParseOperand(a, op)) return;
  std::string_view text = std::string_view(a.line).substr(from, a.cursor - from);
  if (op.mode == MODE_IMM) {
    CheckJumpTarget(a, op.value, text.substr(1));
    EmitWord(a, 0x2C | JumpField(op.value));
    return;
  }
  if (!IsRegister(op) && !IsIndirect(op)) {
    ReportError(a, "invalid addressing mode");
    return;
  }
  // Through memory: the word at $r + offset; the offset is carried as T too.
  CheckJumpTarget(a, op.value, text);
  EmitWord(a, 0x0C | op.reg << 6 | JumpField(op.value));
}

void EncodeJsrfr(Assembler& a, int) {
  if (!ReadWord(a) || !IsDigit(a.token[0])) {
    ReportError(a, "missing stack arguments size");
    return;
  }
  uint32_t argBytes = static_cast<uint32_t>(ParseNumber(a, a.token)) << 16;
  if (!ExpectComma(a)) return;
  Operand op;
  if (!ParseOperand(a, op)) return;
  if (IsRegister(op)) {
    EmitWord(a, 0x354 | op.reg << 12 | argBytes);
  } else if (op.mode == MODE_IMM) {
    if (EmitWord(a, 0x54 | argBytes)) EmitWord(a, static_cast<uint32_t>(op.value));
  } else {
    ReportError(a, "invalid addressing mode");
  }
}

}  // namespace orvo::velda
