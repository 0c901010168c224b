// The synthesizer behind the stream: the SoundFont search and FluidSynth itself, with the
// system's General MIDI SoundFont.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <thread>
#include <vector>

#include "sound/fluid_device.h"
#include "sound/fluid_library.h"
#include "tests/sound/sound_test_support.h"

namespace orvo::sound {
namespace {

using test::Bytes;

TEST(SoundFontSearch, PreferredNamesFirstThenAnyFontInTheFirstFolderThatHasOne) {
  test::TempDir dir;
  const std::string a = dir.Path() + "/a", b = dir.Path() + "/b", c = dir.Path() + "/c";
  dir.Write("a/sounds/sf2/readme.txt", Bytes{'x'});  // a folder without fonts
  dir.Write("b/sounds/sf2/zither.sf2", Bytes{1});
  dir.Write("b/sounds/sf2/Organ.SF2", Bytes{1});
  dir.Write("c/sounds/sf2/TimGM6mb.sf2", Bytes{1});
  dir.Write("c/sounds/sf2/alpha.sf2", Bytes{1});

  EXPECT_EQ(FindSoundFontIn(c), c + "/sounds/sf2/TimGM6mb.sf2");
  // No preferred name: the first by name, whatever the case of the extension.
  EXPECT_EQ(FindSoundFontIn(b), b + "/sounds/sf2/Organ.SF2");
  // Folders in order; empty entries and folders without fonts are passed over.
  EXPECT_EQ(FindSoundFontIn(":" + a + "::" + b + ":" + c), b + "/sounds/sf2/Organ.SF2");
  EXPECT_EQ(FindSoundFontIn(c + ":" + b), c + "/sounds/sf2/TimGM6mb.sf2");
  EXPECT_EQ(FindSoundFontIn(a), "");
  EXPECT_EQ(FindSoundFontIn(dir.Path() + "/missing"), "");
  EXPECT_EQ(FindSoundFontIn(""), "");
}

TEST(FluidLibraryOpen, OpensOnceForEveryThread) {
  std::vector<const FluidLibrary*> seen(4, nullptr);
  std::vector<std::thread> threads;
  for (auto& s : seen) threads.emplace_back([&s] { s = Fluid(); });
  for (auto& t : threads) t.join();
  ASSERT_NE(seen[0], nullptr);
  for (const FluidLibrary* s : seen) EXPECT_EQ(s, seen[0]);
  EXPECT_EQ(Fluid(), seen[0]);
#define ORVO_EXPECT_FOUND(name) EXPECT_NE(seen[0]->name, nullptr) << #name;
  ORVO_FLUID_FUNCTIONS(ORVO_EXPECT_FOUND)
#undef ORVO_EXPECT_FOUND
  // The functions work: settings are made and set.
  fluid_settings_t* settings = seen[0]->new_fluid_settings();
  ASSERT_NE(settings, nullptr);
  EXPECT_EQ(seen[0]->fluid_settings_setint(settings, "synth.polyphony", 48), FLUID_OK);
  seen[0]->delete_fluid_settings(settings);
}

TEST(FluidLibraryOpen, AMissingLibraryOrFunctionIsReported) {
  FluidLibrary f;
  std::string error;
  EXPECT_FALSE(OpenFluidLibrary("libno-such-orvo-library.so.0", f, error));
  EXPECT_NE(error.find("libno-such-orvo-library.so.0"), std::string::npos) << error;
  EXPECT_EQ(f.new_fluid_synth, nullptr);
  // A library that opens but is not FluidSynth: the first function it lacks is named, and
  // no function of the table is left set.
  error.clear();
  EXPECT_FALSE(OpenFluidLibrary("libc.so.6", f, error));
  EXPECT_NE(error.find("fluid_set_log_function"), std::string::npos) << error;
  EXPECT_EQ(f.fluid_synth_write_float, nullptr);
  error.clear();
  EXPECT_TRUE(OpenFluidLibrary(FLUID_LIBRARY_NAME, f, error)) << error;
  EXPECT_NE(f.fluid_synth_write_float, nullptr);
}

TEST(FluidDeviceCreate, RefusesWhatIsNotASoundFont) {
  test::TempDir dir;
  EXPECT_EQ(FluidDevice::Create("", 44100), nullptr);
  EXPECT_EQ(FluidDevice::Create(dir.Path() + "/none.sf2", 44100), nullptr);
  EXPECT_EQ(FluidDevice::Create(dir.Write("fake.sf2", Bytes(512, 'R')), 44100), nullptr);
}

// Everything written to standard error while it lives goes to a file instead.
class StandardErrorCapture {
 public:
  explicit StandardErrorCapture(const std::string& path) : path_(path) {
    std::fflush(stderr);
    saved_ = dup(2);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    if (f) {
      dup2(fileno(f), 2);
      std::fclose(f);
    }
  }
  ~StandardErrorCapture() { Restore(); }
  // Back to the real standard error; what was written meanwhile.
  std::string Restore() {
    if (saved_ >= 0) {
      std::fflush(stderr);
      dup2(saved_, 2);
      close(saved_);
      saved_ = -1;
    }
    std::string text;
    if (std::FILE* f = std::fopen(path_.c_str(), "rb")) {
      char buffer[4096];
      size_t n;
      while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
      std::fclose(f);
    }
    return text;
  }

