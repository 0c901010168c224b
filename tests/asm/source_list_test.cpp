// The source list: its lines, its mistakes, and velda-game assembling a game from it
// exactly as velda does from the same names on its command line.
#include "source_list.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "velda_test_util.h"

namespace {

using orvo::velda::ParseSourceList;

TEST(SourceList, ReadsSourcesInOrderAndTheOutputFolder) {
  auto list = ParseSourceList(
      "; a comment\n\nsource ../lib/header\r\n  source\tgame.ova ; why\noutput out\n", "/g");
  EXPECT_TRUE(list.errors.empty());
  EXPECT_EQ(list.sources, (std::vector<std::string>{"../lib/header", "game.ova"}));
  EXPECT_EQ(list.output, "out");
  EXPECT_EQ(orvo::velda::SourcePath(list, list.sources[0]), "/g/../lib/header.ova");
  EXPECT_EQ(orvo::velda::SourcePath(list, list.sources[1]), "/g/game.ova");
}

TEST(SourceList, NamesEachWrongLineByItsNumber) {
  auto list = ParseSourceList("source a\nsorce b\nsource\noutput x\noutput y\n", "/g");
  EXPECT_EQ(list.errors, (std::vector<std::string>{"velda.list(2): unknown entry: sorce",
                                                   "velda.list(3): missing path: source",
                                                   "velda.list(5): second output: y"}));
  EXPECT_EQ(ParseSourceList("; nothing\n", "/g").errors,
            std::vector<std::string>{"velda.list: no source named"});
  EXPECT_EQ(orvo::velda::ReadSourceList("/nonexistent/folder").errors.size(), 1u);
}

std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(SourceList, VeldaGameAssemblesTheExamplesAsVeldaDoes) {
  const std::filesystem::path examples = VELDA_EXAMPLES_DIR;
  for (const char* game : {"hello", "mines"}) {
    velda_test::TempDir dir;
    auto list = orvo::velda::ReadSourceList(examples / game);
    ASSERT_TRUE(list.errors.empty()) << game;
    std::vector<std::pair<std::string, std::string>> files;
    std::vector<std::string> args = {"-Q"};
    for (const std::string& s : list.sources) {
      std::string name = std::filesystem::path(s).filename().string() + ".ova";
      files.push_back({name, ReadFile(orvo::velda::SourcePath(list, s))});
      args.push_back("%" + name);
    }
    velda_test::Result byVelda = velda_test::Assemble(dir, files, args);
    ASSERT_EQ(byVelda.code, 0) << byVelda.console;
    std::string out = (dir.path() / "by-list").string();
    std::string command =
        std::string(VELDA_GAME) + " -Q -o " + out + " " + (examples / game).string();
    ASSERT_EQ(std::system(command.c_str()), 0) << game;
    EXPECT_EQ(ReadFile(out + "/main.ove"), byVelda.image) << game;
    EXPECT_EQ(ReadFile(out + "/main.map"), byVelda.map) << game;
  }
}

TEST(SourceList, TheGuideShowsTheListOfHelloAsItIs) {
  const std::filesystem::path examples = VELDA_EXAMPLES_DIR;
  std::string page = ReadFile(examples / "../docs/files.md");
  size_t at = page.find("```text\n", page.find("examples/hello/velda.list"));
  ASSERT_NE(at, std::string::npos);
  at += 8;
  EXPECT_EQ(page.substr(at, page.find("```", at) - at), ReadFile(examples / "hello/velda.list"));
}

}  // namespace
