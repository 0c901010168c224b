#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "services/files_posix.h"
#include "services/path.h"
#include "services/program_files.h"

namespace orvo::services {

namespace {

struct DirCloser {
  void operator()(DIR* d) const { closedir(d); }
};

ProgramEntry EntryOf(const struct stat& st) {
  ProgramEntry e;
  e.folder = S_ISDIR(st.st_mode);
  e.writable = (st.st_mode & S_IWUSR) != 0;
  e.size = static_cast<int64_t>(st.st_size);
  e.mtime = static_cast<int64_t>(st.st_mtim.tv_sec);
  return e;
}

}  // namespace

bool FolderFiles::Find(std::string_view name, ProgramEntry& out) const {
  std::string path;
  struct stat st;
  if (!ResolvePath(name, folder_, path) || stat(path.c_str(), &st) != 0) return false;
  out = EntryOf(st);
  return true;
}

int FolderFiles::Open(std::string_view name) const {
  std::string path;
  return ResolvePath(name, folder_, path) ? OpenPath(path, O_RDONLY) : -1;
}

bool FolderFiles::List(std::string_view folder, std::vector<ProgramListing>& out) const {
  std::string path;
  if (!ResolvePath(folder, folder_, path)) return false;
  if (path.back() != '/') path += '/';
  std::unique_ptr<DIR, DirCloser> dir(opendir(path.c_str()));
  if (!dir) return false;
  while (const dirent* e = readdir(dir.get())) {
    ProgramListing item;
    item.name = e->d_name;
    struct stat st;
    const std::string full = path + item.name;
    if (stat(full.c_str(), &st) == 0 || lstat(full.c_str(), &st) == 0)
      item.entry = EntryOf(st);
    else
      item.entry.writable = true;  // vanished meanwhile: listed as a plain file
    out.push_back(std::move(item));
  }
  return true;
}

std::string FolderFiles::PathOf(std::string_view name) const {
  std::string path;
  return ResolvePath(name, folder_, path) && IsRegularFile(path) ? path : std::string();
}

void FolderFiles::Remove(std::string_view name) const {
  std::string path;
  if (ResolvePath(name, folder_, path)) unlink(path.c_str());
}

}  // namespace orvo::services
