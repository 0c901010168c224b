// libFuzzer target: arbitrary bytes as an image, run by an ImageSession. The seeds are
// the project's programs and the images in images/, assembled by velda at build time.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/image_session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static orvo::fuzz::ImageSession session;
  session.Run(data, size);
  return 0;
}
