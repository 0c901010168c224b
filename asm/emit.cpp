#include "emit.h"

#include "report.h"

namespace orvo::velda {

void ReportTooLarge(Assembler& a) {
  ReportError(a, "Too large to assemble (increase MAXCODEBLOCK in VELDA6 source)", true);
  a.stopped = true;
}

bool EnsureRoom(Assembler& a, uint64_t bytes) {
  if (a.stopped) return false;
  if (a.image.Fits(bytes)) return true;
  ReportTooLarge(a);
  return false;
}

bool Emit(Assembler& a, uint64_t value, unsigned width) {
  if (!EnsureRoom(a, width)) return false;
  a.image.Append(value, width);
  return true;
}

}  // namespace orvo::velda
