// The words of velda source lines by what they are, for colouring, hover, completion
// and formatting. A line is read as velda's statement reader reads it: by velda's word
// rules, with the segment state carried from line to line of one file.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "sizes.h"

namespace orvo::lsp {

enum class TokenKind : uint8_t {
  kComment,  // also text outside segments, which velda skips
  kString,
  kNumber,
  kDirective,  // @code, @zero, @end, @seg_end, @align, public, extern, &
  kSize,       // b, w, d, q
  kMnemonic,
  kLabelDefinition,  // the name after ':'
  kLabel,            // a label named in an operand
  kRegister,         // $n, and FP in a frame operand
  kOperator,         // = [ ] , + - :
  kUnknownWord,      // a statement's first word that velda ignores
};

struct Token {
  TokenKind kind;
  uint32_t begin, end;  // byte offsets in the line
};

struct ScannedLine {
  std::vector<Token> tokens;
  uint32_t bodyEnd = 0;     // end of the statement before its comment and trailing blanks
  int commentBegin = -1;    // where the comment starts, or -1
  bool inSegment = false;   // the segment state before the line
  bool commentary = false;  // text outside a segment: velda skips the whole line
  bool data = false;        // a data statement (numbers, string, repeat, &) in the code segment
};

class LineScanner {
 public:
  // Call for the lines of one file in order.
  ScannedLine Scan(std::string_view line);

 private:
  velda::Segment segment_ = velda::SEG_NONE;
};

// Byte length of the velda word starting at line[pos] (0 when none starts there).
size_t WordLength(std::string_view line, size_t pos);

}  // namespace orvo::lsp
