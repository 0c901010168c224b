// Those of libzip's declarations that the game archive's reader uses, for the web build,
// where libzip is not available: a reader of zip archives held in memory whose stored
// and deflated entries are inflated with stb_image's decoder and checked against their
// CRC-32. Archives of more than 65535 entries or 4 GiB (zip64) are refused.
#pragma once

#include <cstdint>
#include <ctime>

using zip_int64_t = int64_t;
using zip_uint64_t = uint64_t;
using zip_int32_t = int32_t;
using zip_uint32_t = uint32_t;
using zip_uint16_t = uint16_t;
using zip_uint8_t = uint8_t;
using zip_flags_t = uint32_t;

struct zip;
struct zip_source;
struct zip_file;
struct zip_error {
  const char* text = nullptr;  // the reason, a string literal; null when none
};
using zip_t = zip;
using zip_source_t = zip_source;
using zip_file_t = zip_file;
using zip_error_t = zip_error;

inline constexpr int ZIP_RDONLY = 16;
inline constexpr int ZIP_CHECKCONS = 4;
inline constexpr zip_flags_t ZIP_FL_ENC_RAW = 64;
inline constexpr zip_uint16_t ZIP_EM_NONE = 0;

inline constexpr zip_uint64_t ZIP_STAT_NAME = 0x1;
inline constexpr zip_uint64_t ZIP_STAT_SIZE = 0x4;
inline constexpr zip_uint64_t ZIP_STAT_MTIME = 0x10;
inline constexpr zip_uint64_t ZIP_STAT_ENCRYPTION_METHOD = 0x100;

struct zip_stat {
  zip_uint64_t valid = 0;
  const char* name = nullptr;
  zip_uint64_t index = 0;
  zip_uint64_t size = 0;
  zip_uint64_t comp_size = 0;
  time_t mtime = 0;
  zip_uint32_t crc = 0;
  zip_uint16_t comp_method = 0;
  zip_uint16_t encryption_method = 0;
};
using zip_stat_t = zip_stat;

void zip_error_init(zip_error_t* error);
void zip_error_fini(zip_error_t* error);
const char* zip_error_strerror(zip_error_t* error);

// The bytes of [start, start + length) of a file (length -1: to its end), read now.
zip_source_t* zip_source_file_create(const char* path, zip_uint64_t start, zip_int64_t length,
                                     zip_error_t* error);
// Bytes the caller keeps alive (freep must be 0).
zip_source_t* zip_source_buffer_create(const void* data, zip_uint64_t size, int freep,
                                       zip_error_t* error);
void zip_source_free(zip_source_t* source);

// Takes the source over when it opens.
zip_t* zip_open_from_source(zip_source_t* source, int flags, zip_error_t* error);
void zip_discard(zip_t* archive);
zip_int64_t zip_get_num_entries(zip_t* archive, zip_flags_t flags);
void zip_stat_init(zip_stat_t* st);
int zip_stat_index(zip_t* archive, zip_uint64_t index, zip_flags_t flags, zip_stat_t* st);
int zip_file_get_external_attributes(zip_t* archive, zip_uint64_t index, zip_flags_t flags,
                                     zip_uint8_t* system, zip_uint32_t* attributes);
// An entry inflated whole and checked when opened; null when it does not come out intact.
zip_file_t* zip_fopen_index(zip_t* archive, zip_uint64_t index, zip_flags_t flags);
zip_int64_t zip_fread(zip_file_t* file, void* out, zip_uint64_t size);
int zip_fclose(zip_file_t* file);
