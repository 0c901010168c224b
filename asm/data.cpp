#include "data.h"

#include <string>

#include "analysis.h"
#include "emit.h"
#include "encoders.h"
#include "expression.h"
#include "lexer.h"
#include "mnemonics.h"
#include "report.h"

namespace orvo::velda {

namespace {

unsigned Width(const Assembler& a) {
  return 1u << a.sizeCode;
}

void ReserveZero(Assembler& a) {
  bool ok = false;
  if (Peek(a) == '[') {
    ++a.cursor;
    ReadWord(a);
    std::string count = a.token;
    SkipWhite(a);
    if (Peek(a) == ']') {
      ++a.cursor;
      ok = true;
      int64_t n = ParseNumber(a, count);
      uint64_t total = static_cast<uint64_t>(n) * Width(a);
      // A negative count, or one that carries the segment past 32 bits,
      // would wrap the counter around.
      if (n < 0 || n > 0xFFFFFFFFll || total > 0xFFFFFFFFull - a.zeroCounter) {
        ReportError(a, "invalid SEG_ZERO count: " + a.line);
        return;
      }
      a.zeroCounter += static_cast<uint32_t>(total);
    }
  }
  if (!ok) ReportError(a, "SEG_ZERO expected '[#]': " + a.line);
}

void NumberList(Assembler& a) {
  unsigned width = Width(a);
  for (;;) {
    ReadWord(a);
    uint64_t v = static_cast<uint64_t>(ParseNumber(a, a.token));
    bool fits = true;
    if (width < 8) {
      uint64_t high = v >> (8 * width);
      fits = high == 0 || high == (~uint64_t{0} >> (8 * width));
    }
    if (fits) {
      if (!Emit(a, v, width)) return;
    } else {
      ReportError(a, "'value too large: " + a.line);
    }
    SkipWhite(a);
    if (Peek(a) != ',') return;
    ++a.cursor;
  }
}

void Repeat(Assembler& a) {
  ++a.cursor;  // '['
  ReadWord(a);
  int64_t count = ParseNumber(a, a.token);
  SkipWhite(a);
  if (Peek(a) != ']') {
    ReportError(a, "malformed [#]");
    return;
  }
  ++a.cursor;
  if (!ReadWord(a)) {
    ReportError(a, "missing repeat value");
    return;
  }
  uint64_t value = static_cast<uint64_t>(ParseNumber(a, a.token));
  if (count <= 0) return;
  unsigned width = Width(a);
  if (static_cast<uint64_t>(count) > MAXCODEBLOCK || !EnsureRoom(a, uint64_t(count) * width)) {
    if (!a.stopped) ReportTooLarge(a);
    return;
  }
  for (int64_t i = 0; i < count; ++i) a.image.Append(value, width);
}

void String(Assembler& a) {
  ++a.cursor;  // opening quote
  for (;;) {
    char c = Peek(a);
    if (c == '\0') return;  // an unclosed string ends with the line
    ++a.cursor;
    if (c == '"') return;
    if (c != '\\') {
      if (!Emit(a, static_cast<uint8_t>(c), 1)) return;
      continue;
    }
    char e = Peek(a);
    if (e == '\0') return;
    uint32_t byte;
    if (e >= '0' && e <= '7') {
      byte = 0;
      for (int i = 0; i < 3 && Peek(a) >= '0' && Peek(a) <= '7'; ++i) {
        byte = byte * 8 + static_cast<uint32_t>(Peek(a) - '0');
        ++a.cursor;
      }
      if (byte > 255) ReportError(a, "invalid \\octal value");
    } else if (e == '8' || e == '9') {
      byte = 0;  // the digit itself follows as an ordinary character
    } else {
      ++a.cursor;
      switch (e) {
        case 'r':
          byte = 13;
          break;
        case 'n':
          byte = 10;
          break;
        case 't':
          byte = 9;
          break;
        default:
          byte = static_cast<uint8_t>(e);
          break;
      }
    }
    if (!Emit(a, byte & 0xFF, 1)) return;
  }
}

}  // namespace

void AssembleSized(Assembler& a) {
  SkipWhite(a);
  if (a.segment == SEG_ZERO) return ReserveZero(a);
  char c = Peek(a);
  if (c == '\0') return;
  if (c == '"' && a.sizeCode == 0) return String(a);
  if (IsDigit(c) || c == '-') return NumberList(a);
  if (c == '[') return Repeat(a);
  ReadWord(a);
  int row = FindMnemonic(a.token);
  if (row >= 0) AssembleInstruction(a, row);
  else NoteIgnored(a);
}

void AssembleAddressWord(Assembler& a) {
  if (a.segment == SEG_ZERO) {
    ReportError(a, "'&' invalid in @ZERO: " + a.line);
    return;
  }
  ReadWord(a);
  if (a.pass == 1) {
    Emit(a, 0, 4);
    return;
  }
  int index = a.ids.Find(a.token);
  NoteUse(a, index, a.token);
  if (index < 0) {
    ReportError(a, "failure to communicate: " + a.token);
    Emit(a, 0, 4);
    return;
  }
  Emit(a, static_cast<uint64_t>(a.ids[static_cast<size_t>(index)].value) & 0xFFFFFFFF, 4);
}

}  // namespace orvo::velda
