#include "framing.h"

#include <charconv>
#include <cstdint>

namespace orvo::protocol {

namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// The Content-Length of a header block (without its final blank line).
bool ContentLength(std::string_view header, uint64_t& length, std::string& error) {
  bool found = false;
  while (!header.empty()) {
    size_t end = header.find("\r\n");
    std::string_view line = header.substr(0, end);
    header.remove_prefix(end == std::string_view::npos ? header.size() : end + 2);
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
      error = "header line without ':'";
      return false;
    }
    if (!EqualNoCase(Trim(line.substr(0, colon)), "content-length")) continue;
    std::string_view value = Trim(line.substr(colon + 1));
    auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), length);
    if (ec != std::errc() || ptr != value.data() + value.size() || value.empty()) {
      error = "bad Content-Length";
      return false;
    }
    found = true;
  }
  if (!found) error = "no Content-Length";
  return found;
}

}  // namespace

void FrameReader::Feed(std::string_view bytes) {
  if (skip_ > 0) {
    size_t drop = bytes.size() < skip_ ? bytes.size() : static_cast<size_t>(skip_);
    skip_ -= drop;
    bytes.remove_prefix(drop);
  }
  buffer_.append(bytes);
}

void FrameReader::Consume(size_t n) {
  start_ += n;
  // Keep the buffer from growing with consumed bytes.
  if (start_ > 65536 && start_ * 2 > buffer_.size()) {
    buffer_.erase(0, start_);
    start_ = 0;
  }
}

FrameReader::Result FrameReader::Next(std::string& body, std::string& error) {
  std::string_view rest = std::string_view(buffer_).substr(start_);
  if (body_ < 0) {
    size_t end = rest.find("\r\n\r\n");
    if (end == std::string_view::npos) {
      if (rest.size() <= kMaxHeader) return Result::kNeedMore;
      error = "header too long";
      Consume(rest.size());
      return Result::kBadHeader;
    }
    uint64_t length = 0;
    bool ok = ContentLength(rest.substr(0, end), length, error);
    Consume(end + 4);
    if (!ok) return Result::kBadHeader;
    if (length > kMaxBody) {
      error = "message too large";
      // The body is dropped, what is here now and the rest as it arrives.
      rest = std::string_view(buffer_).substr(start_);
      uint64_t have = rest.size() < length ? rest.size() : length;
      Consume(static_cast<size_t>(have));
      skip_ = length - have;
      return Result::kBadHeader;
    }
    body_ = static_cast<long>(length);
    rest = std::string_view(buffer_).substr(start_);
  }
  if (rest.size() < static_cast<size_t>(body_)) return Result::kNeedMore;
  body.assign(rest.substr(0, static_cast<size_t>(body_)));
  Consume(static_cast<size_t>(body_));
  body_ = -1;
  return Result::kMessage;
}

std::string Frame(std::string_view body) {
  std::string out = "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  out.append(body);
  return out;
}

}  // namespace orvo::protocol
