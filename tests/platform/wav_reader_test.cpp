// The WAV reader through both tables of SDL functions: the linked SDL's, and the library
// the headless platform opens at its first effect.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/headless/headless_platform.h"
#include "platform/sdl/sdl_wav.h"
#include "platform/wav/sdl_wav_functions.h"
#include "tests/sound/sound_test_support.h"

namespace orvo::platform {
namespace {

using sound::test::Bytes;
using sound::test::TempDir;
using sound::test::Wav;

constexpr int kRate = 44100;

TEST(SdlWavLibrary, OpensOnceForEveryThread) {
  std::vector<const SdlWavFunctions*> seen(4, nullptr);
  std::vector<std::thread> threads;
  for (auto& s : seen) threads.emplace_back([&s] { s = SdlWavLibrary(); });
  for (auto& t : threads) t.join();
  ASSERT_NE(seen[0], nullptr);
  for (const SdlWavFunctions* s : seen) EXPECT_EQ(s, seen[0]);
  EXPECT_EQ(SdlWavLibrary(), seen[0]);
#define ORVO_EXPECT_FOUND(name) EXPECT_NE(seen[0]->name, nullptr) << #name;
  ORVO_SDL_WAV_FUNCTIONS(ORVO_EXPECT_FOUND)
#undef ORVO_EXPECT_FOUND
}

TEST(SdlWavLibrary, AMissingLibraryOrFunctionIsReported) {
  SdlWavFunctions f;
  std::string error;
  EXPECT_FALSE(OpenSdlWavLibrary("libno-such-orvo-library.so.0", f, error));
  EXPECT_NE(error.find("libno-such-orvo-library.so.0"), std::string::npos) << error;
  EXPECT_EQ(f.SDL_RWFromFile, nullptr);
  // A library that opens but is not SDL: the first function it lacks is named, and no
  // function of the table is left set.
  error.clear();
  EXPECT_FALSE(OpenSdlWavLibrary("libc.so.6", f, error));
  EXPECT_NE(error.find("SDL_RWFromFile"), std::string::npos) << error;
  EXPECT_EQ(f.SDL_malloc, nullptr);
  EXPECT_EQ(f.SDL_free, nullptr);
  error.clear();
  EXPECT_TRUE(OpenSdlWavLibrary(SDL_LIBRARY_NAME, f, error)) << error;
  EXPECT_NE(f.SDL_LoadWAV_RW, nullptr);
}

// The headless platform reads through the opened library exactly what the linked SDL
// reads: unchanged at the output format, converted otherwise.
TEST(HeadlessWav, ReadsAsTheLinkedReader) {
  TempDir dir;
  HeadlessPlatform platform(HeadlessConfig{});
  std::vector<int16_t> ramp;
  for (int i = 0; i < 2000; ++i) ramp.push_back(static_cast<int16_t>(i * 16 - 16000));
  const std::string stereo = dir.Write("s.wav", Wav(kRate, 2, 16, ramp));
  std::vector<int16_t> headless, linked;
  ASSERT_TRUE(platform.audio.LoadWav(stereo, kRate, headless));
  EXPECT_EQ(headless, ramp);

  std::vector<int16_t> mono;
  for (int i = 0; i < 1000; ++i) mono.push_back(static_cast<int16_t>(i % 2 ? 0x4000 : -0x4000));
  const std::string half = dir.Write("m.wav", Wav(kRate / 2, 1, 8, mono));
  ASSERT_TRUE(platform.audio.LoadWav(half, kRate, headless));
  ASSERT_TRUE(LoadWavFile(half, kRate, linked));
  EXPECT_NEAR(static_cast<double>(headless.size()), 4000.0, 8.0);
  EXPECT_EQ(headless, linked);
  int16_t peak = 0;
  for (int16_t s : headless) peak = std::max<int16_t>(peak, static_cast<int16_t>(std::abs(s)));
  EXPECT_GT(peak, 0x3000);
}

TEST(HeadlessWav, MissingAndBrokenFilesReadAsNothing) {
  TempDir dir;
  HeadlessPlatform platform(HeadlessConfig{});
  std::vector<int16_t> out(8, 1);
  EXPECT_FALSE(platform.audio.LoadWav(dir.Path() + "/none.wav", kRate, out));
  EXPECT_TRUE(out.empty());
  out.assign(8, 1);
  EXPECT_FALSE(platform.audio.LoadWav(dir.Write("x.wav", Bytes(100, 'x')), kRate, out));
  EXPECT_TRUE(out.empty());
  // A header that promises more data than the file holds.
  Bytes cut = Wav(kRate, 2, 16, std::vector<int16_t>(400, 7));
  cut.resize(60);
  out.assign(8, 1);
  std::vector<int16_t> linked;
  const bool read = platform.audio.LoadWav(dir.Write("cut.wav", cut), kRate, out);
  EXPECT_EQ(read, LoadWavFile(dir.Path() + "/cut.wav", kRate, linked));
  EXPECT_EQ(out, linked);
}

}  // namespace
}  // namespace orvo::platform
