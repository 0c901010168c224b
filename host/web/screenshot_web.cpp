// Screenshots in the web build: the same opaque picture, encoded by the web build's PNG
// writer.
#include "gfx/picture.h"
#include "host/screenshot.h"

namespace orvo::host {

bool WriteScreenshot(const std::string& file, const uint8_t* bgra, int32_t width, int32_t height,
                     int32_t stride) {
  return gfx::WritePng(file, bgra, width, height, stride);
}

}  // namespace orvo::host
