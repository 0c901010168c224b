// Walking the UTF-8 text of a draw request one character at a time. Decoding and the
// byte count of the result use the same step, so a character is never split between
// what was drawn and what is left.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace orvo::gfx {

inline constexpr char32_t REPLACEMENT_CHARACTER = 0xFFFD;

// Decodes the character at byte i and returns the index after it. A lead byte takes as
// many of the following bytes as are continuation bytes, up to what it announces. Bytes
// that begin no character, cut-short sequences, overlong forms, surrogates and values
// beyond U+10FFFF each decode as one U+FFFD, so every byte belongs to exactly one
// character and the walk always moves on.
size_t Utf8Next(std::string_view text, size_t i, char32_t& c);

// Byte offset after the first count characters (the text's length if it has fewer).
size_t Utf8Offset(std::string_view text, size_t count);

}  // namespace orvo::gfx
