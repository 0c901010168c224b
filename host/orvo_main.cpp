// orvo: runs the game in the folder it is installed in, in a real window.
#include <string>

#include "host/runtime.h"
#include "platform/sdl/sdl_platform.h"

int main(int argc, char** argv) {
  // The program sees the command line as one text, the arguments separated by spaces.
  orvo::host::RuntimeOptions options;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) options.commandLine += ' ';
    options.commandLine += argv[i];
  }
  orvo::platform::SdlPlatform platform(argc, argv);
  orvo::host::Runtime runtime(platform.Parts(), std::move(options));
  return runtime.Run();
}
