// libzip opened at run time. The archive reader and the crypto library it brings are
// loaded with the first archive rather than at start-up, so a game run from its folder
// never maps them. The web build fills the same table with its own reader.
#pragma once

#include <zip.h>

#include <string>

namespace orvo::services {

// The shared library the functions come from.
inline constexpr const char* ZIP_LIBRARY_NAME = "libzip.so.4";

// Every libzip function the archive reader calls.
// clang-format off
#define ORVO_ZIP_FUNCTIONS(X) \
  X(zip_error_init) \
  X(zip_error_fini) \
  X(zip_error_strerror) \
  X(zip_source_file_create) \
  X(zip_source_buffer_create) \
  X(zip_source_free) \
  X(zip_open_from_source) \
  X(zip_discard) \
  X(zip_get_num_entries) \
  X(zip_stat_init) \
  X(zip_stat_index) \
  X(zip_file_get_external_attributes) \
  X(zip_fopen_index) \
  X(zip_fread) \
  X(zip_fclose)
// clang-format on

// The functions, each under its own name.
struct ZipLibrary {
#define ORVO_ZIP_POINTER(name) decltype(&::name) name = nullptr;
  ORVO_ZIP_FUNCTIONS(ORVO_ZIP_POINTER)
#undef ORVO_ZIP_POINTER
};

// The process's libzip, opened by the first call (once, also when calls race). nullptr,
// with what is missing in error, when the library or one of its functions is missing.
const ZipLibrary* Zip(std::string& error);

}  // namespace orvo::services
