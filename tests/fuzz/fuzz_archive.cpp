// libFuzzer target: arbitrary bytes opened as a game archive. An archive that opens must
// answer for every file it lists: read whole or refused, a descriptor that reads the same
// bytes, its folders listed; its manifest parsed or refused. Nothing is extracted to disk.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "services/archive.h"
#include "services/manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace orvo::services;
  std::string problem;
  // Small limits, so the fuzzer spends its time on the format, not on large entries.
  ArchiveLimits limits;
  limits.entries = 256;
  limits.entrySize = 1 << 20;
  limits.totalSize = 4 << 20;
  std::unique_ptr<ArchiveFiles> a = ArchiveFiles::FromBytes(data, size, problem, limits);
  if (!a) {
    if (problem.empty()) std::abort();
    return 0;
  }
  std::vector<ProgramListing> top;
  if (!a->List("", top)) std::abort();
  for (const std::string& name : a->FileNames()) {
    ProgramEntry entry;
    if (!a->Find(name, entry) || entry.folder) std::abort();
    std::string bytes;
    const bool read = a->Read(name, bytes);
    if (read && bytes.size() != static_cast<size_t>(entry.size)) std::abort();
    const int fd = a->Open(name);
    if (read != (fd >= 0)) std::abort();
    if (fd >= 0) {
      std::string again(bytes.size() + 1, '\0');
      const ssize_t n = ::read(fd, again.data(), again.size());
      close(fd);
      if (n != static_cast<ssize_t>(bytes.size()) || again.compare(0, bytes.size(), bytes) != 0)
        std::abort();
    }
    if (name == kManifestName && read) {
      Manifest m;
      if (ParseManifest(bytes, m, problem) && !ValidGameName(m.name)) std::abort();
    }
  }
  return 0;
}
