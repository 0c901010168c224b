#include "host/folders.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>
#include <vector>

namespace orvo::host {

std::string ProgramFolderOf(const std::string& executablePath) {
  const size_t slash = executablePath.rfind('/');
  if (slash == std::string::npos) return "./";
  return executablePath.substr(0, slash + 1);
}

std::string DataFolderFor(const std::string& programFolder, const std::string& documents) {
  if (documents.empty()) return programFolder;
  std::vector<std::string> names;
  size_t start = 0;
  while (start < programFolder.size()) {
    size_t end = programFolder.find('/', start);
    if (end == std::string::npos) end = programFolder.size();
    if (end > start) names.push_back(programFolder.substr(start, end - start));
    start = end + 1;
  }
  std::string folder = documents;
  if (folder.back() != '/') folder += '/';
  mkdir(folder.c_str(), 0777);  // a fresh account may not have one yet
  const size_t first = names.size() >= 2 ? names.size() - 2 : 0;
  for (size_t i = first; i < names.size(); ++i) {
    folder += names[i] + '/';
    // Usually there already; a failure shows up later when files are written.
    mkdir(folder.c_str(), 0777);
  }
  return folder;
}

std::string AbsoluteFolder(const std::string& folder) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::path path = fs::absolute(folder.empty() ? fs::path(".") : fs::path(folder), error);
  if (error) path = folder;
  // The part that exists is resolved through the file system, the rest only by its text.
  const fs::path resolved = fs::weakly_canonical(path, error);
  std::string text = (error ? path.lexically_normal() : resolved).string();
  while (!text.empty() && text.back() == '/') text.pop_back();
  return text + '/';
}

bool CreateFolders(const std::string& folder, std::string& problem) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::create_directories(folder, error);
  if (!error && fs::is_directory(folder, error)) return true;
  problem = error ? error.message() : std::make_error_code(std::errc::not_a_directory).message();
  return false;
}

}  // namespace orvo::host
