#include "platform/sdl/alsa_messages.h"

#include <string>

#include "platform/function_table.h"

namespace orvo::platform {
namespace {

// The handler as ALSA declares it (its header is not needed for this one call).
using AlsaErrorHandler = void (*)(const char* file, int line, const char* function, int err,
                                  const char* format, ...);

struct AlsaLibrary {
  int (*snd_lib_error_set_handler)(AlsaErrorHandler) = nullptr;
};

void DropAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

void SilenceAlsaMessages() {
  // Once per process; the library stays open, so the handler outlives every use of it.
  static const bool silenced = [] {
    AlsaLibrary alsa;
    std::string error;
    if (!OpenFunctionTable("libasound.so.2", alsa, error, [](AlsaLibrary& table, auto find) {
          find(table.snd_lib_error_set_handler, "snd_lib_error_set_handler");
        }))
      return false;
    alsa.snd_lib_error_set_handler(DropAlsaMessage);
    return true;
  }();
  (void)silenced;
}

}  // namespace orvo::platform
