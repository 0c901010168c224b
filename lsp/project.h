// The sources the server analyses together: a game's source list, or one file that no
// list names, with the texts of open documents in place of what is on disk.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "analysis.h"
#include "scan.h"
#include "text.h"

namespace orvo::lsp {

struct ProjectFile {
  std::string path;  // absolute, normalised
  std::string uri;
  std::string text;
  LineIndex index;                 // over text
  std::vector<ScannedLine> lines;  // one per line of index
  void SetText(std::string t);
};

struct Project {
  std::string listPath;                             // the velda.list, or empty for a lone file
  std::vector<std::unique_ptr<ProjectFile>> files;  // in assembly order
  velda::Analysis analysis;
  std::vector<std::string> listErrors;

  // Reads the list (or takes the one file); files that cannot be read are empty.
  static std::unique_ptr<Project> Load(const std::string& listPath, const std::string& lonePath);
  void Analyze();
  int FileOf(const std::string& path) const;  // -1 when not a file of the project
};

// The absolute, normalised form of a path.
std::string NormalPath(const std::string& path);

}  // namespace orvo::lsp
