#include "services/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

#include "services/files_posix.h"
#include "services/path.h"

namespace orvo::services {

namespace {

constexpr uint32_t kAccessMask = 0x3;
// Bytes handled per write call when line ends are expanded.
constexpr size_t kTextChunk = 32768;

// The program's flag word as POSIX open flags; false for a flag word that cannot be
// opened (write-only and read-write at once).
bool PosixFlags(uint32_t flags, int& out) {
  switch (flags & kAccessMask) {
    case OPEN_READ:
      out = O_RDONLY;
      break;
    case OPEN_WRITE:
      out = O_WRONLY;
      break;
    case OPEN_READ_WRITE:
      out = O_RDWR;
      break;
    default:
      return false;
  }
  if (flags & OPEN_APPEND) out |= O_APPEND;
  if (flags & OPEN_CREATE) out |= O_CREAT;
  if (flags & OPEN_TRUNCATE) out |= O_TRUNC;
  if (flags & OPEN_EXCLUSIVE) out |= O_EXCL;
  return true;
}

// Line ends are translated unless the flags ask for binary mode alone.
bool IsTextMode(uint32_t flags) {
  return (flags & OPEN_TEXT) != 0 || (flags & OPEN_BINARY) == 0;
}

// The private copy of an installed file: written beside the target and renamed into
// place once on disk, so an interrupted copy never hides the installed file behind a
// partial one. The copy keeps the installed file's modification time.
void CopyInstalled(FileService& fs, int source, const std::string& target) {
  std::string temporary;
  int fd = CreateTemporary(fs, target, O_WRONLY, temporary);
  if (fd < 0) return;
  bool ok = true;
  std::vector<uint8_t> buffer(65536);
  for (;;) {
    ssize_t n = ReadAll(source, buffer.data(), buffer.size());
    if (n < 0) ok = false;
    if (n <= 0) break;
    if (!WriteAll(fd, buffer.data(), static_cast<size_t>(n))) {
      ok = false;
      break;
    }
  }
  struct stat st;
  if (ok && fstat(source, &st) == 0) {
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    futimens(fd, times);
  }
  if (ok) ok = CommitTemporary(fs, fd, temporary, target);
  close(fd);
  if (!ok && !temporary.empty()) unlink(temporary.c_str());
}

// The replacement of target opened into out, with the permissions of the file it
// replaces (replaced, when there is one).
bool StartReplacement(FileService& fs, const std::string& target, int openFlags,
                      const struct stat* replaced, OpenFileState& out) {
  out.fd = CreateTemporary(fs, target, openFlags, out.replacement.temporary);
  if (out.fd < 0) return false;
  out.replacement.target = target;
  if (replaced) fchmod(out.fd, replaced->st_mode & 07777);
  return true;
}

// Truncation rewrites the file through a replacement, except for a file that is a link or
// has other names: rewritten in place, as before, so every name keeps seeing it.
bool RewritesThroughReplacement(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) != 0 || (S_ISREG(st.st_mode) && st.st_nlink == 1);
}

}  // namespace

// --- Shared POSIX helpers -----------------------------------------------------------------

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

int OpenPath(const std::string& path, int flags) {
  // Without O_NONBLOCK the open of a FIFO waits for a process at its other end.
  int fd = open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, CREATE_MODE);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return -1;
  }
  // Regular files ignore the flag; it is dropped so the descriptor is an ordinary one.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

