#include "services/zip_library.h"

#include "platform/function_table.h"

namespace orvo::services {

const ZipLibrary* Zip(std::string& error) {
  // A function-local static: the first caller opens the library, any racing caller waits.
  static std::string openError;
  static const ZipLibrary* const library = []() -> const ZipLibrary* {
    static ZipLibrary loaded;
    const bool opened = platform::OpenFunctionTable(
        ZIP_LIBRARY_NAME, loaded, openError, [](ZipLibrary& table, auto find) {
#define ORVO_FIND(name) find(table.name, #name);
          ORVO_ZIP_FUNCTIONS(ORVO_FIND)
#undef ORVO_FIND
        });
    return opened ? &loaded : nullptr;
  }();
  if (!library) error = openError;
  return library;
}

}  // namespace orvo::services
