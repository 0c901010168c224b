// libFuzzer target: arbitrary bytes as a PNG file, decoded through libspng as the picture
// loader sets it up. A file it accepts must give exactly width × height pixels within
// the size limit, and those pixels, encoded as the runtime saves PNG files and decoded
// again, must come back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "tests/fuzz/picture_fuzz.h"

namespace {

using orvo::fuzz::Require;
using orvo::gfx::Picture;

bool Decode(const uint8_t* data, size_t size, Picture& out) {
  return orvo::fuzz::DecodeBytes(orvo::gfx::DecodePng, data, size, out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  Picture picture;
  if (!Decode(data, size, picture)) return 0;
  orvo::fuzz::RequireWhole(picture);

  std::vector<uint8_t> rgba = picture.bgra;
  for (size_t i = 0; i < rgba.size(); i += 4) std::swap(rgba[i], rgba[i + 2]);
  std::vector<uint8_t> png;
  Require(orvo::gfx::EncodePng(rgba.data(), picture.width, picture.height, png));
  Picture again;
  Require(Decode(png.data(), png.size(), again));
  Require(again.width == picture.width && again.height == picture.height);
  Require(again.bgra == picture.bgra);
  return 0;
}
