#include "host/game_archive.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "host/folders.h"

namespace orvo::host {

namespace {

constexpr size_t kMaxManifest = 65536;

bool ReadAt(int fd, void* out, size_t size, uint64_t at) {
  return pread(fd, out, size, static_cast<off_t>(at)) == static_cast<ssize_t>(size);
}

bool EndsWithNoCase(const std::string& text, const char* suffix) {
  const size_t n = std::strlen(suffix);
  return text.size() > n && strcasecmp(text.c_str() + text.size() - n, suffix) == 0;
}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

uint64_t ElfImageSize(int fd) {
  Elf64_Ehdr h;
  if (!ReadAt(fd, &h, sizeof h, 0) || std::memcmp(h.e_ident, ELFMAG, SELFMAG) != 0 ||
      h.e_ident[EI_CLASS] != ELFCLASS64)
    return 0;
  // The image ends with the last of its parts: the headers, the segments, the sections.
  uint64_t end = uint64_t{h.e_phoff} + uint64_t{h.e_phnum} * h.e_phentsize;
  end = std::max(end, uint64_t{h.e_shoff} + uint64_t{h.e_shnum} * h.e_shentsize);
  for (unsigned i = 0; i < h.e_phnum; ++i) {
    Elf64_Phdr p;
    if (!ReadAt(fd, &p, sizeof p, h.e_phoff + uint64_t{i} * h.e_phentsize)) return 0;
    end = std::max(end, uint64_t{p.p_offset} + p.p_filesz);
  }
  for (unsigned i = 0; i < h.e_shnum; ++i) {
    Elf64_Shdr s;
    if (!ReadAt(fd, &s, sizeof s, h.e_shoff + uint64_t{i} * h.e_shentsize)) return 0;
    if (s.sh_type != SHT_NOBITS) end = std::max(end, uint64_t{s.sh_offset} + s.sh_size);
  }
  return end;
}

GameArchive ChooseGame(const std::string& executablePath, std::vector<std::string>& arguments) {
  GameArchive game;
  // The file really running, whatever name or link it was started through.
  const int fd = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    struct stat st;
    const uint64_t image = ElfImageSize(fd);
    if (fstat(fd, &st) == 0 && image > 0 && static_cast<uint64_t>(st.st_size) > image) {
      char self[4096];
      const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
      game.path = n > 0 ? std::string(self, static_cast<size_t>(n)) : executablePath;
      game.offset = image;
    }
    close(fd);
    if (!game.path.empty()) return game;
  }
  if (arguments.empty() || !EndsWithNoCase(arguments[0], kArchiveExtension)) return game;
  if (IsRegularFile(ProgramFolderOf(executablePath) + "main.ove")) return game;
  game.path = arguments[0];
  if (!IsRegularFile(game.path)) game.problem = "there is no such file";
  arguments.erase(arguments.begin());
  return game;
}

bool OpenGameArchive(const GameArchive& where, OpenedGame& out, std::string& problem) {
  std::string why = where.problem;
  if (why.empty()) {
    std::unique_ptr<services::ArchiveFiles> files =
        services::ArchiveFiles::Open(where.path, where.offset, -1, why);
    out.files = std::move(files);
  }
  std::string text;
  services::ProgramEntry manifest;
  if (why.empty() && (!out.files->Find(services::kManifestName, manifest) || manifest.folder))
    why = std::string("it has no ") + services::kManifestName;
  else if (why.empty() && (manifest.size > static_cast<int64_t>(kMaxManifest) ||
                           !out.files->Read(services::kManifestName, text)))
    why = std::string("its ") + services::kManifestName + " cannot be read";
  else if (why.empty() && !services::ParseManifest(text, out.manifest, why))
    why = std::string("its ") + services::kManifestName + " cannot be used: " + why;
  if (why.empty()) return true;
  out.files.reset();
  problem = (where.offset > 0 ? "The game appended to " : "The game archive ") + where.path +
            " cannot be run: " + why + ".";
  return false;
}

}  // namespace orvo::host
