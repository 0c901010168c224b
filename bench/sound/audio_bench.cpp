// The audio render's cost: a 16-channel General MIDI song through FluidSynth with a sound
// effect playing throughout, rendered in device-sized blocks on this thread. Prints the
// CPU time per second of audio as a share of one core, and the slowest block against the
// block's own length.
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/sdl/sdl_wav.h"
#include "sound/fluid_device.h"
#include "sound/sound.h"

namespace {

using namespace orvo;

// Audio "starts" without a thread: the benchmark pulls the source itself.
class BenchPlatform : public platform::Audio {
 public:
  bool StartAudio(platform::AudioSource*, int) override { return true; }
  void StopAudio() override {}
  void LockAudio() override { lock_.lock(); }
  void UnlockAudio() override { lock_.unlock(); }
  bool LoadWav(const std::string& path, int rate, std::vector<int16_t>& stereo) override {
    return platform::LoadWavFile(path, rate, stereo);
  }

 private:
  std::recursive_mutex lock_;
};

void Vlq(std::vector<uint8_t>& out, uint32_t v) {
  uint8_t tmp[5];
  int n = 0;
  tmp[n++] = v & 0x7F;
  while (v >>= 7) tmp[n++] = 0x80 | (v & 0x7F);
  while (n) out.push_back(tmp[--n]);
}

void Put32(std::vector<uint8_t>& out, uint32_t v, bool big) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (big ? 24 - 8 * i : 8 * i)));
}

// Format 1, one track per channel: each channel its own program, eighth notes in
// three-note chords (drums on channel 10), some controller and pitch-bend traffic, for
// the given number of bars at 120 beats per minute.
std::vector<uint8_t> Song(int bars) {
  std::vector<std::vector<uint8_t>> tracks(16);
  const int division = 96, eighth = 48;
  for (int ch = 0; ch < 16; ++ch) {
    std::vector<uint8_t>& t = tracks[ch];
    uint8_t c = static_cast<uint8_t>(ch);
    if (ch == 0) {
      Vlq(t, 0);
      t.insert(t.end(), {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20});
    }
    Vlq(t, 0);
    // The drum channel takes the standard kit; the others spread over the instruments.
    uint8_t program = ch == 9 ? 0 : static_cast<uint8_t>(ch * 8 % 128);
    t.insert(t.end(), {static_cast<uint8_t>(0xC0 | c), program});
    Vlq(t, 0);
    t.insert(t.end(), {static_cast<uint8_t>(0xB0 | c), 7, 90});
    uint32_t wait = 0;
    for (int step = 0; step < bars * 8; ++step) {
      int root = ch == 9 ? 35 + step % 12 : 36 + (ch * 5 + step * 7) % 48;
      int notes = ch == 9 ? 2 : 3;
      for (int k = 0; k < notes; ++k) {
        Vlq(t, k == 0 ? wait : 0);
        t.insert(t.end(), {static_cast<uint8_t>(0x90 | c), static_cast<uint8_t>(root + 4 * k),
                           static_cast<uint8_t>(70 + step % 40)});
      }
      wait = 0;
      if (step % 4 == 0) {
        Vlq(t, 0);
        t.insert(t.end(), {static_cast<uint8_t>(0xE0 | c), 0, static_cast<uint8_t>(60 + step % 8)});
      }
      for (int k = 0; k < notes; ++k) {
        Vlq(t, k == 0 ? eighth - 4 : 0);
        t.insert(t.end(), {static_cast<uint8_t>(0x80 | c), static_cast<uint8_t>(root + 4 * k), 0});
      }
      wait = 4;
    }
    Vlq(t, wait);
    t.insert(t.end(), {0xFF, 0x2F, 0x00});
  }
  std::vector<uint8_t> out{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 16, 0, division};
  for (auto& t : tracks) {
    out.insert(out.end(), {'M', 'T', 'r', 'k'});
    Put32(out, static_cast<uint32_t>(t.size()), true);
    out.insert(out.end(), t.begin(), t.end());
  }
  return out;
}

// A 16-bit mono WAV at 22050 Hz (converted on load): a decaying two-tone chirp.
std::vector<uint8_t> Effect(double seconds) {
  const int rate = 22050;
  int n = static_cast<int>(seconds * rate);
  std::vector<uint8_t> data;
  for (int i = 0; i < n; ++i) {
    double t = static_cast<double>(i) / rate;
    double v = std::sin(2 * M_PI * (440 + 300 * t) * t) * 0.4 * std::exp(-t * 0.5);
    int16_t s = static_cast<int16_t>(v * 32767);
    data.push_back(static_cast<uint8_t>(s));
    data.push_back(static_cast<uint8_t>(s >> 8));
  }
  std::vector<uint8_t> out{'R', 'I', 'F', 'F'};
  Put32(out, static_cast<uint32_t>(36 + data.size()), false);
  out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 1, 0});
  Put32(out, rate, false);
  Put32(out, rate * 2, false);
  out.insert(out.end(), {2, 0, 16, 0, 'd', 'a', 't', 'a'});
  Put32(out, static_cast<uint32_t>(data.size()), false);
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

double ThreadSeconds() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void Write(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
  std::string font = sound::FindSoundFont();
  if (font.empty()) {
    std::printf("audio_bench: no General MIDI SoundFont found\n");
    return 1;
  }
  char tmpl[] = "/tmp/orvo-audio-bench-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  std::string dir = tmpl;
  Write(dir + "/song.mid", Song(seconds / 2 + 2));  // two seconds a bar
  Write(dir + "/fx.wav", Effect(2.0));

  BenchPlatform platform;
  sound::Sound snd;
  snd.Open(
      platform, [] {}, [&](std::string_view name) { return dir + "/" + std::string(name); });
  double loadStart = ThreadSeconds();
  int r = snd.PlayMusicFile(dir + "/song.mid");
  double load = ThreadSeconds() - loadStart;
  if (r != 0) {
    std::printf("audio_bench: the song did not start (%d)\n", r);
    return 1;
  }

  const int block = 1024, rate = sound::Sound::SAMPLE_RATE;
  std::vector<int16_t> out(2 * block);
  const long blocks = static_cast<long>(seconds) * rate / block;
  double total = 0, slowest = 0;
  int peak = 0;
  for (long b = 0; b < blocks; ++b) {
    // A new effect every two seconds, replacing the one before: one always plays.
    if (b % (2 * rate / block) == 0) snd.PlayEffectFile(dir + "/fx.wav");
    double t0 = ThreadSeconds();
    snd.Render(out.data(), block);
    double dt = ThreadSeconds() - t0;
    total += dt;
    slowest = std::max(slowest, dt);
    for (int16_t s : out) peak = std::max(peak, std::abs(int{s}));
  }
  double audio = static_cast<double>(blocks) * block / rate;
  double blockSeconds = static_cast<double>(block) / rate;
  std::printf("audio_bench: %s\n", font.c_str());
  std::printf("  SoundFont load and song parse: %.1f ms\n", load * 1e3);
  std::printf("  %.1f s of 16-channel music with an effect: %.3f s CPU\n", audio, total);
  std::printf("  render cost: %.2f%% of one core (goal below 5%%)\n", 100 * total / audio);
  std::printf("  slowest block: %.2f ms of its %.1f ms\n", slowest * 1e3, blockSeconds * 1e3);
  std::printf("  output peak: %d\n", peak);
  snd.Close();
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return 0;
}
