#include "services/path.h"

#include <dirent.h>
#include <limits.h>
#include <sys/stat.h>

#include <memory>

#include "base/utf8.h"

namespace orvo::services {

namespace {

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

struct DirCloser {
  void operator()(DIR* d) const { closedir(d); }
};

// The entry of folder whose name equals component without regard to case. With several
// (a case-sensitive file system can hold "a" and "A"), the byte-wise smallest is taken so
// that the choice does not depend on the order the folder lists them in.
bool FindNoCase(const std::string& folder, std::string_view component, std::string& found) {
  std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
  if (!dir) return false;
  bool any = false;
  while (const dirent* e = readdir(dir.get())) {
    std::string_view entry(e->d_name);
    if (!EqualNoCase(entry, component)) continue;
    if (!any || entry < std::string_view(found)) found.assign(entry);
    any = true;
  }
  return any;
}

bool MatchFrom(std::string_view p, std::string_view n) {
  // Greedy matching with one remembered star: on a mismatch the last star takes one more
  // character. Linear in practice and never recursive.
  size_t pi = 0, ni = 0;
  size_t starP = std::string_view::npos, starN = 0;
  auto stepChar = [&](size_t at) {  // one UTF-8 character starting at n[at]
    size_t next = at + 1;
    while (next < n.size() && utf8::IsContinuation(n[next])) ++next;
    return next;
  };
  while (ni < n.size()) {
    if (pi < p.size() && p[pi] == '*') {
      starP = pi++;
      starN = ni;
    } else if (pi < p.size() && p[pi] == '?') {
      ++pi;
      ni = stepChar(ni);
    } else if (pi < p.size() && Lower(p[pi]) == Lower(n[ni])) {
      ++pi;
      ++ni;
    } else if (starP != std::string_view::npos) {
      pi = starP + 1;
      starN = stepChar(starN);
      ni = starN;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

}  // namespace

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

int CompareNoCase(std::string_view a, std::string_view b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(Lower(a[i]));
    unsigned char y = static_cast<unsigned char>(Lower(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool NameStaysInside(std::string_view name) {
  if (!name.empty() && IsSeparator(name[0])) return false;
  if (name.size() >= 2 && name[1] == ':' && Lower(name[0]) >= 'a' && Lower(name[0]) <= 'z')
    return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = start;
    while (end < name.size() && !IsSeparator(name[end])) ++end;
    if (name.substr(start, end - start) == "..") return false;
    start = end + 1;
  }
  return true;
}

bool ResolvePath(std::string_view name, const std::string& folder, std::string& out) {
  if (!NameStaysInside(name)) return false;
  out = folder;
  bool parentExists = true;  // out names an existing folder: worth looking into
  size_t start = 0;
  bool first = true;
  while (start < name.size()) {
    size_t end = start;
    while (end < name.size() && !IsSeparator(name[end])) ++end;
    std::string_view component = name.substr(start, end - start);
    start = end + 1;
    if (component.empty() || component == ".") continue;
    if (component.size() > NAME_MAX) return false;
    if (!first) out += '/';
    first = false;
    const size_t base = out.size();
    out.append(component);
    if (!parentExists) continue;
    struct stat st;
    if (lstat(out.c_str(), &st) == 0) continue;
    std::string match;
    std::string parent = out.substr(0, base);
    if (FindNoCase(parent, component, match)) {
      out.resize(base);
      out += match;
    } else {
      parentExists = false;
    }
  }
  return out.size() < PATH_MAX;
}

bool WildcardMatch(std::string_view pattern, std::string_view name) {
  if (MatchFrom(pattern, name)) return true;
  return pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*" &&
         MatchFrom(pattern.substr(0, pattern.size() - 2), name);
}

std::string_view ParentOf(std::string_view path) {
  size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash + 1);
}

std::string_view LastComponent(std::string_view path) {
  size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace orvo::services
