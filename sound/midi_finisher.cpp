#include "sound/midi_player.h"

namespace orvo::sound {

void MidiPlayer::StartFinisher() {
  finisher_ = std::thread([this] { FinishThread(); });
}

}  // namespace orvo::sound
