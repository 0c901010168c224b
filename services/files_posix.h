// POSIX helpers shared by the file service's parts; not for use outside services/.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orvo::services {

struct FileService;

// Files are created readable and writable; the user's umask applies.
inline constexpr mode_t CREATE_MODE = 0666;

bool Exists(const std::string& path);
// open(2) of regular files only: anything else (a folder, a FIFO, a device) fails, and
// the open itself never waits for another process, as a FIFO's would.
int OpenPath(const std::string& path, int flags);
// True when path names a regular file (links followed).
bool IsRegularFile(const std::string& path);
// Loops over short writes and interrupted calls; written gets the bytes that went out.
bool WriteAll(int fd, const uint8_t* data, size_t length, size_t* written = nullptr);
// Reads until length bytes or the end; -1 only when nothing could be read.
ssize_t ReadAll(int fd, uint8_t* data, size_t length);
// Creates the folders above a file path that do not exist yet, outermost first.
void MakeParents(const std::string& path);
// A new file beside target that is to replace it, opened with openFlags (an access mode,
// perhaps O_APPEND; read-only becomes read-write). Where the file system allows it the
// file has no name (name empty) until it is committed, so a process that dies while
// writing it leaves nothing behind; elsewhere name gets one of the temporary names that
// SweepTemporaries knows. A descriptor, or -1.
int CreateTemporary(FileService& fs, const std::string& target, int openFlags, std::string& name);
// Puts the complete file on disk and renames it over target (naming it first when it has
// no name yet). The descriptor stays open; on failure name is the file's name, if any,
// for the caller to remove.
bool CommitTemporary(FileService& fs, int fd, std::string& name, const std::string& target);
// The temporary names: ".orvo-<pid>-<count>.tmp", and the writer's pid read back from one.
std::string TemporaryLeaf(long pid, unsigned long count);
bool TemporaryWriter(std::string_view leaf, long& pid);

}  // namespace orvo::services
