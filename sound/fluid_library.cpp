#include "sound/fluid_library.h"

#include <cstdio>
#include <mutex>

#include "platform/function_table.h"

namespace orvo::sound {

bool OpenFluidLibrary(const char* fileName, FluidLibrary& out, std::string& error) {
  return platform::OpenFunctionTable(fileName, out, error, [](FluidLibrary& table, auto find) {
#define ORVO_FIND(name) find(table.name, #name);
    ORVO_FLUID_FUNCTIONS(ORVO_FIND)
#undef ORVO_FIND
  });
}

namespace {

// The first error FluidSynth reported since it was last taken, for the one line that says why music
// is off. The render may report too: it never waits for the lock and never allocates.
std::mutex lastErrorMutex;
char lastError[256] = "";

void KeepError(int, const char* message, void*) {
  std::unique_lock<std::mutex> lock(lastErrorMutex, std::try_to_lock);
  // The first message is the cause; what follows it says what failed because of it.
  if (!lock || !message || lastError[0] != '\0') return;
  std::snprintf(lastError, sizeof lastError, "%s", message);
}

// The GLib that FluidSynth brings with it: its SoundFont and DLS loaders report a file they
// cannot read through GLib's log, which writes to standard error. (Declared here: GLib's
// headers are not needed for this one call.)
using GlibLogFunction = void (*)(const char* domain, int level, const char* message, void* data);
struct GlibLog {
  GlibLogFunction (*g_log_set_default_handler)(GlibLogFunction, void*) = nullptr;
};

void KeepGlibMessage(const char*, int, const char* message, void*) {
  KeepError(FLUID_ERR, message, nullptr);
}

// FluidSynth reports every note it finds no voice for as a warning, from inside the render:
// a dense passage would write hundreds of lines to standard error from the audio thread,
// which blocks there once a pipe nobody reads is full. Warnings and notices are dropped;
// errors, FluidSynth's and GLib's, are kept for the caller to explain a failure.
void RouteMessages(const FluidLibrary& library) {
  for (int level : {FLUID_WARN, FLUID_INFO, FLUID_DBG})
    library.fluid_set_log_function(level, nullptr, nullptr);
  for (int level : {FLUID_PANIC, FLUID_ERR})
    library.fluid_set_log_function(level, KeepError, nullptr);
  GlibLog glib;
  std::string missing;
  if (platform::OpenFunctionTable("libglib-2.0.so.0", glib, missing, [](GlibLog& table, auto find) {
        find(table.g_log_set_default_handler, "g_log_set_default_handler");
      }))
    glib.g_log_set_default_handler(KeepGlibMessage, nullptr);
}

}  // namespace

const FluidLibrary* Fluid(std::string* error) {
  // A function-local static: the first caller opens the library, any racing caller waits.
  static std::string openError;
  static const FluidLibrary* const library = []() -> const FluidLibrary* {
    static FluidLibrary loaded;
    if (!OpenFluidLibrary(FLUID_LIBRARY_NAME, loaded, openError)) return nullptr;
    RouteMessages(loaded);
    return &loaded;
  }();
  if (!library && error) *error = openError;
  return library;
}

std::string TakeFluidError() {
  std::lock_guard<std::mutex> lock(lastErrorMutex);
  std::string message = lastError;
  lastError[0] = '\0';
  return message;
}

}  // namespace orvo::sound
