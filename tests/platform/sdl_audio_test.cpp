// The SDL platform's sound: the output device pulls the program's source, and effects are
// read from WAV files. SDL's dummy audio driver stands in for a sound card, pulling in
// real time as a device would.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/sdl/sdl_platform.h"
#include "tests/platform/sdl_test_support.h"
#include "tests/sound/sound_test_support.h"

namespace orvo::platform {
namespace {

using sound::test::TempDir;
using sound::test::Wav;

class CountingSource : public AudioSource {
 public:
  void Render(int16_t* stereo, int frames) override {
    for (int i = 0; i < 2 * frames; ++i) stereo[i] = 0;
    frames_ += frames;
  }
  std::atomic<long> frames_{0};
};

TEST(SdlAudioOutput, TheDevicePullsTheSourceUntilStoppedAndEffectsAreRead) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  auto platform = test::MakePlatform();
  CountingSource source;
  ASSERT_TRUE(platform->audio.StartAudio(&source, 44100)) << SDL_GetError();
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (source.frames_ < 4096 && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_GE(source.frames_, 4096);
  // While the lock is held the callback does not run.
  platform->audio.LockAudio();
  const long held = source.frames_;
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(source.frames_, held);
  platform->audio.UnlockAudio();
  platform->audio.StopAudio();
  const long stopped = source.frames_;
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(source.frames_, stopped);

  TempDir dir;
  std::vector<int16_t> ramp;
  for (int i = 0; i < 1000; ++i) ramp.push_back(static_cast<int16_t>(i * 30 - 15000));
  std::vector<int16_t> read;
  ASSERT_TRUE(platform->audio.LoadWav(dir.Write("e.wav", Wav(44100, 2, 16, ramp)), 44100, read));
  EXPECT_EQ(read, ramp);
  EXPECT_FALSE(platform->audio.LoadWav(dir.Path() + "/none.wav", 44100, read));
  EXPECT_TRUE(read.empty());
}

}  // namespace
}  // namespace orvo::platform
