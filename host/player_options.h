// The runtime's own part of orvo's command line. The player's options come first and
// start with "--"; everything else, in order, is the game's command line, as the game
// would have seen it without them. "--" ends the player's options.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvo::host {

struct PlayerOptions {
  bool help = false;
  bool fullscreen = false;
  bool noJit = false;  // every instruction through the interpreter, none translated
  std::optional<int32_t> scale;       // platform::SCALE_FIT or 1 .. MAX_SCALE
  std::string recordFile;             // not empty: the session is recorded into it
  std::vector<std::string> gameArguments;  // the rest, the game's command line
  std::vector<std::string> warnings;  // one line each, for options that cannot be used
};

PlayerOptions ParsePlayerOptions(const std::vector<std::string>& arguments);

// The game's command line: its arguments separated by spaces.
std::string JoinArguments(const std::vector<std::string>& arguments);

// What orvo --help prints: the options, the runtime's keys and the pad's defaults.
std::string PlayerHelp();

}  // namespace orvo::host
