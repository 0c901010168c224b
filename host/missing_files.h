// One line on stderr for each file a game asks for (a picture, a sound, a song) that is
// in none of the folders looked in: a typo in a name shows at once. Each name is told
// once per run.
#pragma once

#include <cstdio>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace orvo::host {

class MissingFiles {
 public:
  explicit MissingFiles(std::FILE* out = stderr) : out_(out) {}
  void Note(std::string_view name, const std::vector<std::string>& folders);

 private:
  std::FILE* out_;
  std::set<std::string, std::less<>> told_;
};

}  // namespace orvo::host
