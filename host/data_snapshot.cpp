#include "host/data_snapshot.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace orvo::host {

namespace fs = std::filesystem;

namespace {

// What the runtime writes itself: the replay writes them again as the run goes.
constexpr const char* kNotRecorded[] = {"debug.log", "screenshots"};

bool Skipped(const fs::path& relative) {
  const std::string first = relative.begin()->string();
  return std::find(std::begin(kNotRecorded), std::end(kNotRecorded), first) !=
         std::end(kNotRecorded);
}

}  // namespace

bool ReadDataFiles(const std::string& folder, const std::string& skip,
                   std::vector<RecordedFile>& out, std::string& problem) {
  out.clear();
  std::error_code ec;
  const fs::path root = fs::path(folder).lexically_normal();
  const fs::path skipped = skip.empty() ? fs::path() : fs::absolute(skip, ec).lexically_normal();
  uint64_t total = 0;
  for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path relative = it->path().lexically_relative(root);
    if (Skipped(relative)) {
      if (it->is_directory(ec)) it.disable_recursion_pending();
      continue;
    }
    if (!it->is_regular_file(ec) || it->is_symlink(ec) || it->path() == skipped) continue;
    total += it->file_size(ec);
    if (total > kMaxRecordedFiles) {
      problem = "the data folder " + folder + " holds more than the " +
                std::to_string(kMaxRecordedFiles >> 20) + " MB a recording may carry";
      return false;
    }
    std::ifstream in(it->path(), std::ios::binary);
    RecordedFile f{relative.generic_string(),
                   std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {})};
    if (!in.good() && !in.eof()) {
      problem = "cannot read " + it->path().string();
      return false;
    }
    out.push_back(std::move(f));
  }
  std::sort(out.begin(), out.end(),
            [](const RecordedFile& a, const RecordedFile& b) { return a.name < b.name; });
  return true;
}

bool WriteDataFiles(const std::string& folder, const std::vector<RecordedFile>& files,
                    std::string& problem) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (!fs::is_directory(folder, ec)) {
    problem = "cannot make the data folder " + folder;
    return false;
  }
  if (!fs::is_empty(folder, ec)) {
    problem = "the data folder " + folder + " is not empty: a replay starts from the " +
              "recording's files alone";
    return false;
  }
  for (const RecordedFile& f : files) {
    const fs::path path = fs::path(folder) / f.name;
    fs::create_directories(path.parent_path(), ec);
    std::ofstream outFile(path, std::ios::binary);
    outFile.write(reinterpret_cast<const char*>(f.bytes.data()),
                  static_cast<std::streamsize>(f.bytes.size()));
    if (!outFile) {
      problem = "cannot write " + path.string();
      return false;
    }
  }
  return true;
}

}  // namespace orvo::host
