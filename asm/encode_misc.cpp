// Frames and the operand-less rows: sfvr, efr, dbg .. emod.
#include <cstdint>

#include "emit.h"
#include "encoders.h"
#include "expression.h"
#include "isa/instruction_set.h"
#include "lexer.h"
#include "mnemonics.h"
#include "report.h"

namespace orvo::velda {

namespace {

// One number word in lo..hi; reports `missing` or `invalid` otherwise. The
// value is returned even when out of range.
bool ReadCount(Assembler& a, const char* missing, const char* invalid, int64_t hi, uint32_t& out) {
  if (!ReadWord(a)) {
    ReportError(a, missing);
    return false;
  }
  int64_t v = ParseNumber(a, a.token);
  out = static_cast<uint32_t>(v);
  if (v < 0 || v > hi) {
    ReportError(a, invalid);
    return false;
  }
  return true;
}

}  // namespace

void EncodeSfvr(Assembler& a, int) {
  uint32_t bytes, count;
  if (!ReadCount(a, "missing variables size", "invalid variable size", 65535, bytes)) return;
  if (!ExpectComma(a)) return;
  if (!ReadCount(a, "missing register count", "invalid register count", 14, count)) return;
  EmitWord(a, isa::OpcodeOf(isa::K_SFVR) | count << isa::kFieldCount | bytes << isa::kFieldLocals);
}

void EncodeEfr(Assembler& a, int) {
  uint32_t count;
  if (!ReadCount(a, "missing register count", "invalid register count", 14, count)) return;
  EmitWord(a, isa::OpcodeOf(isa::K_EFR) | count << isa::kFieldCount);
}

void EncodeNoOperand(Assembler& a, int row) {
  EmitWord(a, isa::kNoOperandOpcode | uint32_t{kMnemonics[static_cast<size_t>(row)].index}
                                          << isa::kFieldIndex);
}

}  // namespace orvo::velda
