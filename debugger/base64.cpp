#include "debugger/base64.h"

namespace orvo::debugger {

namespace {
constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int DigitValue(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}
}  // namespace

std::string EncodeBase64(const uint8_t* data, size_t size) {
  std::string out;
  out.reserve((size + 2) / 3 * 4);
  for (size_t i = 0; i < size; i += 3) {
    const size_t n = size - i < 3 ? size - i : 3;
    uint32_t v = uint32_t{data[i]} << 16;
    if (n > 1) v |= uint32_t{data[i + 1]} << 8;
    if (n > 2) v |= data[i + 2];
    for (size_t k = 0; k < 4; ++k) out += k <= n ? kDigits[(v >> (18 - 6 * k)) & 63] : '=';
  }
  return out;
}

std::optional<std::vector<uint8_t>> DecodeBase64(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::vector<uint8_t> out;
  for (size_t i = 0; i < text.size(); i += 4) {
    uint32_t v = 0;
    int pads = 0;
    for (size_t k = 0; k < 4; ++k) {
      const char c = text[i + k];
      const bool last = i + 4 == text.size();
      if (c == '=' && last && k >= 2 && (k == 3 || text[i + 3] == '=')) {
        ++pads;
        v <<= 6;
        continue;
      }
      const int d = DigitValue(c);
      if (d < 0 || pads) return std::nullopt;
      v = (v << 6) | static_cast<uint32_t>(d);
    }
    out.push_back(static_cast<uint8_t>(v >> 16));
    if (pads < 2) out.push_back(static_cast<uint8_t>(v >> 8));
    if (pads < 1) out.push_back(static_cast<uint8_t>(v));
  }
  return out;
}

}  // namespace orvo::debugger
