#include "directives.h"

#include <string>

#include "analysis.h"
#include "data.h"
#include "emit.h"
#include "encoders.h"
#include "lexer.h"
#include "mnemonics.h"
#include "report.h"

namespace orvo::velda {

namespace {

void DefineLabel(Assembler& a, std::string name) {
  if (a.segment == SEG_CODE && name == "@") name = "_@" + std::to_string(a.anonCount++);
  if (name.size() > kMaxLabelName) {
    // Cutting the name would let it alias another label.
    if (a.pass == 2) ReportError(a, "label name too long: " + name);
    return;
  }
  if (a.pass == 1) {
    if (a.ids.Find(name) >= 0) {
      ReportError(a, "label redefinition: " + name, true);
      return;
    }
    if (a.ids.Full()) {
      ReportError(a, "Size of ID table exceeded", true);
      return;
    }
    bool code = a.segment == SEG_CODE;
    int index = a.ids.Append(name, code ? int64_t{a.image.size()} : int64_t{a.zeroCounter},
                             code ? ID_CODE : ID_ZERO, static_cast<uint32_t>(a.fileIndex));
    NoteDefinition(a, index);
    NoteLabel(a);
    return;
  }
  if (a.pendingMark != 0 && !name.empty() && name[0] == '_') {
    int index = a.ids.Find(name);
    if (index >= 0) a.ids[static_cast<size_t>(index)].flags |= a.pendingMark;
    a.pendingMark = 0;
  }
}

void Align(Assembler& a) {
  size_t from = a.cursor;
  ReadWord(a);
  const std::string& t = a.token;
  if (t.size() == 1 && (t[0] == '1' || t[0] == '2' || t[0] == '4' || t[0] == '8')) {
    AlignSegment(a, static_cast<uint32_t>(t[0] - '0'));
  } else {
    std::string message = "1, 2, 4, or 8 expected: ";
    message.append(std::string_view(a.line).substr(from));
    ReportError(a, message);
  }
  if (a.pass == 2) a.pendingMark = ID_MAPPED;
}

// Outside a segment only @code, @zero and @end mean anything; all other text
// there is commentary.
void AssembleOutsideSegment(Assembler& a, const std::string& word) {
  if (EqualNoCase(word, "@code")) {
    a.segment = SEG_CODE;
    a.directiveLine = true;
    AlignSegment(a, 2);
  } else if (EqualNoCase(word, "@zero")) {
    a.segment = SEG_ZERO;
    a.directiveLine = true;
    AlignSegment(a, 4);
  } else if (EqualNoCase(word, "@end")) {
    a.directiveLine = true;
    while (a.image.size() % 4 != 0)
      if (!Emit(a, 0, 1)) return;
    a.zeroCounter = (a.zeroCounter + 3) & ~uint32_t{3};
  } else {
    a.cursor = a.line.size();
  }
}

int SizeWord(const std::string& word) {
  if (word.size() != 1) return -1;
  switch (word[0]) {
    case 'b':
      return 0;
    case 'w':
      return 1;
    case 'd':
      return 2;
    case 'q':
      return 3;
    default:
      return -1;
  }
}

}  // namespace

void AlignSegment(Assembler& a, uint32_t alignment) {
  uint32_t mask = alignment - 1;
  if (a.segment == SEG_ZERO) {
    a.zeroCounter = (a.zeroCounter + mask) & ~mask;
    return;
  }
  while ((a.image.size() & mask) != 0)
    if (!Emit(a, 0, 1)) return;
}

void AssembleLine(Assembler& a) {
  if (!ReadWord(a)) {
    if (a.segment == SEG_NONE) a.cursor = a.line.size();
    return;
  }
  const std::string word = a.token;
  bool isPublic = EqualNoCase(word, "public");
  if (isPublic || EqualNoCase(word, "extern")) {
    a.directiveLine = true;
    if (!ReadWord(a)) ReportError(a, isPublic ? "missing public label" : "missing label reference");
    return;
  }
  if (a.segment == SEG_NONE) return AssembleOutsideSegment(a, word);
  if (EqualNoCase(word, "@seg_end")) {
    a.segment = SEG_NONE;
    a.directiveLine = true;
    return;
  }
  if (EqualNoCase(word, "@align")) return Align(a);
  if (word[0] == ':') return DefineLabel(a, word.substr(1));
  int size = SizeWord(word);
  if (size >= 0) {
    a.sizeCode = static_cast<unsigned>(size);
    return AssembleSized(a);
  }
  if (word == "&") return AssembleAddressWord(a);
  int row = FindMnemonic(word);
  if (row >= 0) AssembleInstruction(a, row);
  else NoteIgnored(a);
}

}  // namespace orvo::velda
