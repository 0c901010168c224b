// Shared by the picture fuzz targets: the size limit, the check that ends the run on a
// broken promise, and decoding from bytes in memory as from a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "gfx/picture.h"

namespace orvo::fuzz {

inline constexpr uint64_t kLargestPicture = 16u << 20;

inline void Require(bool condition) {
  if (!condition) std::abort();
}

using Decoder = bool (*)(std::FILE*, gfx::Picture&, uint64_t);

inline bool DecodeBytes(Decoder decode, const uint8_t* data, size_t size, gfx::Picture& out) {
  std::FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (!f) return false;
  const bool ok = decode(f, out, kLargestPicture);
  std::fclose(f);
  return ok;
}

// A decoded picture has exactly width × height pixels within the limit.
inline void RequireWhole(const gfx::Picture& p) {
  Require(p.width > 0 && p.height > 0);
  Require(p.bgra.size() == size_t(p.width) * size_t(p.height) * 4);
  Require(p.bgra.size() <= kLargestPicture);
}

}  // namespace orvo::fuzz
