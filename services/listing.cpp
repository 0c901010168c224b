// The merged folder listing: the data folder's matches first, then the installation's
// that are not already listed, so a user's copy hides the installed file of that name.
#include <algorithm>
#include <memory>
#include <string>
#include <unordered_set>

#include "services/files.h"
#include "services/path.h"

namespace orvo::services {

namespace {

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

uint32_t Attributes(const ProgramEntry& entry, std::string_view name) {
  uint32_t a = entry.folder ? ATTR_FOLDER : ATTR_ARCHIVE;
  if (!entry.writable) a |= ATTR_READONLY;
  if (!name.empty() && name[0] == '.') a |= ATTR_HIDDEN;
  return a;
}

// Appends the matches of pattern in one folder, sorted without regard to case (the
// order the program's own platform listed them in), skipping names already listed.
void Enumerate(FileService& fs, std::string_view pattern, const ProgramFiles& files,
               uint32_t source, std::unordered_set<std::string>& seen) {
  size_t cut = pattern.find_last_of("/\\");
  std::string_view folderPart = cut == std::string_view::npos ? "" : pattern.substr(0, cut);
  std::string_view mask = cut == std::string_view::npos ? pattern : pattern.substr(cut + 1);
  if (mask.empty()) return;
  std::vector<ProgramListing> entries;
  if (!files.List(folderPart, entries)) return;
  std::vector<ProgramListing> names;
  for (ProgramListing& item : entries) {
    // The entry's field holds the name and its terminator; longer names cannot be
    // handed out whole, and a cut one would name a different file.
    if (item.name.size() + 1 > LIST_NAME_FIELD) continue;
    if (WildcardMatch(mask, item.name)) names.push_back(std::move(item));
  }
  std::sort(names.begin(), names.end(), [](const ProgramListing& a, const ProgramListing& b) {
    int c = CompareNoCase(a.name, b.name);
    return c != 0 ? c < 0 : a.name < b.name;
  });
  for (ProgramListing& item : names) {
    if (!seen.insert(LowerAscii(item.name)).second) continue;
    ListEntry e;
    e.source = source;
    e.attributes = Attributes(item.entry, item.name);
    e.name = std::move(item.name);
    fs.listing.push_back(std::move(e));
  }
}

}  // namespace

bool ListFirst(FileService& fs, std::string_view pattern, ListEntry& first) {
  ListClose(fs);
  if (!NameStaysInside(pattern)) return false;
  std::unordered_set<std::string> seen;
  if (fs.archive || fs.folders.data != fs.folders.program)
    Enumerate(fs, pattern, FolderFiles(fs.folders.data), SOURCE_DATA, seen);
  Enumerate(fs, pattern, *InstalledFiles(fs), SOURCE_PROGRAM, seen);
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
