// A file of bytes held for reading only: the game archive hands its entries out as such
// descriptors, so reads, seeks and sizes work as on disk and nothing can write to them.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <string_view>

namespace orvo::services {

// A read-only descriptor of the bytes positioned at the start, or -1. Natively a sealed
// file in memory; in the web build a file of the in-memory file system, already unlinked.
int SealedFile(std::string_view bytes);

// Writes all of data; false on any failure.
inline bool WriteFully(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace orvo::services
