// The ALSA library writes every failed lookup in its configuration to standard error: on a
// machine without a sound card that is a screen of lines at each start, before SDL gives
// up on the device and says why in one error text of its own.
#pragma once

namespace orvo::platform {

// Drops the ALSA library's own messages, in the same shared library that SDL's audio
// opens. Does nothing where ALSA is not installed. Call before SDL's audio starts.
void SilenceAlsaMessages();

}  // namespace orvo::platform
