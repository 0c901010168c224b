// The wait after a song has played out, on a worker thread of the player's own.
#include "sound/midi_player.h"

#include <chrono>

namespace orvo::sound {

void MidiPlayer::StartFinisher() {
  finisher_ = std::thread([this] { FinishThread(); });
}

void MidiPlayer::WakeFinisher() {
  wake_.release();
}

void MidiPlayer::StopFinisher() {
  {
    std::lock_guard<std::mutex> lk(finishMutex_);
    quit_ = true;
  }
  finishCv_.notify_all();
  wake_.release();
  if (finisher_.joinable()) finisher_.join();
}

void MidiPlayer::FinishThread() {
  for (;;) {
    wake_.acquire();
    if (quit_) return;
    const uint32_t gen = endedGeneration_.load();
    {
      std::unique_lock<std::mutex> lk(finishMutex_);
      finishCv_.wait_for(lk, std::chrono::milliseconds(FINISH_WAIT_MS),
                         [&] { return quit_.load() || generation_.load() != gen; });
    }
    if (quit_) return;
    FinishEnded(gen);
  }
}

}  // namespace orvo::sound
