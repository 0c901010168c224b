// FluidSynth opened at run time. The synthesizer and what it brings with it (audio
// servers, glib, libsndfile, ...) is loaded with the first song rather than at start-up,
// so a run that plays no music never maps it.
#pragma once

#include <fluidsynth.h>

#include <string>

namespace orvo::sound {

// The shared library the functions come from.
inline constexpr const char* FLUID_LIBRARY_NAME = "libfluidsynth.so.3";

// Every FluidSynth function the MIDI device calls.
// clang-format off
#define ORVO_FLUID_FUNCTIONS(X) \
  X(fluid_set_log_function) \
  X(new_fluid_settings) \
  X(delete_fluid_settings) \
  X(fluid_settings_setnum) \
  X(fluid_settings_setint) \
  X(new_fluid_synth) \
  X(delete_fluid_synth) \
  X(fluid_synth_sfload) \
  X(fluid_synth_noteon) \
  X(fluid_synth_noteoff) \
  X(fluid_synth_key_pressure) \
  X(fluid_synth_cc) \
  X(fluid_synth_program_change) \
  X(fluid_synth_channel_pressure) \
  X(fluid_synth_pitch_bend) \
  X(fluid_synth_sysex) \
  X(fluid_synth_all_notes_off) \
  X(fluid_synth_system_reset) \
  X(fluid_synth_get_active_voice_count) \
  X(fluid_synth_write_float)
// clang-format on

// The functions, each under its own name.
struct FluidLibrary {
#define ORVO_FLUID_POINTER(name) decltype(&::name) name = nullptr;
  ORVO_FLUID_FUNCTIONS(ORVO_FLUID_POINTER)
#undef ORVO_FLUID_POINTER
};

// Opens the named library and looks up every function. False, with error saying what is
// missing, when the library does not open or lacks one of them (it is closed again then).
// The library stays open after a success.
bool OpenFluidLibrary(const char* fileName, FluidLibrary& out, std::string& error);

// The process's FluidSynth, opened by the first call (once, also when calls race) with its
// own messages kept from standard error. nullptr, with what is missing in error (when
// given), when the library or one of its functions is missing.
const FluidLibrary* Fluid(std::string* error = nullptr);

// FluidSynth's first error message since the last call ("" when none), e.g. why a SoundFont
// did not load.
std::string TakeFluidError();

}  // namespace orvo::sound
