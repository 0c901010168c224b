#include "host/missing_files.h"

namespace orvo::host {

void MissingFiles::Note(std::string_view name, const std::vector<std::string>& folders) {
  if (!told_.emplace(name).second) return;
  std::string line = "orvo: the game asked for " + std::string(name) + ", which is in none of:";
  std::string_view previous;
  for (const std::string& folder : folders) {
    if (folder == previous) continue;  // the data folder may be the game folder itself
    line += ' ' + folder;
    previous = folder;
  }
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), out_);
  std::fflush(out_);
}

}  // namespace orvo::host
