// Under node the web build has no threads: the headless runner has no audio device, and
// music and effects stay silent as on a machine without a sound card.
#include "platform/headless/null_audio.h"

namespace orvo::platform {

bool NullAudio::StartAudio(AudioSource*, int) {
  return false;
}

}  // namespace orvo::platform
