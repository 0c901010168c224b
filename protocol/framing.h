// Messages framed as "Content-Length: N\r\n\r\n" followed by N bytes, the way the
// language server and debug adapter protocols frame JSON-RPC over a byte stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orvo::protocol {

inline constexpr size_t kMaxHeader = 8192;            // bytes of one header block
inline constexpr size_t kMaxBody = 64 * 1024 * 1024;  // a larger message is skipped

// Collects bytes as they arrive and hands out whole message bodies. A malformed
// header block is reported and dropped; reading then goes on with the next one.
class FrameReader {
 public:
  enum class Result { kMessage, kNeedMore, kBadHeader };

  void Feed(std::string_view bytes);
  // kMessage: `body` holds the next message. kBadHeader: `error` says what was wrong.
  Result Next(std::string& body, std::string& error);
  size_t buffered() const { return buffer_.size() - start_; }

 private:
  void Consume(size_t n);

  std::string buffer_;
  size_t start_ = 0;   // bytes before this are consumed
  uint64_t skip_ = 0;  // body bytes of an oversized message still to drop
  long body_ = -1;     // length of the body being waited for, once its header is read
};

// The framed form of a body.
std::string Frame(std::string_view body);

}  // namespace orvo::protocol
