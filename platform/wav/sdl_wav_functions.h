// The table of SDL functions the WAV reader calls, for the reader itself and for those
// that fill the table from an SDL of their own.
#pragma once

#include <SDL.h>

#include "platform/wav/wav_reader.h"

namespace orvo::platform {

// Every SDL function the reader calls.
// clang-format off
#define ORVO_SDL_WAV_FUNCTIONS(X) \
  X(SDL_RWFromFile) \
  X(SDL_LoadWAV_RW) \
  X(SDL_FreeWAV) \
  X(SDL_BuildAudioCVT) \
  X(SDL_ConvertAudio) \
  X(SDL_malloc) \
  X(SDL_free)
// clang-format on

// The functions, each under its own name.
struct SdlWavFunctions {
#define ORVO_SDL_WAV_POINTER(name) decltype(&::name) name = nullptr;
  ORVO_SDL_WAV_FUNCTIONS(ORVO_SDL_WAV_POINTER)
#undef ORVO_SDL_WAV_POINTER
};

}  // namespace orvo::platform
