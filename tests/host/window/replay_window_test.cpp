// A session recorded by the real orvo in its window (keys and the pointer from xdotool,
// the timer on the wall clock, the clipboard of the X server, an F12 screenshot, the close
// button) replays under orvo-headless to the same end: the memory the recording names,
// the same debug.log and the same screenshot.
#include <sys/wait.h>

#include "tests/host/window/orvo_window.h"

namespace orvo::host {
namespace {

using platform::test::Shell;

TEST_F(OrvoWindow, ASessionRecordedInTheWindowReplaysHeadlessToTheSameEnd) {
  GameFolder g(base, "games");
  const fs::path recording = base / "session.orvorec";
  Process orvo;
  const Window w = Open(orvo, g, {}, {}, {"--record", recording.string()});
  ASSERT_NE(w, 0u);
  ASSERT_EQ(Shell("xdotool mousemove --window " + std::to_string(w) + " 30 30"), 0);
  ASSERT_TRUE(Logged(g, "E15 30 30 0\n"));
  ASSERT_EQ(Shell("xdotool key t"), 0);
  ASSERT_TRUE(Logged(g, "E11 0 0 0\n"));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_EQ(Shell("xdotool key c key v key d"), 0);
  ASSERT_TRUE(Logged(g, "E12 68 "));
  ASSERT_EQ(Shell("xdotool key F12 key s"), 0);
  ASSERT_TRUE(Logged(g, "E12 83 "));
  platform::test::XConnection x;
  ASSERT_NE(x.display, nullptr);
  platform::test::SendClose(x.display, w);
  ASSERT_TRUE(orvo.Ended(10000));
  ASSERT_EQ(orvo.ExitCode(), 0);
  ASSERT_TRUE(fs::exists(recording));

  const fs::path replayed = base / "replayed", shots = g.data / "screenshots";
  const std::string command = "'" ORVO_HEADLESS "' --replay '" + recording.string() + "' --data '" +
                              replayed.string() + "' --expect '" + shots.string() + "' '" +
                              g.folder.string() + "'";
  int status = -1;
  const std::string out = platform::test::ShellOutput(command, &status);
  // 0: every delivery and request as recorded, the screenshot as F12 wrote it and VM
  // memory at the end the one whose hash the recording ends with.
  ASSERT_TRUE(WIFEXITED(status)) << out;
  EXPECT_EQ(WEXITSTATUS(status), 0) << out;
  EXPECT_EQ(ReadFile(replayed / "debug.log"), Log(g));
  size_t screenshots = 0;
  for (const auto& shot : fs::directory_iterator(shots)) {
    EXPECT_EQ(ReadFile(replayed / "screenshots" / shot.path().filename()), ReadFile(shot.path()));
    ++screenshots;
  }
  EXPECT_EQ(screenshots, 1u);
}

}  // namespace
}  // namespace orvo::host
