// The SDL platform's audio: one output stream whose callback pulls the source, and the
// WAV reader of the linked SDL.
#pragma once

#include <cstdint>

#include "platform/audio.h"

namespace orvo::platform {

class SdlAudio final : public Audio {
 public:
  SdlAudio() = default;
  ~SdlAudio() override;
  SdlAudio(const SdlAudio&) = delete;
  SdlAudio& operator=(const SdlAudio&) = delete;

  // Opens the default output as 16-bit stereo at sampleRate (SDL converts to whatever
  // the device takes) and starts pulling. False, after one line on standard error saying
  // why, when there is no device.
  bool StartAudio(AudioSource* source, int sampleRate) override;
  void StopAudio() override;
  // SDL's device lock: the callback does not run while it is held.
  void LockAudio() override;
  void UnlockAudio() override;
  bool LoadWav(const std::string& path, int sampleRate, std::vector<int16_t>& stereo) override;
  bool Running() const { return device_ != 0; }

 private:
  static void Callback(void* user, uint8_t* stream, int length);

  AudioSource* source_ = nullptr;
  uint32_t device_ = 0;
  bool subsystem_ = false;
};

}  // namespace orvo::platform
