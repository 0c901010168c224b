// Files and folders of the program: an overlay of the read-only installation and the
// user's data folder, the descriptors handed to the program, the merged folder listing,
// the library file streams and sys group 0.
//
// Reading with binary read-only flags prefers the user's copy and falls back to the
// installed file; every other open works on the data folder, creating missing folders
// and copying the installed file there first, so the installation is never written.
#pragma once

#include <sys/stat.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "services/folders.h"
#include "services/program_files.h"

namespace orvo::vm {
struct Machine;
struct RequestTable;
}  // namespace orvo::vm

namespace orvo::services {

enum FilesRow : uint32_t {
  SYS_FOPEN = 0,       // name, flags
  SYS_FEOF = 1,        // descriptor
  SYS_FREAD = 2,       // descriptor, buffer, count
  SYS_FWRITE = 3,      // descriptor, buffer, count
  SYS_FSEEK = 4,       // descriptor, offset, whence
  SYS_FDELETE = 5,     // name
  SYS_MKDIR = 6,       // name
  SYS_RMDIR = 7,       // name
  SYS_FCLOSE = 8,      // descriptor
  SYS_FSIZE = 9,       // name
  SYS_FTIME = 10,      // name
  SYS_FINDFIRST = 11,  // pattern, name buffer, attribute address or 0, source address or 0
  SYS_FINDNEXT = 12,   // name buffer, attribute address or 0, source address or 0
  SYS_FINDCLOSE = 13,  //
  SYS_FBASE64 = 14,    // descriptor, buffer, count
  SYS_FRENAME = 15,    // old name, new name
};

// The open flags of the program's file calls (the Windows C runtime's values).
enum OpenFlag : uint32_t {
  OPEN_READ = 0x0000,
  OPEN_WRITE = 0x0001,
  OPEN_READ_WRITE = 0x0002,
  OPEN_APPEND = 0x0008,
  OPEN_CREATE = 0x0100,
  OPEN_TRUNCATE = 0x0200,
  OPEN_EXCLUSIVE = 0x0400,
  OPEN_TEXT = 0x4000,
  OPEN_BINARY = 0x8000,
};

// Listing sources and attribute bits.
inline constexpr uint32_t SOURCE_PROGRAM = 0;
inline constexpr uint32_t SOURCE_DATA = 1;
inline constexpr uint32_t ATTR_READONLY = 0x01;
inline constexpr uint32_t ATTR_HIDDEN = 0x02;
inline constexpr uint32_t ATTR_FOLDER = 0x10;
inline constexpr uint32_t ATTR_ARCHIVE = 0x20;
// The name field of a listing entry, terminator included.
inline constexpr size_t LIST_NAME_FIELD = 260;

inline constexpr int STREAM_SLOTS = 8;

// A new file that takes the place of a target only when it is closed complete: what a
// crash, a kill or a full disk interrupts leaves the previous content whole.
struct Replacement {
  std::string target;     // the path it replaces; empty for an ordinary open
  std::string temporary;  // its own name while it has one; empty while it has none
  bool failed = false;    // a write fell short: closing keeps the previous content
};

// An open file: the POSIX descriptor, whether it translates line ends, and what it is to
// replace when closed.
struct OpenFileState {
  int fd = -1;
  bool text = false;
  Replacement replacement;
};

struct ListEntry {
  uint32_t source = 0;
  uint32_t attributes = 0;
  std::string name;
};

struct FileService {
  Folders folders;
  // The program folder when it is not folders.program on disk: a game archive.
  std::shared_ptr<const ProgramFiles> archive;
  // Descriptors handed to the program, by the number it got; no other number is accepted.
  std::map<int32_t, OpenFileState> descriptors;
  // The one listing: entries in order and the next to hand out.
  std::vector<ListEntry> listing;
  size_t listNext = 0;
  // The library file streams: handle = slot + 1.
  std::array<OpenFileState, STREAM_SLOTS> streams{};
  // Numbers the names of temporary files made by this service.
  uint32_t temporaryCount = 0;
};

// --- Overlay operations -----------------------------------------------------------------

// The read-only program folder: the archive, or the installed folder on disk.
class InstalledFiles {
 public:
  explicit InstalledFiles(const FileService& fs)
      : folder_(fs.folders.program), files_(fs.archive ? *fs.archive : folder_) {}
  const ProgramFiles* operator->() const { return &files_; }
  const ProgramFiles& operator*() const { return files_; }

