#include "platform/wav/wav_reader.h"

#include <cstdio>
#include <cstring>

#include "platform/function_table.h"
#include "platform/wav/sdl_wav_functions.h"

namespace orvo::platform {

bool ReadWavFile(const SdlWavFunctions& sdl, const std::string& path, int sampleRate,
                 std::vector<int16_t>& stereo) {
  stereo.clear();
  SDL_RWops* file = sdl.SDL_RWFromFile(path.c_str(), "rb");
  if (!file) return false;
  SDL_AudioSpec format;
  Uint8* wav = nullptr;
  Uint32 length = 0;
  // freesrc = 1: the file is closed by the call, whatever it finds.
  if (!sdl.SDL_LoadWAV_RW(file, 1, &format, &wav, &length)) return false;
  SDL_AudioCVT cvt;
  int need = sdl.SDL_BuildAudioCVT(&cvt, format.format, format.channels, format.freq, AUDIO_S16SYS,
                                   2, sampleRate);
  if (need < 0) {
    sdl.SDL_FreeWAV(wav);
    return false;
  }
  // The conversion works in place in a buffer len_mult times the input.
  cvt.len = static_cast<int>(length);
  cvt.buf = static_cast<Uint8*>(sdl.SDL_malloc(static_cast<size_t>(length) * cvt.len_mult + 16));
  if (!cvt.buf) {
    sdl.SDL_FreeWAV(wav);
    return false;
  }
  std::memcpy(cvt.buf, wav, length);
  sdl.SDL_FreeWAV(wav);
  int bytes = cvt.len;
  if (need > 0) {
    if (sdl.SDL_ConvertAudio(&cvt) != 0) {
      sdl.SDL_free(cvt.buf);
      return false;
    }
    bytes = cvt.len_cvt;
  }
  size_t frames = static_cast<size_t>(bytes) / 4;
  stereo.resize(frames * 2);
  std::memcpy(stereo.data(), cvt.buf, frames * 4);
  sdl.SDL_free(cvt.buf);
  return true;
}

bool OpenSdlWavLibrary(const char* fileName, SdlWavFunctions& out, std::string& error) {
  return platform::OpenFunctionTable(fileName, out, error, [](SdlWavFunctions& table, auto find) {
#define ORVO_FIND(name) find(table.name, #name);
    ORVO_SDL_WAV_FUNCTIONS(ORVO_FIND)
#undef ORVO_FIND
  });
}

const SdlWavFunctions* SdlWavLibrary() {
  // A function-local static: the first caller opens the library, any racing caller waits.
  static const SdlWavFunctions* const library = []() -> const SdlWavFunctions* {
    static SdlWavFunctions loaded;
    std::string error;
    if (!OpenSdlWavLibrary(SDL_LIBRARY_NAME, loaded, error)) {
      std::fprintf(stderr, "orvo: no sound effects: %s\n", error.c_str());
      return nullptr;
    }
    return &loaded;
  }();
  return library;
}

}  // namespace orvo::platform
