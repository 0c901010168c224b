#include "host/screenshot.h"

#include <spng.h>

#include <cstdio>
#include <vector>

namespace orvo::host {

// The window shows the screen without its alpha byte, so the picture leaves it out too.
bool WriteScreenshot(const std::string& file, const uint8_t* bgra, int32_t width, int32_t height,
                     int32_t stride) {
  if (!bgra || width <= 0 || height <= 0) return false;
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* in = bgra + static_cast<size_t>(y) * static_cast<size_t>(stride);
    uint8_t* out = rgb.data() + static_cast<size_t>(y) * static_cast<size_t>(width) * 3;
    for (int32_t x = 0; x < width; ++x, in += 4, out += 3) {
      out[0] = in[2];
      out[1] = in[1];
      out[2] = in[0];
    }
  }
  std::FILE* f = std::fopen(file.c_str(), "wb");
  if (!f) return false;
  spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
  spng_ihdr ihdr{};
  ihdr.width = static_cast<uint32_t>(width);
  ihdr.height = static_cast<uint32_t>(height);
  ihdr.bit_depth = 8;
  ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
  bool ok = ctx && spng_set_png_file(ctx, f) == 0 && spng_set_ihdr(ctx, &ihdr) == 0 &&
            spng_encode_image(ctx, rgb.data(), rgb.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE) == 0;
  spng_ctx_free(ctx);
  ok = std::fclose(f) == 0 && ok;
  return ok;
}

}  // namespace orvo::host
