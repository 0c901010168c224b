#include "platform/headless/null_audio.h"

#include <cstdlib>

#include "platform/wav/wav_reader.h"

namespace orvo::platform {

NullAudio::NullAudio(Pace pace, int blockFrames)
    : pace_(pace), blockFrames_(blockFrames > 0 ? blockFrames : 1024) {}

NullAudio::~NullAudio() {
  StopAudio();
}

void NullAudio::StopAudio() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lk(stopMutex_);
    quit_ = true;
  }
  stopCv_.notify_all();
  thread_.join();
  source_ = nullptr;
}

bool NullAudio::LoadWav(const std::string& path, int sampleRate, std::vector<int16_t>& stereo) {
  stereo.clear();
  const SdlWavFunctions* sdl = SdlWavLibrary();
  return sdl && ReadWavFile(*sdl, path, sampleRate, stereo);
}

void NullAudio::SetCapture(bool on) {
  std::lock_guard<std::mutex> lk(recordMutex_);
  capture_ = on;
}

std::vector<int16_t> NullAudio::Captured() const {
  std::lock_guard<std::mutex> lk(recordMutex_);
  return captured_;
}

void NullAudio::ClearRecord() {
  std::lock_guard<std::mutex> lk(recordMutex_);
  captured_.clear();
  frames_ = 0;
  peak_ = 0;
}

bool NullAudio::WaitForFrames(uint64_t frames, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lk(recordMutex_);
  return recordCv_.wait_for(lk, timeout, [&] { return frames_.load() >= frames; });
}

void NullAudio::Run() {
  using Clock = std::chrono::steady_clock;
  std::vector<int16_t> block(2 * static_cast<size_t>(blockFrames_));
  const auto period = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(static_cast<double>(blockFrames_) / rate_));
  auto next = Clock::now();
  while (!quit_) {
    {
      std::lock_guard<std::recursive_mutex> lk(lock_);
      source_->Render(block.data(), blockFrames_);
    }
    int peak = 0;
    for (int16_t s : block) peak = std::max(peak, std::abs(int{s}));
    {
      std::lock_guard<std::mutex> lk(recordMutex_);
      if (capture_) captured_.insert(captured_.end(), block.begin(), block.end());
      frames_ += static_cast<uint64_t>(blockFrames_);
      if (peak > peak_) peak_ = peak;
    }
    recordCv_.notify_all();
    if (pace_ == Pace::FAST) {
      // Room for other threads to take the lock between blocks.
      std::this_thread::sleep_for(std::chrono::microseconds(50));
      continue;
    }
    next += period;
    auto now = Clock::now();
    // After a long stall (a stopped debugger, a loaded machine) play on from now rather
    // than pulling a burst of blocks to catch up.
    if (now - next > std::chrono::milliseconds(250)) next = now;
    std::unique_lock<std::mutex> lk(stopMutex_);
    stopCv_.wait_until(lk, next, [this] { return quit_.load(); });
  }
}

}  // namespace orvo::platform
