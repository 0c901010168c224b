// The audio device of the development mode, kept open from one run of the game to the
// next: closing and opening a device waits for its thread, a good part of a restart. A
// run's stop only takes its source away (the device plays silence until the next run's
// start hands it a new one).
#pragma once

#include "platform/audio.h"

namespace orvo::dev {

class KeptAudio : public platform::Audio, private platform::AudioSource {
 public:
  explicit KeptAudio(platform::Audio& real) : real_(real) {}
  ~KeptAudio() override;
  KeptAudio(const KeptAudio&) = delete;
  KeptAudio& operator=(const KeptAudio&) = delete;

  bool StartAudio(platform::AudioSource* source, int sampleRate) override;
  void StopAudio() override;
  void LockAudio() override { real_.LockAudio(); }
  void UnlockAudio() override { real_.UnlockAudio(); }
  bool LoadWav(const std::string& path, int sampleRate, std::vector<int16_t>& stereo) override {
    return real_.LoadWav(path, sampleRate, stereo);
  }

 private:
  void Render(int16_t* stereo, int frames) override;

  platform::Audio& real_;
  platform::AudioSource* source_ = nullptr;  // changed only under the device's lock
  bool open_ = false;
  int rate_ = 0;
};

}  // namespace orvo::dev
