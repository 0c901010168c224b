#include "sound/fluid_library.h"

#include <dlfcn.h>

#include <cstdio>

namespace orvo::sound {

bool OpenFluidLibrary(const char* fileName, FluidLibrary& out, std::string& error) {
  out = FluidLibrary{};
  void* handle = dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    error = why ? why : std::string(fileName) + ": cannot be opened";
    return false;
  }
  bool complete = true;
  // Each pointer gets the symbol's address under the type its declaration gives it.
#define ORVO_FLUID_LOOKUP(name)                                            \
  if (complete) {                                                          \
    out.name = reinterpret_cast<decltype(out.name)>(dlsym(handle, #name)); \
    if (!out.name) {                                                       \
      error = std::string(fileName) + " has no " #name;                    \
      complete = false;                                                    \
    }                                                                      \
  }
  ORVO_FLUID_FUNCTIONS(ORVO_FLUID_LOOKUP)
#undef ORVO_FLUID_LOOKUP
  if (!complete) {
    out = FluidLibrary{};
    dlclose(handle);
    return false;
  }
  return true;
}

const FluidLibrary* Fluid() {
  // A function-local static: the first caller opens the library, any racing caller waits.
  static const FluidLibrary* const library = []() -> const FluidLibrary* {
    static FluidLibrary loaded;
    std::string error;
    if (!OpenFluidLibrary(FLUID_LIBRARY_NAME, loaded, error)) {
      std::fprintf(stderr, "orvo: no music: %s\n", error.c_str());
      return nullptr;
    }
    // FluidSynth reports every note it finds no voice for as a warning, from inside the
    // render: a dense passage would write hundreds of lines to standard error from the
    // audio thread, which blocks there once a pipe nobody reads is full. Warnings and
    // notices are dropped; errors (a SoundFont that does not load) still go out.
    for (int level : {FLUID_WARN, FLUID_INFO, FLUID_DBG})
      loaded.fluid_set_log_function(level, nullptr, nullptr);
    return &loaded;
  }();
  return library;
}

}  // namespace orvo::sound
