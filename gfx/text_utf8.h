// Walking the UTF-8 text of a draw request one character at a time. Decoding and the
// byte count of the result use the same step, so a character is never split between
// what was drawn and what is left.
#pragma once

#include <cstddef>
#include <string_view>

#include "base/utf8.h"

namespace orvo::gfx {

// Decodes the character at byte i and returns the index after it. A malformed sequence
// (as far as it reaches) is one U+FFFD, so every byte belongs to exactly one character
// and the walk always moves on.
inline size_t Utf8Next(std::string_view text, size_t i, char32_t& c) {
  const utf8::Decoded d = utf8::Decode(text, i);
  c = d.codePoint;
  return d.end;
}

// Byte offset after the first count characters (the text's length if it has fewer).
inline size_t Utf8Offset(std::string_view text, size_t count) {
  size_t i = 0;
  for (size_t n = 0; n < count && i < text.size(); ++n) i = utf8::Decode(text, i).end;
  return i;
}

}  // namespace orvo::gfx
