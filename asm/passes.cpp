#include "passes.h"

#include "debug_info.h"
#include "directives.h"
#include "emit.h"
#include "lexer.h"
#include "report.h"

namespace orvo::velda {

namespace {

void StartPass(Assembler& a, int pass) {
  a.pass = pass;
  a.fileIndex = 0;
  a.textPos = 0;
  a.lineNumber = 0;
  a.line.clear();
  a.cursor = 0;
  a.haveLine = false;
  a.segment = SEG_NONE;
  a.image.Rewind();
  a.zeroCounter = 0;
  a.anonCount = 0;
  a.sizeCode = 0;
  a.pendingMark = 0;
}

// False when assembling stopped altogether.
bool RunPass(Assembler& a) {
  while (NextLine(a)) {
    if (a.errorCount > kMaxErrors) {
      ConsoleWrite(a, "Too many errors...\n");
      a.stopped = true;
    } else if (a.image.size() > kCodeStartLimit) {
      ReportTooLarge(a);
    } else {
      a.directiveLine = false;
      AssembleLine(a);
      NoteStatement(a);
    }
    if (a.stopped) return false;
  }
  return true;
}

}  // namespace

void AssembleAll(Assembler& a) {
  StartPass(a, 1);
  if (RunPass(a)) {
    a.codeSize = a.image.size();
    a.zeroSize = a.zeroCounter;
    // Zero-segment labels become addresses behind the code image.
    for (size_t i = 0; i < a.ids.count(); ++i)
      if (a.ids[i].flags & ID_ZERO)
        a.ids[i].value = static_cast<int64_t>(static_cast<uint64_t>(a.ids[i].value) + a.codeSize);
    StartPass(a, 2);
    RunPass(a);
  }
  a.pass = 0;
}

}  // namespace orvo::velda
