// The new files that replace a file whole: written beside their target and renamed over
// it once complete, and the sweep that removes the named ones a dead writer left behind.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "services/files.h"
#include "services/files_posix.h"
#include "services/path.h"

namespace orvo::services {

namespace {

constexpr int kNameAttempts = 100;
constexpr std::string_view kPrefix = ".orvo-";
constexpr std::string_view kSuffix = ".tmp";
// Folders below the data folder that the sweep looks into.
constexpr int kSweepDepth = 32;
// Start times are known to the clock tick and the boot time to the second.
constexpr time_t kStartSlack = 2;

std::string DescriptorPath(int fd) {
  return "/proc/self/fd/" + std::to_string(fd);
}

// A file without a name can be given one later only through its descriptor's entry in
// /proc, which a process may not have.
bool CanNameLater() {
  return access("/proc/self/fd", X_OK) == 0;
}

// Tries fresh names beside target until attempt (which gets one) succeeds or fails for a
// reason other than the name being taken.
template <typename Attempt>
bool WithFreshName(FileService& fs, const std::string& target, std::string& name, Attempt attempt) {
  const std::string folder(ParentOf(target));
  for (int i = 0; i < kNameAttempts; ++i) {
    name = folder + TemporaryLeaf(getpid(), fs.temporaryCount++);
    if (attempt(name)) return true;
    if (errno != EEXIST) break;
  }
  name.clear();
  return false;
}

// Digits only, no sign, no overflow past a pid.
bool ParseNumber(std::string_view text, long& out) {
  if (text.empty() || text.size() > 9) return false;
  out = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    out = out * 10 + (c - '0');
  }
  return true;
}

// When the process pid started, in seconds since 1970; false when that cannot be told.
bool ProcessStart(long pid, time_t& start) {
  std::ifstream statFile("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(statFile, line)) return false;
  // The command name in parentheses may hold spaces; the fields after it are plain.
  const size_t close = line.rfind(')');
  if (close == std::string::npos) return false;
  std::istringstream fields(line.substr(close + 1));
  std::string field;
  unsigned long long ticks = 0;
  for (int i = 3; i <= 22 && fields >> field; ++i)
    if (i == 22) ticks = std::strtoull(field.c_str(), nullptr, 10);
  if (ticks == 0) return false;
  std::ifstream boot("/proc/stat");
  while (std::getline(boot, line)) {
    if (line.rfind("btime ", 0) != 0) continue;
    const long perSecond = sysconf(_SC_CLK_TCK);
    if (perSecond <= 0) return false;
    start = static_cast<time_t>(std::strtoll(line.c_str() + 6, nullptr, 10)) +
            static_cast<time_t>(ticks / static_cast<unsigned long long>(perSecond));
    return true;
  }
  return false;
}

// The writer of a temporary file last changed at `modified` is gone when no process has
// its number, or when the one that has it started after that change: the number was
// given again, after a restart of the system or in the same run. Where this cannot be
// told the writer is taken to be alive.
bool WriterGone(long pid, time_t modified) {
  if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) return true;
  time_t start = 0;
  return ProcessStart(pid, start) && start > modified + kStartSlack;
}

}  // namespace

std::string TemporaryLeaf(long pid, unsigned long count) {
  char leaf[64];
  std::snprintf(leaf, sizeof leaf, "%.*s%ld-%lu%.*s", static_cast<int>(kPrefix.size()),
                kPrefix.data(), pid, count, static_cast<int>(kSuffix.size()), kSuffix.data());
  return leaf;
}

bool TemporaryWriter(std::string_view leaf, long& pid) {
  if (leaf.size() <= kPrefix.size() + kSuffix.size() || !leaf.starts_with(kPrefix) ||
      !leaf.ends_with(kSuffix))
    return false;
  leaf.remove_prefix(kPrefix.size());
  leaf.remove_suffix(kSuffix.size());
  const size_t dash = leaf.find('-');
  long count = 0;
  return dash != std::string_view::npos && ParseNumber(leaf.substr(0, dash), pid) &&
         ParseNumber(leaf.substr(dash + 1), count) && pid > 0;
}

int CreateTemporary(FileService& fs, const std::string& target, int openFlags, std::string& name) {
  name.clear();
  const std::string folder(ParentOf(target));
  // Nameless files must be writable; a read-only request gets read and write access.
  const int flags =
      (openFlags & O_ACCMODE) == O_RDONLY ? (openFlags & ~O_ACCMODE) | O_RDWR : openFlags;
  // A file without a name leaves nothing behind when the process dies before it is
  // complete.
  if (CanNameLater()) {
    int fd =
        open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | flags | O_CLOEXEC, CREATE_MODE);
    if (fd >= 0) return fd;
    // Any failure here (a file system without nameless files, among others) is retried
    // with a named file, which reports the real reason if there is one.
  }
  int fd = -1;
  WithFreshName(fs, target, name, [&](const std::string& candidate) {
    fd = open(candidate.c_str(), flags | O_CREAT | O_EXCL | O_CLOEXEC, CREATE_MODE);
    return fd >= 0;
  });
  return fd;
}

bool CommitTemporary(FileService& fs, int fd, std::string& name, const std::string& target) {
  // The data must be on disk before the name points at it, or a crash right after the
  // rename could leave an empty file where the old one was.
  if (fsync(fd) != 0) return false;
  if (name.empty()) {
    const std::string self = DescriptorPath(fd);
    // Named under a temporary name first: a link cannot replace an existing target.
    if (!WithFreshName(fs, target, name, [&](const std::string& candidate) {
          return linkat(AT_FDCWD, self.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) ==
                 0;
        }))
      return false;
  }
  if (rename(name.c_str(), target.c_str()) != 0) return false;
  name.clear();
  return true;
}

void SweepTemporaries(const FileService& fs) {
  namespace fsys = std::filesystem;
  std::error_code error;
  // Links are not followed: only the data folder's own tree is swept.
  fsys::recursive_directory_iterator it(fs.folders.data,
                                        fsys::directory_options::skip_permission_denied, error);
  for (const fsys::recursive_directory_iterator end; !error && it != end; it.increment(error)) {
    if (it.depth() >= kSweepDepth) it.disable_recursion_pending();
    long pid = 0;
    const std::string leaf = it->path().filename().string();
    if (!TemporaryWriter(leaf, pid)) continue;
    struct stat st;
    const std::string path = it->path().string();
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (WriterGone(pid, st.st_mtim.tv_sec)) unlink(path.c_str());
  }
}

}  // namespace orvo::services
