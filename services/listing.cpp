// The merged folder listing: the data folder's matches first, then the installation's
// that are not already listed, so a user's copy hides the installed file of that name.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <string>
#include <unordered_set>

#include "services/files.h"
#include "services/path.h"

namespace orvo::services {

namespace {

struct DirCloser {
  void operator()(DIR* d) const { closedir(d); }
};

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

uint32_t Attributes(const std::string& path, std::string_view name) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 && lstat(path.c_str(), &st) != 0) return ATTR_ARCHIVE;
  uint32_t a = S_ISDIR(st.st_mode) ? ATTR_FOLDER : ATTR_ARCHIVE;
  if ((st.st_mode & S_IWUSR) == 0) a |= ATTR_READONLY;
  if (!name.empty() && name[0] == '.') a |= ATTR_HIDDEN;
  return a;
}

// Appends the matches of pattern in one folder, sorted without regard to case (the
// order the program's own platform listed them in), skipping names already listed.
void Enumerate(FileService& fs, std::string_view pattern, bool data,
               std::unordered_set<std::string>& seen) {
  size_t cut = pattern.find_last_of("/\\");
  std::string_view folderPart = cut == std::string_view::npos ? "" : pattern.substr(0, cut);
  std::string_view mask = cut == std::string_view::npos ? pattern : pattern.substr(cut + 1);
  if (mask.empty()) return;
  std::string folder;
  if (!ResolvePath(fs, folderPart, data, folder)) return;
  if (folder.back() != '/') folder += '/';
  std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
  if (!dir) return;
  std::vector<std::string> names;
  while (const dirent* e = readdir(dir.get())) {
    std::string_view name(e->d_name);
    // The entry's field holds the name and its terminator; longer names cannot be
    // handed out whole, and a cut one would name a different file.
    if (name.size() + 1 > LIST_NAME_FIELD) continue;
    if (WildcardMatch(mask, name)) names.emplace_back(name);
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    int c = CompareNoCase(a, b);
    return c != 0 ? c < 0 : a < b;
  });
  for (std::string& name : names) {
    if (!seen.insert(LowerAscii(name)).second) continue;
    ListEntry e;
    e.source = data ? SOURCE_DATA : SOURCE_PROGRAM;
    e.attributes = Attributes(folder + name, name);
    e.name = std::move(name);
    fs.listing.push_back(std::move(e));
  }
}

}  // namespace

bool ListFirst(FileService& fs, std::string_view pattern, ListEntry& first) {
  ListClose(fs);
  if (!NameStaysInside(pattern)) return false;
  std::unordered_set<std::string> seen;
  if (fs.folders.data != fs.folders.program) Enumerate(fs, pattern, true, seen);
  Enumerate(fs, pattern, false, seen);
  return ListNext(fs, first);
}

bool ListNext(FileService& fs, ListEntry& next) {
  if (fs.listNext >= fs.listing.size()) return false;
  next = fs.listing[fs.listNext++];
  return true;
}

void ListClose(FileService& fs) {
  fs.listing.clear();
  fs.listing.shrink_to_fit();
  fs.listNext = 0;
}

}  // namespace orvo::services
