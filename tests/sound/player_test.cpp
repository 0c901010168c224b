// The music player with the null audio device pulling the stream on its own thread: its
// states, errors, the end of a song and the finished message, stops and second plays.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "sound/fluid_device.h"
#include "sound/midi_player.h"
#include "sound/sound.h"
#include "tests/sound/sound_test_support.h"

namespace orvo::sound {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::Bytes;
using test::RecordingDevice;
using test::Smf;
using test::TrackBuilder;

// A song of n quarter notes (half a second each, or tempo microseconds) on channel 0;
// n * 96 - 1 ticks long.
Bytes Notes(int n, int key = 60, uint32_t tempo = DEFAULT_TEMPO) {
  TrackBuilder t;
  t.Tempo(0, tempo).Program(0, 0, 0);
  for (int i = 0; i < n; ++i) t.On(i == 0 ? 0 : 1, 0, key + i % 12).Off(95, 0, key + i % 12);
  t.End();
  return Smf(0, 96, {t});
}

class PlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(
        sound.Open(platform, platform.SongEnded(), [](std::string_view) { return std::string(); }));
    auto d = std::make_unique<RecordingDevice>();
    device = d.get();
    sound.UseMidiDevice(std::move(d));
    player = sound.Player();
  }
  void TearDown() override { sound.Close(); }

  // Polls until the player is in state (or the time is up).
  bool WaitState(int state, std::chrono::milliseconds timeout) {
    auto end = Clock::now() + timeout;
    while (Clock::now() < end) {
      if (player->State() == state) return true;
      std::this_thread::sleep_for(2ms);
    }
    return player->State() == state;
  }
  template <typename F>
  auto Locked(F f) {
    platform.LockAudio();
    auto r = f();
    platform.UnlockAudio();
    return r;
  }

  test::FakePlatform platform;
  Sound sound;
  RecordingDevice* device = nullptr;
  MidiPlayer* player = nullptr;
  test::TempDir dir;
};

TEST_F(PlayerTest, StatesThroughPlayPauseResumeAndStop) {
  std::string song = dir.Write("long.mid", Notes(400));
  EXPECT_EQ(player->State(), PLAYER_CLOSED);
  player->Pause();  // nothing plays: nothing happens
  player->Resume();
  player->Stop();
  EXPECT_EQ(player->State(), PLAYER_CLOSED);

  ASSERT_EQ(player->Play(song), 0);
  EXPECT_EQ(player->State(), PLAYER_PLAYING);
  EXPECT_EQ(player->SongLength(), 400u * 96 - 1);
  EXPECT_LE(player->QueuedCount(), MidiPlayer::BUFFER_COUNT + 1);
  ASSERT_TRUE(platform.audio.WaitForFrames(platform.audio.FramesPulled() + 44100, 5s));
  EXPECT_TRUE(Locked([&] { return device->Holding(); }));
  player->Resume();  // not paused: nothing
  EXPECT_EQ(player->State(), PLAYER_PLAYING);

  player->Pause();
  EXPECT_EQ(player->State(), PLAYER_PAUSED);
  EXPECT_FALSE(Locked([&] { return device->Holding(); }));  // paused notes are released
  size_t heard = Locked([&] { return device->Shorts().size(); });
  ASSERT_TRUE(platform.audio.WaitForFrames(platform.audio.FramesPulled() + 44100, 5s));
  EXPECT_EQ(Locked([&] { return device->Shorts().size(); }), heard);
  player->Pause();
  EXPECT_EQ(player->State(), PLAYER_PAUSED);

  player->Resume();
  EXPECT_EQ(player->State(), PLAYER_PLAYING);
  ASSERT_TRUE(platform.audio.WaitForFrames(platform.audio.FramesPulled() + 44100, 5s));
  EXPECT_GT(Locked([&] { return device->Shorts().size(); }), heard);

  player->Stop();
  // The stop waits for every buffer to come back, so the song is closed at once.
  EXPECT_EQ(player->State(), PLAYER_CLOSED);
  EXPECT_EQ(player->QueuedCount(), 0);
  EXPECT_EQ(player->Flags(), 0u);
  EXPECT_EQ(player->LastError(), 0);
  EXPECT_FALSE(Locked([&] { return device->Holding(); }));
  // Nothing is posted for a stopped song.
  EXPECT_FALSE(platform.WaitPosted(1, 100ms));
}

