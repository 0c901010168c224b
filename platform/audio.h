// The audio output: one device pulling a source on its own thread, and the WAV files of
// the sound effects.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvo::platform {

// Pulled on the audio thread for interleaved 16-bit stereo frames. It must not block,
// sleep or allocate.
class AudioSource {
 public:
  virtual ~AudioSource() = default;
  virtual void Render(int16_t* stereo, int frames) = 0;
};

class Audio {
 public:
  virtual ~Audio() = default;
  // False when there is no device; music and effects then stay silent.
  virtual bool StartAudio(AudioSource* source, int sampleRate) = 0;
  virtual void StopAudio() = 0;
  // While locked the audio thread does not run the source.
  virtual void LockAudio() = 0;
  virtual void UnlockAudio() = 0;
  // Reads a WAV file and converts it to interleaved 16-bit stereo at sampleRate.
  virtual bool LoadWav(const std::string& path, int sampleRate, std::vector<int16_t>& stereo) = 0;
};

}  // namespace orvo::platform
