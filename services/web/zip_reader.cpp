// The web build's zip reader behind libzip's interface (services/web/include/zip.h): the
// central directory is read once when the archive opens; an entry is inflated whole when
// opened.
#include <zip.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "stb_image.h"

struct zip_source {
  const uint8_t* data = nullptr;
  size_t size = 0;
  std::vector<uint8_t> owned;  // a file's bytes, read by zip_source_file_create
};

struct ZipEntry {
  std::string name;
  uint8_t system = 0;
  uint32_t attributes = 0;
  uint16_t flags = 0, method = 0;
  uint32_t crc = 0;
  uint64_t compressed = 0, size = 0;
  uint64_t localHeader = 0;
  time_t mtime = 0;
};

struct zip {
  zip_source* source = nullptr;
  std::vector<ZipEntry> entries;
};

struct zip_file {
  std::vector<uint8_t> bytes;
  size_t read = 0;
};

namespace {

constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr size_t kEndSize = 22, kCentralSize = 46, kLocalSize = 30;
constexpr size_t kLongestComment = 0xFFFF;
constexpr uint16_t kStored = 0, kDeflated = 8;
constexpr uint16_t kEncryptedFlag = 0x1;
constexpr uint16_t kTraditionalEncryption = 1;  // libzip's ZIP_EM_TRAD_PKWARE
constexpr size_t kStreamPadding = 8;

uint16_t Le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

uint32_t Crc32(const uint8_t* data, size_t size) {
  static const auto table = [] {
    std::vector<uint32_t> t(256);
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) c = table[(c ^ data[i]) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

// MS-DOS date and time fields in local time, as libzip reads them.
time_t DosTime(uint16_t time, uint16_t date) {
  std::tm t{};
  t.tm_year = ((date >> 9) & 0x7F) + 80;
  t.tm_mon = ((date >> 5) & 0x0F) - 1;
  t.tm_mday = date & 0x1F;
  t.tm_hour = (time >> 11) & 0x1F;
  t.tm_min = (time >> 5) & 0x3F;
  t.tm_sec = (time & 0x1F) * 2;
  t.tm_isdst = -1;
  return std::mktime(&t);
}

bool Fail(zip_error_t* error, const char* text) {
  if (error) error->text = text;
  return false;
}

// Reads the central directory; false with the reason when the archive is not usable.
bool ReadDirectory(zip& archive, zip_error_t* error) {
  const uint8_t* data = archive.source->data;
  const size_t size = archive.source->size;
  if (size < kEndSize) return Fail(error, "Not a zip archive");
  size_t end = size - kEndSize;
  const size_t lowest = size - kEndSize > kLongestComment ? size - kEndSize - kLongestComment : 0;
  while (Le32(data + end) != kEndSignature) {
    if (end == lowest) return Fail(error, "Not a zip archive");
    --end;
  }
  const uint16_t count = Le16(data + end + 10);
  const uint32_t directorySize = Le32(data + end + 12);
  const uint32_t offset = Le32(data + end + 16);
  if (Le16(data + end + 4) != 0 || Le16(data + end + 8) != count)
    return Fail(error, "Multi-disk zip archives not supported");
  if (offset == 0xFFFFFFFFu || count == 0xFFFF) return Fail(error, "Zip64 archives not supported");
  if (uint64_t{offset} + directorySize > end) return Fail(error, "Zip archive inconsistent");
  size_t at = offset;
  for (uint16_t i = 0; i < count; ++i) {
    if (at + kCentralSize > end || Le32(data + at) != kCentralSignature)
      return Fail(error, "Zip archive inconsistent");
    const uint8_t* e = data + at;
    ZipEntry entry;
    entry.system = e[5];
    entry.flags = Le16(e + 8);
    entry.method = Le16(e + 10);
    entry.mtime = DosTime(Le16(e + 12), Le16(e + 14));
    entry.crc = Le32(e + 16);
    entry.compressed = Le32(e + 20);
    entry.size = Le32(e + 24);
    const size_t nameLength = Le16(e + 28), extra = Le16(e + 30), comment = Le16(e + 32);
    entry.attributes = Le32(e + 38);
    entry.localHeader = Le32(e + 42);
    if (at + kCentralSize + nameLength + extra + comment > end)
      return Fail(error, "Zip archive inconsistent");
    entry.name.assign(reinterpret_cast<const char*>(e + kCentralSize), nameLength);
    if (entry.name.find('\0') != std::string::npos) return Fail(error, "Zip archive inconsistent");
    archive.entries.push_back(std::move(entry));
    at += kCentralSize + nameLength + extra + comment;
  }
  return true;
}

}  // namespace

void zip_error_init(zip_error_t* error) {
  error->text = nullptr;
}

void zip_error_fini(zip_error_t* error) {
  error->text = nullptr;
}

const char* zip_error_strerror(zip_error_t* error) {
  return error->text ? error->text : "No error";
}

zip_source_t* zip_source_file_create(const char* path, zip_uint64_t start, zip_int64_t length,
                                     zip_error_t* error) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f) {
    Fail(error, "No such file");
    return nullptr;
  }
  auto source = new zip_source;
  bool ok = std::fseek(f, static_cast<long>(start), SEEK_SET) == 0;
  uint8_t chunk[65536];
  while (ok && (length < 0 || source->owned.size() < static_cast<uint64_t>(length))) {
    size_t want = sizeof chunk;
    if (length >= 0)
      want = std::min<uint64_t>(want, static_cast<uint64_t>(length) - source->owned.size());
    const size_t n = std::fread(chunk, 1, want, f);
    if (n == 0) break;
    source->owned.insert(source->owned.end(), chunk, chunk + n);
  }
  ok = ok && !std::ferror(f) && (length < 0 || source->owned.size() == uint64_t(length));
  std::fclose(f);
  if (!ok) {
    delete source;
    Fail(error, "Read error");
    return nullptr;
  }
  source->data = source->owned.data();
  source->size = source->owned.size();
  return source;
}

