// Uncompressed Windows BMP: 24-bit files load with opaque alpha, 32-bit files keep theirs;
// saving writes 32-bit files with bottom-up rows.
#include <sys/types.h>

#include <climits>
#include <cstring>

#include "gfx/picture.h"
#include "vm/memory.h"

namespace orvo::gfx {

namespace {

constexpr size_t kFileHeader = 14;
constexpr size_t kInfoHeader = 40;
constexpr uint32_t kPixelsPerMetre = 2947;  // 75 dots per inch

bool ReadExactly(std::FILE* f, void* data, size_t length) {
  return std::fread(data, 1, length, f) == length;
}

// The real length of the file, or -1 when it cannot be told.
int64_t FileLength(std::FILE* f) {
  const off_t here = ftello(f);
  if (here < 0 || fseeko(f, 0, SEEK_END) != 0) return -1;
  const off_t end = ftello(f);
  if (fseeko(f, here, SEEK_SET) != 0) return -1;
  return end;
}

}  // namespace

bool DecodeBmp(std::FILE* f, Picture& out, uint64_t maxBytes) {
  uint8_t header[kFileHeader];
  if (!ReadExactly(f, header, sizeof header) || header[0] != 'B' || header[1] != 'M') return false;
  const uint32_t fileSize = vm::Load32(header + 2);
  const uint32_t offset = vm::Load32(header + 10);
  // Every size in the headers is checked against the file's real length before it is
  // used for an allocation or a read, so a file that lies about them is refused.
  const int64_t length = FileLength(f);
  if (length < 0 || offset < kFileHeader + kInfoHeader || offset > fileSize || fileSize > length)
    return false;
  std::vector<uint8_t> info(offset - kFileHeader);
  if (!ReadExactly(f, info.data(), info.size())) return false;
  const uint32_t infoSize = vm::Load32(info.data());
  const int32_t width = static_cast<int32_t>(vm::Load32(info.data() + 4));
  int32_t height = static_cast<int32_t>(vm::Load32(info.data() + 8));
  const uint16_t bits = vm::Load16(info.data() + 14);
  const uint32_t compression = vm::Load32(info.data() + 16);
  const uint32_t imageSize = vm::Load32(info.data() + 20);
  // Only the two layouts the rows are copied for: 24 bits (three bytes a pixel) and 32.
  if (infoSize < kInfoHeader || compression != 0 || (bits != 24 && bits != 32)) return false;
  // A negative height marks rows stored top-down.
  const bool topDown = height < 0;
  if (height == INT32_MIN) return false;
  if (topDown) height = -height;
  if (width <= 0 || height <= 0) return false;
  const uint64_t surfaceBytes = uint64_t(width) * uint64_t(height) * 4;
  if (surfaceBytes > maxBytes || surfaceBytes > INT32_MAX) return false;

  const uint64_t pixelBytes = uint64_t(width) * (bits / 8);
  // Without a size in the header, rows are padded to whole words of their own bit count.
  const uint64_t rowLength =
      imageSize == 0 ? (uint64_t(width) * bits + 31) / 32 * 4 : imageSize / uint64_t(height);
  const uint64_t dataLength = fileSize - offset;
  if (rowLength < pixelBytes || (uint64_t(height) - 1) * rowLength + pixelBytes > dataLength)
    return false;
  std::vector<uint8_t> data(dataLength);
  if (!ReadExactly(f, data.data(), data.size())) return false;

  out.width = width;
  out.height = height;
  out.bgra.assign(surfaceBytes, 0);
  for (int32_t y = 0; y < height; ++y) {
    const int32_t fileRow = topDown ? y : height - 1 - y;
    const uint8_t* from = data.data() + uint64_t(fileRow) * rowLength;
    uint8_t* to = out.bgra.data() + uint64_t(y) * uint64_t(width) * 4;
    if (bits == 32) {
      std::memcpy(to, from, uint64_t(width) * 4);
      continue;
    }
    for (int32_t x = 0; x < width; ++x, from += 3, to += 4) {
      to[0] = from[0];
      to[1] = from[1];
      to[2] = from[2];
      to[3] = 255;
    }
  }
  return true;
}

std::vector<uint8_t> BmpHeader(int32_t width, int32_t height) {
  const uint32_t stride = static_cast<uint32_t>(width) * 4;
  const uint32_t pixels = static_cast<uint32_t>(height) * stride;
  std::vector<uint8_t> h(BMP_HEADER_SIZE, 0);
  h[0] = 'B';
  h[1] = 'M';
  vm::Store32(&h[2], static_cast<uint32_t>(BMP_HEADER_SIZE) + pixels);
  vm::Store32(&h[10], static_cast<uint32_t>(BMP_HEADER_SIZE));
  vm::Store32(&h[14], static_cast<uint32_t>(kInfoHeader));
  vm::Store32(&h[18], static_cast<uint32_t>(width));
  vm::Store32(&h[22], static_cast<uint32_t>(height));
  vm::Store16(&h[26], 1);
  vm::Store16(&h[28], 32);
  vm::Store32(&h[34], pixels);
  vm::Store32(&h[38], kPixelsPerMetre);
  vm::Store32(&h[42], kPixelsPerMetre);
  return h;
}

}  // namespace orvo::gfx
