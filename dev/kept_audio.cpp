#include "dev/kept_audio.h"

#include <cstring>

namespace orvo::dev {

KeptAudio::~KeptAudio() {
  if (open_) real_.StopAudio();
}

bool KeptAudio::StartAudio(platform::AudioSource* source, int sampleRate) {
  if (open_ && sampleRate == rate_) {
    real_.LockAudio();
    source_ = source;
    real_.UnlockAudio();
    return true;
  }
  if (open_) real_.StopAudio();
  source_ = source;
  rate_ = sampleRate;
  open_ = real_.StartAudio(this, sampleRate);
  if (!open_) source_ = nullptr;
  return open_;
}

void KeptAudio::StopAudio() {
  real_.LockAudio();
  source_ = nullptr;
  real_.UnlockAudio();
}

void KeptAudio::Render(int16_t* stereo, int frames) {
  if (source_)
    source_->Render(stereo, frames);
  else
    std::memset(stereo, 0, sizeof(int16_t) * 2 * static_cast<size_t>(frames));
}

}  // namespace orvo::dev
