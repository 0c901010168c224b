// Numbers and expressions.
#pragma once

#include <cstdint>
#include <string_view>

#include "assembler.h"

namespace orvo::velda {

// Parses a number token (decimal, 0x hex, 0 octal, one leading '-'),
// wrapping in 64 bits. `ok` is false when characters remain after the
// digits; the value of the digits read so far is still returned.
int64_t ParseNumberText(std::string_view token, bool& ok);
// As above, reporting "invalid number: %s".
int64_t ParseNumber(Assembler& a, std::string_view token);

struct Expr {
  int64_t value = 0;
  bool hasLabel = false;  // the expression named a label (LabelRef not empty)
  int label = -1;         // its IdTable index; -1 for a pass-1 placeholder
};

// sign? term ((+|-) term)*, a term being a number or one label name.
bool EvalExpression(Assembler& a, Expr& e);

}  // namespace orvo::velda
