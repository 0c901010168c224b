#include "report.h"

#include <string>

#include "analysis.h"

namespace orvo::velda {

void ConsoleWrite(Assembler& a, std::string_view text) {
  if (a.console) {
    a.console->append(text);
  } else {
    std::fwrite(text.data(), 1, text.size(), stdout);
  }
}

namespace {

void WriteListing(Assembler& a, const std::string& body) {
  if (!a.listFile) return;
  std::string out = " ***** " + body + "\r\n";
  std::fwrite(out.data(), 1, out.size(), a.listFile);
}

}  // namespace

void ReportError(Assembler& a, std::string_view message, bool inPass1) {
  if (a.pass == 1 && !inPass1) return;
  NoteError(a, message, false);
  std::string name;
  if (!a.sources.empty())
    name =
        a.sources[a.fileIndex < a.sources.size() ? a.fileIndex : a.sources.size() - 1].displayName;
  std::string body = name + "(" + std::to_string(a.lineNumber) + "): ";
  body.append(message);
  ConsoleWrite(a, body + "\n");
  ++a.errorCount;
  WriteListing(a, body);
}

void ReportPlainError(Assembler& a, std::string_view message, bool inPass1) {
  if (a.pass == 1 && !inPass1) return;
  NoteError(a, message, true);
  std::string body(message);
  ConsoleWrite(a, body + "\n");
  ++a.errorCount;
  WriteListing(a, body);
}

}  // namespace orvo::velda
