// Jumps and calls: tljcc, ljcc, jmp, jsrfr.
#include <string_view>

#include "emit.h"
#include "encoders.h"
#include "expression.h"
#include "isa/instruction_set.h"
#include "lexer.h"
#include "mnemonics.h"
#include "operand.h"
#include "report.h"

namespace orvo::velda {

namespace {

using namespace isa;

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
    format = OpcodeOf(K_TLJ_REG);
    extension = op.reg;
  } else if (IsIndirect(op)) {
    format = OpcodeOf(K_TLJ_IND);  // the register's address alone: an offset is not encoded
    extension = op.reg;
  } else if (op.mode == MODE_ABS) {
    format = OpcodeOf(K_TLJ_ABS);
  } else if (op.mode == MODE_FRAME) {
    format = OpcodeOf(K_TLJ_FRAME);
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
  if (EmitWord(a,
               format | a.sizeCode << kFieldSJ | Index(row) << kFieldCC | JumpField(target.value)))
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
  EmitWord(a, OpcodeOf(K_LJ) | Index(row) << kFieldCC | JumpField(target.value));
}

void EncodeJmp(Assembler& a, int) {
  SkipWhite(a);
  size_t from = a.cursor;
  Operand op;
  if (!ParseOperand(a, op)) return;
  std::string_view text = std::string_view(a.line).substr(from, a.cursor - from);
  if (op.mode == MODE_IMM) {
    CheckJumpTarget(a, op.value, text.substr(1));
    EmitWord(a, OpcodeOf(K_JMP) | JumpField(op.value));
    return;
  }
  if (!IsRegister(op) && !IsIndirect(op)) {
    ReportError(a, "invalid addressing mode");
    return;
  }
  // Through memory: the word at $r + offset; the offset is carried as T too.
  CheckJumpTarget(a, op.value, text);
  EmitWord(a, OpcodeOf(K_JMP_MEM) | op.reg << kFieldJmpReg | JumpField(op.value));
}

void EncodeJsrfr(Assembler& a, int) {
  if (!ReadWord(a) || !IsDigit(a.token[0])) {
    ReportError(a, "missing stack arguments size");
    return;
  }
  uint32_t argBytes = static_cast<uint32_t>(ParseNumber(a, a.token)) << kFieldArgBytes;
  if (!ExpectComma(a)) return;
  Operand op;
  if (!ParseOperand(a, op)) return;
  if (IsRegister(op)) {
    EmitWord(a, OpcodeOf(K_JSR_REG) | op.reg << kFieldJsrReg | argBytes);
  } else if (op.mode == MODE_IMM) {
    if (EmitWord(a, OpcodeOf(K_JSR_ABS) | argBytes)) EmitWord(a, static_cast<uint32_t>(op.value));
  } else {
    ReportError(a, "invalid addressing mode");
  }
}

}  // namespace orvo::velda
