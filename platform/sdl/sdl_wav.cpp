#include "platform/sdl/sdl_wav.h"

#include "platform/wav/sdl_wav_functions.h"

namespace orvo::platform {

const SdlWavFunctions& LinkedSdlWavFunctions() {
  static const SdlWavFunctions functions = [] {
    SdlWavFunctions f;
#define ORVO_SDL_WAV_LINKED(name) f.name = &::name;
    ORVO_SDL_WAV_FUNCTIONS(ORVO_SDL_WAV_LINKED)
#undef ORVO_SDL_WAV_LINKED
    return f;
  }();
  return functions;
}

bool LoadWavFile(const std::string& path, int sampleRate, std::vector<int16_t>& stereo) {
  return ReadWavFile(LinkedSdlWavFunctions(), path, sampleRate, stereo);
}

}  // namespace orvo::platform
