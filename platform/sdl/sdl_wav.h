// WAV files for the sound effects, decoded by SDL (which needs no initialisation for it).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvo::platform {

// Reads a WAV file (any format SDL decodes) as interleaved 16-bit stereo at sampleRate.
bool LoadWavFile(const std::string& path, int sampleRate, std::vector<int16_t>& stereo);

}  // namespace orvo::platform
