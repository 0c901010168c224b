// The web build has no sealed memory files: the bytes go to a file of the in-memory file
// system, opened again for reading only and unlinked at once, so only the descriptor
// reaches them.
#include <fcntl.h>

#include <cstdlib>
#include <string>

#include "services/sealed_file.h"

namespace orvo::services {

int SealedFile(std::string_view bytes) {
  std::string name = "/tmp/orvo-game-entry-XXXXXX";
  const int out = mkstemp(name.data());
  if (out < 0) return -1;
  const bool written = WriteFully(out, bytes.data(), bytes.size());
  const int fd = written && close(out) == 0 ? open(name.c_str(), O_RDONLY | O_CLOEXEC) : -1;
  if (!written) close(out);
  unlink(name.c_str());
  return fd;
}

}  // namespace orvo::services
