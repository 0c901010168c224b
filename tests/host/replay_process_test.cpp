// orvo-headless --record and --replay as processes, on the recorder test game run on the
// wall clock: the replay leaves the same debug.log (timer ticks as they fell, the
// clipboard), memory and screenshots; another image, a file cut short or damaged, and a
// recording edited so that the run leaves it are each refused with their message.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/recording.h"
#include "host/replayer.h"

namespace orvo::host {
namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<uint8_t> Bytes(const fs::path& p) {
  const std::string s = Read(p);
  return {s.begin(), s.end()};
}

void Write(const fs::path& p, const std::vector<uint8_t>& bytes) {
  std::ofstream(p, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

struct Ran {
  int status = -1;
  std::string output;
};

Ran Headless(const std::string& arguments) {
  Ran r;
  if (FILE* p = popen(("'" ORVO_HEADLESS "' " + arguments + " 2>&1").c_str(), "r")) {
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) r.output.append(buf, n);
    const int status = pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  return r;
}

std::string Game(const char* name) {
  return "'" + (fs::path(ORVO_TEST_GAMES) / name).string() + "'";
}

class Replay : public ::testing::Test {
 protected:
  fs::path root;
  void SetUp() override {
    root = fs::temp_directory_path() /
           ("orvo-replay-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    fs::create_directories(root / "shots");
  }
  void TearDown() override { fs::remove_all(root); }

  // The recorder game on the wall clock: a 50 ms timer for a while, the clipboard
  // written and read, a box drawn, two screenshots, Q. Returns the recording.
  fs::path Record() {
    const fs::path shots = root / "shots";
    std::ofstream(root / "events.txt")
        << "wait 50\n12 84 1 0\nwait 300\n12 67 1 0\n12 86 1 0\nshot "
        << (shots / "one.png").string() << "\n12 68 1 0\nwait 200\n12 83 1 0\nshot "
        << (shots / "two.png").string() << "\n15 30 40 0\n12 81 1 0\n";
    const Ran r = Headless("--data '" + (root / "data").string() + "' --events '" +
                           (root / "events.txt").string() + "' --dump-memory '" +
                           (root / "recorded.bin").string() + "' --record '" +
                           (root / "session.rec").string() + "' " + Game("recorder"));
    EXPECT_EQ(r.status, 0) << r.output;
    return root / "session.rec";
  }
  Ran ReplayOf(const fs::path& recording, const std::string& game = Game("recorder")) {
    return Headless("--replay '" + recording.string() + "' --data '" +
                    (root / "replayed").string() + "' --dump-memory '" +
                    (root / "replayed.bin").string() + "' --expect '" + (root / "shots").string() +
                    "' " + game);
  }
};

TEST_F(Replay, TheRecorderGameReplaysToTheSameLogMemoryAndScreenshots) {
  const fs::path recording = Record();
  const Ran r = ReplayOf(recording);
  EXPECT_EQ(r.status, 0) << r.output;
  const std::string log = Read(root / "data" / "debug.log");
  EXPECT_NE(log.find("E11 0 0 0\n"), std::string::npos) << log;  // the timer ticked
  EXPECT_NE(log.find("clip: copied from orvo\n"), std::string::npos) << log;
  EXPECT_EQ(Read(root / "replayed" / "debug.log"), log);
  EXPECT_EQ(Bytes(root / "replayed.bin"), Bytes(root / "recorded.bin"));
  EXPECT_FALSE(Bytes(root / "recorded.bin").empty());
  for (const char* shot : {"one.png", "two.png"})
    EXPECT_EQ(Bytes(root / "replayed" / "screenshots" / shot), Bytes(root / "shots" / shot))
        << shot;
}

TEST_F(Replay, AnotherImageIsRefused) {
  const Ran r = ReplayOf(Record(), Game("events"));
  EXPECT_EQ(r.status, 2) << r.output;
  EXPECT_NE(r.output.find("cannot replay: the recording belongs to another image (build "),
            std::string::npos)
      << r.output;
}

TEST_F(Replay, ARecordingCutShortOrDamagedIsRefusedWithItsMessage) {
  const std::vector<uint8_t> bytes = Bytes(Record());
  Write(root / "cut.rec", {bytes.begin(), bytes.begin() + static_cast<long>(bytes.size() / 2)});
  Ran r = ReplayOf(root / "cut.rec");
  EXPECT_EQ(r.status, 2) << r.output;
  EXPECT_NE(r.output.find("cut.rec: it is cut short: "), std::string::npos) << r.output;
  std::vector<uint8_t> damaged = bytes;
  damaged[damaged.size() - 40] ^= 1;
  Write(root / "damaged.rec", damaged);
  r = ReplayOf(root / "damaged.rec");
  EXPECT_EQ(r.status, 2) << r.output;
  EXPECT_NE(r.output.find("damaged.rec: it is damaged: its contents do not match their checksum"),
            std::string::npos)
      << r.output;
}

// A recording edited well (its checksum made again) but without the clipboard's answer:
// the replay stops where the game asks for it, and says so.
TEST_F(Replay, ARunThatLeavesTheRecordingStopsThereAndSaysWhere) {
  Recording recording;
  std::string problem;
  ASSERT_TRUE(DecodeRecording(Bytes(Record()), recording, problem)) << problem;
  std::vector<RecordedItem>& items = recording.items;
  const auto clipboard = std::find_if(items.begin(), items.end(), [](const RecordedItem& i) {
    return i.kind == RecordedItem::REQUEST && i.effect.command == 0x705;
  });
  ASSERT_NE(clipboard, items.end());
  const size_t at = static_cast<size_t>(clipboard - items.begin()) + 1;
  items.erase(clipboard);
  Write(root / "edited.rec", EncodeRecording(recording));
  const Ran r = ReplayOf(root / "edited.rec");
  EXPECT_EQ(r.status, 4) << r.output;
  EXPECT_NE(r.output.find("the replay has left the recording at item " + std::to_string(at) + " (" +
                          Describe(items[at - 1]) + "): the game asks for the request 0x705"),
            std::string::npos)
      << r.output;
}

}  // namespace
}  // namespace orvo::host
