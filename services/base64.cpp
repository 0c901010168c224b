// Base64 of RFC 4648: the standard alphabet, "=" padding, no line breaks.
#include <string>

#include "services/files.h"

namespace orvo::services {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
// Input bytes per write: whole groups of three, so only the last write carries padding.
constexpr size_t kChunk = 3 * 4096;

}  // namespace

std::string Base64(const uint8_t* buffer, size_t count) {
  std::string out;
  out.reserve((count + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= count; i += 3) {
    uint32_t v = uint32_t{buffer[i]} << 16 | uint32_t{buffer[i + 1]} << 8 | buffer[i + 2];
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i < count) {
    uint32_t v = uint32_t{buffer[i]} << 16;
    if (i + 1 < count) v |= uint32_t{buffer[i + 1]} << 8;
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < count ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

int32_t WriteBase64(OpenFileState& f, const uint8_t* buffer, uint32_t count) {
  int64_t total = 0;
  for (size_t at = 0; at < count; at += kChunk) {
    size_t take = count - at < kChunk ? count - at : kChunk;
    std::string text = Base64(buffer + at, take);
    int32_t n = WriteFile(f, reinterpret_cast<const uint8_t*>(text.data()),
                          static_cast<uint32_t>(text.size()));
    if (n < 0) return total == 0 ? -1 : static_cast<int32_t>(total);
    total += n;
    if (static_cast<size_t>(n) < text.size()) break;
  }
  return total > INT32_MAX ? INT32_MAX : static_cast<int32_t>(total);
}

}  // namespace orvo::services
