// PNG through libspng: decoding to 8-bit RGBA from an open file, encoding 8-bit RGBA into
// memory.
#include <spng.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "gfx/picture.h"

namespace orvo::gfx {

namespace {

// Both chunk limits (one chunk, and all cached chunks together).
constexpr size_t kChunkLimit = 0x4000000;

struct ContextFree {
  void operator()(spng_ctx* c) const { spng_ctx_free(c); }
};
using Context = std::unique_ptr<spng_ctx, ContextFree>;

}  // namespace

bool DecodePng(std::FILE* file, Picture& out, uint64_t maxBytes) {
  Context ctx(spng_ctx_new(0));
  if (!ctx) return false;
  // Damaged checksums do not stop a picture that decodes.
  if (spng_set_crc_action(ctx.get(), SPNG_CRC_USE, SPNG_CRC_USE) != 0 ||
      spng_set_chunk_limits(ctx.get(), kChunkLimit, kChunkLimit) != 0 ||
      spng_set_png_file(ctx.get(), file) != 0)
    return false;
  spng_ihdr ihdr{};
  if (spng_get_ihdr(ctx.get(), &ihdr) != 0) return false;
  spng_plte plte{};
  const int palette = spng_get_plte(ctx.get(), &plte);
  if (palette != 0 && palette != SPNG_ECHUNKAVAIL) return false;
  size_t size = 0;
  if (spng_decoded_image_size(ctx.get(), SPNG_FMT_RGBA8, &size) != 0) return false;
  const uint64_t expected = uint64_t(ihdr.width) * uint64_t(ihdr.height) * 4;
  // Nothing is allocated for a picture no surface could hold.
  if (size != expected || size == 0 || size > maxBytes || size > INT32_MAX) return false;
  std::vector<uint8_t> rgba(size);
  // The transparency chunk is applied: without it a palette or colour-keyed picture
  // would come out opaque where its file says it is transparent.
  if (spng_decode_image(ctx.get(), rgba.data(), rgba.size(), SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) != 0)
    return false;
  for (size_t i = 0; i < size; i += 4) std::swap(rgba[i], rgba[i + 2]);
  out.width = static_cast<int32_t>(ihdr.width);
  out.height = static_cast<int32_t>(ihdr.height);
  out.bgra = std::move(rgba);
  return true;
}

bool EncodePng(const uint8_t* rgba, int32_t width, int32_t height, std::vector<uint8_t>& png) {
  if (width <= 0 || height <= 0) return false;
  Context ctx(spng_ctx_new(SPNG_CTX_ENCODER));
  if (!ctx || spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1) != 0) return false;
  spng_ihdr ihdr{};
  ihdr.width = static_cast<uint32_t>(width);
  ihdr.height = static_cast<uint32_t>(height);
  ihdr.bit_depth = 8;
  ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
  if (spng_set_ihdr(ctx.get(), &ihdr) != 0) return false;
  const size_t length = size_t(width) * size_t(height) * 4;
  if (spng_encode_image(ctx.get(), rgba, length, SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE) != 0)
    return false;
  size_t size = 0;
  int error = 0;
  void* buffer = spng_get_png_buffer(ctx.get(), &size, &error);
  if (!buffer || error != 0) {
    std::free(buffer);
    return false;
  }
  const uint8_t* bytes = static_cast<const uint8_t*>(buffer);
  png.assign(bytes, bytes + size);
  std::free(buffer);
  return true;
}

}  // namespace orvo::gfx
