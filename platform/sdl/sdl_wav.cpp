#include "platform/sdl/sdl_wav.h"

#include <SDL.h>

#include <cstring>

namespace orvo::platform {

bool LoadWavFile(const std::string& path, int sampleRate, std::vector<int16_t>& stereo) {
  stereo.clear();
  SDL_AudioSpec format;
  Uint8* wav = nullptr;
  Uint32 length = 0;
  if (!SDL_LoadWAV(path.c_str(), &format, &wav, &length)) return false;
  SDL_AudioCVT cvt;
  int need = SDL_BuildAudioCVT(&cvt, format.format, format.channels, format.freq, AUDIO_S16SYS, 2,
                               sampleRate);
  if (need < 0) {
    SDL_FreeWAV(wav);
    return false;
  }
  // The conversion works in place in a buffer len_mult times the input.
  cvt.len = static_cast<int>(length);
  cvt.buf = static_cast<Uint8*>(SDL_malloc(static_cast<size_t>(length) * cvt.len_mult + 16));
  if (!cvt.buf) {
    SDL_FreeWAV(wav);
    return false;
  }
  std::memcpy(cvt.buf, wav, length);
  SDL_FreeWAV(wav);
  int bytes = cvt.len;
  if (need > 0) {
    if (SDL_ConvertAudio(&cvt) != 0) {
      SDL_free(cvt.buf);
      return false;
    }
    bytes = cvt.len_cvt;
  }
  size_t frames = static_cast<size_t>(bytes) / 4;
  stereo.resize(frames * 2);
  std::memcpy(stereo.data(), cvt.buf, frames * 4);
  SDL_free(cvt.buf);
  return true;
}

}  // namespace orvo::platform
