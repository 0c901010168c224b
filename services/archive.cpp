#include "services/archive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "services/sealed_file.h"
#include "services/zip_library.h"

namespace orvo::services {

namespace {

constexpr uint8_t kUnixHost = 3;  // the "made by" system whose attributes carry a mode
constexpr size_t kReadChunk = 65536;

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string ZipProblem(const ZipLibrary& zip, zip_error_t* error) {
  std::string text = zip.zip_error_strerror(error);
  zip.zip_error_fini(error);
  return text;
}

// A private folder for extracted files, in the user's runtime folder when there is one.
std::string MakePrivateFolder() {
  const char* base = std::getenv("XDG_RUNTIME_DIR");
  if (!base || !*base) base = std::getenv("TMPDIR");
  if (!base || !*base) base = "/tmp";
  std::string name = std::string(base) + "/orvo-game-XXXXXX";
  return mkdtemp(name.data()) ? name : std::string();
}

}  // namespace

bool ArchiveKey(std::string_view name, std::string& key) {
  key.clear();
  if (!name.empty() && IsSeparator(name[0])) return false;
  if (name.size() >= 2 && name[1] == ':') return false;
  size_t start = 0;
  while (start < name.size()) {
    size_t end = start;
    while (end < name.size() && !IsSeparator(name[end])) ++end;
    const std::string_view part = name.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") return false;
    if (!key.empty()) key += '/';
    for (char c : part) key += Lower(c);
  }
  return true;
}

std::unique_ptr<ArchiveFiles> ArchiveFiles::FromSource(const ZipLibrary& zip, zip_source_t* source,
                                                       zip_error_t* error, std::string& problem,
                                                       const ArchiveLimits& limits) {
  if (!source) {
    problem = ZipProblem(zip, error);
    return nullptr;
  }
  std::unique_ptr<ArchiveFiles> a(new ArchiveFiles);
  a->zip_ = &zip;
  a->archive_ = zip.zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, error);
  if (!a->archive_) {
    zip.zip_source_free(source);
    problem = ZipProblem(zip, error);
    return nullptr;
  }
  zip.zip_error_fini(error);
  if (!a->Index(limits, problem)) return nullptr;
  return a;
}

std::unique_ptr<ArchiveFiles> ArchiveFiles::Open(const std::string& path, uint64_t offset,
                                                 int64_t length, std::string& problem,
                                                 const ArchiveLimits& limits) {
  const ZipLibrary* zip = Zip(problem);
  if (!zip) return nullptr;
  zip_error_t error;
  zip->zip_error_init(&error);
  return FromSource(*zip, zip->zip_source_file_create(path.c_str(), offset, length, &error),
                    &error, problem, limits);
}

std::unique_ptr<ArchiveFiles> ArchiveFiles::FromBytes(const void* data, size_t size,
                                                      std::string& problem,
                                                      const ArchiveLimits& limits) {
  const ZipLibrary* zip = Zip(problem);
  if (!zip) return nullptr;
  zip_error_t error;
  zip->zip_error_init(&error);
  return FromSource(*zip, zip->zip_source_buffer_create(data, size, 0, &error), &error, problem,
                    limits);
}

ArchiveFiles::~ArchiveFiles() {
  if (archive_) zip_->zip_discard(archive_);
  if (!extracted_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(extracted_, ignored);
  }
}

bool ArchiveFiles::Index(const ArchiveLimits& limits, std::string& problem) {
  const zip_int64_t count = zip_->zip_get_num_entries(archive_, 0);
  if (count < 0 || static_cast<uint64_t>(count) > limits.entries) {
    problem = "it holds more than " + std::to_string(limits.entries) + " entries";
    return false;
  }
  uint64_t total = 0;
  for (zip_int64_t i = 0; i < count; ++i) {
    zip_stat_t st;
    zip_->zip_stat_init(&st);
    if (zip_->zip_stat_index(archive_, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW, &st) != 0 ||
        !(st.valid & ZIP_STAT_NAME) || !(st.valid & ZIP_STAT_SIZE)) {
      problem = "entry " + std::to_string(i) + " cannot be read";
      return false;
    }
    std::string name = st.name;
    if (name.size() > limits.nameLength) {
      problem = "an entry's name is longer than " + std::to_string(limits.nameLength) + " bytes";
      return false;
    }
    const bool folder = !name.empty() && IsSeparator(name.back());
    std::string key;
    if (!ArchiveKey(name, key) || key.empty()) {
      problem = "the entry \"" + name + "\" would lie outside the archive";
      return false;
    }
    size_t depth = 1;
    for (char c : key) depth += c == '/';
    if (depth > limits.depth) {
      problem = "the entry \"" + name + "\" lies deeper than " + std::to_string(limits.depth) +
                " folders";
      return false;
    }
    zip_uint8_t system = 0;
    zip_uint32_t attributes = 0;
    if (zip_->zip_file_get_external_attributes(archive_, static_cast<zip_uint64_t>(i), 0, &system,
                                         &attributes) == 0 &&
        system == kUnixHost) {
      const mode_t mode = static_cast<mode_t>(attributes >> 16);
      if (S_ISLNK(mode) || (mode != 0 && !S_ISREG(mode) && !S_ISDIR(mode))) {
        problem = "the entry \"" + name + "\" is a link or a special file";
        return false;
      }
    }
    if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE) {
      problem = "the entry \"" + name + "\" is encrypted";
      return false;
    }
    if (!folder && st.size > limits.entrySize) {
      problem = "the entry \"" + name + "\" declares " + std::to_string(st.size) +
                " bytes, more than a game file may hold";
      return false;
    }
    total += folder ? 0 : st.size;
    if (total > limits.totalSize) {
      problem = "its entries declare more than " + std::to_string(limits.totalSize) + " bytes";
      return false;
    }
    Item item;
    item.name = name.substr(0, folder ? name.size() - 1 : name.size());
    item.folder = folder;
    item.index = i;
    item.size = folder ? 0 : st.size;
    item.mtime = (st.valid & ZIP_STAT_MTIME) ? static_cast<int64_t>(st.mtime) : 0;
    // Every folder above the entry exists, whether or not it has an entry of its own.
    for (size_t slash = key.find('/'); slash != std::string::npos;
         slash = key.find('/', slash + 1)) {
      const std::string parent = key.substr(0, slash);
      auto [at, added] = items_.try_emplace(parent);
      if (added) {
        at->second.name = item.name.substr(0, slash);
        at->second.folder = true;
      } else if (!at->second.folder) {
        problem = "\"" + at->second.name + "\" is both a file and a folder";
        return false;
      }
    }
    auto [at, added] = items_.try_emplace(key, item);
    if (!added) {
      // A folder first implied by its files and then stored itself is one folder.
      if (at->second.folder && folder && at->second.index < 0) {
        at->second = item;
        continue;
      }
      problem = at->second.folder != folder
                    ? "\"" + item.name + "\" is both a file and a folder"
                    : "the entries \"" + at->second.name + "\" and \"" + item.name +
                          "\" differ only in case";
      return false;
    }
  }
  return true;
}

