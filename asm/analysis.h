// Assembling sources held in memory, for tools that show velda's findings where they
// are in the text (the language server): velda's own two passes, run as velda runs
// them, with each error, label definition and label use noted with its place.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "assembler.h"

namespace orvo::velda {

// Bytes [offset, offset + length) of a source text as it was handed in.
struct SourcePlace {
  uint32_t file = 0;
  uint32_t offset = 0;
  uint32_t length = 0;
};

struct Finding {
  std::string message;  // velda's text, without the "name(line): " in front
  bool plain = false;   // velda prints it without a file and line
  SourcePlace place;    // the statement, or the part of it the message names
};

struct LabelDefinition {
  std::string name;  // as written ("_@n" for an anonymous label)
  int64_t value = 0;
  uint32_t flags = 0;  // ID_CODE or ID_ZERO, and ID_MAPPED
  SourcePlace place;   // the name after the ':'
};

struct LabelUse {
  int label = -1;    // index into Analysis::labels; -1 when no such label exists
  std::string name;  // the name looked up ("_@n" for @F and @B forms)
  SourcePlace place;
};

// A statement inside a segment whose first word is no mnemonic, size or directive:
// velda assembles it to nothing.
struct IgnoredStatement {
  std::string word;
  SourcePlace place;
};

struct Analysis {
  std::vector<Finding> errors;
  std::vector<LabelDefinition> labels;  // in definition order, as the label table
  std::vector<LabelUse> uses;           // pass 2, in source order
  std::vector<IgnoredStatement> ignored;
  std::vector<uint8_t> image;  // the code image, codeSize bytes
  uint32_t codeSize = 0;
  uint32_t zeroSize = 0;
  bool stopped = false;  // velda gave up (too many errors, image full)
};

struct MemorySource {
  std::string name;  // as on velda's command line; the display name is made from it
  std::string_view text;
};

// Runs both passes over the sources, in order, writing nothing. Fails only when
// there are more sources than velda takes.
Analysis AnalyzeSources(const std::vector<MemorySource>& sources);

// Called by the passes; each does nothing unless a.analysis is set.
void NoteError(Assembler& a, std::string_view message, bool plain);
void NoteDefinition(Assembler& a, int index);  // the label just appended, named by a.token
void NoteUse(Assembler& a, int index, const std::string& name);  // a.token names it
void NoteIgnored(Assembler& a);  // a.token is the word that means nothing

}  // namespace orvo::velda
