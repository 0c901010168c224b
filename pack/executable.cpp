#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <vector>

#include "host/game_archive.h"
#include "pack/pack.h"

namespace orvo::pack {

namespace {

// Appends bytes [0, length) of the file at from to out; length -1 copies all of it.
bool CopyInto(std::ofstream& out, const std::string& from, int64_t length) {
  std::ifstream in(from, std::ios::binary);
  if (!in) return false;
  std::vector<char> buffer(1 << 16);
  while (length != 0 && in) {
    const std::streamsize want = length < 0 || length > static_cast<int64_t>(buffer.size())
                                     ? static_cast<std::streamsize>(buffer.size())
                                     : static_cast<std::streamsize>(length);
    in.read(buffer.data(), want);
    const std::streamsize got = in.gcount();
    if (got <= 0) break;
    out.write(buffer.data(), got);
    if (length > 0) length -= got;
  }
  return length <= 0 && out.good();
}

}  // namespace

bool WriteExecutable(const std::string& runtime, const std::string& archive,
                     const std::string& output, std::string& problem) {
  const int fd = open(runtime.c_str(), O_RDONLY | O_CLOEXEC);
  const uint64_t image = fd >= 0 ? host::ElfImageSize(fd) : 0;
  if (fd >= 0) close(fd);
  if (image == 0) {
    problem = runtime + " is no runtime executable";
    return false;
  }
  const std::string temporary = output + ".part";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    // Only the runtime's own image: a runtime that already carries a game gives it up.
    if (!out || !CopyInto(out, runtime, static_cast<int64_t>(image)) ||
        !CopyInto(out, archive, -1)) {
      problem = output + ": cannot be written";
      unlink(temporary.c_str());
      return false;
    }
  }
  if (chmod(temporary.c_str(), 0755) != 0 || std::rename(temporary.c_str(), output.c_str()) != 0) {
    problem = output + ": cannot be written";
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace orvo::pack
