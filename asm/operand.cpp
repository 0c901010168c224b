#include "operand.h"

#include "expression.h"
#include "lexer.h"
#include "report.h"

namespace orvo::velda {

namespace {

char Upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

enum class RegResult { kNone, kOk, kBad };

// A register at the cursor. $16..$23 read as registers but the machine has
// only 16 and their mode numbers would collide with the other forms.
RegResult TakeRegister(Assembler& a, unsigned& number) {
  size_t len = ParseRegister(a, a.cursor, number);
  if (len == 0) return RegResult::kNone;
  if (number > 15) return RegResult::kBad;
  a.cursor += len;
  return RegResult::kOk;
}

bool CloseBracket(Assembler& a) {
  SkipWhite(a);
  if (Peek(a) != ']') return false;
  ++a.cursor;
  return true;
}

bool ParseBracketed(Assembler& a, Operand& op) {
  ++a.cursor;  // '['
  SkipWhite(a);
  unsigned reg;
  RegResult r = TakeRegister(a, reg);
  if (r == RegResult::kBad) return false;
  if (r == RegResult::kOk) {
    if (!CloseBracket(a)) return false;
    SkipWhite(a);
    if (Peek(a) == '[') {
      ++a.cursor;
      Expr e;
      if (!EvalExpression(a, e) || !CloseBracket(a)) return false;
      op.value = e.value;
    }
    op.mode = MODE_IND + static_cast<int>(reg);
    op.reg = reg;
    return true;
  }
  if (Upper(Peek(a)) == 'F' && Upper(Peek(a, 1)) == 'P') {
    size_t afterBracket = a.cursor;
    a.cursor += 2;
    SkipWhite(a);
    if (Peek(a) == ']') {
      ++a.cursor;
      SkipWhite(a);
      if (Peek(a) != '[') return false;
      ++a.cursor;
      Expr e;
      if (!EvalExpression(a, e) || !CloseBracket(a)) return false;
      op.mode = MODE_FRAME;
      op.value = e.value;
      op.hasLabel = e.hasLabel;
      return true;
    }
    a.cursor = afterBracket;  // [FP+4]: an address with a label named FP
  }
  Expr e;
  if (!EvalExpression(a, e) || !CloseBracket(a)) return false;
  op.mode = MODE_ABS;
  op.value = e.value;
  return true;
}

bool ParseOperandParts(Assembler& a, Operand& op) {
  SkipWhite(a);
  unsigned reg;
  RegResult r = TakeRegister(a, reg);
  if (r == RegResult::kBad) return false;
  if (r == RegResult::kOk) {
    op.mode = static_cast<int>(reg);
    op.reg = reg;
    return true;
  }
  if (Peek(a) == '=') {
    ++a.cursor;
    Expr e;
    if (!EvalExpression(a, e)) return false;
    op.mode = MODE_IMM;
    op.value = e.value;
    op.hasLabel = e.hasLabel;
    return true;
  }
  if (Peek(a) == '[') return ParseBracketed(a, op);
  return false;
}

}  // namespace

size_t ParseRegister(const Assembler& a, size_t pos, unsigned& number) {
  const std::string& s = a.line;
  if (pos + 1 >= s.size() || s[pos] != '$' || !IsDigit(s[pos + 1])) return 0;
  size_t len = 2;
  number = static_cast<unsigned>(s[pos + 1] - '0');
  char next = pos + 2 < s.size() ? s[pos + 2] : '\0';
  if ((s[pos + 1] == '1' && IsDigit(next)) || (s[pos + 1] == '2' && next >= '0' && next <= '3')) {
    number = number * 10 + static_cast<unsigned>(next - '0');
    len = 3;
  }
  if (WordCharLength(s, pos + len) != 0) return 0;
  return len;
}

bool ParseOperand(Assembler& a, Operand& op) {
  op = Operand{};
  if (ParseOperandParts(a, op)) return true;
  ReportError(a, "invalid addressing mode");
  return false;
}

}  // namespace orvo::velda
