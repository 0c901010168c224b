// orvo-headless: runs a game folder without a display, driven by an event script.
#include <stdlib.h>
#include <sys/stat.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "host/folders.h"
#include "host/recording.h"
#include "host/runtime.h"
#include "platform/headless/headless_platform.h"
#include "platform/headless/script_clock.h"

namespace {

// What orvo-headless returns, for the scripts and CI jobs that run games with it. The
// orvo-headless section of README.md lists the same codes.
enum ExitStatus : int {
  EXIT_ENDED = 0,           // the game ended: by itself, with the script or its window
  EXIT_FATAL_ERROR = 1,     // the runtime could not go on: no loadable main.ove, no heap...
  EXIT_USAGE = 2,           // the command line or the event script cannot be used
  EXIT_PROGRAM_FAULT = 3,   // the game was stopped by a fault: bad address, illegal opcode...
  EXIT_REPLAY_DIFFERS = 4,  // the replay left its recording, or a screenshot differs
};

ExitStatus StatusOf(orvo::host::RunOutcome outcome) {
  switch (outcome) {
    case orvo::host::RunOutcome::Ended:
      return EXIT_ENDED;
    case orvo::host::RunOutcome::FatalError:
      return EXIT_FATAL_ERROR;
    case orvo::host::RunOutcome::ProgramFault:
      return EXIT_PROGRAM_FAULT;
    case orvo::host::RunOutcome::BadOptions:
    case orvo::host::RunOutcome::BadRecording:
      return EXIT_USAGE;
    case orvo::host::RunOutcome::ReplayDiffers:
      return EXIT_REPLAY_DIFFERS;
  }
  return EXIT_FATAL_ERROR;
}

constexpr const char* kUsage =
    "usage: orvo-headless [--data DIR] [--events FILE] [--dump-memory FILE] [--screenshot FILE]\n"
    "                     [--desktop WxH] [--script-clock [DATE]] [--eh] [--trace FILE]\n"
    "                     [--trace-from PLACE] [--trace-count N] [--break PLACE]...\n"
    "                     [--record FILE | --replay FILE [--expect DIR]] GAMEDIR|GAME.orvo\n"
    "  PLACE: a label, FILE:LINE (both need main.ovd beside main.ove) or a 0x address\n";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "orvo-headless: %s\n%s", problem.c_str(), kUsage);
  return EXIT_USAGE;
}

bool ParseSize(const std::string& text, orvo::platform::Size& out) {
  int w = 0, h = 0;
  char x = 0, extra = 0;
  if (std::sscanf(text.c_str(), "%d%c%d%c", &w, &x, &h, &extra) != 3 || x != 'x') return false;
  if (w <= 0 || h <= 0 || w > 32767 || h > 32767) return false;
  out = {w, h};
  return true;
}

// The recording to replay, read whole; false after saying what is wrong with it.
bool ReadRecording(const std::string& path, orvo::host::Recording& out) {
  struct stat st;
  std::string problem;
  std::ifstream in(path, std::ios::binary);
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || !in) {
    problem = "it cannot be read";
  } else if (static_cast<uint64_t>(st.st_size) > orvo::host::kMaxRecordingBytes) {
    problem = "it is larger than any recording";
  } else {
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    if (orvo::host::DecodeRecording(bytes, out, problem)) return true;
  }
  std::fprintf(stderr, "orvo-headless: cannot replay %s: %s\n", path.c_str(), problem.c_str());
  return false;
}

// A fresh folder for a replay's data folder when none is given.
std::string ReplayDataFolder() {
  const char* base = std::getenv("TMPDIR");
  std::string name = std::string(base && *base ? base : "/tmp") + "/orvo-replay-XXXXXX";
  return mkdtemp(name.data()) ? name : std::string();
}

bool ParseCount(const std::string& text, uint64_t& out) {
  const char* end = text.data() + text.size();
  auto [p, ec] = std::from_chars(text.data(), end, out);
  return ec == std::errc() && p == end;
}

}  // namespace

