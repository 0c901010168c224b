// The page's audio: a WebAudio context pulls the source in blocks on the page's own
// thread, so no lock is needed; the browser starts it only after the first click or key
// (the page resumes it then). WAV effects are decoded and resampled by the browser.
#pragma once

#include "platform/audio.h"

namespace orvo::platform {

class WebAudio : public Audio {
 public:
  ~WebAudio() override { StopAudio(); }
  bool StartAudio(AudioSource* source, int sampleRate) override;
  void StopAudio() override;
  // The page runs one thing at a time: the source is never pulled while the runtime runs.
  void LockAudio() override {}
  void UnlockAudio() override {}
  bool LoadWav(const std::string& path, int sampleRate, std::vector<int16_t>& stereo) override;

  // Called by the page's audio node: fills the block and returns it.
  int16_t* Render(int frames);

 private:
  AudioSource* source_ = nullptr;
  std::vector<int16_t> block_;
};

}  // namespace orvo::platform
