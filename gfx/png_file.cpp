// Screenshots as PNG files, replaced whole, whichever codec encodes them.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "gfx/picture.h"

namespace orvo::gfx {

namespace {

bool WriteAll(int fd, const uint8_t* data, size_t length) {
  while (length > 0) {
    ssize_t n = write(fd, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool WritePng(const std::string& path, const uint8_t* bgra, int32_t width, int32_t height,
              int32_t stride) {
  if (width <= 0 || height <= 0 || stride < width * 4 || !bgra) return false;
  std::vector<uint8_t> rgba(size_t(width) * size_t(height) * 4);
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* from = bgra + size_t(y) * size_t(stride);
    uint8_t* to = rgba.data() + size_t(y) * size_t(width) * 4;
    for (int32_t x = 0; x < width; ++x, from += 4, to += 4) {
      to[0] = from[2];
      to[1] = from[1];
      to[2] = from[0];
      to[3] = 255;
    }
  }
  std::vector<uint8_t> png;
  if (!EncodePng(rgba.data(), width, height, png)) return false;
  // Written beside the target and renamed over it, so an old screenshot is replaced only
  // by a complete new one.
  std::string temporary = path + ".XXXXXX";
  int fd = mkstemp(temporary.data());
  if (fd < 0) return false;
  bool ok = fchmod(fd, 0644) == 0 && WriteAll(fd, png.data(), png.size()) && fsync(fd) == 0;
  if (close(fd) != 0) ok = false;
  if (ok && rename(temporary.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) unlink(temporary.c_str());
  return ok;
}

}  // namespace orvo::gfx
