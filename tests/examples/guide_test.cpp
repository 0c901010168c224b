// The game author's guide keeps its promises: every ```velda block in docs/*.md is
// assembled with velda after the example library and run with orvo-headless, and what it
// writes to debug.log and prints must be exactly what the blocks after it say.
//
// The guide's conventions (explained in docs/README.md):
//   ```velda              a program, or a part of one (see "velda frame")
//   ```velda PATH         the same, and it must be the file PATH of the repository as it is
//   ```velda frame        the event table used by every later block that has none
//   ```events             the orvo-headless event script for the block before (default
//                         "wait 50")
//   ```debug.log          what the block's run leaves in debug.log (default: nothing)
//   ```output             what orvo-headless prints (default: nothing); GAME/ and DATA/
//                         stand for the run's game and data folders
// The game folder holds the sources, velda's outputs and the example game's theme.mid; the
// data folder starts empty.
// In the last two, "\r" at the end of a line is the CR of a CR LF line end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "sound/fluid_device.h"
#include "tests/examples/mines_support.h"

namespace orvo::examples {
namespace {

struct Example {
  std::string file;  // the guide page's name
  int line = 0;      // where the block starts
  std::string source, path, frame, events = "wait 50\n", log, output;
  bool complete = false;  // has its own event table
};

// Failures name the block by its page and line.
void PrintTo(const Example& e, std::ostream* os) {
  *os << e.file << ".md:" << e.line;
}

// The fenced blocks of a page: (info string, text, first line).
struct Block {
  std::string info, text;
  int line = 0;
};

std::vector<Block> Blocks(const std::string& page) {
  std::vector<Block> out;
  std::istringstream lines(page);
  std::string line;
  int number = 0;
  Block* open = nullptr;
  while (std::getline(lines, line)) {
    ++number;
    if (line.rfind("```", 0) == 0) {
      if (open) {
        open = nullptr;
      } else {
        out.push_back({line.substr(3), "", number});
        open = &out.back();
      }
      continue;
    }
    if (open) open->text += line + "\n";
  }
  return out;
}

// An expected text: "\\r" at the end of a line is the carriage return of a CR LF.
std::string Expected(const std::string& block) {
  std::string out;
  size_t from = 0;
  for (size_t at; (at = block.find("\\r\n", from)) != std::string::npos; from = at + 3)
    out += block.substr(from, at - from) + "\r\n";
  return out + block.substr(from);
}

std::vector<Example> LoadExamples() {
  std::vector<Example> all;
  std::vector<fs::path> pages;
  for (const auto& e : fs::directory_iterator(ORVO_DOCS_DIR))
    if (e.path().extension() == ".md") pages.push_back(e.path());
  std::sort(pages.begin(), pages.end());  // README.md, with the frame, comes first
  std::string frame;
  for (const fs::path& page : pages) {
    Example* current = nullptr;
    for (const Block& b : Blocks(ReadFile(page))) {
      if (b.info == "velda frame") {
        frame = b.text;
        current = nullptr;
      } else if (b.info == "velda" || b.info.rfind("velda ", 0) == 0) {
        Example e;
        e.file = page.stem().string();
        e.line = b.line;
        e.source = b.text;
        if (b.info != "velda") e.path = b.info.substr(6);
        e.complete = b.text.find(":EventTable") != std::string::npos;
        e.frame = frame;
        all.push_back(e);
        current = &all.back();
      } else if (current && b.info == "events") {
        current->events = b.text;
      } else if (current && b.info == "debug.log") {
        current->log = Expected(b.text);
      } else if (current && b.info == "output") {
        current->output = Expected(b.text);
      }
    }
  }
  return all;
}

std::string RunCommand(const std::string& command, int& code) {
  std::string out;
  code = -1;
  if (FILE* p = popen((command + " 2>&1").c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int status = pclose(p);
    code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  return out;
}

// Every run's game folder holds the example game's song, for the pages that play or
// delete a file of the game's own.
constexpr const char* kSong = "theme.mid";

class Guide : public ::testing::TestWithParam<Example> {};

TEST_P(Guide, ExampleAssemblesAndRunsAsTheGuideSays) {
  const Example& e = GetParam();
  if (!e.path.empty()) {
    EXPECT_EQ(e.source, ReadFile(fs::path(ORVO_EXAMPLES_DIR).parent_path() / e.path))
        << "the guide shows " << e.path << " as it is";
  }
  ASSERT_TRUE(e.complete || !e.frame.empty()) << "no event table and no frame before it";
  // The song plays only through a General MIDI SoundFont; without one it never starts.
  if (e.source.find(kSong) != std::string::npos && sound::FindSoundFont().empty())
    GTEST_SKIP() << "no General MIDI SoundFont installed";
  TempFolder tmp;
  ASSERT_FALSE(tmp.path.empty());
  const fs::path game = tmp.path / "game", data = tmp.path / "data";
  fs::create_directories(game);
  fs::create_directories(data);
  fs::copy_file(fs::path(ORVO_EXAMPLE_GAMES) / "mines" / kSong, game / kSong);
  std::ofstream(game / "example.ova", std::ios::binary) << e.source;
  const fs::path lib = fs::path(ORVO_EXAMPLES_DIR) / "lib";
  std::string sources =
      "'" + (lib / "header.ova").string() + "' '" + (lib / "sys.ova").string() + "'";
  if (!e.complete) {
    std::ofstream(game / "frame.ova", std::ios::binary) << e.frame;
    sources += " frame.ova";
  }
  int code = 0;
  const std::string assembled = RunCommand(
      "cd '" + game.string() + "' && '" + ORVO_VELDA + "' -Q " + sources + " example.ova", code);
  ASSERT_EQ(code, 0) << assembled;
  EXPECT_EQ(assembled, "");
  ASSERT_TRUE(fs::exists(game / "main.ove"));

  std::ofstream(tmp.path / "events.txt") << e.events;
  const std::string out = RunCommand(
      "cd '" + tmp.path.string() + "' && '" + ORVO_HEADLESS + "' --data '" + data.string() +
          "' --events '" + (tmp.path / "events.txt").string() + "' '" + game.string() + "'",
      code);
  EXPECT_EQ(code, 0) << out;
  std::string shown = out;
  for (const auto& [folder, name] : {std::pair{game, "GAME/"}, std::pair{data, "DATA/"}}) {
    const std::string path = folder.string() + "/";
    for (size_t at; (at = shown.find(path)) != std::string::npos;) shown.replace(at, path.size(), name);
  }
  EXPECT_EQ(shown, e.output);
  EXPECT_EQ(ReadFile(data / "debug.log"), e.log);
}

// Every example must be checked against something it does.
TEST(GuidePages, EveryExampleShowsWhatItDoes) {
  const std::vector<Example> all = LoadExamples();
  EXPECT_GE(all.size(), 12u);
  for (const Example& e : all)
    EXPECT_FALSE(e.log.empty() && e.output.empty()) << e.file << ":" << e.line;
}

// The wrappers of examples/lib/sys.ova: the labels whose first statement makes a frame.
std::vector<std::string> LibraryWrappers() {
  std::vector<std::string> out;
  std::istringstream lines(ReadFile(fs::path(ORVO_EXAMPLES_DIR) / "lib" / "sys.ova"));
  std::string line, label;
  while (std::getline(lines, line)) {
    std::istringstream words(line.substr(0, line.find(';')));
    std::string first;
    if (!(words >> first)) continue;
    if (first.size() > 1 && first[0] == ':') {
      label = first.substr(1);
      continue;
    }
    if (!label.empty() && first == "sfvr" && label != "@") out.push_back(label);
    label.clear();
  }
  return out;
}

// The names examples/README.md lists as wrappers: "`Name (", a line end allowed before
// the parenthesis.
std::vector<std::string> ListedWrappers(const std::string& text) {
  std::vector<std::string> out;
  for (size_t at = 0; (at = text.find('`', at)) != std::string::npos; ++at) {
    size_t end = at + 1;
    while (end < text.size() && std::isalnum(static_cast<unsigned char>(text[end]))) ++end;
    size_t paren = end;
    while (paren < text.size() && (text[paren] == ' ' || text[paren] == '\n')) ++paren;
    if (end > at + 1 && paren > end && paren < text.size() && text[paren] == '(')
      out.push_back(text.substr(at + 1, end - at - 1));
  }
  return out;
}

// The library's list in examples/README.md names every wrapper and nothing else, and the
// guide mentions each of them.
TEST(GuidePages, EveryLibraryWrapperIsListed) {
  const std::vector<std::string> wrappers = LibraryWrappers();
  EXPECT_GE(wrappers.size(), 30u);
  const std::string readme = ReadFile(fs::path(ORVO_EXAMPLES_DIR) / "README.md");
  std::vector<std::string> listed = ListedWrappers(readme);
  std::string guide;
  for (const auto& e : fs::directory_iterator(ORVO_DOCS_DIR))
    if (e.path().extension() == ".md") guide += ReadFile(e.path());
  for (const std::string& w : wrappers) {
    EXPECT_EQ(std::count(listed.begin(), listed.end(), w), 1) << w << " in examples/README.md";
    EXPECT_NE(guide.find("`" + w), std::string::npos) << w << " in docs/";
  }
  for (const std::string& name : listed)
    EXPECT_TRUE(std::find(wrappers.begin(), wrappers.end(), name) != wrappers.end())
        << name << " is listed but lib/sys.ova has no such wrapper";
}

INSTANTIATE_TEST_SUITE_P(Docs, Guide, ::testing::ValuesIn(LoadExamples()),
                         [](const ::testing::TestParamInfo<Example>& info) {
                           std::string name =
                               info.param.file + "_line" + std::to_string(info.param.line);
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

}  // namespace
}  // namespace orvo::examples
