// The wait after a song has played out, in the page: the page has no threads, so a timer
// of the browser's ends it. The song's end is found inside the audio callback, which
// starts the timer; a stop or a new song before it fires makes it stale (FinishEnded
// checks the generation), and the player's end cancels it.
#include <emscripten/eventloop.h>

#include "sound/midi_player.h"

namespace orvo::sound {

void MidiPlayer::StartFinisher() {}

void MidiPlayer::WakeFinisher() {
  if (finishTimer_ != 0) emscripten_clear_timeout(finishTimer_);
  finishTimer_ = emscripten_set_timeout(
      [](void* player) {
        auto* self = static_cast<MidiPlayer*>(player);
        self->finishTimer_ = 0;
        self->FinishEnded(self->endedGeneration_.load());
      },
      FINISH_WAIT_MS, this);
}

void MidiPlayer::StopFinisher() {
  if (finishTimer_ != 0) emscripten_clear_timeout(finishTimer_);
  finishTimer_ = 0;
}

}  // namespace orvo::sound
