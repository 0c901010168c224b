// WAV files for the sound effects, read and converted by SDL (which needs no
// initialisation for it). The reader calls SDL through a table, so that a program can
// take the functions from SDL linked into it or from the library opened when the first
// effect is read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvo::platform {

// The shared library the run-time table comes from.
inline constexpr const char* SDL_LIBRARY_NAME = "libSDL2-2.0.so.0";

// SDL's functions the reader calls (sdl_wav_functions.h): the reader's callers need not
// see SDL's headers.
struct SdlWavFunctions;

// Reads a WAV file (any format SDL decodes) as interleaved 16-bit stereo at sampleRate.
// False, with stereo empty, when the file cannot be read or converted.
bool ReadWavFile(const SdlWavFunctions& sdl, const std::string& path, int sampleRate,
                 std::vector<int16_t>& stereo);

// Opens the named library and looks up every function. False, with error saying what is
// missing, when the library does not open or lacks one of them (it is closed again then).
// The library stays open after a success.
bool OpenSdlWavLibrary(const char* fileName, SdlWavFunctions& out, std::string& error);

// SDL opened at run time by the first call (once, also when calls race). nullptr, after
// one line on standard error, when the library or one of its functions is missing.
const SdlWavFunctions* SdlWavLibrary();

}  // namespace orvo::platform
