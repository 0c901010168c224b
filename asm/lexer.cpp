#include "lexer.h"

#include <locale.h>

#include <clocale>
#include <cwctype>

#include "listing.h"
#include "report.h"

namespace orvo::velda {

namespace {

// Wide-character classification needs a Unicode-aware locale; the process
// locale is left alone.
bool IsAlnumCodePoint(uint32_t cp) {
  static locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
  if (utf8 == locale_t{}) return false;
  return iswalnum_l(static_cast<wint_t>(cp), utf8) != 0;
}

bool AtEndOfText(const Assembler& a) {
  const SourceFile& f = a.sources[a.fileIndex];
  return a.textPos >= f.size || f.text[a.textPos] == '\0';
}

}  // namespace

size_t WordCharLength(std::string_view text, size_t pos) {
  if (pos >= text.size()) return 0;
  unsigned char lead = static_cast<unsigned char>(text[pos]);
  if (IsAsciiAlnum(static_cast<char>(lead)) || lead == '_') return 1;
  size_t len;
  uint32_t cp;
  if (lead >= 0xC0 && lead <= 0xDF) {
    len = 2;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    len = 3;
    cp = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF7) {
    len = 4;
    cp = lead & 0x07;
  } else {
    return 0;
  }
  if (pos + len > text.size()) return 0;
  for (size_t i = 1; i < len; ++i) {
    unsigned char c = static_cast<unsigned char>(text[pos + i]);
    if ((c & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (c & 0x3F);
  }
  return IsAlnumCodePoint(cp) ? len : 0;
}

bool NextLine(Assembler& a) {
  if (a.haveLine) {
    SkipWhite(a);
    if (a.cursor < a.line.size() && a.line[a.cursor] != ';') {
      std::string message = "unexpected characters: ";
      message.append(RestOfLine(a));
      ReportError(a, message);
    }
    ListLine(a);
    a.haveLine = false;
  }
  if (a.sources.empty()) return false;
  for (;;) {
    while (AtEndOfText(a)) {
      if (a.fileIndex + 1 >= a.sources.size()) return false;
      ++a.fileIndex;
      a.textPos = 0;
      a.lineNumber = 0;
      a.segment = SEG_NONE;
      a.line.clear();
      a.cursor = 0;
    }
    const SourceFile& f = a.sources[a.fileIndex];
    const char* text = f.text.get();
    size_t end = f.size;
    size_t start = a.textPos;
    size_t pos = start;
    while (pos < end && pos - start < kMaxLine) {
      char c = text[pos];
      if (c == '\r' || c == '\n' || c == '\0') break;
      ++pos;
    }
    a.line.assign(text + start, pos - start);
    a.lineTextStart = start;
    if (pos < end && text[pos] == '\r') ++pos;
    if (pos < end && text[pos] == '\n') {
      ++pos;
      ++a.lineNumber;
    }
    a.textPos = pos;
    a.cursor = 0;
    a.lineStart = a.image.size();
    a.directiveLine = false;
    if (!a.line.empty() && a.line[0] != ';') {
      a.haveLine = true;
      return true;
    }
    // An empty or comment line is listed, except as the last line of its
    // file: by the time it would be listed the next file has begun.
    if (!AtEndOfText(a)) ListLine(a);
  }
}

bool ReadWord(Assembler& a) {
  a.token.clear();
  SkipWhite(a);
  a.tokenStart = a.cursor;
  char c = Peek(a);
  if (c == ';') {
    a.cursor = a.line.size();
    return false;
  }
  if (c == '&') {
    a.token = "&";
    ++a.cursor;
  } else if (IsAsciiAlnum(c) || c == '@' || c == ':' || c == '-' || c == '_') {
    a.token.push_back(c);
    ++a.cursor;
    if (c == ':' && Peek(a) == '@') {
      a.token.push_back('@');
      ++a.cursor;
    } else {
      while (size_t n = WordCharLength(a.line, a.cursor)) {
        a.token.append(a.line, a.cursor, n);
        a.cursor += n;
      }
    }
  } else {
    return false;
  }
  SkipWhite(a);
  return true;
}

bool ExpectComma(Assembler& a) {
  SkipWhite(a);
  if (Peek(a) == ',') {
    ++a.cursor;
    return true;
  }
  ReportError(a, "expected COMMA");
  return false;
}

}  // namespace orvo::velda
