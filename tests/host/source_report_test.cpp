// Reports in the author's terms from real runs: velda assembles tests/host/games/faults.ova
// (with its debug file), orvo-headless runs it, and what it prints is checked against the
// source and velda's listing.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "tests/host/faults_game.h"

namespace orvo::host {
namespace {

namespace fs = std::filesystem;
using test::FaultsGame;
using test::ReadText;

struct Ran {
  int exitCode = -1;
  std::string out, err;
};

class SourceReport : public ::testing::Test {
 protected:
  fs::path dir;
  FaultsGame game;

  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("orvo-source-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir / "data");
    fs::copy(FaultsGame::Built(), dir / "game");
  }
  void TearDown() override { fs::remove_all(dir); }

  Ran Headless(const std::string& script, const std::string& options = "") {
    std::ofstream(dir / "events.txt") << script;
    const fs::path err = dir / "stderr.txt";
    const std::string cmd = std::string(ORVO_HEADLESS) + " --data " + (dir / "data").string() +
                            " --events " + (dir / "events.txt").string() + " " + options + " " +
                            (dir / "game").string() + " 2>" + err.string();
    Ran r;
    FILE* p = popen(cmd.c_str(), "r");
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
    const int status = pclose(p);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.err = ReadText(err);
    return r;
  }

  // The chain under a fault in Inner: Middle called it, Outer called Middle, the event
  // handler Trigger called Outer.
  std::string ThreeCallers() const {
    return "orvo: called from " + game.Place("Middle", " jsrfr 4, =Inner") + "\n" +
           "orvo: called from " + game.Place("Outer", " jsrfr 4, =Middle") + "\n" +
           "orvo: called from " + game.Place("Trigger", " jsrfr 4, =Outer") + "\n";
  }
};

// Every message that names an instruction: its box text is unchanged, and stderr says
// where it lies, what it is, and who called it.
TEST_F(SourceReport, EveryFaultIsNamedInTheSourceWithItsCallers) {
  struct Case {
    int n;
    std::string label, statement, instruction, message;
  };
  const Case cases[] = {
      {1, "IllegalOpcode", " d 4", "d 0x4", "Illegal opcode at 0x%08X\\nTerminating program."},
      {2, "BadAddress", " d mov $1, [$2]", "d mov $1, [$2][0]", "Bad memory address 0x7FFFFFF0 at 0x%08X"},
      {3, "DivideByZero", " d divu $1, $2", "d divu $1, $2", "Divide by zero at 0x%08X"},
      {4, "StackOverflow", " w pumem $3, [0x200]", "w pumem $3, [Entry]", "Stack overflow at 0x%08X."},
      {5, "IllegalEmod", " emod", "emod", "Illegal EMOD at 0x%08X"},
      {6, "UnknownRequest", " sys", "sys", "Unknown SYS command at 0x%08X. Ack!"},
      {7, "HeapFailure", " sys", "sys", "LockHeap() failed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const Ran r = Headless("10 " + std::to_string(c.n) + " 0 0\n");
    const uint32_t at = game.Address(game.Line(c.statement, ":" + c.label));
    char message[128];
    std::snprintf(message, sizeof message, c.message.c_str(), at);
    EXPECT_NE(r.out.find("!: " + std::string(message)), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "orvo: at " + game.Place(c.label, c.statement) + "  " + c.instruction + "\n" +
                         ThreeCallers());
  }
}

TEST_F(SourceReport, ChainRunsThroughTheComputationThatEmodResumed) {
  const Ran r = Headless("11 0 0 0\n12 0 0 0\n");
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_EQ(r.err, "orvo: at " + game.Place("Waiter", " d 4") + "  d 0x4\n" +
                       "orvo: called from " + game.Place("Holder", " jsrfr 0, =Waiter") + "\n" +
                       "orvo: called from " + game.Place("Suspend", " jsrfr 0, =Holder") + "\n");
}

TEST_F(SourceReport, WithoutTheDebugFileAddressesAndDisassembly) {
  fs::remove(dir / "game/main.ovd");
  const Ran r = Headless("10 3 0 0\n");
  char expected[160];
  std::snprintf(expected, sizeof expected, "orvo: at 0x%08X  d divu $1, $2\n",
                game.Address(game.Line(" d divu $1, $2", ":DivideByZero")));
  EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1), expected);
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 4) << r.err;
  EXPECT_EQ(r.err.find("faults.ova"), std::string::npos);
}

