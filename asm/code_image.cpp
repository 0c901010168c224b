#include "code_image.h"

namespace orvo::velda {

bool CodeImage::Append(uint64_t value, unsigned width) {
  if (!Fits(width)) return false;
  Put(size_, value, width);
  size_ += width;
  return true;
}

void CodeImage::Put(uint32_t offset, uint64_t value, unsigned width) {
  for (unsigned i = 0; i < width; ++i) {
    uint64_t at = uint64_t{offset} + i;
    if (at < MAXCODEBLOCK) bytes_[at] = static_cast<uint8_t>(value >> ((8 * i) & 63));
  }
}

uint32_t CodeImage::WordAt(uint64_t offset) const {
  return uint32_t{ByteAt(offset)} | uint32_t{ByteAt(offset + 1)} << 8 |
         uint32_t{ByteAt(offset + 2)} << 16 | uint32_t{ByteAt(offset + 3)} << 24;
}

}  // namespace orvo::velda
