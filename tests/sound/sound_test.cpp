// The sound rows as the program reaches them through sys, WAV effects, and real music
// through FluidSynth pulled by the null audio device.
#include "sound/sound.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>

#include "sound/fluid_device.h"
#include "tests/sound/sound_test_support.h"
#include "vm/machine.h"
#include "vm/sys.h"

namespace orvo::sound {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::Bytes;
using test::Smf;
using test::TrackBuilder;

constexpr int kRate = Sound::SAMPLE_RATE;

// The VM side: requests through the dispatcher, the sound rows handed to a Sound.
struct Hooks : vm::Hooks {
  std::vector<std::string> messages;
  void MessageBox(std::string_view text) override { messages.emplace_back(text); }
  void AppendDebugLog(std::string_view) override {}
  uint32_t ElapsedMs() override { return 0; }
  vm::LocalTime Now() override { return {}; }
};

struct Vm {
  static constexpr uint32_t kSize = 0x10000, kRequest = 0x1000, kNames = 0x2000;
  Hooks hooks;
  vm::Machine m{hooks};
  uint32_t nextName = kNames;
  Vm() {
    m.block.reset(static_cast<uint8_t*>(std::calloc(kSize, 1)));
    m.mem = m.block.get();
    m.memSize = kSize;
    m.SetWord(vm::HDR_VPC, 0x700);
  }
  uint32_t Name(const std::string& s) {
    uint32_t at = nextName;
    std::memcpy(m.mem + at, s.c_str(), s.size() + 1);
    nextName += static_cast<uint32_t>(s.size() + 1);
    return at;
  }
  // One sys request; returns the result word.
  uint32_t Sys(uint32_t command, uint32_t arg = 0) {
    m.SetWord(vm::HDR_RESULT, 0xDEADBEEF);
    vm::Store32(m.mem + kRequest, command);
    vm::Store32(m.mem + kRequest + 4, arg);
    m.SetWord(vm::HDR_SYSREQ, kRequest);
    vm::SysDispatch(m);
    return m.Word(vm::HDR_RESULT);
  }
};

Bytes Notes(int n, int key = 60) {
  TrackBuilder t;
  for (int i = 0; i < n; ++i) t.On(i == 0 ? 0 : 1, 0, key).Off(95, 0, key);
  t.End();
  return Smf(0, 96, {t});
}

class SoundTest : public ::testing::Test {
 protected:
  void SetUp() override { AddSoundRequests(vmm.m.requests, sound); }
  void Open(bool recordingDevice = true) {
    ASSERT_TRUE(sound.Open(platform, platform.SongEnded(), [this](std::string_view name) {
      asked.emplace_back(name);
      auto it = files.find(std::string(name));
      return it == files.end() ? std::string() : it->second;
    }));
    if (recordingDevice) sound.UseMidiDevice(std::make_unique<test::RecordingDevice>());
  }
  void TearDown() override { sound.Close(); }
  void Add(const std::string& name, const Bytes& bytes) { files[name] = dir.Write(name, bytes); }

