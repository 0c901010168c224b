// velda-game: assembles a game from its source list (velda.list), as velda would
// with the list's sources on its command line, into the list's output folder.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "driver.h"
#include "source_list.h"

namespace {

int Usage() {
  std::fputs(
      "Syntax: velda-game [-Q] [-L] [-o folder] [list_or_folder]\n"
      "Assembles the sources named by velda.list (in the current folder, the folder given,\n"
      "or the list given) into the list's output folder, or the folder of -o.\n",
      stderr);
  return orvo::velda::kExitSyntax;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace orvo::velda;
  std::vector<std::string> options;
  std::string listPath = ".";
  std::string outOverride;
  bool haveList = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "-o" && i + 1 < argc) {
      outOverride = argv[++i];
    } else if (arg.size() == 2 && arg[0] == '-') {
      options.push_back(arg);
    } else if (!haveList && !arg.empty() && arg[0] != '-') {
      listPath = arg;
      haveList = true;
    } else {
      return Usage();
    }
  }
  SourceList list = ReadSourceList(listPath);
  for (const std::string& e : list.errors) std::printf("%s\n", e.c_str());
  if (!list.errors.empty()) return kExitOpen;

  auto a = std::make_unique<Assembler>();
  std::filesystem::path out =
      outOverride.empty()
          ? (list.output.empty() ? std::filesystem::path() : list.folder / list.output)
          : std::filesystem::path(outOverride);
  if (!out.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(out, ec);
    a->outDir = out;
  }
  std::vector<std::string> args = options;
  for (const std::string& s : list.sources) args.push_back(SourcePath(list, s).string());
  int code = RunVelda(*a, args);
  std::fflush(stdout);
  return code;
}
