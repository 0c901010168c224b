// The whole state of one velda run. Every part of the assembler works on an
// Assembler passed by reference, so tests can build fresh instances.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "code_image.h"
#include "debug_info.h"
#include "id_table.h"
#include "sizes.h"

namespace orvo::velda {

struct Analysis;

struct SourceFile {
  std::string displayName;  // no path, no .ova; shown in messages and listings
  std::string path;         // the file opened, as named from the current folder
  std::unique_ptr<char[]> text;
  size_t size = 0;  // bytes of text (a byte order mark already removed)
};

struct Assembler {
  // Options and environment.
  bool quiet = false;
  bool listPass1 = false;
  std::filesystem::path outDir;    // where main.* and BUILDNUM go; empty = current folder
  std::string* console = nullptr;  // when set, console text is collected here
  std::vector<SourceFile> sources;
  Analysis* analysis = nullptr;  // when set, findings are also noted here with their places

  // Results kept for the whole run.
  CodeImage image;
  IdTable ids;
  int32_t errorCount = 0;
  uint32_t codeSize = 0;  // both set at the end of pass 1
  uint32_t zeroSize = 0;
  uint32_t buildNumber = 0;
  FILE* listFile = nullptr;  // main.ovl while it is open
  int pass = 0;              // 1 or 2 while a pass runs, else 0
  bool stopped = false;      // assembling was given up (too many errors, image full)
  DebugRecord debug;         // statements and label sites for main.ovd

  // Statement-level state, reset at the start of each pass.
  Segment segment = SEG_NONE;
  unsigned sizeCode = 0;  // 0 b, 1 w, 2 d, 3 q: sticky across lines and files
  uint32_t zeroCounter = 0;
  uint32_t anonCount = 0;
  uint32_t pendingMark = 0;
  bool directiveLine = false;

  // Line reader state.
  size_t fileIndex = 0;
  size_t textPos = 0;
  uint32_t lineNumber = 0;
  bool haveLine = false;   // a statement line was delivered and is not yet listed
  uint32_t lineStart = 0;  // code image size when the current line began
  std::string line;
  size_t lineTextStart = 0;  // offset of the current line in its file's text
  size_t cursor = 0;
  std::string token;
  size_t tokenStart = 0;  // cursor position where the token began
};

}  // namespace orvo::velda