bool WriteAll(int fd, const uint8_t* data, size_t length, size_t* written) {
  size_t done = 0;
  while (done < length) {
    ssize_t n = write(fd, data + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  if (written) *written = done;
  return done == length;
}

ssize_t ReadAll(int fd, uint8_t* data, size_t length) {
  size_t done = 0;
  while (done < length) {
    ssize_t n = read(fd, data + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return done ? static_cast<ssize_t>(done) : -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

void MakeParents(const std::string& path) {
  // Walk up to the first folder that exists, then create the missing levels downwards.
  std::vector<size_t> missing;  // ends of the missing folder paths, innermost first
  size_t end = path.rfind('/');
  while (end != std::string::npos && end > 0) {
    if (Exists(path.substr(0, end))) break;
    missing.push_back(end);
    end = path.rfind('/', end - 1);
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it)
    mkdir(path.substr(0, *it).c_str(), 0777);
}

// --- Overlay operations -------------------------------------------------------------------

bool ResolvePath(const FileService& fs, std::string_view name, bool dataFolder, std::string& out) {
  return ResolvePath(name, dataFolder ? fs.folders.data : fs.folders.program, out);
}

bool OpenFile(FileService& fs, std::string_view name, uint32_t flags, OpenFileState& out) {
  out = OpenFileState{};
  int posix = 0;
  if (!PosixFlags(flags, posix)) return false;
  out.text = IsTextMode(flags);
  std::string path;
  if (flags == OPEN_BINARY) {
    if (ResolvePath(fs, name, true, path) && Exists(path)) {
      out.fd = OpenPath(path, O_RDONLY);
      if (out.fd >= 0) return true;
    }
    out.fd = InstalledFiles(fs)->Open(name);
    return out.fd >= 0;
  }
  if (!ResolvePath(fs, name, true, path)) return false;
  struct stat st;
  const bool present = stat(path.c_str(), &st) == 0;
  // Something there that is no file (a folder, a FIFO) is not opened, nor hidden by a copy.
  if (present && !S_ISREG(st.st_mode)) return false;
  ProgramEntry installed;
  const bool installedOnly =
      !present && InstalledFiles(fs)->Find(name, installed) && !installed.folder;
  if (!present) MakeParents(path);
  if ((flags & OPEN_TRUNCATE) && !(flags & OPEN_EXCLUSIVE) && (present || installedOnly) &&
      RewritesThroughReplacement(path)) {
    // The previous content stays until the new one is complete. The file itself is
    // opened once without truncation, so what would refuse the open still refuses it.
    if (present) {
      const int probe = OpenPath(path, posix & ~(O_TRUNC | O_CREAT));
      if (probe < 0) return false;
      close(probe);
    }
    if (StartReplacement(fs, path, posix & (O_ACCMODE | O_APPEND), present ? &st : nullptr, out))
      return true;
    // A folder where no new file can be made: the file is rewritten in place, as before.
  }
  if (installedOnly) {
    int source = InstalledFiles(fs)->Open(name);
    if (source >= 0) {
      CopyInstalled(fs, source, path);
      close(source);
    }
  }
  out.fd = OpenPath(path, posix);
  return out.fd >= 0;
}

bool CloseFile(FileService& fs, OpenFileState& f) {
  if (f.fd < 0) return false;
  Replacement& r = f.replacement;
  bool ok = true;
  if (!r.target.empty()) ok = !r.failed && CommitTemporary(fs, f.fd, r.temporary, r.target);
  if (close(f.fd) != 0) ok = false;
  if (!r.temporary.empty()) unlink(r.temporary.c_str());
  f = OpenFileState{};
  return ok;
}

void CloseAllFiles(FileService& fs) {
  for (auto& [number, f] : fs.descriptors) CloseFile(fs, f);
  fs.descriptors.clear();
  for (OpenFileState& slot : fs.streams)
    if (slot.fd >= 0) CloseFile(fs, slot);
}

bool ResolveInstalledFile(const FileService& fs, std::string_view name, std::string& out) {
  out = InstalledFiles(fs)->PathOf(name);
  return !out.empty();
}

int32_t FileSize(FileService& fs, std::string_view name) {
  std::string path;
  if (ResolvePath(fs, name, true, path) && Exists(path)) {
    int fd = OpenPath(path, O_RDONLY);
    if (fd < 0) return -1;
    off_t size = lseek(fd, 0, SEEK_END);
    close(fd);
    return size < 0 || size > INT32_MAX ? -1 : static_cast<int32_t>(size);
  }
  ProgramEntry installed;
  if (!InstalledFiles(fs)->Find(name, installed) || installed.folder) return -1;
  return installed.size > INT32_MAX ? -1 : static_cast<int32_t>(installed.size);
}

int64_t FileTime(FileService& fs, std::string_view name) {
  std::string path;
  struct stat st;
  if (ResolvePath(fs, name, true, path) && stat(path.c_str(), &st) == 0)
    return static_cast<int64_t>(st.st_mtim.tv_sec);
  ProgramEntry installed;
  return InstalledFiles(fs)->Find(name, installed) ? installed.mtime : -1;
}

void RemoveFile(FileService& fs, std::string_view name) {
  std::string path;
  if (ResolvePath(fs, name, true, path)) unlink(path.c_str());
  InstalledFiles(fs)->Remove(name);
}

bool RenameFile(FileService& fs, std::string_view oldName, std::string_view newName) {
  std::string from, to;
  if (!ResolvePath(fs, oldName, true, from) || !ResolvePath(fs, newName, true, to)) return false;
  struct stat fromStat, toStat;
  if (lstat(from.c_str(), &fromStat) != 0) return false;
  if (lstat(to.c_str(), &toStat) == 0) {
    // The new name found the old file itself (it differs only in case): give the file
    // the case as written. Any other existing target is kept.
    if (toStat.st_dev != fromStat.st_dev || toStat.st_ino != fromStat.st_ino) return false;
    std::string_view written = newName;
    while (!written.empty() && (written.back() == '/' || written.back() == '\\'))
      written.remove_suffix(1);
    size_t cut = written.find_last_of("/\\");
    if (cut != std::string_view::npos) written.remove_prefix(cut + 1);
    to = std::string(ParentOf(to)) + std::string(written);
    if (to == from) return true;
  }
#if defined(RENAME_NOREPLACE)  // a C library without it (the web build's) goes on below
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
#endif
  // A file system without the no-replace rename: check, then rename.
  if (lstat(to.c_str(), &toStat) == 0) return false;
  return rename(from.c_str(), to.c_str()) == 0;
}

bool MakeFolder(FileService& fs, std::string_view name) {
  std::string path;
  return ResolvePath(fs, name, true, path) && mkdir(path.c_str(), 0777) == 0;
}

bool RemoveFolder(FileService& fs, std::string_view name) {
  std::string path;
  return ResolvePath(fs, name, true, path) && rmdir(path.c_str()) == 0;
}

// --- Descriptor calls ---------------------------------------------------------------------

int32_t ReadFile(const OpenFileState& f, uint8_t* buffer, uint32_t count) {
  if (count > INT32_MAX) return -1;
  ssize_t n = ReadAll(f.fd, buffer, count);
  if (n <= 0 || !f.text) return static_cast<int32_t>(n);
  // CR LF becomes LF. A CR that ends what was read looks at the byte after it, which is
  // put back unless it completes the pair.
  size_t out = 0;
  const size_t read = static_cast<size_t>(n);
  for (size_t i = 0; i < read; ++i) {
    uint8_t c = buffer[i];
    if (c == '\r') {
      if (i + 1 < read) {
        if (buffer[i + 1] == '\n') {
          c = '\n';
          ++i;
        }
      } else {
        uint8_t next = 0;
        ssize_t r;
        do r = ::read(f.fd, &next, 1);
        while (r < 0 && errno == EINTR);
        if (r == 1) {
          if (next == '\n')
            c = '\n';
          else
            lseek(f.fd, -1, SEEK_CUR);
        }
      }
    }
    buffer[out++] = c;
  }
  return static_cast<int32_t>(out);
}

namespace {

int32_t WriteBytes(const OpenFileState& f, const uint8_t* buffer, uint32_t count) {
  if (count > INT32_MAX) return -1;
  if (!f.text) {
    size_t written = 0;
    WriteAll(f.fd, buffer, count, &written);
    return written == 0 && count != 0 ? -1 : static_cast<int32_t>(written);
  }
  // LF goes out as CR LF; the result counts the caller's bytes, a LF only once its pair
  // is written whole.
  std::vector<uint8_t> expanded;
  expanded.reserve(2 * kTextChunk);
  size_t consumed = 0;
  while (consumed < count) {
    size_t take = count - consumed < kTextChunk ? count - consumed : kTextChunk;
    expanded.clear();
    for (size_t i = 0; i < take; ++i) {
      if (buffer[consumed + i] == '\n') expanded.push_back('\r');
      expanded.push_back(buffer[consumed + i]);
    }
    size_t written = 0;
    if (WriteAll(f.fd, expanded.data(), expanded.size(), &written)) {
      consumed += take;
      continue;
    }
    size_t at = 0;
    for (size_t i = 0; i < take; ++i) {
      size_t width = buffer[consumed + i] == '\n' ? 2 : 1;
      if (at + width > written) break;
      at += width;
      ++consumed;
    }
    return consumed == 0 ? -1 : static_cast<int32_t>(consumed);
  }
  return static_cast<int32_t>(consumed);
}

}  // namespace

int32_t WriteFile(OpenFileState& f, const uint8_t* buffer, uint32_t count) {
  const int32_t written = WriteBytes(f, buffer, count);
  // The program may not notice, so its rewrite must not be taken for complete.
  if (written != static_cast<int32_t>(count)) f.replacement.failed = true;
  return written;
}

int32_t SeekFile(const OpenFileState& f, int32_t offset, int32_t whence) {
  if (whence < SEEK_SET || whence > SEEK_END) return -1;
  off_t before = lseek(f.fd, 0, SEEK_CUR);
  off_t at = lseek(f.fd, offset, whence);
  if (at < 0) return -1;
  if (at > INT32_MAX) {  // a position the program's 32-bit word cannot hold
    lseek(f.fd, before, SEEK_SET);
    return -1;
  }
  return static_cast<int32_t>(at);
}

int32_t EndOfFile(const OpenFileState& f) {
  off_t at = lseek(f.fd, 0, SEEK_CUR);
  struct stat st;
  if (at < 0 || fstat(f.fd, &st) != 0) return -1;
  return at >= st.st_size ? 1 : 0;
}

// --- Replacement and runtime streams --------------------------------------------------

bool BeginReplace(FileService& fs, std::string_view name, OpenFileState& f) {
  f = OpenFileState{};
  std::string target;
  if (!ResolvePath(fs, name, true, target)) return false;
  struct stat st;
  const bool present = stat(target.c_str(), &st) == 0;
  if (present && !S_ISREG(st.st_mode)) return false;
  MakeParents(target);
  return StartReplacement(fs, target, O_RDWR, present ? &st : nullptr, f);
}

bool ReplaceWrite(OpenFileState& f, const void* data, size_t length) {
  if (f.fd < 0 || !WriteAll(f.fd, static_cast<const uint8_t*>(data), length))
    f.replacement.failed = true;
  return !f.replacement.failed;
}

namespace {

// A runtime stream over a replacement: the file service it commits through and the file.
struct ReplacementCookie {
  FileService* fs;
  OpenFileState file;
};

ssize_t CookieRead(void* cookie, char* buffer, size_t size) {
  auto* c = static_cast<ReplacementCookie*>(cookie);
  return ReadAll(c->file.fd, reinterpret_cast<uint8_t*>(buffer), size);
}

ssize_t CookieWrite(void* cookie, const char* buffer, size_t size) {
  auto* c = static_cast<ReplacementCookie*>(cookie);
  return ReplaceWrite(c->file, buffer, size) ? static_cast<ssize_t>(size) : 0;
}

int CookieSeek(void* cookie, off64_t* offset, int whence) {
  auto* c = static_cast<ReplacementCookie*>(cookie);
  off_t at = lseek(c->file.fd, *offset, whence);
  if (at < 0) return -1;
  *offset = at;
  return 0;
}

int CookieClose(void* cookie) {
  auto* c = static_cast<ReplacementCookie*>(cookie);
  bool ok = CloseFile(*c->fs, c->file);
  delete c;
  return ok ? 0 : -1;
}

std::FILE* ReplacementStream(FileService& fs, std::string_view name, const char* mode) {
  auto* c = new ReplacementCookie{&fs, {}};
  if (!BeginReplace(fs, name, c->file)) {
    delete c;
    return nullptr;
  }
  cookie_io_functions_t io{CookieRead, CookieWrite, CookieSeek, CookieClose};
  std::FILE* f = fopencookie(c, mode, io);
  if (!f) {
    c->file.replacement.failed = true;
    CloseFile(fs, c->file);
    delete c;
  }
  return f;
}

}  // namespace

std::FILE* OpenForRuntime(FileService& fs, std::string_view name, const char* mode) {
  std::string_view m(mode);
  if (m.empty()) return nullptr;
  const bool update = m.find('+') != std::string_view::npos;
  uint32_t flags = 0;
  const char* fdMode = nullptr;
  switch (m[0]) {
    case 'r':
      flags = update ? OPEN_BINARY | OPEN_READ_WRITE : OPEN_BINARY;
      fdMode = update ? "r+b" : "rb";
      break;
    case 'a':
      flags = OPEN_BINARY | OPEN_CREATE | OPEN_APPEND | (update ? OPEN_READ_WRITE : OPEN_WRITE);
      fdMode = update ? "a+b" : "ab";
      break;
    case 'w':
      return ReplacementStream(fs, name, update ? "w+b" : "wb");
    default:
      return nullptr;
  }
  // Neither mode truncates, so the file is an ordinary one that fclose closes.
  OpenFileState file;
  if (!OpenFile(fs, name, flags, file)) return nullptr;
  std::FILE* f = fdopen(file.fd, fdMode);
  if (!f) CloseFile(fs, file);
  return f;
}

void AppendDebugLog(FileService& fs, std::string_view text) {
  OpenFileState log;
  if (!OpenFile(fs, "debug.log", OPEN_BINARY | OPEN_WRITE | OPEN_APPEND | OPEN_CREATE, log)) return;
  WriteAll(log.fd, reinterpret_cast<const uint8_t*>(text.data()), text.size());
  CloseFile(fs, log);
}

}  // namespace orvo::services