  test::TempDir dir;
  std::map<std::string, std::string> files;
  std::vector<std::string> asked;
  test::FakePlatform platform;
  Sound sound;
  Vm vmm;
};

TEST_F(SoundTest, MusicRows) {
  Open();
  Add("music/a.mid", Notes(200));
  Add("b.mid", Notes(200, 70));
  MidiPlayer* player = sound.Player();
  EXPECT_EQ(vmm.Sys(1539), 0u);
  vmm.Sys(1538);  // stop with nothing playing: nothing
  EXPECT_EQ(vmm.Sys(1537, vmm.Name("music/a.mid")), 0xDEADBEEFu);  // no result
  EXPECT_EQ(asked.back(), "music/a.mid");  // the name as the program wrote it
  EXPECT_EQ(vmm.Sys(1539), 1u);
  EXPECT_EQ(player->State(), PLAYER_PLAYING);
  vmm.Sys(1537, MUSIC_RESUME);  // not paused: nothing
  EXPECT_EQ(player->State(), PLAYER_PLAYING);
  vmm.Sys(1537, MUSIC_PAUSE);
  EXPECT_EQ(player->State(), PLAYER_PAUSED);
  EXPECT_EQ(vmm.Sys(1539), 1u);  // paused is still playing for the program
  vmm.Sys(1537, MUSIC_RESUME);
  EXPECT_EQ(player->State(), PLAYER_PLAYING);
  // A second song replaces the first.
  vmm.Sys(1537, vmm.Name("b.mid"));
  EXPECT_EQ(vmm.Sys(1539), 1u);
  EXPECT_EQ(player->SongLength(), 200u * 96 - 1);
  vmm.Sys(1538);
  EXPECT_EQ(vmm.Sys(1539), 0u);
  EXPECT_EQ(player->State(), PLAYER_CLOSED);
  // A song that cannot be played stops the one before and leaves the flag clear.
  vmm.Sys(1537, vmm.Name("b.mid"));
  vmm.Sys(1537, vmm.Name("missing.mid"));
  EXPECT_EQ(vmm.Sys(1539), 0u);
  EXPECT_EQ(player->State(), PLAYER_CLOSED);
  // Minimize pauses only a playing song; restore resumes only a paused one.
  sound.PauseMusic();
  EXPECT_EQ(player->State(), PLAYER_CLOSED);
  vmm.Sys(1537, vmm.Name("b.mid"));
  sound.PauseMusic();
  EXPECT_EQ(player->State(), PLAYER_PAUSED);
  sound.ResumeMusic();
  EXPECT_EQ(player->State(), PLAYER_PLAYING);
  // Rows 4-255 do nothing and report nothing.
  EXPECT_EQ(vmm.Sys(1540, 0), 0xDEADBEEFu);
  EXPECT_EQ(vmm.Sys(1791, 0), 0xDEADBEEFu);
  EXPECT_TRUE(vmm.hooks.messages.empty());
  EXPECT_FALSE(vmm.m.StopRequested());
  // The window goes: the music stops and the player closes.
  sound.Close();
  EXPECT_FALSE(sound.MusicPlaying());
  EXPECT_EQ(sound.Player(), nullptr);
}

TEST_F(SoundTest, NamesOutsideVmMemoryStopTheProgram) {
  Open();
  Add("b.mid", Notes(20));
  vmm.Sys(1537, vmm.Name("b.mid"));
  ASSERT_TRUE(sound.MusicPlaying());
  // A string that runs to the end of memory without its terminator.
  std::memset(vmm.m.mem + Vm::kSize - 8, 'a', 8);
  vmm.Sys(1536, Vm::kSize - 8);
  ASSERT_EQ(vmm.hooks.messages.size(), 1u);
  EXPECT_EQ(vmm.hooks.messages[0],
            "Bad memory address 0x0000FFF8 at 0x00000700\nTerminating program. So terribly "
            "sorry.");
  EXPECT_TRUE(vmm.m.StopRequested());
  vmm.m.ClearStopRequest();
  vmm.Sys(1537, 0x7FFFFFFF);
  EXPECT_EQ(vmm.hooks.messages.size(), 2u);
  EXPECT_TRUE(vmm.m.StopRequested());
  // The song was not touched by the bad request.
  EXPECT_TRUE(sound.MusicPlaying());
}

TEST_F(SoundTest, FinishedSongClearsTheFlagThroughTheHost) {
  Open();
  Add("short.mid", Notes(1));
  Add("long.mid", Notes(400));
  vmm.Sys(1537, vmm.Name("short.mid"));
  EXPECT_EQ(vmm.Sys(1539), 1u);
  ASSERT_TRUE(platform.WaitPosted(1, 6s));
  EXPECT_EQ(vmm.Sys(1539), 1u);  // until the host has handled the message
  EXPECT_TRUE(sound.OnMusicDone());
  EXPECT_EQ(vmm.Sys(1539), 0u);
  EXPECT_EQ(sound.Player()->State(), PLAYER_CLOSED);
  EXPECT_FALSE(sound.OnMusicDone());  // nothing more to report

  // A notice posted before the program stopped the song, or started another, is stale:
  // the host posts no event for it and the new song plays on.
  vmm.Sys(1537, vmm.Name("short.mid"));
  ASSERT_TRUE(platform.WaitPosted(2, 6s));
  vmm.Sys(1537, vmm.Name("long.mid"));
  EXPECT_FALSE(sound.OnMusicDone());
  EXPECT_EQ(vmm.Sys(1539), 1u);
  EXPECT_EQ(sound.Player()->State(), PLAYER_PLAYING);
}

// Constant stereo frames: easy to find in the output.
Bytes Constant(int16_t left, int16_t right, int frames) {
  std::vector<int16_t> s;
  for (int i = 0; i < frames; ++i) {
    s.push_back(left);
    s.push_back(right);
  }
  return test::Wav(kRate, 2, 16, s);
}

TEST(Wav, DecodesAndConvertsGeneratedFiles) {
  test::TempDir dir;
  std::vector<int16_t> out;
  // 16-bit stereo at the output rate comes through unchanged.
  std::vector<int16_t> ramp;
  for (int i = 0; i < 2000; ++i) ramp.push_back(static_cast<int16_t>(i * 16 - 16000));
  ASSERT_TRUE(platform::LoadWavFile(dir.Write("s.wav", test::Wav(kRate, 2, 16, ramp)), kRate, out));
  EXPECT_EQ(out, ramp);
  // 8-bit mono at half the rate: twice the frames, both channels alike.
  std::vector<int16_t> mono;
  for (int i = 0; i < 1000; ++i) mono.push_back(static_cast<int16_t>(i % 2 ? 0x4000 : -0x4000));
  ASSERT_TRUE(
      platform::LoadWavFile(dir.Write("m.wav", test::Wav(kRate / 2, 1, 8, mono)), kRate, out));
  EXPECT_NEAR(static_cast<double>(out.size()), 4000.0, 8.0);
  int16_t peak = 0;
  for (size_t i = 0; i + 1 < out.size(); i += 2) {
    EXPECT_EQ(out[i], out[i + 1]);
    peak = std::max<int16_t>(peak, static_cast<int16_t>(std::abs(out[i])));
  }
  EXPECT_GT(peak, 0x3000);
  EXPECT_FALSE(platform::LoadWavFile(dir.Path() + "/none.wav", kRate, out));
  EXPECT_FALSE(platform::LoadWavFile(dir.Write("x.wav", Bytes(100, 'x')), kRate, out));
}

TEST_F(SoundTest, EffectsReplaceEachOtherAndMissingOnesAreSilent) {
  Open();
  Add("a.wav", Constant(8000, -8000, kRate));  // one second
  Add("b.wav", Constant(3000, 3000, kRate / 10));
  platform.audio.SetCapture(true);
  vmm.Sys(1536, vmm.Name("a.wav"));
  ASSERT_TRUE(platform.audio.WaitForFrames(platform.audio.FramesPulled() + kRate / 4, 5s));
  vmm.Sys(1536, vmm.Name("b.wav"));
  ASSERT_TRUE(platform.audio.WaitForFrames(platform.audio.FramesPulled() + kRate / 2, 5s));
  vmm.Sys(1536, vmm.Name("a.wav"));
  ASSERT_TRUE(platform.audio.WaitForFrames(platform.audio.FramesPulled() + kRate / 8, 5s));
  vmm.Sys(1536, vmm.Name("missing.wav"));  // ends the one playing, plays nothing
  ASSERT_TRUE(platform.audio.WaitForFrames(platform.audio.FramesPulled() + kRate / 2, 5s));
  std::vector<int16_t> c = platform.audio.Captured();

  // The output runs: silence, a, b (all of it, once), silence, a, silence.
  std::vector<std::pair<int16_t, size_t>> runs;  // left value, frames
  for (size_t i = 0; i + 1 < c.size(); i += 2) {
    if (c[i] == 8000) {
      ASSERT_EQ(c[i + 1], -8000);
    }
    ASSERT_TRUE(c[i] == 0 || c[i] == 8000 || c[i] == 3000) << c[i];
    if (runs.empty() || runs.back().first != c[i])
      runs.push_back({c[i], 1});
    else
      ++runs.back().second;
  }
  std::vector<int16_t> order;
  for (auto& r : runs) order.push_back(r.first);
  if (order.front() != 0) order.insert(order.begin(), 0);
  EXPECT_EQ(order, (std::vector<int16_t>{0, 8000, 3000, 0, 8000, 0}));
  for (auto& r : runs) {
    if (r.first == 3000) {
      EXPECT_EQ(r.second, static_cast<size_t>(kRate / 10));  // all of it, once
    } else if (r.first == 8000) {
      EXPECT_LT(r.second, static_cast<size_t>(kRate));  // cut short by the next request
    }
  }
}

TEST_F(SoundTest, WithoutAnAudioDeviceEverythingIsSilentAndTheFlagStaysClear) {
  platform.audioAvailable = false;
  EXPECT_FALSE(sound.Open(platform, platform.SongEnded(),
                          [&](std::string_view) { return dir.Path() + "/b.mid"; }));
  dir.Write("b.mid", Notes(2));
  vmm.Sys(1537, vmm.Name("b.mid"));
  EXPECT_EQ(vmm.Sys(1539), 0u);
  vmm.Sys(1536, vmm.Name("b.wav"));
  EXPECT_TRUE(vmm.hooks.messages.empty());
}

// Real synthesis: a song of short notes through FluidSynth, with a WAV effect mixed in.
TEST_F(SoundTest, FluidSynthPlaysEachNoteAtItsTimeWithTheEffectMixedIn) {
  if (FindSoundFont().empty()) GTEST_SKIP() << "no General MIDI SoundFont installed";
  Open(false);
  // Woodblock hits on the drum channel at 0.5 s, 1.25 s and 2 s (a quarter, 96 ticks, is
  // half a second).
  TrackBuilder t;
  t.Raw(0, {0xB9, 7, 127}).On(96, 9, 76, 127).Off(12, 9, 76).On(132, 9, 76, 127);
  t.Off(12, 9, 76).On(132, 9, 76, 127).Off(12, 9, 76).End(96);
  Add("wood.mid", Smf(0, 96, {t}));
  // One second of a constant level: it overlaps the first note.
  constexpr int16_t kLevel = 2000;
  Add("fx.wav", Constant(kLevel, kLevel, kRate));

  platform.audio.SetCapture(true);
  // Both requests inside one hold of the audio lock: song and effect start in the same
  // block, which the output then shows.
  platform.LockAudio();
  vmm.Sys(1537, vmm.Name("wood.mid"));
  vmm.Sys(1536, vmm.Name("fx.wav"));
  platform.UnlockAudio();
  ASSERT_TRUE(sound.MusicPlaying());
  ASSERT_TRUE(platform.WaitPosted(1, 10s));
  std::vector<int16_t> c = platform.audio.Captured();
  const size_t frames = c.size() / 2;
  ASSERT_GT(frames, size_t{3 * kRate});

  // Silence until the effect starts, the effect alone (the music is exactly silent) until
  // the first note, which comes within a block of half a second later.
  size_t start = 0;
  while (start < frames && c[2 * start] == 0) ++start;
  ASSERT_LT(start, frames);
  size_t onset = start;
  while (onset < frames && c[2 * onset] == kLevel && c[2 * onset + 1] == kLevel) ++onset;
  const size_t first = start + kRate / 2;
  EXPECT_GE(onset, first);
  EXPECT_LE(onset, first + 1024);

  auto peak = [&](size_t from, size_t to, int base) {
    int p = 0;
    for (size_t f = from; f < to && f < frames; ++f)
      p = std::max({p, std::abs(c[2 * f] - base), std::abs(c[2 * f + 1] - base)});
    return p;
  };
  // The effect's level lies under the first note (mixed, not replaced): the average
  // over the note stays at the level while the note swings around it.
  double sum = 0;
  for (size_t f = first; f < first + 8192; ++f) sum += c[2 * f] + c[2 * f + 1];
  EXPECT_NEAR(sum / (2 * 8192), kLevel, 400);
  EXPECT_GT(peak(first, first + 1024, kLevel), 1000);
  // Later notes, after the effect has ended, each after a quieter stretch.
  for (size_t at : {first + kRate * 3 / 4, first + kRate * 3 / 2}) {
    int loud = peak(at, at + 1024, 0);
    EXPECT_GT(loud, 1000) << at - start;
    EXPECT_LT(peak(at - 4096, at - 1024, 0) * 4, loud) << at - start;
    EXPECT_LT(peak(at - 8192, at - 1024, 0) * 4, loud) << at - start;
  }
  // Once the last note has died away the output is silent again.
  EXPECT_LT(peak(frames - 4096, frames, 0), 2);
  EXPECT_TRUE(sound.OnMusicDone());
  EXPECT_EQ(vmm.Sys(1539), 0u);
}

// The song's whole life in real time, as a program sees it through the sound rows.
TEST_F(SoundTest, RealTimeSongEndsAfterItsLengthAndTheWait) {
  test::FakePlatform realTime(platform::NullAudio::Pace::REAL_TIME);
  Sound live;
  AddSoundRequests(vmm.m.requests, live);
  ASSERT_TRUE(live.Open(realTime, realTime.SongEnded(),
                        [&](std::string_view n) { return dir.Path() + "/" + std::string(n); }));
  live.UseMidiDevice(std::make_unique<test::RecordingDevice>());
  dir.Write("one.mid", Notes(2));  // 191 ticks: 995 ms
  auto start = Clock::now();
  vmm.Sys(1537, vmm.Name("one.mid"));
  EXPECT_EQ(vmm.Sys(1539), 1u);
  ASSERT_TRUE(realTime.WaitPosted(1, 8s));
  auto took = realTime.PostedMessages()[0].at - start;
  // The device renders a block ahead of its time: the end may be seen a block early.
  EXPECT_GE(took, 995ms + 2500ms - 24ms);
  EXPECT_LT(took, 995ms + 2500ms + 400ms);
  EXPECT_EQ(vmm.Sys(1539), 1u);
  EXPECT_TRUE(live.OnMusicDone());
  EXPECT_EQ(vmm.Sys(1539), 0u);
  // The device pulled in real time meanwhile.
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_NEAR(static_cast<double>(realTime.audio.FramesPulled()) / kRate, seconds, 0.25);
  live.Close();
}

}  // namespace
}  // namespace orvo::sound
