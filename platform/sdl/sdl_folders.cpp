#include "platform/sdl/sdl_folders.h"

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string_view>

namespace orvo::platform {
namespace {

// The folder part resolved through the file system (links, "." and ".."), where it exists.
std::string ResolveFolder(const std::string& absolute) {
  const size_t slash = absolute.rfind('/');
  const std::string folder = slash == 0 ? "/" : absolute.substr(0, slash);
  const std::string name = absolute.substr(slash + 1);
  char resolved[PATH_MAX];
  if (!realpath(folder.c_str(), resolved)) return absolute;
  std::string result(resolved);
  if (result.back() != '/') result += '/';
  return result + name;
}

std::string Trim(std::string_view s) {
  const size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string_view::npos) return {};
  const size_t e = s.find_last_not_of(" \t\r");
  return std::string(s.substr(b, e - b + 1));
}

// The value of XDG_DOCUMENTS_DIR in a user-dirs.dirs file: "$HOME/..." or an absolute path,
// in double quotes, with backslash escapes. "" when absent or of another form.
std::string ReadDocumentsDir(const std::string& file, const std::string& home) {
  std::ifstream in(file);
  std::string line, found;
  while (std::getline(in, line)) {
    const std::string t = Trim(line);
    if (t.empty() || t[0] == '#') continue;
    const size_t eq = t.find('=');
    if (eq == std::string::npos || Trim(std::string_view(t).substr(0, eq)) != "XDG_DOCUMENTS_DIR") {
      continue;
    }
    std::string value = Trim(std::string_view(t).substr(eq + 1));
    if (value.size() < 2 || value.front() != '"' || value.back() != '"') continue;
    std::string text;
    for (size_t i = 1; i + 1 < value.size(); ++i) {
      if (value[i] == '\\' && i + 2 < value.size()) ++i;
      text += value[i];
    }
    if (text.rfind("$HOME", 0) == 0 && (text.size() == 5 || text[5] == '/')) {
      found = home + text.substr(5);
    } else if (!text.empty() && text[0] == '/') {
      found = text;
    }  // the last valid line wins, as the shell reading the file would have it
  }
  return found;
}

}  // namespace

std::string AbsoluteStartPath(const std::string& argv0, const std::string& cwd, const char* path) {
  if (argv0.empty()) return {};
  if (argv0.find('/') != std::string::npos) {
    if (argv0[0] == '/') return ResolveFolder(argv0);
    if (cwd.empty()) return {};
    return ResolveFolder(cwd + (cwd.back() == '/' ? "" : "/") + argv0);
  }
  // A bare name was found through PATH: the first entry holding an executable of that name.
  std::string_view rest = path ? path : "";
  while (true) {
    const size_t colon = rest.find(':');
    std::string dir(rest.substr(0, colon));
    if (dir.empty()) dir = cwd;  // an empty entry is the current folder
    if (!dir.empty()) {
      std::string candidate = dir + (dir.back() == '/' ? "" : "/") + argv0;
      if (candidate[0] != '/') candidate = cwd + "/" + candidate;
      if (access(candidate.c_str(), X_OK) == 0) return ResolveFolder(candidate);
    }
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  return {};
}

std::string DocumentsFolderFor(const char* home, const char* configHome) {
  if (!home || home[0] != '/') return {};
  std::string h(home);
  while (h.size() > 1 && h.back() == '/') h.pop_back();
  const std::string config =
      configHome && configHome[0] == '/' ? std::string(configHome) : h + "/.config";
  std::string docs = ReadDocumentsDir(config + "/user-dirs.dirs", h);
  if (docs.empty()) docs = h + (h == "/" ? "" : "/") + "Documents";
  if (docs.back() != '/') docs += '/';
  return docs;
}

std::string ExecutablePathOf(const std::string& argv0) {
  char cwd[PATH_MAX];
  const std::string here = getcwd(cwd, sizeof cwd) ? cwd : "";
  std::string result = AbsoluteStartPath(argv0, here, getenv("PATH"));
  if (!result.empty()) return result;
  char self[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return {};
  return std::string(self, static_cast<size_t>(n));
}

std::string UserDocumentsFolder() {
  return DocumentsFolderFor(getenv("HOME"), getenv("XDG_CONFIG_HOME"));
}

}  // namespace orvo::platform