const ArchiveFiles::Item* ArchiveFiles::Lookup(std::string_view name) const {
  std::string key;
  if (!ArchiveKey(name, key) || key.empty()) return nullptr;
  auto it = items_.find(key);
  return it == items_.end() ? nullptr : &it->second;
}

bool ArchiveFiles::Find(std::string_view name, ProgramEntry& out) const {
  std::string key;
  if (ArchiveKey(name, key) && key.empty()) {  // the top of the archive itself
    out = ProgramEntry{};
    out.folder = true;
    return true;
  }
  const Item* item = Lookup(name);
  if (!item) return false;
  out = ProgramEntry{};
  out.folder = item->folder;
  out.size = static_cast<int64_t>(item->size);
  out.mtime = item->mtime;
  return true;
}

bool ArchiveFiles::Read(std::string_view name, std::string& out) const {
  out.clear();
  const Item* item = Lookup(name);
  if (!item || item->folder) return false;
  zip_file_t* file = zip_->zip_fopen_index(archive_, static_cast<zip_uint64_t>(item->index), 0);
  if (!file) return false;
  // Never more than declared: one byte beyond it shows the entry lied about its size.
  out.resize(static_cast<size_t>(item->size) + 1);
  size_t done = 0;
  bool ok = true;
  while (done < out.size()) {
    const size_t want = out.size() - done < kReadChunk ? out.size() - done : kReadChunk;
    const zip_int64_t n = zip_->zip_fread(file, out.data() + done, want);
    if (n < 0) ok = false;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  zip_->zip_fclose(file);
  if (!ok || done != item->size) {
    out.clear();
    return false;
  }
  out.resize(done);
  return true;
}

int ArchiveFiles::Open(std::string_view name) const {
  std::string bytes;
  if (!Read(name, bytes)) return -1;
  return SealedFile(bytes);
}

bool ArchiveFiles::List(std::string_view folder, std::vector<ProgramListing>& out) const {
  std::string key;
  if (!ArchiveKey(folder, key)) return false;
  if (!key.empty()) {
    auto it = items_.find(key);
    if (it == items_.end() || !it->second.folder) return false;
    key += '/';
  }
  // The map is ordered by key, so a folder's entries follow one another.
  for (auto it = items_.lower_bound(key); it != items_.end(); ++it) {
    if (it->first.compare(0, key.size(), key) != 0) break;
    if (it->first.find('/', key.size()) != std::string::npos) continue;
    ProgramListing listed;
    const std::string& stored = it->second.name;
    const size_t slash = stored.find_last_of("/\\");
    listed.name = slash == std::string::npos ? stored : stored.substr(slash + 1);
    listed.entry.folder = it->second.folder;
    listed.entry.size = static_cast<int64_t>(it->second.size);
    listed.entry.mtime = it->second.mtime;
    out.push_back(std::move(listed));
  }
  return true;
}

std::string ArchiveFiles::PathOf(std::string_view name) const {
  std::string key;
  const Item* item = Lookup(name);
  if (!item || item->folder || !ArchiveKey(name, key)) return "";
  auto known = paths_.find(key);
  if (known != paths_.end()) return known->second;
  if (extracted_.empty()) extracted_ = MakePrivateFolder();
  if (extracted_.empty()) return "";
  std::string bytes;
  if (!Read(name, bytes)) return "";
  // The key is checked to stay inside, so the copy lands in the private folder.
  const std::string path = extracted_ + "/" + key;
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return "";
  const bool ok = WriteFully(fd, bytes.data(), bytes.size());
  if (close(fd) != 0 || !ok) {
    unlink(path.c_str());
    return "";
  }
  paths_.emplace(key, path);
  return path;
}

std::vector<std::string> ArchiveFiles::FileNames() const {
  std::vector<std::string> names;
  for (const auto& [key, item] : items_)
    if (!item.folder) names.push_back(item.name);
  return names;
}

}  // namespace orvo::services
