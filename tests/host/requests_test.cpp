// The request table of a full runtime and the guide's tables of docs/sys.md list the same
// requests: command, name and number of argument words.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>

#include "host/runtime.h"
#include "platform/headless/headless_platform.h"

namespace orvo::host {
namespace {

using Rows = std::map<uint32_t, std::string>;  // command -> "name: words"

// A documented argument list: commas count, except inside parentheses and in the
// explanation after a colon or semicolon; a dash is no argument.
int DocumentedWords(std::string text) {
  if (text == "—") return 0;
  text = std::regex_replace(text, std::regex(R"(\([^)]*\))"), "");
  text = text.substr(0, text.find_first_of(":;"));
  int words = 1;
  for (char c : text) words += c == ',';
  return words;
}

Rows GuideRows() {
  std::ifstream in(ORVO_DOCS_DIR "/sys.md");
  const std::regex row(R"(^\| (0x[0-9A-F]{3}) ([^|]+) \| ([^|]+) \|)");
  Rows rows;
  std::smatch match;
  for (std::string line; std::getline(in, line);)
    if (std::regex_search(line, match, row))
      rows[std::stoul(match[1], nullptr, 16)] =
          match[2].str() + ": " + std::to_string(DocumentedWords(match[3]));
  return rows;
}

Rows TableRows(const std::string& list) {
  const std::regex row(R"(^(0x[0-9A-F]{3}) ([^:]+): (\d+) words?( \+ value)?)");
  Rows rows;
  std::istringstream in(list);
  std::smatch match;
  for (std::string line; std::getline(in, line);) {
    EXPECT_TRUE(std::regex_search(line, match, row)) << line;
    const int words = std::stoi(match[3]) + (match[4].matched ? 1 : 0);
    rows[std::stoul(match[1], nullptr, 16)] = match[2].str() + ": " + std::to_string(words);
  }
  return rows;
}

TEST(Requests, TheGuideListsEveryRowOfTheTableAndNothingElse) {
  platform::HeadlessPlatform platform{{}};
  Runtime runtime(platform.Parts(), {});
  const Rows table = TableRows(vm::RequestList(runtime.machine().requests));
  EXPECT_EQ(table.size(), 96u);
  Rows guide = GuideRows();
  for (const auto& [command, row] : table) EXPECT_EQ(guide[command], row) << std::hex << command;
  EXPECT_EQ(guide.size(), table.size());
}

}  // namespace
}  // namespace orvo::host
