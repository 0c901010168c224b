// WAV files for the sound effects, read with the SDL this program is linked to.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/wav/wav_reader.h"

namespace orvo::platform {

// The reader's table filled with the linked SDL's own functions.
const SdlWavFunctions& LinkedSdlWavFunctions();

// Reads a WAV file (any format SDL decodes) as interleaved 16-bit stereo at sampleRate.
bool LoadWavFile(const std::string& path, int sampleRate, std::vector<int16_t>& stereo);

}  // namespace orvo::platform
