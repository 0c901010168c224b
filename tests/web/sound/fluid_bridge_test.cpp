// The web build's FluidSynth: each function a bridge to the synthesizer's own module, with
// its memory apart. What crosses between the two memories is checked here, under node,
// against the real synthesizer and the system's SoundFont.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "sound/fluid_device.h"
#include "sound/fluid_library.h"

namespace orvo::sound {
namespace {

constexpr int kRate = 44100;

class FluidBridge : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    fl = Fluid(&why);
    ASSERT_NE(fl, nullptr) << why;
    font = FindSoundFont();
    if (font.empty()) GTEST_SKIP() << "no General MIDI SoundFont installed";
  }
  void TearDown() override {
    for (fluid_synth_t* s : synths) fl->delete_fluid_synth(s);
    for (fluid_settings_t* s : settings) fl->delete_fluid_settings(s);
  }
  // A synthesizer with the SoundFont, holding an organ note (no decay of its own).
  fluid_synth_t* Sounding() {
    fluid_settings_t* s = fl->new_fluid_settings();
    settings.push_back(s);
    EXPECT_EQ(fl->fluid_settings_setnum(s, "synth.sample-rate", kRate), FLUID_OK);
    fluid_synth_t* synth = fl->new_fluid_synth(s);
    synths.push_back(synth);
    EXPECT_NE(fl->fluid_synth_sfload(synth, font.c_str(), 1), FLUID_FAILED);
    fl->fluid_synth_program_change(synth, 0, 19);
    fl->fluid_synth_noteon(synth, 0, 60, 110);
    return synth;
  }

  const FluidLibrary* fl = nullptr;
  std::string font;
  std::vector<fluid_settings_t*> settings;
  std::vector<fluid_synth_t*> synths;
};

// Any layout of the caller's buffers (each side's offset and stride, in one buffer
// interleaved or in two) gets the samples of a plain render, and the floats between
// them keep what they held.
TEST_F(FluidBridge, RendersIntoAnyLayoutAndLeavesTheFloatsBetweenAlone) {
  fluid_synth_t* plain = Sounding();
  fluid_synth_t* laidOut = Sounding();
  std::mt19937 random(27);
  auto upTo = [&random](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  constexpr float kUntouched = -7.0f;
  for (int round = 0; round < 300; ++round) {
    const int len = 1 + upTo(300);
    const bool shared = upTo(2) == 0;
    int loff, lincr, roff, rincr;
    if (shared) {  // interleaved: the two sides never meet
      lincr = rincr = 2 + upTo(3);
      loff = upTo(lincr);
      roff = (loff + 1 + upTo(lincr - 1)) % lincr;
    } else {
      loff = upTo(4), lincr = 1 + upTo(3), roff = upTo(4), rincr = 1 + upTo(3);
    }
    std::vector<float> wantLeft(len), wantRight(len);
    ASSERT_EQ(fl->fluid_synth_write_float(plain, len, wantLeft.data(), 0, 1, wantRight.data(), 0, 1),
              FLUID_OK);
    const size_t leftSize = loff + (len - 1) * lincr + 1, rightSize = roff + (len - 1) * rincr + 1;
    // A few floats more than the layout reaches: they too must stay as they were.
    std::vector<float> left(std::max(leftSize, rightSize) + 3, kUntouched), right(rightSize + 3, kUntouched);
    float* r = shared ? left.data() : right.data();
    ASSERT_EQ(fl->fluid_synth_write_float(laidOut, len, left.data(), loff, lincr, r, roff, rincr), FLUID_OK);
    std::vector<bool> leftWritten(left.size()), rightWritten(right.size());
    for (int i = 0; i < len; ++i) {
      ASSERT_EQ(left[loff + i * lincr], wantLeft[i]) << "round " << round << ", left sample " << i;
      ASSERT_EQ(r[roff + i * rincr], wantRight[i]) << "round " << round << ", right sample " << i;
      leftWritten[loff + i * lincr] = true;
      (shared ? leftWritten : rightWritten)[roff + i * rincr] = true;
    }
    for (size_t i = 0; i < left.size(); ++i)
      if (!leftWritten[i]) ASSERT_EQ(left[i], kUntouched) << "round " << round << ", float " << i;
    for (size_t i = 0; i < right.size(); ++i)
      if (!rightWritten[i]) ASSERT_EQ(right[i], kUntouched) << "round " << round << ", float " << i;
  }
  // The note sounded all along: the samples compared were not only silence.
  std::vector<float> last(512);
  fl->fluid_synth_write_float(plain, 256, last.data(), 0, 2, last.data(), 1, 2);
  EXPECT_GT(*std::max_element(last.begin(), last.end()), 0.01f);
}

// Names of settings cross as text: a known one is set, an unknown one refused.
TEST_F(FluidBridge, SettingsAreNamedAcrossTheMemories) {
  fluid_settings_t* s = fl->new_fluid_settings();
  settings.push_back(s);
  EXPECT_EQ(fl->fluid_settings_setint(s, "synth.polyphony", 32), FLUID_OK);
  EXPECT_EQ(fl->fluid_settings_setint(s, "synth.no-such-setting", 1), FLUID_FAILED);
  EXPECT_EQ(fl->fluid_settings_setnum(s, "synth.gain", 0.5), FLUID_OK);
}

// A system exclusive message is copied over; a reply, which the device never asks for,
// is refused rather than written into the wrong memory.
TEST_F(FluidBridge, SysExCrossesAndRepliesAreRefused) {
  fluid_synth_t* synth = Sounding();
  const char gmOn[] = {0x7E, 0x7F, 0x09, 0x01};
  EXPECT_EQ(fl->fluid_synth_sysex(synth, gmOn, sizeof gmOn, nullptr, nullptr, nullptr, 0), FLUID_OK);
  char reply[16];
  int replyLength = sizeof reply, handled = 0;
  EXPECT_EQ(fl->fluid_synth_sysex(synth, gmOn, sizeof gmOn, reply, &replyLength, &handled, 0),
            FLUID_FAILED);
}

}  // namespace
}  // namespace orvo::sound
