// The sound group of the sys services: WAV sound effects, one at a time, and the music
// requests that drive the MIDI player. One audio source mixes the current effect with the
// synthesizer's output; the MIDI stream is scheduled inside that render by sample time.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/audio.h"
#include "sound/midi_player.h"
#include "sound/midi_stream.h"
#include "vm/machine.h"

namespace orvo::sound {

// Row 1's argument words that are not file names.
inline constexpr uint32_t MUSIC_PAUSE = 0xFFFFFFFF;   // -1
inline constexpr uint32_t MUSIC_RESUME = 0xFFFFFFFE;  // -2

class Sound : public platform::AudioSource {
 public:
  static constexpr int SAMPLE_RATE = 44100;
  // Longest resolved music path (the player's name buffer holds 1028 bytes with its NUL).
  static constexpr size_t MAX_MUSIC_PATH = 1027;

  using Resolver = std::function<std::string(std::string_view name)>;

  Sound();
  ~Sound() override;
  Sound(const Sound&) = delete;
  Sound& operator=(const Sound&) = delete;

  // Starts the audio output and creates the player. resolveProgramFile gives the path of
  // a file in the program folder, or "" when there is none. False when there is no audio
  // device: effects and music then stay silent and the playing flag stays clear.
  bool Open(platform::Audio& output, MidiPlayer::SongEnded songEnded, Resolver resolveProgramFile);
  // The window is being destroyed: the music stops, the player and the output close.
  void Close();

  // Row 0: play the WAV file named by the VM string at nameAddress.
  void PlayEffect(vm::Machine& m, uint32_t nameAddress);
  // Row 1: pause (-1), resume (-2) or play the MIDI file named by the VM string at arg.
  void MusicCommand(vm::Machine& m, uint32_t arg);
  // Row 2: stop the music if it is playing.
  void StopMusic();
  // Row 3: the music-playing flag.
  bool MusicPlaying() const { return musicPlaying_; }
  // MSG_MUSIC_DONE arrived: the song is closed and the flag cleared. True when the host
  // is to post EVT_MUSIC_DONE; false for a notice that a stop or a new song made stale.
  bool OnMusicDone();
  // Minimize and restore: only a playing song pauses, only a paused one resumes.
  void PauseMusic();
  void ResumeMusic();

  // The player's master volume over effects and music alike, 0 silent to 1 as made;
  // the game's own requests and the playing flag are not touched by it.
  void SetMasterVolume(float gain) { gain_.store(gain, std::memory_order_relaxed); }

  // The audio thread's pull: music and the current effect, mixed.
  void Render(int16_t* stereo, int frames) override;

  // Resolved files, for the rows above and for tests and benchmarks.
  void PlayEffectFile(const std::string& path);
  int PlayMusicFile(const std::string& path);
  // The synthesizer the music plays on; by default FluidSynth with the system's General
  // MIDI SoundFont, made at the first song.
  void UseMidiDevice(std::unique_ptr<MidiDevice> device);
  MidiPlayer* Player() { return player_.get(); }
  bool AudioRunning() const { return audio_; }

 private:
  bool EnsureDevice();

  static constexpr int CHUNK_FRAMES = 256;

  platform::Audio* output_ = nullptr;
  Resolver resolve_;
  bool audio_ = false;
  bool musicPlaying_ = false;
  MidiStream stream_{SAMPLE_RATE};
  std::unique_ptr<MidiDevice> device_;
  bool deviceTried_ = false;
  std::unique_ptr<MidiPlayer> player_;

  // The effect playing, swapped in under the audio lock (never allocated by the render).
  std::vector<int16_t> effect_;
  size_t effectPos_ = 0;
  float mix_[2 * CHUNK_FRAMES] = {};
  std::atomic<float> gain_{1.0f};
};

// Adds the sound group's rows, served by s, to the request table.
void AddSoundRequests(vm::RequestTable& t, Sound& s);

}  // namespace orvo::sound
