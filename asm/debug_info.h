// What velda records for the debug file while it assembles, and the writer of that
// file (its layout is in isa/debug_format.h). Pass 2 notes every statement that put
// bytes into the image; pass 1 notes where each label is defined.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvo::velda {

struct Assembler;

struct StatementSite {
  uint32_t address = 0, length = 0, line = 0;
  uint16_t column = 0;
  uint8_t file = 0;
  uint8_t kind : 7 = 0;          // a debug_format::StatementKind
  uint8_t opensFrame : 1 = 0;    // an sfvr: the first statement of a routine
};

// Where a label is defined; one per IdTable entry, in the same order.
struct LabelSite {
  uint32_t line = 0;
  uint16_t column = 0;
};

struct DebugRecord {
  std::vector<StatementSite> statements;  // by address, as pass 2 emits them
  std::vector<LabelSite> labels;
  size_t pass1Statements = 0;
  // Set by the statement level for the line being assembled.
  bool instructionLine = false;
  bool frameLine = false;
};

// The statement level's hooks.
void NoteInstruction(Assembler& a, int mnemonicRow);
void NoteLabel(Assembler& a);
// After each line: in pass 2 records it when it put bytes into the image; pass 1 only
// counts such lines, so that pass 2 finds its room reserved.
void NoteStatement(Assembler& a);

// The whole debug file for the finished image (header fields already written).
std::string FormatDebugInfo(const Assembler& a);
bool WriteDebugInfo(const Assembler& a);

}  // namespace orvo::velda