zip_source_t* zip_source_buffer_create(const void* data, zip_uint64_t size, int, zip_error_t*) {
  auto source = new zip_source;
  source->data = static_cast<const uint8_t*>(data);
  source->size = size;
  return source;
}

void zip_source_free(zip_source_t* source) {
  delete source;
}

zip_t* zip_open_from_source(zip_source_t* source, int, zip_error_t* error) {
  auto archive = new zip;
  archive->source = source;
  if (!ReadDirectory(*archive, error)) {
    archive->source = nullptr;  // the caller frees the source of an archive that failed
    delete archive;
    return nullptr;
  }
  return archive;
}

void zip_discard(zip_t* archive) {
  if (!archive) return;
  zip_source_free(archive->source);
  delete archive;
}

zip_int64_t zip_get_num_entries(zip_t* archive, zip_flags_t) {
  return static_cast<zip_int64_t>(archive->entries.size());
}

void zip_stat_init(zip_stat_t* st) {
  *st = zip_stat_t{};
}

int zip_stat_index(zip_t* archive, zip_uint64_t index, zip_flags_t, zip_stat_t* st) {
  if (index >= archive->entries.size()) return -1;
  const ZipEntry& e = archive->entries[index];
  *st = zip_stat_t{};
  st->valid = ZIP_STAT_NAME | ZIP_STAT_SIZE | ZIP_STAT_MTIME | ZIP_STAT_ENCRYPTION_METHOD;
  st->name = e.name.c_str();
  st->index = index;
  st->size = e.size;
  st->comp_size = e.compressed;
  st->mtime = e.mtime;
  st->crc = e.crc;
  st->comp_method = e.method;
  st->encryption_method = e.flags & kEncryptedFlag ? kTraditionalEncryption : ZIP_EM_NONE;
  return 0;
}

int zip_file_get_external_attributes(zip_t* archive, zip_uint64_t index, zip_flags_t,
                                     zip_uint8_t* system, zip_uint32_t* attributes) {
  if (index >= archive->entries.size()) return -1;
  *system = archive->entries[index].system;
  *attributes = archive->entries[index].attributes;
  return 0;
}

zip_file_t* zip_fopen_index(zip_t* archive, zip_uint64_t index, zip_flags_t) {
  if (index >= archive->entries.size()) return nullptr;
  const ZipEntry& e = archive->entries[index];
  const uint8_t* data = archive->source->data;
  const size_t size = archive->source->size;
  if (e.flags & kEncryptedFlag || e.localHeader + kLocalSize > size ||
      Le32(data + e.localHeader) != kLocalSignature)
    return nullptr;
  const uint64_t start =
      e.localHeader + kLocalSize + Le16(data + e.localHeader + 26) + Le16(data + e.localHeader + 28);
  if (start + e.compressed > size || e.size > INT32_MAX || e.compressed > INT32_MAX) return nullptr;
  auto file = new zip_file;
  file->bytes.resize(e.size);
  bool ok = false;
  if (e.method == kStored) {
    ok = e.compressed == e.size;
    if (ok && e.size > 0) std::memcpy(file->bytes.data(), data + start, e.size);
  } else if (e.method == kDeflated) {
    // Inflating into exactly the declared size: more output fails, less is caught below.
    // stb's decoder refuses a stream whose last codes lie in its final 16 bits (in a PNG
    // a checksum always follows), so the stream gets some bytes after it that it never
    // reaches.
    std::vector<char> room(e.size + 1);
    std::vector<char> stream(data + start, data + start + e.compressed);
    stream.resize(stream.size() + kStreamPadding, 0);
    const int n = stbi_zlib_decode_noheader_buffer(room.data(), static_cast<int>(room.size()),
                                                   stream.data(), static_cast<int>(stream.size()));
    ok = n >= 0 && static_cast<uint64_t>(n) == e.size;
    if (ok && e.size > 0) std::memcpy(file->bytes.data(), room.data(), e.size);
  }
  if (!ok || Crc32(file->bytes.data(), file->bytes.size()) != e.crc) {
    delete file;
    return nullptr;
  }
  return file;
}

zip_int64_t zip_fread(zip_file_t* file, void* out, zip_uint64_t size) {
  const size_t n = std::min<size_t>(size, file->bytes.size() - file->read);
  if (n > 0) std::memcpy(out, file->bytes.data() + file->read, n);
  file->read += n;
  return static_cast<zip_int64_t>(n);
}

int zip_fclose(zip_file_t* file) {
  delete file;
  return 0;
}
