// Tables of functions from a shared library opened at run time (dlopen), for libraries
// that are loaded only when first needed.
#pragma once

#include <dlfcn.h>

#include <string>
#include <type_traits>

namespace orvo::platform {

// Opens fileName and fills table through forEach(table, find), which calls
// find(table.member, "name") for each function. On success the library stays open for
// the life of the program. Otherwise error names what is missing (the library or its
// first missing function), the table is left empty and the library is closed again.
template <typename Table, typename ForEach>
bool OpenFunctionTable(const char* fileName, Table& table, std::string& error, ForEach forEach) {
  table = Table{};
  void* handle = dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    error = why ? why : std::string(fileName) + ": cannot be opened";
    return false;
  }
  bool complete = true;
  // Each pointer gets the symbol's address under the type its declaration gives it.
  forEach(table, [&](auto& function, const char* name) {
    if (!complete) return;
    function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(handle, name));
    if (!function) {
      error = std::string(fileName) + " has no " + name;
      complete = false;
    }
  });
  if (!complete) {
    table = Table{};
    dlclose(handle);
    return false;
  }
  return true;
}

}  // namespace orvo::platform