 private:
  std::string path_;
  int saved_ = -1;
};

// Whatever keeps the synthesizer from being made is said in one reason for the caller's
// line; FluidSynth's own messages stay off standard error.
TEST(FluidDeviceCreate, SaysWhyInsteadOfWritingToStandardError) {
  test::TempDir dir;
  const std::string fake = dir.Write("fake.sf2", Bytes(512, 'R'));
  const std::string missing = dir.Path() + "/none.sf2";
  StandardErrorCapture captured(dir.Path() + "/stderr.txt");
  std::string noFont, notAFont, notThere;
  EXPECT_EQ(FluidDevice::Create("", 44100, &noFont), nullptr);
  EXPECT_EQ(FluidDevice::Create(fake, 44100, &notAFont), nullptr);
  EXPECT_EQ(FluidDevice::Create(missing, 44100, &notThere), nullptr);
  EXPECT_EQ(captured.Restore(), "");
  EXPECT_NE(noFont.find("SoundFont"), std::string::npos) << noFont;
  // The font is named, with FluidSynth's explanation after it.
  EXPECT_NE(notAFont.find(fake + " did not load ("), std::string::npos) << notAFont;
  EXPECT_GT(notAFont.size(), (fake + " did not load ()").size()) << notAFont;
  EXPECT_NE(notThere.find(missing + " did not load"), std::string::npos) << notThere;
  EXPECT_EQ(TakeFluidError(), "");  // each explanation was taken with its failure
}

class FluidDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string font = FindSoundFont();
    if (font.empty()) GTEST_SKIP() << "no General MIDI SoundFont installed";
    device = FluidDevice::Create(font, kRate);
    ASSERT_NE(device, nullptr);
  }
  // Peak of frames rendered onto silence.
  float Peak(int frames) {
    std::vector<float> mix(2 * static_cast<size_t>(frames), 0.0f);
    device->Render(mix.data(), frames);
    float p = 0;
    for (float v : mix) p = std::max(p, std::fabs(v));
    return p;
  }
  static constexpr int kRate = 44100;
  std::unique_ptr<FluidDevice> device;
};

TEST_F(FluidDeviceTest, NotesSoundAndNotesOffReleasesThemEvenUnderTheSustainPedal) {
  EXPECT_LT(Peak(4096), 1e-6f);                      // nothing sounds before the first note
  device->ShortMessage(0xC0 | 19 << 8);              // church organ: no decay of its own
  device->ShortMessage(0xB0 | 64 << 8 | 127 << 16);  // sustain pedal down
  device->ShortMessage(0x90 | 60 << 8 | 110 << 16);
  EXPECT_GT(Peak(4096), 0.01f);
  EXPECT_GT(device->ActiveVoices(), 0);
  device->ShortMessage(0x80 | 60 << 8);  // held by the pedal
  EXPECT_GT(Peak(kRate / 2), 0.01f);
  device->NotesOff();
  Peak(kRate * 2);  // the release and the reverb tail
  EXPECT_EQ(device->ActiveVoices(), 0);
  EXPECT_LT(Peak(4096), 0.001f);
}

TEST_F(FluidDeviceTest, ResetSilencesAndRestoresPrograms) {
  device->ShortMessage(0xC0 | 19 << 8);
  device->ShortMessage(0x90 | 64 << 8 | 110 << 16);
  EXPECT_GT(Peak(4096), 0.01f);
  device->Reset();
  Peak(kRate * 2);
  EXPECT_EQ(device->ActiveVoices(), 0);
  // A note-on with velocity 0 is a note-off.
  device->ShortMessage(0x90 | 64 << 8 | 100 << 16);
  EXPECT_GT(Peak(4096), 0.01f);
  device->ShortMessage(0x90 | 64 << 8);
  Peak(kRate * 3);
  EXPECT_EQ(device->ActiveVoices(), 0);
}

TEST_F(FluidDeviceTest, VoicesStayWithinThePolyphony) {
  test::TempDir dir;
  StandardErrorCapture captured(dir.Path() + "/stderr.txt");
  for (int ch = 0; ch < 16; ++ch) {
    device->ShortMessage(0xC0 | static_cast<uint32_t>(ch) | 48 << 8);  // strings: long release
    for (int key = 30; key < 90; ++key)
      device->ShortMessage(0x90 | static_cast<uint32_t>(ch) | static_cast<uint32_t>(key) << 8 |
                           100 << 16);
  }
  EXPECT_GT(Peak(1024), 0.01f);
  EXPECT_GT(device->ActiveVoices(), FluidDevice::POLYPHONY / 2);
  EXPECT_LE(device->ActiveVoices(), FluidDevice::POLYPHONY);
  // The notes that found no voice were dropped without a word from the audio path.
  EXPECT_EQ(captured.Restore(), "");
}

TEST_F(FluidDeviceTest, SysExIsTakenAndMalformedOnesAreDropped) {
  // General MIDI System On, whole; and two that lack their framing.
  const uint8_t gmOn[] = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
  device->ShortMessage(0x90 | 60 << 8 | 100 << 16);
  device->SysEx(gmOn, sizeof gmOn);  // resets the channels: the note goes
  Peak(kRate * 2);
  EXPECT_EQ(device->ActiveVoices(), 0);
  device->SysEx(gmOn, 1);
  device->SysEx(gmOn + 1, sizeof gmOn - 1);
  device->ShortMessage(0x90 | 60 << 8 | 100 << 16);
  EXPECT_GT(Peak(4096), 0.01f);
}

}  // namespace
}  // namespace orvo::sound
