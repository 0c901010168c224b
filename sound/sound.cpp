#include "sound/sound.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "sound/fluid_device.h"
#include "vm/request.h"

namespace orvo::sound {

Sound::Sound() = default;

Sound::~Sound() {
  Close();
}

bool Sound::Open(platform::Audio& output, MidiPlayer::SongEnded songEnded,
                 Resolver resolveProgramFile) {
  Close();
  output_ = &output;
  resolve_ = std::move(resolveProgramFile);
  musicPlaying_ = false;
  player_ = std::make_unique<MidiPlayer>(output, std::move(songEnded), stream_);
  audio_ = output.StartAudio(this, SAMPLE_RATE);
  return audio_;
}

void Sound::Close() {
  if (!output_) return;
  StopMusic();
  if (player_) player_->Destroy();
  player_.reset();
  if (audio_) output_->StopAudio();
  audio_ = false;
  // The output has stopped: nothing renders any more, so the rest goes without the lock.
  stream_.SetDevice(nullptr);
  device_.reset();
  deviceTried_ = false;
  effect_.clear();
  effect_.shrink_to_fit();
  effectPos_ = 0;
  output_ = nullptr;
}

void Sound::PlayEffect(vm::Machine& m, uint32_t nameAddress) {
  std::string_view name;
  if (!vm::RequestString(m, nameAddress, name)) return;
  if (!output_) return;
  PlayEffectFile(resolve_ ? resolve_(name) : std::string());
}

void Sound::PlayEffectFile(const std::string& path) {
  if (!audio_) return;
  // Decoded here, on the caller's thread; the render only ever sees a finished buffer.
  std::vector<int16_t> pcm;
  if (path.empty() || !output_->LoadWav(path, SAMPLE_RATE, pcm)) pcm.clear();
  pcm.resize(pcm.size() & ~size_t{1});
  output_->LockAudio();
  // A new effect ends the one playing, also when the new one cannot be played.
  effect_.swap(pcm);
  effectPos_ = 0;
  output_->UnlockAudio();
}  // the old effect is freed here, outside the lock

void Sound::UseMidiDevice(std::unique_ptr<MidiDevice> device) {
  if (output_) output_->LockAudio();
  if (player_ && stream_.IsOpen()) {
    // The device of an open stream changes only between songs.
    if (output_) output_->UnlockAudio();
    return;
  }
  stream_.SetDevice(device.get());
  device_.swap(device);
  deviceTried_ = true;
  if (output_) output_->UnlockAudio();
}

bool Sound::EnsureDevice() {
  if (device_) return true;
  if (deviceTried_) return false;
  deviceTried_ = true;
  // Loading the SoundFont takes a while: done without the lock, then handed over.
  std::string why;
  std::unique_ptr<MidiDevice> d = FluidDevice::Create(FindSoundFont(), SAMPLE_RATE, &why);
  if (!d) {
    // Said once; the game goes on, its songs silent and the playing flag clear.
    std::fprintf(stderr, "orvo: music is off: %s\n", why.c_str());
    std::fflush(stderr);
    return false;
  }
  output_->LockAudio();
  device_ = std::move(d);
  stream_.SetDevice(device_.get());
  output_->UnlockAudio();
  return true;
}

int Sound::PlayMusicFile(const std::string& path) {
  if (!audio_ || !player_) return ERR_DEVICE;
  if (!EnsureDevice()) return ERR_DEVICE;
  return player_->Play(path);
}

void Sound::MusicCommand(vm::Machine& m, uint32_t arg) {
  if (arg == MUSIC_PAUSE) {
    if (player_) player_->Pause();
    return;
  }
  if (arg == MUSIC_RESUME) {
    if (player_) player_->Resume();
    return;
  }
  std::string_view name;
  if (!vm::RequestString(m, arg, name)) return;
  if (musicPlaying_) {
    if (player_) player_->Stop();
    musicPlaying_ = false;
  }
  if (!output_) return;
  std::string path = resolve_ ? resolve_(name) : std::string();
  // A path too long for the player's name buffer would be cut to another name: refused.
  if (path.size() > MAX_MUSIC_PATH) path.clear();
  if (PlayMusicFile(path) == 0) musicPlaying_ = true;
}

void Sound::StopMusic() {
  if (!musicPlaying_) return;
  if (player_) player_->Stop();
  musicPlaying_ = false;
}

bool Sound::OnMusicDone() {
  if (!player_ || !player_->Finished()) return false;
  musicPlaying_ = false;
  return true;
}

void Sound::PauseMusic() {
  if (musicPlaying_ && player_) player_->Pause();
}

void Sound::ResumeMusic() {
  if (player_) player_->Resume();
}

void Sound::Render(int16_t* stereo, int frames) {
  while (frames > 0) {
    int n = std::min(frames, CHUNK_FRAMES);
    std::fill(mix_, mix_ + 2 * n, 0.0f);
    stream_.Render(mix_, n);
    if (effectPos_ < effect_.size()) {
      size_t count = std::min(effect_.size() - effectPos_, static_cast<size_t>(2 * n));
      const int16_t* e = effect_.data() + effectPos_;
      for (size_t i = 0; i < count; ++i) mix_[i] += e[i] * (1.0f / 32768.0f);
      effectPos_ += count;
    }
    const float gain = gain_.load(std::memory_order_relaxed) * 32768.0f;
    for (int i = 0; i < 2 * n; ++i) {
      float v = std::clamp(mix_[i] * gain, -32768.0f, 32767.0f);
      stereo[i] = static_cast<int16_t>(std::lrintf(v));
    }
    stereo += 2 * n;
    frames -= n;
  }
}

}  // namespace orvo::sound
