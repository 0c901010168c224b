// POSIX helpers shared by the file service's parts; not for use outside services/.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvo::services {

struct FileService;

// Files are created readable and writable; the user's umask applies.
inline constexpr mode_t CREATE_MODE = 0666;

bool Exists(const std::string& path);
// open(2) that refuses folders: a folder never opens as a file.
int OpenPath(const std::string& path, int flags);
// Loops over short writes and interrupted calls; written gets the bytes that went out.
bool WriteAll(int fd, const uint8_t* data, size_t length, size_t* written = nullptr);
// Reads until length bytes or the end; -1 only when nothing could be read.
ssize_t ReadAll(int fd, uint8_t* data, size_t length);
// Creates the folders above a file path that do not exist yet, outermost first.
void MakeParents(const std::string& path);
// A new file beside target with a name of its own, opened for reading and writing.
int CreateTemporary(FileService& fs, const std::string& target, std::string& name);

}  // namespace orvo::services
