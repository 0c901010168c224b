// orvo-headless: runs a game folder without a display, driven by an event script.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "host/headless_runner.h"

namespace {

constexpr const char* kUsage =
    "usage: orvo-headless [--data DIR] [--events FILE] [--dump-memory FILE] [--eh] GAMEDIR\n";

std::string AsFolder(std::string path) {
  if (path.empty()) path = ".";
  if (path.back() != '/') path += '/';
  return path;
}

int Usage(const char* problem) {
  std::fprintf(stderr, "orvo-headless: %s\n%s", problem, kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  orvo::host::HeadlessOptions options;
  std::string gameDir, dataDir, eventsFile;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    bool ok = true;
    if (std::strcmp(arg, "--data") == 0)
      ok = value(dataDir);
    else if (std::strcmp(arg, "--events") == 0)
      ok = value(eventsFile);
    else if (std::strcmp(arg, "--dump-memory") == 0)
      ok = value(options.dumpFile);
    else if (std::strcmp(arg, "--eh") == 0)
      options.startedWithEh = true;
    else if (arg[0] == '-' && arg[1] != '\0')
      return Usage((std::string("unknown option ") + arg).c_str());
    else if (gameDir.empty())
      gameDir = arg;
    else
      return Usage("only one GAMEDIR may be given");
    if (!ok) return Usage((std::string(arg) + " needs a value").c_str());
  }
  if (gameDir.empty()) return Usage("no GAMEDIR given");
  options.programFolder = AsFolder(gameDir);
  // Without --data the game keeps its files beside itself, as with no documents folder.
  options.dataFolder = dataDir.empty() ? options.programFolder : AsFolder(dataDir);

  if (!eventsFile.empty()) {
    std::ifstream in(eventsFile, std::ios::binary);
    if (!in) return Usage(("cannot read " + eventsFile).c_str());
    std::stringstream text;
    text << in.rdbuf();
    std::string error;
    if (!orvo::host::ParseScript(text.str(), options.script, error))
      return Usage((eventsFile + ": " + error).c_str());
  }
  orvo::host::HeadlessRunner runner(std::move(options), stdout);
  return runner.Run();
}
