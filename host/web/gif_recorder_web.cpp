// The web build has no GIF encoder (giflib is native only): a recording never starts, and
// the capture key says so as it does for any recording that cannot be written.
#include "host/gif_recorder.h"

namespace orvo::host {

bool GifRecorder::Start(const std::string& path, int32_t width, int32_t height, uint32_t nowMs) {
  path_ = path;
  width_ = width;
  height_ = height;
  startMs_ = nowMs;
  ok_ = maxWaiting_ == 0;
  return false;
}

bool GifRecorder::Frame(const uint8_t*, int32_t, uint32_t) {
  return false;
}

bool GifRecorder::Stop(uint32_t) {
  return false;
}

void GifRecorder::Encode() {}

}  // namespace orvo::host