TEST_F(PlayerTest, ASecondPlayStopsTheFirstSong) {
  std::string first = dir.Write("a.mid", Notes(400, 40));
  std::string second = dir.Write("b.mid", Notes(300, 70));
  ASSERT_EQ(player->Play(first), 0);
  ASSERT_TRUE(platform.audio.WaitForFrames(platform.audio.FramesPulled() + 22050, 5s));
  ASSERT_EQ(player->Play(second), 0);
  EXPECT_EQ(player->State(), PLAYER_PLAYING);
  EXPECT_EQ(player->SongLength(), 300u * 96 - 1);
  ASSERT_TRUE(platform.audio.WaitForFrames(platform.audio.FramesPulled() + 44100, 5s));
  // The device was reset between the songs, and only the second song's notes follow.
  platform.LockAudio();
  EXPECT_GE(device->resets, 1);
  size_t i = device->entries.size();
  while (i > 0 && (device->entries[i - 1].message >> 8 & 0x7F) >= 70) --i;
  ASSERT_LT(i, device->entries.size());
  for (size_t k = 0; k < i; ++k) EXPECT_LT(device->entries[k].message >> 8 & 0x7F, 70u);
  platform.UnlockAudio();

  // Paused songs are stopped by a new play too.
  player->Pause();
  ASSERT_EQ(player->Play(first), 0);
  EXPECT_EQ(player->State(), PLAYER_PLAYING);
}

TEST_F(PlayerTest, EndOfSongWaitsThenStopsAndPostsTheFinishedMessage) {
  // The last notes' offs lie on the song's last tick, with the end of the track: they
  // are sent at the end of the song, not left sounding through the wait.
  TrackBuilder t;
  t.On(0, 0, 60).On(0, 1, 64).Off(96, 0, 60).Raw(0, {0x81, 64, 0}).End(0);
  std::string song = dir.Write("end.mid", Smf(0, 96, {t}));
  auto start = Clock::now();
  ASSERT_EQ(player->Play(song), 0);
  ASSERT_TRUE(WaitState(PLAYER_OPENED, 5s));
  auto ended = Clock::now();
  EXPECT_FALSE(Locked([&] { return device->Holding(); }));
  EXPECT_TRUE(platform.PostedMessages().empty());  // still in the wait
  {
    std::vector<RecordingDevice::Entry> e = Locked([&] { return device->Shorts(); });
    ASSERT_EQ(e.size(), 4u);
    EXPECT_EQ(e[2].message, 0x80u | 60 << 8);
    EXPECT_EQ(e[3].message, 0x81u | 64 << 8);
    // A quarter note at 500000 microseconds: half a second after the note-ons.
    EXPECT_EQ(e[2].sample - e[0].sample, 22050u);
    EXPECT_EQ(e[3].sample, e[2].sample);
  }
  ASSERT_TRUE(platform.WaitPosted(1, 5s));
  std::vector<test::FakePlatform::Posted> posted = platform.PostedMessages();
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0].id, platform::MSG_MUSIC_DONE);
  EXPECT_GE(posted[0].at - ended, 2400ms);
  EXPECT_GE(posted[0].at - start, 2500ms);
  EXPECT_LT(posted[0].at - ended, 3500ms);
  EXPECT_FALSE(Locked([&] { return device->Holding(); }));
  EXPECT_EQ(player->State(), PLAYER_OPENED);
  EXPECT_EQ(Locked([&] { return device->Shorts().size(); }), 4u);

  // The host's stop on the finished message closes the song; a second notice is stale.
  EXPECT_TRUE(player->Finished());
  EXPECT_EQ(player->State(), PLAYER_CLOSED);
  EXPECT_FALSE(player->Finished());
  EXPECT_FALSE(platform.WaitPosted(2, 200ms));
}

