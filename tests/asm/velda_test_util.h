// Helpers for the velda tests: run the assembler on real files in a fresh
// temporary folder and read back everything it wrote.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "assembler.h"

namespace velda_test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  void Write(const std::string& name, const std::string& text) const;
  bool Exists(const std::string& name) const;
  std::string Read(const std::string& name) const;

 private:
  std::filesystem::path path_;
};

struct Result {
  int code = -1;
  std::string console;
  std::string listing;  // main.ovl
  std::string map;      // main.map
  std::string image;    // main.ove
  bool wroteImage = false;
  std::unique_ptr<orvo::velda::Assembler> state;  // as the run left it
};

// Writes the files (name, text) and runs velda with `args`, where a word
// starting with '%' stands for the absolute path of that file in the folder.
Result Assemble(TempDir& dir, const std::vector<std::pair<std::string, std::string>>& files,
                const std::vector<std::string>& args);
// One file "t.ova" with `text`, assembled as `velda t`.
Result RunSource(TempDir& dir, const std::string& text);
Result RunSource(const std::string& text);

// Assembles `body` inside "@code" ... and returns the code image as 32-bit
// words; the assembly must succeed.
std::vector<uint32_t> Words(const std::string& body);
// The console lines of errors reported for `body` inside "@code".
std::string Errors(const std::string& body);

std::vector<uint8_t> Bytes(const std::string& s);
uint32_t Le32(const std::string& s, size_t at);

}  // namespace velda_test
