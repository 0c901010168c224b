// A GIF recording of the screen, encoded with giflib on a thread of its own so the game's
// frames cost only a copy. Each frame gets a 256-colour palette of its own from giflib's
// quantizer (median cut), its delay from the real time until the next frame, and only
// the rectangle that changed since the frame before; frames that change nothing, or that
// were shown for less than the GIF's time unit, are merged into the one before.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvo::host {

class GifRecorder {
 public:
  // The longest recording; a recording reaching it ends by itself.
  static constexpr uint32_t kMaxMs = 60000;
  // Frames waiting for the encoder beyond this replace the newest waiting one.
  static constexpr size_t kMaxWaiting = 8;

  explicit GifRecorder(size_t maxWaiting = kMaxWaiting) : maxWaiting_(maxWaiting) {}
  ~GifRecorder() { Stop(0); }
  GifRecorder(const GifRecorder&) = delete;
  GifRecorder& operator=(const GifRecorder&) = delete;

  // Starts a recording of frames width x height into path; false when one is running or
  // the size is none.
  bool Start(const std::string& path, int32_t width, int32_t height, uint32_t nowMs);
  bool Recording() const { return thread_.joinable(); }
  // A frame shown at nowMs: BGRA rows, at least the recording's size. False once the
  // recording has reached its length (the caller stops it).
  bool Frame(const uint8_t* bgra, int32_t stride, uint32_t nowMs);
  // Ends the recording at nowMs and waits for the file; false when it could not be written.
  bool Stop(uint32_t nowMs);
  const std::string& Path() const { return path_; }

 private:
  struct Shot {
    std::vector<uint8_t> bgra;  // width x height, packed
    uint32_t ms = 0;
    bool last = false;  // the end of the recording: no pixels
  };
  void Encode();

  const size_t maxWaiting_;
  std::string path_;
  int32_t width_ = 0, height_ = 0;
  uint32_t startMs_ = 0;
  std::mutex lock_;
  std::condition_variable wake_;
  std::deque<Shot> waiting_;
  bool ok_ = true;  // written so far
  std::thread thread_;
};

}  // namespace orvo::host
