// Reading source lines and words. All readers share one cursor into the
// current line; each consumes what it recognises.
#pragma once

#include <string_view>

#include "assembler.h"

namespace orvo::velda {

inline bool IsWhite(char c) {
  return c == ' ' || c == '\t';
}
inline bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
inline bool IsAsciiAlnum(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Length of the word character at text[pos] (ASCII letter, digit, '_', or a
// whole UTF-8 sequence of an alphanumeric code point); 0 if there is none.
size_t WordCharLength(std::string_view text, size_t pos);

inline char Peek(const Assembler& a, size_t ahead = 0) {
  size_t at = a.cursor + ahead;
  return at < a.line.size() ? a.line[at] : '\0';
}
inline void SkipWhite(Assembler& a) {
  while (a.cursor < a.line.size() && IsWhite(a.line[a.cursor])) ++a.cursor;
}
inline std::string_view RestOfLine(const Assembler& a) {
  return std::string_view(a.line).substr(a.cursor < a.line.size() ? a.cursor : a.line.size());
}

// Finishes the previous line (leftover check, listing) and reads the next line
// that holds a statement. False when the last file is exhausted.
bool NextLine(Assembler& a);

// Reads one word into a.token; true when it is not empty.
bool ReadWord(Assembler& a);

// Skips whitespace and consumes a ','; reports "expected COMMA" otherwise.
bool ExpectComma(Assembler& a);

}  // namespace orvo::velda
