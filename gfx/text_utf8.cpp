#include "gfx/text_utf8.h"

namespace orvo::gfx {

size_t Utf8Next(std::string_view text, size_t i, char32_t& c) {
  const auto lead = static_cast<uint8_t>(text[i]);
  size_t want = 0;
  char32_t value = 0, least = 0;
  if (lead < 0x80) {
    c = lead;
    return i + 1;
  } else if ((lead & 0xE0) == 0xC0) {
    want = 1, value = lead & 0x1F, least = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    want = 2, value = lead & 0x0F, least = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    want = 3, value = lead & 0x07, least = 0x10000;
  } else {
    c = REPLACEMENT_CHARACTER;
    return i + 1;
  }
  size_t got = 0;
  ++i;
  while (got < want && i < text.size() && (static_cast<uint8_t>(text[i]) & 0xC0) == 0x80) {
    value = (value << 6) | (static_cast<uint8_t>(text[i]) & 0x3F);
    ++got, ++i;
  }
  const bool valid =
      got == want && value >= least && value <= 0x10FFFF && !(value >= 0xD800 && value <= 0xDFFF);
  c = valid ? value : REPLACEMENT_CHARACTER;
  return i;
}

size_t Utf8Offset(std::string_view text, size_t count) {
  size_t i = 0;
  char32_t c;
  for (size_t n = 0; n < count && i < text.size(); ++n) i = Utf8Next(text, i, c);
  return i;
}

}  // namespace orvo::gfx
