// The web build has no SDL to decode WAV files: the page's own audio decodes the effects
// (platform/web), and the reader here finds no library.
#include <cstdio>

#include "platform/wav/wav_reader.h"

namespace orvo::platform {

struct SdlWavFunctions {};

bool ReadWavFile(const SdlWavFunctions&, const std::string&, int, std::vector<int16_t>& stereo) {
  stereo.clear();
  return false;
}

bool OpenSdlWavLibrary(const char* fileName, SdlWavFunctions&, std::string& error) {
  error = std::string(fileName) + " cannot be opened in the web build";
  return false;
}

const SdlWavFunctions* SdlWavLibrary() {
  static const bool told = [] {
    std::fprintf(stderr, "orvo: no sound effects from WAV files without the page's audio\n");
    return true;
  }();
  (void)told;
  return nullptr;
}

}  // namespace orvo::platform
