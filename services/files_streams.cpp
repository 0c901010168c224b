// The library file streams: eight slots of descriptors opened through the overlay, for
// code that reaches files through stream handles instead of descriptors.
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "services/files.h"

namespace orvo::services {

namespace {

uint32_t StreamFlags(std::string_view mode) {
  if (mode == "rb") return OPEN_BINARY;
  if (mode == "wb") return OPEN_BINARY | OPEN_CREATE | OPEN_TRUNCATE | OPEN_READ_WRITE;
  if (mode == "w+b") return OPEN_BINARY | OPEN_READ_WRITE;
  return 0;
}

OpenFileState* Slot(FileService& fs, int32_t handle) {
  if (handle < 1 || handle > STREAM_SLOTS) return nullptr;
  OpenFileState& s = fs.streams[static_cast<size_t>(handle - 1)];
  return s.fd >= 0 ? &s : nullptr;
}

bool OpenInto(FileService& fs, OpenFileState& slot, std::string_view name, std::string_view mode) {
  return OpenFile(fs, name, StreamFlags(mode), slot);
}

// Bytes moved by size × count in pieces a single descriptor call can take.
template <typename Buffer, typename Call>
size_t Transfer(Buffer* buffer, size_t size, size_t count, Call call) {
  if (size != 0 && count > SIZE_MAX / size) return 0;
  const size_t total = size * count;
  size_t done = 0;
  while (done < total) {
    size_t piece = total - done < INT32_MAX ? total - done : INT32_MAX;
    int32_t n = call(buffer + done, static_cast<uint32_t>(piece));
    if (n <= 0) break;
    done += static_cast<size_t>(n);
    if (static_cast<size_t>(n) < piece) break;
  }
  return done;
}

}  // namespace

int32_t StreamOpen(FileService& fs, std::string_view name, std::string_view mode) {
  for (int i = 0; i < STREAM_SLOTS; ++i) {
    OpenFileState& slot = fs.streams[static_cast<size_t>(i)];
    if (slot.fd >= 0) continue;
    return OpenInto(fs, slot, name, mode) ? i + 1 : 0;
  }
  return 0;
}

int32_t StreamReopen(FileService& fs, std::string_view name, std::string_view mode,
                     int32_t handle) {
  OpenFileState* slot = Slot(fs, handle);
  if (!slot) return 0;
  CloseFile(fs, *slot);
  // A failed open leaves the slot free; the handle no longer names a stream.
  return OpenInto(fs, *slot, name, mode) ? handle : 0;
}

size_t StreamRead(FileService& fs, void* buffer, size_t size, size_t count, int32_t handle) {
  OpenFileState* slot = Slot(fs, handle);
  if (!slot) return 0;
  return Transfer(static_cast<uint8_t*>(buffer), size, count,
                  [&](uint8_t* at, uint32_t n) { return ReadFile(*slot, at, n); });
}

size_t StreamWrite(FileService& fs, const void* buffer, size_t size, size_t count, int32_t handle) {
  OpenFileState* slot = Slot(fs, handle);
  if (!slot) return 0;
  return Transfer(static_cast<const uint8_t*>(buffer), size, count,
                  [&](const uint8_t* at, uint32_t n) { return WriteFile(*slot, at, n); });
}

int64_t StreamSeek(FileService& fs, int32_t handle, int64_t offset, int whence) {
  OpenFileState* slot = Slot(fs, handle);
  if (!slot) return -1;
  return lseek(slot->fd, static_cast<off_t>(offset), whence);
}

int64_t StreamTell(FileService& fs, int32_t handle) {
  return StreamSeek(fs, handle, 0, SEEK_CUR);
}

int32_t StreamEnd(FileService& fs, int32_t handle) {
  OpenFileState* slot = Slot(fs, handle);
  return slot ? EndOfFile(*slot) : -1;
}

int32_t StreamClose(FileService& fs, int32_t handle) {
  OpenFileState* slot = Slot(fs, handle);
  if (!slot) return -1;
  // A rewrite that could not take its name is a failed close.
  return CloseFile(fs, *slot) ? 0 : -1;
}

int32_t StreamFlush(FileService& fs, int32_t handle) {
  (void)fs, (void)handle;
  return 0;  // descriptors are not buffered
}

int32_t StreamRemove(FileService& fs, std::string_view name) {
  RemoveFile(fs, name);
  return 0;
}

int32_t StreamStatus(FileService& fs, std::string_view name, struct stat* record) {
  for (bool data : {true, false}) {
    std::string path;
    if (ResolvePath(fs, name, data, path) && stat(path.c_str(), record) == 0) return 0;
  }
  return -1;
}

}  // namespace orvo::services
