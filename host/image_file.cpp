#include "host/image_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvo::host {

namespace {

constexpr const char* kImageName = "main.ove";

std::FILE* OpenRegularFile(const std::string& path) {
  struct stat st;
  // Checked before opening, so that no device is opened at all.
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
  // Non-blocking and checked again: a FIFO put in its place meanwhile must not make the
  // open wait for a writer.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  const int flags = fcntl(fd, F_GETFL);
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 ||
      fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    close(fd);
    return nullptr;
  }
  std::FILE* file = fdopen(fd, "rb");
  if (!file) close(fd);
  return file;
}

}  // namespace

ImageFile OpenImageFile(const services::FileService& files) {
  ImageFile image;
  if (services::ResolvePath(files, kImageName, true, image.path)) {
    image.file = OpenRegularFile(image.path);
    if (image.file) return image;
  }
  // The installed copy comes through the program folder, on disk or in an archive.
  const int fd = services::InstalledFiles(files)->Open(kImageName);
  if (fd >= 0) {
    image.file = fdopen(fd, "rb");
    if (!image.file) close(fd);
  }
  image.path = image.file ? files.folders.program + kImageName : std::string();
  return image;
}

std::vector<uint8_t> ReadWholeFile(std::FILE* file) {
  std::vector<uint8_t> bytes;
  uint8_t chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
    bytes.insert(bytes.end(), chunk, chunk + n);
  std::fclose(file);
  return bytes;
}

}  // namespace orvo::host
