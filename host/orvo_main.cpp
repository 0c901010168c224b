// orvo: runs the game in the folder it is installed in, the game archive appended to it
// or the one named on its command line, in a real window.
#include <string>
#include <vector>

#include "host/runtime.h"
#include "platform/sdl/sdl_platform.h"

int main(int argc, char** argv) {
  // The program sees the command line as one text, the arguments separated by spaces.
  orvo::host::RuntimeOptions options;
  orvo::platform::SdlPlatform platform(argc, argv);
  std::vector<std::string> arguments(argv + 1, argv + argc);
  options.archive = orvo::host::ChooseGame(platform.Parts().shell.ExecutablePath(), arguments);
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (i > 0) options.commandLine += ' ';
    options.commandLine += arguments[i];
  }
  orvo::host::Runtime runtime(platform.Parts(), std::move(options));
  return runtime.Run();
}
