#include <string>

#include "debug_info.h"
#include "emit.h"
#include "encoders.h"
#include "mnemonics.h"
#include "report.h"

namespace orvo::velda {

void AssembleInstruction(Assembler& a, int row) {
  NoteInstruction(a, row);
  switch (kMnemonics[static_cast<size_t>(row)].cls) {
    case InsnClass::kTwoOperand:
      return EncodeTwoOperand(a, row);
    case InsnClass::kTestJump:
      return EncodeTestJump(a, row);
    case InsnClass::kLongJump:
      return EncodeLongJump(a, row);
    case InsnClass::kOneOperand:
      return EncodeOneOperand(a, row);
    case InsnClass::kNoOperand:
      return EncodeNoOperand(a, row);
    case InsnClass::kEfr:
      return EncodeEfr(a, row);
    case InsnClass::kSfvr:
      return EncodeSfvr(a, row);
    case InsnClass::kJsrfr:
      return EncodeJsrfr(a, row);
    case InsnClass::kJmp:
      return EncodeJmp(a, row);
    case InsnClass::kPushs:
      return EncodePushs(a, row);
    case InsnClass::kNone:
      return;
  }
}

bool FrameOffsetFits(Assembler& a, const Operand& frame) {
  if (frame.value >= -32768 && frame.value <= 32767) return true;
  if (a.pass == 1 && frame.hasLabel) return true;
  ReportError(a, "stack offset overflow");
  return false;
}

void CheckJumpTarget(Assembler& a, int64_t target, std::string_view text) {
  if (a.pass != 2) return;
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if ((target & 3) != 0) {
    ReportError(a, "jump target not a multiple of 4: " + std::string(text));
  } else if (target < 0 || target > 0xFFFFFC) {
    ReportError(a, "jump target out of range: " + std::string(text));
  }
}

void EmitImmediate(Assembler& a, int64_t value) {
  uint64_t v = static_cast<uint64_t>(value);
  EmitWord(a, static_cast<uint32_t>(v));
  if (a.sizeCode == 3) EmitWord(a, static_cast<uint32_t>(v >> 32));
}

}  // namespace orvo::velda
