// Mines recorded over a long session on the wall clock (so the clock, the date and the
// timer's ticks differ from run to run) and replayed: the replay ends with the same VM
// memory, the same debug.log, settings file and screenshots at the same points.
#include <gtest/gtest.h>

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
  const std::string script = RandomSession(2024, 150, 20, 80, [&](int move) {
    return move % 30 == 29
               ? "shot " + (shots / ("move" + std::to_string(move) + ".png")).string() + "\n"
               : std::string();
  });
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
  EXPECT_EQ(RunCommand(command, out), 0) << out;

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
