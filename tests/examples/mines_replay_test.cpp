// Mines recorded over a long session on the wall clock (so the clock, the date and the
// timer's ticks differ from run to run) and replayed: the replay ends with the same VM
// memory, the same debug.log, settings file and screenshots at the same points.
#include <gtest/gtest.h>

#include <random>

#include "tests/examples/mines_support.h"

namespace orvo::examples {
namespace {

TEST(MinesReplay, ALongSessionOnTheWallClockReplaysToTheSameMemoryFilesAndScreenshots) {
  TempFolder tmp;
  ASSERT_FALSE(tmp.path.empty());
  const fs::path game = fs::path(ORVO_EXAMPLE_GAMES) / "mines";
  const fs::path data = tmp.path / "data", shots = tmp.path / "shots";
  fs::create_directories(data);
  fs::create_directories(shots);
  // A settings file from an earlier run: the recording carries it.
  std::ofstream(data / "mines.ini", std::ios::binary)
      << "[0x00000000=Options]\r\nlevel= 0\r\nmusic= 0\r\nnext= 777\r\n";
  const std::map<std::string, uint32_t> symbols = ReadMap(game / "main.map");

  // Random presses of both buttons with short real waits: about ten seconds of play,
  // three new games, a screenshot every 30 moves.
  std::mt19937 random(2024);
  std::string script = "wait 100\n";
  for (int move = 0; move < 150; ++move) {
    const int x = 30 + int(random() % 580), y = 60 + int(random() % 400);
    const int button = random() % 4 == 0 ? 2 : 1;
    const std::string pos = std::to_string(x | y << 16);
    script += "12 " + std::to_string(button) + " " + std::to_string(button) + " " + pos + "\n";
    script += "13 " + std::to_string(button) + " 0 " + pos + "\n";
    script += "wait " + std::to_string(20 + random() % 80) + "\n";
    if (move % 30 == 29)
      script += "shot " + (shots / ("move" + std::to_string(move) + ".png")).string() + "\n";
    if (move % 40 == 39) script += "12 0x4E 1 0\n13 0x4E 1 0\n";  // N: a new game
  }
  script += "12 0x51 1 0\n13 0x51 1 0\n";  // Q saves and quits
  const fs::path recording = tmp.path / "mines.orvorec";
  const Outcome recorded =
      RunHeadless(game, data, script, symbols, tmp.path, "--record '" + recording.string() + "'");
  ASSERT_EQ(recorded.exitCode, 0) << recorded.out;
  ASSERT_FALSE(recorded.memory.empty());

  const fs::path replayed = tmp.path / "replayed", dump = tmp.path / "replayed.bin";
  const std::string command = "'" + std::string(ORVO_HEADLESS) + "' --replay '" +
                              recording.string() + "' --data '" + replayed.string() +
                              "' --dump-memory '" + dump.string() + "' --expect '" +
                              shots.string() + "' '" + game.string() + "' 2>&1";
  std::string out;
  int status = -1;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    status = pclose(p);
  }
  ASSERT_TRUE(WIFEXITED(status)) << out;
  EXPECT_EQ(WEXITSTATUS(status), 0) << out;

  const std::string memory = ReadFile(dump);
  EXPECT_TRUE(std::vector<uint8_t>(memory.begin(), memory.end()) == recorded.memory);
  EXPECT_EQ(ReadFile(replayed / "mines.ini"), ReadFile(data / "mines.ini"));
  EXPECT_EQ(fs::exists(replayed / "debug.log"), fs::exists(data / "debug.log"));
  EXPECT_EQ(ReadFile(replayed / "debug.log"), ReadFile(data / "debug.log"));
  int compared = 0;
  for (const auto& shot : fs::directory_iterator(shots)) {
    const Picture want = ReadPng(shot.path()),
                  got = ReadPng(replayed / "screenshots" / shot.path().filename());
    ASSERT_TRUE(want.Valid()) << shot.path();
    EXPECT_EQ(got.width, want.width);
    EXPECT_EQ(got.height, want.height);
    EXPECT_TRUE(got.rgba == want.rgba) << shot.path().filename();
    ++compared;
  }
  EXPECT_EQ(compared, 5);
}

}  // namespace
}  // namespace orvo::examples
