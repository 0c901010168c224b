// The sound rows end to end: orvo-headless runs a small assembled game that plays songs
// and effects on scripted events and writes what row 3 says, with the time, to debug.log.
// The null audio device pulls the synthesizer in real time, so a song takes its length.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/wav/wav_reader.h"
#include "sound/fluid_device.h"
#include "sound/fluid_library.h"
#include "tests/sound/sound_test_support.h"

namespace orvo::sound {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::Smf;
using test::TrackBuilder;

// The song lasts 192 ticks at 96 per quarter and 500000 microseconds per quarter: 1 s.
constexpr long kSongMs = 1000;
constexpr long kWaitMs = 2500;

struct Line {
  char letter = 0;
  int flag = -1;
  long ms = 0;
};

struct Outcome {
  int exitCode = -1;
  std::string out;
  std::vector<Line> lines;
  std::string log;
};

class SoundEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
#if !defined(ORVO_HEADLESS) || !defined(ORVO_SOUND_GAME)
    GTEST_SKIP() << "built without the assembler";
#else
    if (FindSoundFont().empty()) GTEST_SKIP() << "no General MIDI SoundFont installed";
    game = fs::path(dir.Path()) / "game";
    fs::create_directories(game);
    fs::create_directories(fs::path(dir.Path()) / "data");
    fs::copy_file(ORVO_SOUND_GAME, game / "main.ove");
    // Stored with other letter case than the program asks for: found all the same.
    TrackBuilder t;
    t.Program(0, 0, 0).On(0, 0, 60).Off(96, 0, 60).On(0, 0, 64).Off(96, 0, 64).End();
    dir.Write("game/Music/Theme.MID", Smf(0, 96, {t}));
    std::vector<int16_t> ding;
    for (int i = 0; i < 4410; ++i) ding.push_back(static_cast<int16_t>(i % 50 < 25 ? 4000 : -4000));
    dir.Write("game/Sounds/Ding.WAV", test::Wav(44100, 1, 16, ding));
#endif
  }

  // environment: assignments put before the command, e.g. "LD_DEBUG=files".
  Outcome Play(const std::string& script, const std::string& environment = "") {
    Outcome r;
#if defined(ORVO_HEADLESS)
    const fs::path data = fs::path(dir.Path()) / "data";
    dir.Write("events.txt", Bytes(script.begin(), script.end()));
    std::string cmd = environment + " " + std::string(ORVO_HEADLESS) + " --data " + data.string() +
                      " --events " + dir.Path() + "/events.txt " + game.string() + " 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    int status = pclose(p);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(data / "debug.log");
    std::stringstream all;
    all << in.rdbuf();
    r.log = all.str();
    std::istringstream lines(r.log);
    std::string text;
    while (std::getline(lines, text)) {
      Line l;
      std::istringstream fields(text);
      fields >> l.letter >> l.flag >> l.ms;
      EXPECT_TRUE(fields && fields.eof()) << "log line \"" << text << "\"";
      r.lines.push_back(l);
    }
#else
    (void)script;
    (void)environment;
#endif
    return r;
  }

  // Plays the script with the dynamic linker tracing the files it loads (into ld.PID in
  // the temporary folder) and returns the names of every shared object it loaded.
  std::set<std::string> LoadedLibraries(const std::string& script, Outcome& r) {
    const fs::path trace = fs::path(dir.Path()) / "trace";
    fs::create_directories(trace);
    r = Play(script, "LD_DEBUG=files LD_DEBUG_OUTPUT=" + (trace / "ld").string());
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(trace)) {
      std::ifstream in(entry.path());
      std::string line;
      // "  PID:\tfile=libc.so.6 [0];  needed by ..." for each object it maps.
      while (std::getline(in, line)) {
        const size_t at = line.find("file=");
        if (at == std::string::npos) continue;
        const size_t end = line.find(' ', at);
        names.insert(
            line.substr(at + 5, end == std::string::npos ? std::string::npos : end - at - 5));
      }
    }
    return names;
  }

  static std::string Letters(const Outcome& r) {
    std::string s;
    for (const Line& l : r.lines) s += l.letter;
    return s;
  }

  test::TempDir dir;
  fs::path game;
};

