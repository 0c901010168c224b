// The web build's table holds its own zip reader's functions.
#include "services/zip_library.h"

namespace orvo::services {

const ZipLibrary* Zip(std::string&) {
  static const ZipLibrary library = [] {
    ZipLibrary table;
#define ORVO_TAKE(name) table.name = &::name;
    ORVO_ZIP_FUNCTIONS(ORVO_TAKE)
#undef ORVO_TAKE
    return table;
  }();
  return &library;
}

}  // namespace orvo::services
