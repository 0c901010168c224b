// The test game tests/host/games/faults.ova as velda built it, read back the way an author
// would: line numbers from the source, addresses from velda's listing (main.ovl). The
// reports under test must agree with both.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace orvo::host::test {

inline std::string ReadText(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class FaultsGame {
 public:
  static std::filesystem::path Built() { return std::filesystem::path(ORVO_TEST_GAMES) / "faults"; }

  FaultsGame() {
    std::istringstream source(ReadText(std::filesystem::path(ORVO_TEST_GAME_SOURCES) / "faults.ova"));
    for (std::string line; std::getline(source, line);) lines_.push_back(line);
    // "  faults:00057 c 0005A0 ...": the file, its line and the address the line starts at.
    std::istringstream listing(ReadText(Built() / "main.ovl"));
    for (std::string line; std::getline(listing, line);) {
      if (line.size() < 23 || line.compare(0, 8, "  faults") != 0 || line[15] != 'c') continue;
      const uint32_t number = static_cast<uint32_t>(std::stoul(line.substr(9, 5)));
      if (line.substr(17, 6) != "      " && !addresses_.count(number))
        addresses_[number] = static_cast<uint32_t>(std::stoul(line.substr(17, 6), nullptr, 16));
    }
  }

  // The 1-based line of the first source line that is `text` after `after` (a label line).
  uint32_t Line(const std::string& text, const std::string& after = "") const {
    size_t i = 0;
    if (!after.empty()) {
      while (i < lines_.size() && lines_[i] != after) ++i;
      ++i;
    }
    for (; i < lines_.size(); ++i)
      if (lines_[i] == text) return static_cast<uint32_t>(i + 1);
    ADD_FAILURE() << "no line " << text;
    return 0;
  }
  uint32_t Address(uint32_t line) const {
    auto it = addresses_.find(line);
    EXPECT_NE(it, addresses_.end()) << "line " << line << " has no address";
    return it == addresses_.end() ? 0 : it->second;
  }
  // "faults.ova:L Label+0xN" for the statement `text` in the routine `label`.
  std::string Place(const std::string& label, const std::string& text) const {
    const uint32_t line = Line(text, ":" + label);
    const uint32_t offset = Address(line) - Address(Line(":" + label));
    char hex[16];
    std::snprintf(hex, sizeof hex, "+0x%X", offset);
    return "faults.ova:" + std::to_string(line) + " " + label + (offset ? hex : "");
  }

 private:
  std::vector<std::string> lines_;
  std::map<uint32_t, uint32_t> addresses_;
};

}  // namespace orvo::host::test
