// The MIDI device behind the stream: FluidSynth with a General MIDI SoundFont.
#pragma once

#include <memory>
#include <string>

#include "sound/midi_stream.h"

typedef struct _fluid_hashtable_t fluid_settings_t;
typedef struct _fluid_synth_t fluid_synth_t;

namespace orvo::sound {

struct FluidLibrary;

// A General MIDI SoundFont in the standard SoundFont folders (sounds/sf2 under each of
// the system's shared data folders); "" when there is none.
std::string FindSoundFont();
// The same search below the given data folders (colon-separated, as XDG_DATA_DIRS).
std::string FindSoundFontIn(const std::string& dataDirs);

class FluidDevice : public MidiDevice {
 public:
  // nullptr, with the reason in why (when given), when there is no SoundFont, the
  // synthesizer cannot be made or the SoundFont does not load.
  static std::unique_ptr<FluidDevice> Create(const std::string& soundFont, int sampleRate,
                                             std::string* why = nullptr);
  ~FluidDevice() override;

  void ShortMessage(uint32_t message) override;
  void SysEx(const uint8_t* data, uint32_t length) override;
  void NotesOff() override;
  void Reset() override;
  void Render(float* stereo, int frames) override;

  int ActiveVoices() const;

  // Voices sounding at once, at most.
  static constexpr int POLYPHONY = 64;

 private:
  FluidDevice() = default;

  static constexpr int SCRATCH_FRAMES = 256;
  const FluidLibrary* fl_ = nullptr;  // the functions, from the library opened at run time
  fluid_settings_t* settings_ = nullptr;
  fluid_synth_t* synth_ = nullptr;
  int sampleRate_ = 0;
  // Frames rendered since the last voice ended; past a few seconds the synthesizer (and
  // its reverb tail) is silent and rendering is skipped.
  int64_t silentFrames_ = 0;
  float scratch_[2 * SCRATCH_FRAMES] = {};
};

}  // namespace orvo::sound
