#include "host/player_options.h"

#include <charconv>

#include "host/gif_recorder.h"
#include "host/key_names.h"
#include "host/preferences.h"
#include "platform/window.h"

namespace orvo::host {
namespace {

std::optional<int32_t> ScaleArgument(const std::string& value) {
  if (value == "fit") return platform::SCALE_FIT;
  int32_t n = 0;
  const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
  if (ec != std::errc() || end != value.data() + value.size() || n < 1 || n > MAX_SCALE)
    return std::nullopt;
  return n;
}

// "--name VALUE" or "--name=VALUE" at arguments[i], which is left on the last word taken;
// a missing value is empty.
bool OptionValue(const std::vector<std::string>& arguments, size_t& i, const std::string& name,
                 std::string& value) {
  const std::string& a = arguments[i];
  if (a.rfind(name + "=", 0) == 0) {
    value = a.substr(name.size() + 1);
    return true;
  }
  if (a != name) return false;
  value = i + 1 < arguments.size() ? arguments[++i] : std::string();
  return true;
}

}  // namespace

PlayerOptions ParsePlayerOptions(const std::vector<std::string>& arguments) {
  PlayerOptions o;
  size_t i = 0;
  for (; i < arguments.size(); ++i) {
    const std::string& a = arguments[i];
    if (a == "--") {
      ++i;
      break;
    }
    if (a == "--help") {
      o.help = true;
    } else if (a == "--fullscreen") {
      o.fullscreen = true;
    } else if (a == "--no-jit") {
      o.noJit = true;
    } else if (std::string value; OptionValue(arguments, i, "--scale", value)) {
      o.scale = ScaleArgument(value);
      if (!o.scale)
        o.warnings.push_back("orvo: --scale takes a whole number from 1 to " +
                             std::to_string(MAX_SCALE) + " or \"fit\", not \"" + value +
                             "\"; the game is not scaled");
    } else if (OptionValue(arguments, i, "--record", o.recordFile)) {
      if (o.recordFile.empty())
        o.warnings.push_back("orvo: --record needs a file; nothing is recorded");
    } else {
      break;  // the game's command line begins
    }
  }
  o.gameArguments.assign(arguments.begin() + static_cast<std::ptrdiff_t>(i), arguments.end());
  return o;
}

std::string JoinArguments(const std::vector<std::string>& arguments) {
  std::string line;
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (i > 0) line += ' ';
    line += arguments[i];
  }
  return line;
}

std::string PlayerHelp() {
  const Preferences defaults;
  static constexpr const char* kControls[platform::PAD_CONTROL_COUNT] = {
      "A",  "B",    "X",    "Y",    "Back", "Start", "left shoulder", "right shoulder",
      "up", "down", "left", "right"};
  const auto row = [](const std::string& keys, const std::string& what) {
    return "  " + keys + std::string(keys.size() < 24 ? 24 - keys.size() : 1, ' ') + what + "\n";
  };
  std::string pad;
  for (int c = 0; c < platform::PAD_CONTROL_COUNT; ++c) {
    pad += std::string(c % 4 == 0 ? "\n    " : ", ") + kControls[c] + " " +
           KeyName(defaults.pad.keys[c]);
  }
  return "usage: orvo [--fullscreen] [--scale N|fit] [--no-jit] [--record FILE] [--] [the game's command line]\n"
         "Runs the game in the folder orvo lies in (or its link does).\n"
         "\n"
         "  --fullscreen   start in desktop full screen\n"
         "  --scale N      show each game pixel as an N x N block (1 to " +
         std::to_string(MAX_SCALE) +
         "); \"fit\" takes the\n"
         "                 largest that fits; the window is made N times as large\n"
         "  --no-jit       run the game in the interpreter alone, translating nothing\n"
         "  --record FILE  record the session into FILE, for orvo-headless --replay\n"
         "  --help         this text\n"
         "  --             what follows goes to the game, also when it starts with --\n"
         "\n"
         "Keys the runtime takes (the game does not see them):\n"
         "  Alt+Enter, F11          full screen on or off\n"
         "  Shift+F11               scale 1x, 2x, 3x, 4x, fit, and round again\n"
         "  Alt+PageUp, Volume Up   louder\n"
         "  Alt+PageDown, Volume Down  softer\n"
         "  Alt+End, Mute           sound off or on\n" +
         row(KeyName(defaults.screenshotKey), "a PNG screenshot into the data folder's screenshots/") +
         row(KeyName(defaults.gifKey), "start or stop a GIF recording (at most " +
                                           std::to_string(GifRecorder::kMaxMs / 1000) +
                                           " s) into the same folder") +
         "\n"
         "Gamepads act as keys (d-pad and left stick as the arrows):" +
         pad +
         "\n"
         "\n"
         "Preferences (full screen, scale, sound, volume, the pad's keys) are kept per game\n"
         "in $XDG_CONFIG_HOME/orvo/preferences.json (else ~/.config/orvo/).\n";
}

}  // namespace orvo::host