 private:
  FolderFiles folder_;
  const ProgramFiles& files_;
};

// The path of a relative name in one folder (case-insensitive lookup, ".." refused).
bool ResolvePath(const FileService& fs, std::string_view name, bool dataFolder, std::string& out);

// Opens a name with the program's flags under the overlay rules into out, which the
// caller then owns and closes with CloseFile; false when it cannot be opened. Only
// regular files open. Truncating an existing file (one found in either folder) writes a
// replacement instead, which takes the name at CloseFile; until then other opens of the
// name see the previous file.
bool OpenFile(FileService& fs, std::string_view name, uint32_t flags, OpenFileState& out);
// Closes f; a replacement first takes its target's name unless one of its writes fell
// short. False when that could not be done (the target is then as it was) or the close
// failed.
bool CloseFile(FileService& fs, OpenFileState& f);
// Closes every descriptor the program holds and every stream, as the runtime ends in
// order, so the program's unclosed rewrites are kept as its closes would keep them.
void CloseAllFiles(FileService& fs);
// A path for the runtime's own readers of installed files: true only for a name that
// resolves to a regular file, so nothing it opens there can block.
bool ResolveInstalledFile(const FileService& fs, std::string_view name, std::string& out);
// Removes the temporary files that writers which died before finishing left in the data
// folder; files of writers still running are kept. Run at start-up.
void SweepTemporaries(const FileService& fs);

// Size in bytes of the first copy found (data folder first), or -1; a folder is -1.
int32_t FileSize(FileService& fs, std::string_view name);
// Modification time in seconds since 1970 of the first copy found; -1 when there is none.
int64_t FileTime(FileService& fs, std::string_view name);
// Removes the name from the data folder and then from the installation.
void RemoveFile(FileService& fs, std::string_view name);
// Renames inside the data folder. A target that already exists is kept and nothing is
// renamed; a change of case only is allowed.
bool RenameFile(FileService& fs, std::string_view oldName, std::string_view newName);
bool MakeFolder(FileService& fs, std::string_view name);
bool RemoveFolder(FileService& fs, std::string_view name);

// The merged listing: data folder entries first, then installed ones not already listed
// (names compared without regard to case). False when there is no entry.
bool ListFirst(FileService& fs, std::string_view pattern, ListEntry& first);
bool ListNext(FileService& fs, ListEntry& next);
void ListClose(FileService& fs);

// --- Descriptor calls (on a descriptor the caller holds) --------------------------------

int32_t ReadFile(const OpenFileState& f, uint8_t* buffer, uint32_t count);
// A short write marks a replacement failed.
int32_t WriteFile(OpenFileState& f, const uint8_t* buffer, uint32_t count);
int32_t SeekFile(const OpenFileState& f, int32_t offset, int32_t whence);
int32_t EndOfFile(const OpenFileState& f);

// Base64 (RFC 4648, with padding, no line breaks) of count bytes written to f; the bytes
// the writes reported, or -1 when the first write failed.
int32_t WriteBase64(OpenFileState& f, const uint8_t* buffer, uint32_t count);
std::string Base64(const uint8_t* buffer, size_t count);

// --- Runtime helpers --------------------------------------------------------------------

// A stdio stream for the runtime's own files under the overlay: "rb" reads the data
// folder's copy or else the installed file; "r+b" and "ab" work on the data folder like
// the program's opens. "wb" (and "w+b") write a temporary file beside the target that
// replaces it when the stream is closed, and only if every write succeeded (fclose then
// reports the failure), so a failed save never destroys the previous content.
std::FILE* OpenForRuntime(FileService& fs, std::string_view name, const char* mode);

// Appends raw bytes to "debug.log", opened as the program's own files are: a log shipped
// in the installation is copied to the data folder before the first line is added.
void AppendDebugLog(FileService& fs, std::string_view text);

// A whole-file replacement in the data folder, whatever the name holds now: write to
// f.fd, then CloseFile (or mark it failed first to keep the target as it was).
bool BeginReplace(FileService& fs, std::string_view name, OpenFileState& f);
// Writes all bytes; a short write marks the replacement failed.
bool ReplaceWrite(OpenFileState& f, const void* data, size_t length);

// --- Library file streams ---------------------------------------------------------------

int32_t StreamOpen(FileService& fs, std::string_view name, std::string_view mode);
int32_t StreamReopen(FileService& fs, std::string_view name, std::string_view mode, int32_t handle);
size_t StreamRead(FileService& fs, void* buffer, size_t size, size_t count, int32_t handle);
size_t StreamWrite(FileService& fs, const void* buffer, size_t size, size_t count, int32_t handle);
int64_t StreamSeek(FileService& fs, int32_t handle, int64_t offset, int whence);
int64_t StreamTell(FileService& fs, int32_t handle);
int32_t StreamEnd(FileService& fs, int32_t handle);
int32_t StreamClose(FileService& fs, int32_t handle);
int32_t StreamFlush(FileService& fs, int32_t handle);
int32_t StreamRemove(FileService& fs, std::string_view name);
int32_t StreamStatus(FileService& fs, std::string_view name, struct stat* record);

// --- sys group 0 ------------------------------------------------------------------------

// Adds the group's rows, served by fs, to the request table. Every VM address is checked
// for its whole length: a bad one stops the program in order.
void AddFileRequests(vm::RequestTable& t, FileService& fs);

}  // namespace orvo::services
