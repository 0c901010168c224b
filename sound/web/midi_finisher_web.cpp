// The web build has no threads and no FluidSynth to open: its songs never start, so no
// song can play out and no worker waits for one.
#include "sound/midi_player.h"

namespace orvo::sound {

void MidiPlayer::StartFinisher() {}

}  // namespace orvo::sound
