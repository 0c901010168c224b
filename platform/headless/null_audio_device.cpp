// The device's thread, started with the source.
#include "platform/headless/null_audio.h"

namespace orvo::platform {

bool NullAudio::StartAudio(AudioSource* source, int sampleRate) {
  if (!source || sampleRate <= 0 || thread_.joinable()) return false;
  source_ = source;
  rate_ = sampleRate;
  quit_ = false;
  thread_ = std::thread([this] { Run(); });
  return true;
}

}  // namespace orvo::platform