// FluidSynth behind the stream, watched from the render: the sample position of the last
// message and the first block after it in which no voice sounds, unless the stream's stop
// silenced the synthesizer first.
class WatchedSynth : public MidiDevice {
 public:
  explicit WatchedSynth(std::unique_ptr<FluidDevice> synth) : synth_(std::move(synth)) {}
  void ShortMessage(uint32_t message) override {
    synth_->ShortMessage(message);
    lastMessageAt = position;
    silentAt = 0;
  }
  void SysEx(const uint8_t* data, uint32_t length) override { synth_->SysEx(data, length); }
  void NotesOff() override {
    synth_->NotesOff();
    stopped = true;
  }
  void Reset() override {
    synth_->Reset();
    stopped = true;
  }
  void Render(float* stereo, int frames) override {
    synth_->Render(stereo, frames);
    position += static_cast<uint64_t>(frames);
    if (!stopped && silentAt == 0 && lastMessageAt > 0 && synth_->ActiveVoices() == 0)
      silentAt = position;
  }

  uint64_t position = 0, lastMessageAt = 0, silentAt = 0;
  bool stopped = false;

 private:
  std::unique_ptr<FluidDevice> synth_;
};

TEST_F(PlayerTest, TheLastNotesEndWithTheSongOnTheSynthesizer) {
  const std::string font = FindSoundFont();
  if (font.empty()) GTEST_SKIP() << "no General MIDI SoundFont installed";
  std::unique_ptr<FluidDevice> fluid = FluidDevice::Create(font, Sound::SAMPLE_RATE);
  ASSERT_NE(fluid, nullptr);
  auto watched = std::make_unique<WatchedSynth>(std::move(fluid));
  WatchedSynth* synth = watched.get();
  sound.UseMidiDevice(std::move(watched));
  // A chord on the church organ, which sounds for as long as its keys are held; the offs
  // and the end of the track share the song's last tick, as most songs end.
  TrackBuilder t;
  t.Program(0, 0, 19).On(0, 0, 60).On(0, 0, 64).On(0, 0, 67);
  t.Off(192, 0, 60).Off(0, 0, 64).Off(0, 0, 67).End(0);
  ASSERT_EQ(player->Play(dir.Write("chord.mid", Smf(0, 96, {t}))), 0);
  ASSERT_TRUE(platform.WaitPosted(1, 10s));
  platform.LockAudio();
  const uint64_t lastAt = synth->lastMessageAt, silentAt = synth->silentAt;
  platform.UnlockAudio();
  // The offs came at the song's end (one second in), and the organ fell silent after them,
  // before the stream was stopped.
  EXPECT_EQ(lastAt, uint64_t{Sound::SAMPLE_RATE});
  EXPECT_GT(silentAt, lastAt);
}

TEST_F(PlayerTest, APlayOrStopDuringTheWaitCancelsTheNotice) {
  std::string shortSong = dir.Write("s.mid", Notes(1));
  // Hours long, so that the fast null device cannot play it out during the test.
  std::string longSong = dir.Write("l.mid", Notes(400, 60, 0xFFFFFF));
  ASSERT_EQ(player->Play(shortSong), 0);
  ASSERT_TRUE(WaitState(PLAYER_OPENED, 5s));
  // Until the host has taken the notice the song stays open, and a play is refused.
  EXPECT_EQ(player->Play(longSong), ERR_NOT_ALLOWED);
  player->Stop();  // as row 1 and row 2 do first: the ended song is closed
  EXPECT_EQ(player->State(), PLAYER_CLOSED);
  ASSERT_EQ(player->Play(longSong), 0);
  EXPECT_FALSE(platform.WaitPosted(1, 3000ms));
  EXPECT_EQ(player->State(), PLAYER_PLAYING);
  EXPECT_FALSE(player->Finished());
}

