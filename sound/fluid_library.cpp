#include "sound/fluid_library.h"

#include <cstdio>

#include "platform/function_table.h"

namespace orvo::sound {

bool OpenFluidLibrary(const char* fileName, FluidLibrary& out, std::string& error) {
  return platform::OpenFunctionTable(fileName, out, error, [](FluidLibrary& table, auto find) {
#define ORVO_FIND(name) find(table.name, #name);
    ORVO_FLUID_FUNCTIONS(ORVO_FIND)
#undef ORVO_FIND
  });
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
