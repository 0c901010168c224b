// orvo: runs the game in the folder it is installed in, in a real window.
#include <cstdio>
#include <string>
#include <vector>

#include "host/player_options.h"
#include "host/runtime.h"
#include "platform/sdl/sdl_platform.h"

int main(int argc, char** argv) {
  // The player's options come first; the program sees the rest of the command line as
  // one text, the arguments separated by spaces.
  const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  orvo::host::RuntimeOptions options;
  options.player = orvo::host::ParsePlayerOptions(arguments);
  if (options.player.help) {
    std::fputs(orvo::host::PlayerHelp().c_str(), stdout);
    return 0;
  }
  options.commandLine = options.player.gameCommandLine;
  options.preferences = true;
  orvo::platform::SdlPlatform platform(argc, argv);
  orvo::host::Runtime runtime(platform.Parts(), std::move(options));
  return runtime.Run();
}
