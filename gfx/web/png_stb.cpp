// PNG in the web build through stb_image and stb_image_write: decoding to 8-bit RGBA from
// an open file (16-bit samples keep their high byte and the transparency chunk applies,
// as with the native decoder, so pixels come out the same), encoding 8-bit RGBA into
// memory.
#include <algorithm>
#include <climits>

#include "gfx/picture.h"
#include "stb_image.h"
#include "stb_image_write.h"

namespace orvo::gfx {

namespace {

void Append(void* context, void* data, int size) {
  auto* png = static_cast<std::vector<uint8_t>*>(context);
  const auto* bytes = static_cast<const uint8_t*>(data);
  png->insert(png->end(), bytes, bytes + size);
}

}  // namespace

bool DecodePng(std::FILE* file, Picture& out, uint64_t maxBytes) {
  const long start = std::ftell(file);
  int width = 0, height = 0, channels = 0;
  // Nothing is allocated for a picture no surface could hold.
  if (!stbi_info_from_file(file, &width, &height, &channels)) return false;
  const uint64_t size = uint64_t(width) * uint64_t(height) * 4;
  if (size == 0 || size > maxBytes || size > INT32_MAX) return false;
  if (std::fseek(file, start, SEEK_SET) != 0) return false;
  stbi_uc* rgba = stbi_load_from_file(file, &width, &height, &channels, 4);
  if (!rgba) return false;
  out.width = width;
  out.height = height;
  out.bgra.assign(rgba, rgba + size);
  stbi_image_free(rgba);
  for (size_t i = 0; i < size; i += 4) std::swap(out.bgra[i], out.bgra[i + 2]);
  return true;
}

bool EncodePng(const uint8_t* rgba, int32_t width, int32_t height, std::vector<uint8_t>& png) {
  if (width <= 0 || height <= 0) return false;
  png.clear();
  return stbi_write_png_to_func(Append, &png, width, height, 4, rgba, width * 4) != 0;
}

}  // namespace orvo::gfx