TEST_F(SourceReport, DebugFileOfAnotherBuildOrDamagedIsIgnoredWithOneLine) {
  const std::string good = ReadText(dir / "game/main.ovd");
  // The image changed after velda wrote the debug file (its last byte is padding).
  std::string image = ReadText(dir / "game/main.ove");
  image.back() ^= 1;
  std::ofstream(dir / "game/main.ove", std::ios::binary | std::ios::trunc) << image;
  Ran r = Headless("10 3 0 0\n");
  EXPECT_EQ(r.err.substr(0, r.err.find('\n')),
            "orvo: " + (dir / "game/main.ovd").string() +
                " was written for another build of main.ove; ignored");
  EXPECT_EQ(r.err.find("faults.ova"), std::string::npos);

  std::ofstream(dir / "game/main.ovd", std::ios::binary | std::ios::trunc) << good.substr(0, good.size() / 2);
  r = Headless("10 3 0 0\n");
  EXPECT_TRUE(r.err.starts_with("orvo: " + (dir / "game/main.ovd").string() + " is damaged (")) << r.err;
  EXPECT_EQ(r.err.find("faults.ova"), std::string::npos);
}

TEST_F(SourceReport, TraceFromALabelForACount) {
  const Ran r = Headless("10 3 0 0\n", "--trace " + (dir / "trace.txt").string() +
                                           " --trace-from Middle --trace-count 4");
  EXPECT_EQ(r.exitCode, 3);
  std::istringstream trace(ReadText(dir / "trace.txt"));
  std::vector<std::string> lines;
  for (std::string line; std::getline(trace, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 4u);
  const std::string statements[] = {" sfvr 0, 0", " d push [FP][12]", " jsrfr 4, =Inner", " sfvr 0, 0"};
  const std::string routines[] = {"Middle", "Middle", "Middle", "Inner"};
  uint64_t previous = 0;
  for (size_t i = 0; i < 4; ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[i], m, std::regex("(\\d+) 0x([0-9A-F]{8}) (.*)"))) << lines[i];
    const uint64_t step = std::stoull(m[1]);
    if (i > 0) {
      EXPECT_EQ(step, previous + 1);
    }
    previous = step;
    EXPECT_EQ(std::stoul(m[2], nullptr, 16), game.Address(game.Line(statements[i], ":" + routines[i])));
    EXPECT_TRUE(m[3].str().starts_with(game.Place(routines[i], statements[i]) + " " + statements[i]))
        << lines[i];
  }
  // The registers each one changed: sfvr moves both stack registers, push only VSP.
  EXPECT_NE(lines[0].find(" VSP=0x"), std::string::npos);
  EXPECT_NE(lines[0].find(" VFP=0x"), std::string::npos);
  EXPECT_EQ(lines[1].find(" VFP="), std::string::npos);
}

TEST_F(SourceReport, BreakAtAFileLineStopsThereAndShowsTheState) {
  const std::string statement = " d divu $1, $2";
  const uint32_t line = game.Line(statement, ":DivideByZero");
  const Ran r = Headless("10 3 0 0\n", "--break faults.ova:" + std::to_string(line));
  // Stopped before the division: the game ends as if it had ended itself.
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out.find("Divide by zero"), std::string::npos) << r.out;
  EXPECT_TRUE(r.err.starts_with("break at " + game.Place("DivideByZero", statement) + " " + statement))
      << r.err;
  EXPECT_NE(r.err.find("$2 =0x0000000000000000"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("frame: caller VFP=0x"), std::string::npos);
  EXPECT_NE(r.err.find("argument bytes=4 0x00000003"), std::string::npos) << r.err;
  EXPECT_TRUE(r.err.ends_with(
      "called from " + game.Place("Middle", " jsrfr 4, =Inner") + "\n" + "called from " +
      game.Place("Outer", " jsrfr 4, =Middle") + "\n" + "called from " +
      game.Place("Trigger", " jsrfr 4, =Outer") + "\n"))
      << r.err;
}

TEST_F(SourceReport, PlacesThatAreNotInTheProgramAreRefused) {
  Ran r = Headless("10 3 0 0\n", "--break NoSuchRoutine");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err, "orvo: --break NoSuchRoutine: no label NoSuchRoutine\n");
  fs::remove(dir / "game/main.ovd");
  r = Headless("10 3 0 0\n", "--trace-from Middle --trace " + (dir / "t.txt").string());
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("needs main.ovd"), std::string::npos) << r.err;
}

TEST_F(SourceReport, MissingAssetsAreNamedOnceEach) {
  const Ran r = Headless("13 0 0 0\n");
  EXPECT_EQ(r.exitCode, 0);
  const std::string game = (dir / "game").string() + "/", data = (dir / "data").string() + "/";
  EXPECT_EQ(r.err, "orvo: the game asked for tilez.png, which is in none of: " + data + " " + game + "\n" +
                       "orvo: the game asked for boom.wva, which is in none of: " + game + "\n" +
                       "orvo: the game asked for thme.mid, which is in none of: " + game + "\n");
}

}  // namespace
}  // namespace orvo::host
