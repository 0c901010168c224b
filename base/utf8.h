// The one UTF-8 codec. Decoding reports whether a sequence is well formed and how far it
// reaches, so that each caller chooses what a malformed one means to it: a replacement
// character, a skipped byte or a refused text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace orvo::utf8 {

inline constexpr char32_t REPLACEMENT_CHARACTER = 0xFFFD;
inline constexpr char32_t LARGEST = 0x10FFFF;

constexpr bool IsContinuation(char byte) {
  return (static_cast<uint8_t>(byte) & 0xC0) == 0x80;
}

struct Decoded {
  char32_t codePoint = REPLACEMENT_CHARACTER;  // U+FFFD unless valid
  size_t end = 0;                              // index after the bytes the sequence took
  bool valid = false;
};

// Decodes the sequence starting at text[i] (i < text.size()). A lead byte takes as many
// of the following bytes as are continuation bytes, up to what it announces; a byte that
// begins no character takes only itself. Not valid: those, sequences cut short, overlong
// forms, surrogates and values beyond U+10FFFF.
constexpr Decoded Decode(std::string_view text, size_t i) {
  const auto lead = static_cast<uint8_t>(text[i++]);
  if (lead < 0x80) return {lead, i, true};
  size_t want = 0;
  char32_t value = 0, least = 0;
  if ((lead & 0xE0) == 0xC0) {
    want = 1, value = lead & 0x1F, least = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    want = 2, value = lead & 0x0F, least = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    want = 3, value = lead & 0x07, least = 0x10000;
  } else {
    return {REPLACEMENT_CHARACTER, i, false};
  }
  size_t got = 0;
  for (; got < want && i < text.size() && IsContinuation(text[i]); ++got, ++i)
    value = (value << 6) | (static_cast<uint8_t>(text[i]) & 0x3F);
  const bool valid =
      got == want && value >= least && value <= LARGEST && !(value >= 0xD800 && value <= 0xDFFF);
  return {valid ? value : REPLACEMENT_CHARACTER, i, valid};
}

// Writes the bytes of c to out and returns their count: 0 for values beyond U+10FFFF.
// Surrogates are written like any other value, as callers pass on what they were given.
constexpr size_t Encode(char32_t c, char out[4]) {
  const uint32_t cp = c;
  auto byte = [](uint32_t b) { return static_cast<char>(b); };
  if (cp < 0x80) {
    out[0] = byte(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = byte(0xC0 | (cp >> 6));
    out[1] = byte(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = byte(0xE0 | (cp >> 12));
    out[1] = byte(0x80 | ((cp >> 6) & 0x3F));
    out[2] = byte(0x80 | (cp & 0x3F));
    return 3;
  }
  if (cp > LARGEST) return 0;
  out[0] = byte(0xF0 | (cp >> 18));
  out[1] = byte(0x80 | ((cp >> 12) & 0x3F));
  out[2] = byte(0x80 | ((cp >> 6) & 0x3F));
  out[3] = byte(0x80 | (cp & 0x3F));
  return 4;
}

}  // namespace orvo::utf8
