// libFuzzer target: arbitrary bytes as a BMP file. A file the loader accepts must give a
// picture of exactly width × height pixels within the size limit, and that picture,
// written as the runtime writes BMP files and loaded again, must come back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tests/fuzz/picture_fuzz.h"

namespace {

using orvo::fuzz::Require;
using orvo::gfx::Picture;

bool Decode(const uint8_t* data, size_t size, Picture& out) {
  return orvo::fuzz::DecodeBytes(orvo::gfx::DecodeBmp, data, size, out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  Picture picture;
  if (!Decode(data, size, picture)) return 0;
  orvo::fuzz::RequireWhole(picture);
  const size_t row = size_t(picture.width) * 4;

  std::vector<uint8_t> file = orvo::gfx::BmpHeader(picture.width, picture.height);
  for (int32_t y = picture.height - 1; y >= 0; --y)
    file.insert(file.end(), picture.bgra.begin() + ptrdiff_t(size_t(y) * row),
                picture.bgra.begin() + ptrdiff_t(size_t(y + 1) * row));
  Picture again;
  Require(Decode(file.data(), file.size(), again));
  Require(again.width == picture.width && again.height == picture.height);
  Require(again.bgra == picture.bgra);
  return 0;
}
