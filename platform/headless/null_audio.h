// The headless platform's audio device: a thread that pulls the audio source as a sound
// card would, block by block, and keeps what it pulled for tests to inspect. WAV files
// are read with SDL's reader, opened at the first effect.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/audio.h"

namespace orvo::platform {

class NullAudio : public Audio {
 public:
  // Real time: one block per block's worth of time, as a device plays. Fast: blocks as
  // quickly as the source renders them, for tests that only look at sample positions.
  enum class Pace { REAL_TIME, FAST };

  explicit NullAudio(Pace pace = Pace::REAL_TIME, int blockFrames = 1024);
  ~NullAudio() override;
  NullAudio(const NullAudio&) = delete;
  NullAudio& operator=(const NullAudio&) = delete;

  bool StartAudio(AudioSource* source, int sampleRate) override;
  void StopAudio() override;
  // While locked the source is not rendered. The lock may be taken again by its holder.
  void LockAudio() override { lock_.lock(); }
  void UnlockAudio() override { lock_.unlock(); }
  // Without SDL every effect is silent, as one whose file is missing.
  bool LoadWav(const std::string& path, int sampleRate, std::vector<int16_t>& stereo) override;

  bool Running() const { return thread_.joinable(); }
  int SampleRate() const { return rate_; }

  // What was pulled since Start (or ClearRecord).
  uint64_t FramesPulled() const { return frames_.load(); }
  int Peak() const { return peak_.load(); }
  // Keeps a copy of every frame pulled from now on.
  void SetCapture(bool on);
  std::vector<int16_t> Captured() const;
  void ClearRecord();
  // Waits until at least frames have been pulled; false on timeout.
  bool WaitForFrames(uint64_t frames, std::chrono::milliseconds timeout);

 private:
  void Run();

  const Pace pace_;
  const int blockFrames_;
  std::recursive_mutex lock_;
  AudioSource* source_ = nullptr;
  int rate_ = 0;
  std::thread thread_;
  std::atomic<bool> quit_{false};
  // Wakes the thread out of its wait between blocks, so stopping takes no block's time.
  std::mutex stopMutex_;
  std::condition_variable stopCv_;
  std::atomic<uint64_t> frames_{0};
  std::atomic<int> peak_{0};
  mutable std::mutex recordMutex_;
  std::condition_variable recordCv_;
  bool capture_ = false;
  std::vector<int16_t> captured_;
};

}  // namespace orvo::platform
