// Builders for MIDI, RIFF and WAV bytes, a platform whose audio is the null device, and a
// MIDI device that records what it is sent, with the sample position of each message.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "platform/headless/null_audio.h"
#include "platform/sdl/sdl_wav.h"
#include "platform/window.h"
#include "sound/midi_player.h"
#include "sound/midi_stream.h"

namespace orvo::sound::test {

using Bytes = std::vector<uint8_t>;

inline void Vlq(Bytes& out, uint32_t v) {
  uint8_t tmp[5];
  int n = 0;
  tmp[n++] = v & 0x7F;
  while (v >>= 7) tmp[n++] = 0x80 | (v & 0x7F);
  while (n) out.push_back(tmp[--n]);
}
inline void Be32(Bytes& out, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(v >> s));
}
inline void Be16(Bytes& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}
inline void Le32(Bytes& out, uint32_t v) {
  for (int s = 0; s < 32; s += 8) out.push_back(static_cast<uint8_t>(v >> s));
}
inline void Le16(Bytes& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
inline void Append(Bytes& out, std::initializer_list<uint8_t> b) {
  out.insert(out.end(), b);
}

// One track's event bytes; End() appends the end-of-track meta event.
struct TrackBuilder {
  Bytes b;
  TrackBuilder& Raw(uint32_t delta, std::initializer_list<uint8_t> bytes) {
    Vlq(b, delta);
    Append(b, bytes);
    return *this;
  }
  TrackBuilder& On(uint32_t delta, int ch, int key, int vel = 100) {
    return Raw(delta, {static_cast<uint8_t>(0x90 | ch), static_cast<uint8_t>(key),
                       static_cast<uint8_t>(vel)});
  }
  TrackBuilder& Off(uint32_t delta, int ch, int key) {
    return Raw(delta, {static_cast<uint8_t>(0x80 | ch), static_cast<uint8_t>(key), 0});
  }
  TrackBuilder& Program(uint32_t delta, int ch, int program) {
    return Raw(delta, {static_cast<uint8_t>(0xC0 | ch), static_cast<uint8_t>(program)});
  }
  TrackBuilder& Tempo(uint32_t delta, uint32_t usPerQuarter) {
    return Raw(delta,
               {0xFF, 0x51, 0x03, static_cast<uint8_t>(usPerQuarter >> 16),
                static_cast<uint8_t>(usPerQuarter >> 8), static_cast<uint8_t>(usPerQuarter)});
  }
  TrackBuilder& Meta(uint32_t delta, uint8_t type, const Bytes& data) {
    Vlq(b, delta);
    Append(b, {0xFF, type});
    Vlq(b, static_cast<uint32_t>(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    return *this;
  }
  // status 0xF0 (data without the 0xF0) or 0xF7.
  TrackBuilder& SysEx(uint32_t delta, uint8_t status, const Bytes& data) {
    Vlq(b, delta);
    b.push_back(status);
    Vlq(b, static_cast<uint32_t>(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    return *this;
  }
  TrackBuilder& End(uint32_t delta = 0) { return Raw(delta, {0xFF, 0x2F, 0x00}); }
};

inline Bytes Smf(uint16_t format, uint16_t division, const std::vector<TrackBuilder>& tracks) {
  Bytes out;
  Append(out, {'M', 'T', 'h', 'd'});
  Be32(out, 6);
  Be16(out, format);
  Be16(out, static_cast<uint16_t>(tracks.size()));
  Be16(out, division);
  for (const TrackBuilder& t : tracks) {
    Append(out, {'M', 'T', 'r', 'k'});
    Be32(out, static_cast<uint32_t>(t.b.size()));
    out.insert(out.end(), t.b.begin(), t.b.end());
  }
  return out;
}

// RIFF "RMID" with an extra chunk of odd length before the data chunk (padding exercised).
inline Bytes Rmid(const Bytes& smf) {
  Bytes body;
  Append(body, {'R', 'M', 'I', 'D'});
  Append(body, {'D', 'I', 'S', 'P'});
  Le32(body, 3);
  Append(body, {1, 2, 3, 0});
  Append(body, {'d', 'a', 't', 'a'});
  Le32(body, static_cast<uint32_t>(smf.size()));
  body.insert(body.end(), smf.begin(), smf.end());
  if (smf.size() & 1) body.push_back(0);
  Bytes out;
  Append(out, {'R', 'I', 'F', 'F'});
  Le32(out, static_cast<uint32_t>(body.size()));
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

// A PCM WAV file: samples interleaved, 8 or 16 bits.
inline Bytes Wav(int rate, int channels, int bits, const std::vector<int16_t>& samples) {
  Bytes data;
  for (int16_t s : samples) {
    if (bits == 8)
      data.push_back(static_cast<uint8_t>((s >> 8) + 128));
    else
      Le16(data, static_cast<uint16_t>(s));
  }
  Bytes out;
  Append(out, {'R', 'I', 'F', 'F'});
  Le32(out, static_cast<uint32_t>(36 + data.size()));
  Append(out, {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  Le32(out, 16);
  Le16(out, 1);
  Le16(out, static_cast<uint16_t>(channels));
  Le32(out, static_cast<uint32_t>(rate));
  Le32(out, static_cast<uint32_t>(rate * channels * bits / 8));
  Le16(out, static_cast<uint16_t>(channels * bits / 8));
  Le16(out, static_cast<uint16_t>(bits));
  Append(out, {'d', 'a', 't', 'a'});
  Le32(out, static_cast<uint32_t>(data.size()));
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/orvo-sound-XXXXXX";
    path_ = mkdtemp(tmpl) ? tmpl : "";
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  std::string Write(const std::string& name, const Bytes& bytes) const {
    std::string p = path_ + "/" + name;
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(p).parent_path(), ec);
    std::FILE* f = std::fopen(p.c_str(), "wb");
    if (f) {
      std::fwrite(bytes.data(), 1, bytes.size(), f);
      std::fclose(f);
    }
    return p;
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// The platform as the sound code sees it: audio through the null device, WAV files
// through SDL's reader, the ends of songs collected as posted messages.
class FakePlatform : public platform::Audio {
 public:
  explicit FakePlatform(platform::NullAudio::Pace pace = platform::NullAudio::Pace::FAST,
                        int blockFrames = 1024)
      : audio(pace, blockFrames) {}

  platform::NullAudio audio;
  bool audioAvailable = true;

  bool StartAudio(platform::AudioSource* source, int sampleRate) override {
    return audioAvailable && audio.StartAudio(source, sampleRate);
  }
  void StopAudio() override { audio.StopAudio(); }
  void LockAudio() override { audio.LockAudio(); }
  void UnlockAudio() override { audio.UnlockAudio(); }
  bool LoadWav(const std::string& path, int sampleRate, std::vector<int16_t>& stereo) override {
    return platform::LoadWavFile(path, sampleRate, stereo);
  }

  MidiPlayer::SongEnded SongEnded() {
    return [this] { PostFromAnyThread(platform::MSG_MUSIC_DONE); };
  }
  void PostFromAnyThread(uint32_t id) {
    std::lock_guard<std::mutex> lk(mutex_);
    posted_.push_back({id, std::chrono::steady_clock::now()});
    cv_.notify_all();
  }
  struct Posted {
    uint32_t id;
    std::chrono::steady_clock::time_point at;
  };
  std::vector<Posted> PostedMessages() {
    std::lock_guard<std::mutex> lk(mutex_);
    return posted_;
  }
  bool WaitPosted(size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lk(mutex_);
    return cv_.wait_for(lk, timeout, [&] { return posted_.size() >= count; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<Posted> posted_;
};

// Records every message with the sample position at which the stream sent it; renders
// a constant level while any note is held, so that silence and sound are easy to see.
class RecordingDevice : public MidiDevice {
 public:
  struct Entry {
    uint64_t sample;
    uint32_t message;  // short message, or 0 for a system exclusive one
    Bytes sysex;
  };
  void ShortMessage(uint32_t message) override {
    entries.push_back({position, message, {}});
    uint32_t kind = message & 0xF0, key = message >> 8 & 0x7F, vel = message >> 16 & 0x7F;
    if (kind == 0x90 && vel > 0) held[message & 0x0F][key] = true;
    if (kind == 0x80 || (kind == 0x90 && vel == 0)) held[message & 0x0F][key] = false;
  }
  void SysEx(const uint8_t* data, uint32_t length) override {
    entries.push_back({position, 0, Bytes(data, data + length)});
  }
  void NotesOff() override {
    ++notesOff;
    for (auto& c : held)
      for (bool& k : c) k = false;
  }
  void Reset() override {
    ++resets;
    NotesOff();
  }
  void Render(float* stereo, int frames) override {
    float level = Holding() ? 0.25f : 0.0f;
    for (int i = 0; i < 2 * frames; ++i) stereo[i] += level;
    position += static_cast<uint64_t>(frames);
  }
  bool Holding() const {
    for (const auto& c : held)
      for (bool k : c)
        if (k) return true;
    return false;
  }
  std::vector<Entry> Shorts() const {
    std::vector<Entry> out;
    for (const Entry& e : entries)
      if (e.message) out.push_back(e);
    return out;
  }

  std::vector<Entry> entries;
  bool held[16][128] = {};
  uint64_t position = 0;
  int notesOff = 0, resets = 0;
};

}  // namespace orvo::sound::test
