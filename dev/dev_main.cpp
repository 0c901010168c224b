// orvo-dev: runs a game from its source folder and restarts it, in the same window,
// whenever one of its sources is saved. The sources are assembled in memory; the game
// folder (the source list's output folder) gives its pictures, sounds and data folder.
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "dev/game_build.h"
#include "dev/kept_audio.h"
#include "dev/kept_window.h"
#include "dev/source_watcher.h"
#include "host/player_options.h"
#include "host/runtime.h"
#include "platform/sdl/sdl_platform.h"

namespace {

constexpr const char* kUsage =
    "usage: orvo-dev [SOURCEFOLDER] [orvo's options] [the game's command line]\n"
    "Runs the game whose velda.list is in SOURCEFOLDER (default: the current folder) and\n"
    "restarts it whenever a source is saved.\n";

void PrintErrors(const std::vector<std::string>& errors) {
  for (const std::string& e : errors) std::fprintf(stderr, "%s\n", e.c_str());
  std::fflush(stderr);
}

// Each run records into a file of its own: FILE for the first, then FILE with -2, -3...
// before its extension.
std::string RunRecording(const std::string& file, int run) {
  if (file.empty() || run == 1) return file;
  const std::filesystem::path path(file);
  return (path.parent_path() / (path.stem().string() + "-" + std::to_string(run) +
                                path.extension().string()))
      .string();
}

// The newest image that assembled, handed from the watcher's thread to the loop.
struct Latest {
  std::mutex lock;
  std::condition_variable ready;
  std::vector<uint8_t> image;
  bool fresh = false;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  std::filesystem::path source = ".";
  if (!arguments.empty() && arguments[0] == "--help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (!arguments.empty() && !arguments[0].empty() && arguments[0][0] != '-') {
    source = arguments[0];
    arguments.erase(arguments.begin());
  }
  orvo::host::RuntimeOptions options;
  options.player = orvo::host::ParsePlayerOptions(arguments);
  if (options.player.help) {
    std::fputs(kUsage, stdout);
    std::fputs(orvo::host::PlayerHelp().c_str(), stdout);
    return 0;
  }
  options.commandLine = orvo::host::JoinArguments(options.player.gameArguments);
  options.preferences = true;
  const std::string recordFile = options.player.recordFile;

  uint32_t buildNumber = 1;
  orvo::dev::GameBuild first = orvo::dev::BuildGame(source, buildNumber);
  PrintErrors(first.errors);
  // The runtime takes the game folder for its program folder, as if it were linked there.
  std::error_code ec;
  std::filesystem::create_directories(first.gameFolder, ec);
  const std::string program =
      (std::filesystem::absolute(first.gameFolder).lexically_normal() / "orvo").string();
  char* platformArgv[] = {const_cast<char*>(program.c_str()), nullptr};
  orvo::platform::SdlPlatform platform(1, platformArgv);
  orvo::dev::KeptWindow window(platform.window);
  orvo::dev::KeptAudio audio(platform.audio);
  const orvo::platform::Platform parts{window, platform.clock, audio, platform.shell};

  Latest latest;
  latest.image = std::move(first.image);
  latest.fresh = !latest.image.empty();
  bool running = false;  // guarded by latest.lock: a restart needs a game to end
  orvo::dev::SourceWatcher* watching = nullptr;
  orvo::dev::SourceWatcher watcher([&](orvo::dev::SourceWatcher::Clock::time_point since) {
    orvo::dev::GameBuild build = orvo::dev::BuildGame(source, ++buildNumber);
    // The list may name other sources now; one that cannot be read (its folder is gone
    // for a moment) leaves the watch as it was.
    if (build.listRead) watching->Watch(build.files);
    PrintErrors(build.errors);
    if (build.image.empty()) {
      window.ShowErrors(build.errors);
      return;
    }
    std::fprintf(stderr, "orvo-dev: assembled, restarting\n");
    window.ShowErrors({});
    std::lock_guard<std::mutex> hold(latest.lock);
    latest.image = std::move(build.image);
    latest.fresh = true;
    latest.ready.notify_one();
    if (running) window.RequestRestart(since);
  });
  watching = &watcher;
  if (!watcher.Working()) std::fprintf(stderr, "orvo-dev: cannot watch the sources (inotify)\n");
  watcher.Watch(first.files);

  for (int run = 1;; ++run) {
    {
      std::unique_lock<std::mutex> hold(latest.lock);
      if (!latest.fresh) std::fprintf(stderr, "orvo-dev: waiting for the sources to assemble\n");
      latest.ready.wait(hold, [&] { return latest.fresh; });
      options.image = latest.image;
      latest.fresh = false;
      running = true;
    }
    options.player.recordFile = RunRecording(recordFile, run);
    if (!recordFile.empty()) {
      // The image exists only in memory: a replay needs it as the main.ove of a game folder.
      const std::string image = options.player.recordFile + ".ove";
      std::ofstream(image, std::ios::binary)
          .write(reinterpret_cast<const char*>(options.image.data()),
                 static_cast<std::streamsize>(options.image.size()));
      std::fprintf(stderr, "orvo-dev: recording this run into %s, its image into %s\n",
                   options.player.recordFile.c_str(), image.c_str());
    }
    window.StartRun();
    int code;
    {
      orvo::host::Runtime runtime(parts, options);
      code = runtime.Run();
    }
    // The timer belongs to the game that set it.
    platform.clock.StopTimer();
    {
      std::lock_guard<std::mutex> hold(latest.lock);
      running = false;
    }
    if (!window.Restarting()) return code;
  }
}