int main(int argc, char** argv) {
  orvo::host::RuntimeOptions options;
  orvo::platform::HeadlessConfig config;
  std::string gameDir, eventsFile, desktop, count, replayFile;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    bool ok = true;
    if (std::strcmp(arg, "--data") == 0)
      ok = value(options.dataFolder);
    else if (std::strcmp(arg, "--events") == 0)
      ok = value(eventsFile);
    else if (std::strcmp(arg, "--dump-memory") == 0)
      ok = value(options.dumpFile);
    else if (std::strcmp(arg, "--screenshot") == 0)
      ok = value(options.screenshotFile);
    else if (std::strcmp(arg, "--desktop") == 0)
      ok = value(desktop) && ParseSize(desktop, config.desktop);
    else if (std::strcmp(arg, "--trace") == 0)
      ok = value(options.traceFile);
    else if (std::strcmp(arg, "--trace-from") == 0)
      ok = value(options.traceFrom);
    else if (std::strcmp(arg, "--trace-count") == 0)
      ok = value(count) && ParseCount(count, options.traceCount);
    else if (std::strcmp(arg, "--record") == 0)
      ok = value(options.player.recordFile);
    else if (std::strcmp(arg, "--replay") == 0)
      ok = value(replayFile);
    else if (std::strcmp(arg, "--expect") == 0)
      ok = value(options.replay.expectFolder);
    else if (std::strcmp(arg, "--break") == 0)
      ok = value(options.breaks.emplace_back());
    else if (std::strcmp(arg, "--script-clock") == 0) {
      // The date is optional: the next word is taken as one when it reads as one.
      config.scriptClock = orvo::platform::kScriptClockStart;
      if (i + 1 < argc) {
        if (auto date = orvo::platform::ParseScriptDate(argv[i + 1])) {
          config.scriptClock = *date;
          ++i;
        } else if (argv[i + 1][0] >= '0' && argv[i + 1][0] <= '9' &&
                   std::strchr(argv[i + 1], '-')) {
          return Usage(std::string("--script-clock: ") + argv[i + 1] +
                       " is no date (YYYY-MM-DD or YYYY-MM-DDTHH:MM:SS)");
        }
      }
    } else if (std::strcmp(arg, "--eh") == 0)
      options.commandLine = "-eh";
    else if (arg[0] == '-' && arg[1] != '\0')
      return Usage(std::string("unknown option ") + arg);
    else if (gameDir.empty())
      gameDir = arg;
    else
      return Usage("only one GAMEDIR may be given");
    if (!ok) return Usage(std::string(arg) + " needs a value");
  }
  if (gameDir.empty()) return Usage("no GAMEDIR given");
  if (!replayFile.empty() && (!eventsFile.empty() || !options.player.recordFile.empty()))
    return Usage("--replay takes its events from the recording: no --events or --record");
  if (replayFile.empty() && !options.replay.expectFolder.empty())
    return Usage("--expect compares the screenshots of a --replay");
  if (!replayFile.empty()) {
    auto recording = std::make_shared<orvo::host::Recording>();
    if (!ReadRecording(replayFile, *recording)) return EXIT_USAGE;
    // The run takes the recorded screen, date and command line, and its time is the
    // recording's: every delivery happens at the moment it was recorded at.
    config.desktop = {recording->desktopWidth, recording->desktopHeight};
    config.scriptClock = recording->start;
    options.commandLine = recording->commandLine;
    if (options.dataFolder.empty()) {
      std::string folder = ReplayDataFolder();
      if (folder.empty()) return Usage("cannot make a data folder for the replay: give --data");
      std::fprintf(stderr, "orvo-headless: replaying into the data folder %s\n", folder.c_str());
      options.dataFolder = folder;
    }
    options.replay.recording = std::move(recording);
  }
  // The game folder is the program folder, as if the runtime were linked into it. Without
  // --data the game keeps its files beside itself, as with no documents folder.
  struct stat st;
  if (stat(gameDir.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    // A game archive: the runtime lies beside it, and the archive is the program folder.
    options.archive.path = gameDir;
    std::string archive = orvo::host::AbsoluteFolder(gameDir);
    archive.pop_back();
    config.executablePath = orvo::host::ProgramFolderOf(archive) + "orvo";
  } else {
    config.executablePath = orvo::host::AbsoluteFolder(gameDir) + "orvo";
  }

  if (!eventsFile.empty()) {
    std::ifstream in(eventsFile, std::ios::binary);
    if (!in) return Usage("cannot read " + eventsFile);
    std::stringstream text;
    text << in.rdbuf();
    std::string error;
    if (!orvo::platform::ParseScript(text.str(), config.script, error))
      return Usage(eventsFile + ": " + error);
  }
  orvo::platform::HeadlessPlatform platform(std::move(config));
  if (options.replay.recording)
    options.replay.advanceClock = [&platform](uint64_t ms) {
      platform.window.ScriptTime()->AdvanceTo(ms);
    };
  orvo::host::Runtime runtime(platform.Parts(), std::move(options));
  runtime.Run();
  return StatusOf(runtime.Outcome());
}
