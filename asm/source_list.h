// A game's source list (velda.list in its source folder): the sources in assembly
// order and the folder the outputs go to, so no command line has to remember them.
//
//   ; comments start with ';', blank lines are ignored
//   source ../lib/header      ; one source per line, in order (".ova" may be left off)
//   source mines
//   output ../../build/game/mines
//
// Paths are relative to the folder of the list.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace orvo::velda {

inline constexpr const char* kSourceListName = "velda.list";

struct SourceList {
  std::filesystem::path folder;      // the list's folder; paths below are resolved against it
  std::vector<std::string> sources;  // as written in the list
  std::string output;                // as written; empty: the current folder
  std::vector<std::string> errors;   // "velda.list(3): unknown entry: foo"
};

// Reads the text of a list that lies in `folder`.
SourceList ParseSourceList(std::string_view text, const std::filesystem::path& folder);
// Reads the list at `path`, or the velda.list in it when it is a folder. A list that
// cannot be read has one error.
SourceList ReadSourceList(const std::filesystem::path& path);

// A source as a path, ".ova" added as velda adds it.
std::filesystem::path SourcePath(const SourceList& list, const std::string& source);

}  // namespace orvo::velda
