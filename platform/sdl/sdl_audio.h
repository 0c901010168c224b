// The SDL platform's audio device: one output stream whose callback pulls the source.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace orvo::platform {

class SdlAudio {
 public:
  SdlAudio() = default;
  ~SdlAudio();
  SdlAudio(const SdlAudio&) = delete;
  SdlAudio& operator=(const SdlAudio&) = delete;

  // Opens the default output as 16-bit stereo at sampleRate (SDL converts to whatever
  // the device takes) and starts pulling. False, after one line on standard error saying
  // why, when there is no device.
  bool Start(AudioSource* source, int sampleRate);
  void Stop();
  // SDL's device lock: the callback does not run while it is held.
  void Lock();
  void Unlock();
  bool Running() const { return device_ != 0; }

 private:
  static void Callback(void* user, uint8_t* stream, int length);

  AudioSource* source_ = nullptr;
  uint32_t device_ = 0;
  bool subsystem_ = false;
};

}  // namespace orvo::platform
