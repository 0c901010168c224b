// The code image: a fixed 2 MiB buffer and a write position. Every write is
// bounds-checked; a write that does not fit changes nothing and says so.
#pragma once

#include <cstdint>
#include <vector>

#include "sizes.h"

namespace orvo::velda {

class CodeImage {
 public:
  CodeImage() : bytes_(MAXCODEBLOCK, 0) {}

  uint32_t size() const { return size_; }
  // A new pass writes from the start again. The old bytes stay, so the listing
  // of a statement whose length is not a multiple of 4 shows the bytes that
  // follow it, as they were left by the previous pass.
  void Rewind() { size_ = 0; }
  bool Fits(uint64_t count) const { return count <= MAXCODEBLOCK - size_; }

  // Appends the low `width` bytes of value, little-endian.
  bool Append(uint64_t value, unsigned width);
  // Overwrites bytes already inside the buffer (patching a reserved word or a
  // header field); out-of-range parts are dropped.
  void Put(uint32_t offset, uint64_t value, unsigned width);
  uint8_t ByteAt(uint64_t offset) const { return offset < MAXCODEBLOCK ? bytes_[offset] : 0; }
  uint32_t WordAt(uint64_t offset) const;
  const uint8_t* data() const { return bytes_.data(); }

 private:
  std::vector<uint8_t> bytes_;
  uint32_t size_ = 0;
};

}  // namespace orvo::velda