TEST_F(SoundEndToEnd, SongPlaysItsLengthThenTheWaitThenTheProgramHearsOfIt) {
  Outcome r = Play("22\n20\nwait 300\n24\nuntil 10 12000\n24\n");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "");
  ASSERT_EQ(Letters(r), "FPQDQ") << r.log;
  EXPECT_EQ(r.lines[0].flag, 0);  // an effect is no music
  EXPECT_EQ(r.lines[1].flag, 1);  // row 3 right after the play
  EXPECT_EQ(r.lines[2].flag, 1);
  // EVT_MUSIC_DONE: the host has cleared the flag before the program hears of it.
  EXPECT_EQ(r.lines[3].flag, 0);
  EXPECT_EQ(r.lines[4].flag, 0);
  const long took = r.lines[3].ms - r.lines[1].ms;
  // The device renders a block (23 ms) ahead of its time; a loaded machine runs late.
  EXPECT_GE(took, kSongMs + kWaitMs - 30);
  EXPECT_LE(took, kSongMs + kWaitMs + 1000);
}

TEST_F(SoundEndToEnd, StoppedAndMissingSongsBringNoEvent) {
  // The stop comes early; the run goes on past the time the song's notice would have come.
  Outcome r = Play("20\nwait 200\n21\nwait 3800\n23\n24\n");
  EXPECT_EQ(r.exitCode, 0);
  // The missing song is named once, and nothing else is said.
  EXPECT_TRUE(r.out.starts_with("orvo: the game asked for missing.mid, which is in none of: ")) << r.out;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
  ASSERT_EQ(Letters(r), "PSMQ") << r.log;
  EXPECT_EQ(r.lines[0].flag, 1);
  EXPECT_EQ(r.lines[1].flag, 0);
  EXPECT_EQ(r.lines[2].flag, 0);  // a song that cannot be played leaves the flag clear
  EXPECT_EQ(r.lines[3].flag, 0);
}

TEST_F(SoundEndToEnd, ASongStartedDuringTheWaitIsNotEndedByTheOldNotice) {
  // The first song has played out at 1 s; its notice would come at 3.5 s. The second
  // play at 1.7 s replaces it, and only the second song's end reaches the program.
  Outcome r = Play("20\nwait 1700\n20\nuntil 10 12000\n24\n");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "");
  ASSERT_EQ(Letters(r), "PPDQ") << r.log;
  EXPECT_EQ(r.lines[1].flag, 1);
  EXPECT_EQ(r.lines[2].flag, 0);
  EXPECT_EQ(r.lines[3].flag, 0);
  EXPECT_GE(r.lines[2].ms - r.lines[1].ms, kSongMs + kWaitMs - 30);
  EXPECT_LE(r.lines[2].ms - r.lines[1].ms, kSongMs + kWaitMs + 1000);
}

// Start-up maps neither SDL nor FluidSynth (and all the libraries behind them): a run that
// plays nothing never loads them.
TEST_F(SoundEndToEnd, ARunThatPlaysNothingLoadsNeitherSdlNorFluidSynth) {
  Outcome r;
  const std::set<std::string> loaded = LoadedLibraries("24\nwait 300\n24\n", r);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(Letters(r), "QQ") << r.log;
  // The trace saw the libraries the program is linked to.
  ASSERT_TRUE(loaded.count("libc.so.6")) << "no trace of the dynamic linker";
  EXPECT_FALSE(loaded.count(platform::SDL_LIBRARY_NAME));
  EXPECT_FALSE(loaded.count(FLUID_LIBRARY_NAME));
}

TEST_F(SoundEndToEnd, TheFirstEffectLoadsSdlButNotFluidSynth) {
  Outcome r;
  const std::set<std::string> loaded = LoadedLibraries("24\n22\nwait 300\n24\n", r);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(Letters(r), "QFQ") << r.log;
  ASSERT_TRUE(loaded.count("libc.so.6")) << "no trace of the dynamic linker";
  EXPECT_TRUE(loaded.count(platform::SDL_LIBRARY_NAME));
  EXPECT_FALSE(loaded.count(FLUID_LIBRARY_NAME));
}

// The synthesizer is loaded with the first song, which then plays its length and ends.
TEST_F(SoundEndToEnd, TheFirstSongLoadsFluidSynthAndPlays) {
  Outcome r;
  const std::set<std::string> loaded = LoadedLibraries("24\n20\nuntil 10 12000\n24\n", r);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "");
  ASSERT_EQ(Letters(r), "QPDQ") << r.log;
  EXPECT_EQ(r.lines[1].flag, 1);
  EXPECT_EQ(r.lines[2].flag, 0);
  EXPECT_GE(r.lines[2].ms - r.lines[1].ms, kSongMs + kWaitMs - 30);
  EXPECT_TRUE(loaded.count(FLUID_LIBRARY_NAME));
}

}  // namespace
}  // namespace orvo::sound
