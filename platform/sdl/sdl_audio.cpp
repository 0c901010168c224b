#include "platform/sdl/sdl_audio.h"

#include <SDL.h>

#include <cstdio>

#include "platform/sdl/alsa_messages.h"
#include "platform/sdl/sdl_wav.h"

namespace orvo::platform {
namespace {

// The one line a start without sound prints; the game goes on silently.
void ReportNoSound() {
  const char* why = SDL_GetError();
  std::fprintf(stderr, "orvo: sound is off: no audio device could be opened (%s)\n",
               why && *why ? why : "no reason given");
  std::fflush(stderr);
}

}  // namespace

SdlAudio::~SdlAudio() {
  StopAudio();
}

void SdlAudio::Callback(void* user, uint8_t* stream, int length) {
  auto* self = static_cast<SdlAudio*>(user);
  self->source_->Render(reinterpret_cast<int16_t*>(stream), length / 4);
}

bool SdlAudio::StartAudio(AudioSource* source, int sampleRate) {
  if (device_ || !source) return false;
  SilenceAlsaMessages();
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    ReportNoSound();
    return false;
  }
  subsystem_ = true;
  source_ = source;
  SDL_AudioSpec want{};
  want.freq = sampleRate;
  want.format = AUDIO_S16SYS;
  want.channels = 2;
  want.samples = 1024;
  want.callback = [](void* user, Uint8* stream, int length) { Callback(user, stream, length); };
  want.userdata = this;
  SDL_AudioSpec have{};
  // No changes allowed: SDL converts from our format to the device's.
  device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (device_ == 0) {
    ReportNoSound();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    subsystem_ = false;
    source_ = nullptr;
    return false;
  }
  SDL_PauseAudioDevice(device_, 0);
  return true;
}

void SdlAudio::StopAudio() {
  if (device_) {
    SDL_CloseAudioDevice(device_);
    device_ = 0;
  }
  if (subsystem_) {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    subsystem_ = false;
  }
  source_ = nullptr;
}

void SdlAudio::LockAudio() {
  if (device_) SDL_LockAudioDevice(device_);
}

void SdlAudio::UnlockAudio() {
  if (device_) SDL_UnlockAudioDevice(device_);
}

bool SdlAudio::LoadWav(const std::string& path, int sampleRate, std::vector<int16_t>& stereo) {
  return LoadWavFile(path, sampleRate, stereo);
}

}  // namespace orvo::platform
