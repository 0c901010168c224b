#include "services/sealed_file.h"

#include <fcntl.h>
#include <sys/mman.h>

namespace orvo::services {

int SealedFile(std::string_view bytes) {
  const int fd = memfd_create("orvo-game-entry", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (fd < 0) return -1;
  if (!WriteFully(fd, bytes.data(), bytes.size()) ||
      fcntl(fd, F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_GROW | F_SEAL_SHRINK | F_SEAL_SEAL) != 0 ||
      lseek(fd, 0, SEEK_SET) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace orvo::services