TEST_F(PlayerTest, BadFilesAreRefusedAndLeaveThePlayerClosed) {
  TrackBuilder cut;
  cut.b = {0x00, 0x90, 60, 100, 0x10, 60, 0};  // fewer than three bytes after a delta
  std::string bad = dir.Write("cut.mid", Smf(0, 96, {cut}));
  EXPECT_EQ(player->Play(bad), ERR_INVALID_FILE);
  EXPECT_EQ(player->State(), PLAYER_CLOSED);
  EXPECT_EQ(player->Play(dir.Path() + "/none.mid"), ERR_INVALID_FILE);
  EXPECT_EQ(player->Play(dir.Write("text.mid", Bytes{'h', 'e', 'l', 'l', 'o'})), ERR_INVALID_FILE);
  Bytes huge(MAX_SONG_BYTES + 8192, 0);
  EXPECT_EQ(player->Play(dir.Write("huge.mid", huge)), ERR_OUT_OF_MEMORY);
  // An RMID file plays.
  EXPECT_EQ(player->Play(dir.Write("w.rmi", test::Rmid(Notes(20)))), 0);
  EXPECT_EQ(player->State(), PLAYER_PLAYING);
  // A failed play after a good one has stopped the good one.
  EXPECT_EQ(player->Play(bad), ERR_INVALID_FILE);
  EXPECT_EQ(player->State(), PLAYER_CLOSED);
}

TEST_F(PlayerTest, LongSysExReachesTheDeviceWholeAcrossBuffers) {
  Bytes payload{0x7D};  // non-commercial id
  for (int i = 0; i < 3000; ++i) payload.push_back(static_cast<uint8_t>(i % 0x7F));
  payload.push_back(0xF7);
  TrackBuilder t;
  t.On(0, 0, 60).SysEx(10, 0xF0, payload).Off(10, 0, 60).On(1, 0, 62).End(96);
  ASSERT_EQ(player->Play(dir.Write("sx.mid", Smf(0, 96, {t}))), 0);
  ASSERT_TRUE(WaitState(PLAYER_OPENED, 5s));
  platform.LockAudio();
  std::vector<RecordingDevice::Entry> e = device->entries;
  platform.UnlockAudio();
  ASSERT_EQ(e.size(), 4u);
  EXPECT_EQ(e[1].sysex.size(), payload.size() + 1);
  EXPECT_EQ(e[1].sysex.front(), 0xF0);
  EXPECT_TRUE(std::equal(payload.begin(), payload.end(), e[1].sysex.begin() + 1));
  EXPECT_EQ(e[3].message & 0xFFFF, 0x90u | 62 << 8);
  // Times: 10 ticks (2296.875 samples) after the first note, then 10 and 1 more.
  EXPECT_EQ(e[1].sample - e[0].sample, 2296u);
  EXPECT_EQ(e[3].sample - e[0].sample, 4823u);
}

TEST(PlayerErrors, NoDeviceAndDestroyedPlayer) {
  test::FakePlatform platform;
  test::TempDir dir;
  struct Pull : platform::AudioSource {
    MidiStream* stream;
    void Render(int16_t* out, int frames) override {
      std::vector<float> mix(2 * static_cast<size_t>(frames));
      stream->Render(mix.data(), frames);
      std::fill(out, out + 2 * frames, int16_t{0});
    }
  } pull;
  MidiStream stream(44100);
  pull.stream = &stream;
  ASSERT_TRUE(platform.StartAudio(&pull, 44100));
  {
    MidiPlayer player(platform, platform.SongEnded(), stream);
    std::string song = dir.Write("a.mid", Notes(4));
    // No synthesizer behind the stream: the device fails and the song is closed again.
    EXPECT_EQ(player.Play(song), ERR_DEVICE);
    EXPECT_EQ(player.State(), PLAYER_CLOSED);
    RecordingDevice device;
    platform.LockAudio();
    stream.SetDevice(&device);
    platform.UnlockAudio();
    EXPECT_EQ(player.Play(song), 0);
    player.Destroy();
    EXPECT_FALSE(stream.IsOpen());
    EXPECT_EQ(player.State(), PLAYER_CLOSED);
    EXPECT_EQ(player.Play(song), ERR_NOT_ALLOWED);
    platform.LockAudio();
    stream.SetDevice(nullptr);
    platform.UnlockAudio();
  }
  platform.StopAudio();
}

}  // namespace
}  // namespace orvo::sound
