// One encoder per instruction class. Each reads its operands from the cursor
// and appends the instruction word and its extension words.
#pragma once

#include <cstdint>
#include <string_view>

#include "assembler.h"
#include "isa/instruction_set.h"
#include "operand.h"

namespace orvo::velda {

void AssembleInstruction(Assembler& a, int row);

void EncodeTwoOperand(Assembler& a, int row);
void EncodeOneOperand(Assembler& a, int row);
void EncodeTestJump(Assembler& a, int row);
void EncodeLongJump(Assembler& a, int row);
void EncodeJmp(Assembler& a, int row);
void EncodeJsrfr(Assembler& a, int row);
void EncodeSfvr(Assembler& a, int row);
void EncodeEfr(Assembler& a, int row);
void EncodeNoOperand(Assembler& a, int row);
void EncodePushs(Assembler& a, int row);

// Shared by the encoders.
// Whether a frame operand's offset fits its 16-bit field; reports "stack
// offset overflow" when it does not, and the encoder then writes no more of
// the instruction (a word it already reserved stays). In pass 1 an offset
// with a label term lacks the label's value and is taken to fit: a pass 2
// without errors must find the length that pass 1 gave the labels after it.
bool FrameOffsetFits(Assembler& a, const Operand& frame);
// T(x): bits 2-23 of a jump target, for bits 10-31 of the word.
inline uint32_t JumpField(int64_t target) {
  return static_cast<uint32_t>((static_cast<uint64_t>(target) >> 2) & 0x3FFFFF) << isa::kFieldT;
}
// Pass 2: a target that the field cannot carry (low bits set, or beyond
// 22 bits of words) would jump elsewhere; report it by its text.
void CheckJumpTarget(Assembler& a, int64_t target, std::string_view text);
// Long immediate extension: one word for b, w, d; low then high word for q.
void EmitImmediate(Assembler& a, int64_t value);

}  // namespace orvo::velda
