// The player's preferences for the runtime itself: one JSON file per user,
// $XDG_CONFIG_HOME/orvo/preferences.json (else ~/.config/orvo/), with a section for each
// game named after its data folder. Never in a game's own folders; written whole to a
// temporary file beside it and renamed over it, so a crash leaves the old file or the new.
#pragma once

#include <cstdint>
#include <string>

#include "platform/gamepad.h"

namespace orvo::host {

struct Preferences {
  bool fullscreen = false;
  int32_t scale = 1;  // platform::SCALE_FIT or 1 .. MAX_SCALE
  bool sound = true;
  int32_t volume = 100;  // percent
  // Keys of the author's tools (screenshot, GIF recording); 0 is none. F12 and Pause are
  // keys games seldom want.
  uint32_t screenshotKey = 0x7B, gifKey = 0x13;
  platform::PadMapping pad = DefaultPadMapping();

  static platform::PadMapping DefaultPadMapping();
};

inline constexpr int32_t MAX_SCALE = 8;

// The file's path from the environment's values (either may be null); "" without either.
std::string PreferencesPath(const char* xdgConfigHome, const char* home);

// The game's section, or the defaults when there is none. A file that is not what it
// should be (not JSON, a value of the wrong kind) gives the defaults for what is wrong
// and one line in warning; a missing file gives the defaults silently.
Preferences LoadPreferences(const std::string& path, const std::string& game, std::string& warning);

// Writes the game's section, keeping the other games' sections and any names of its own
// this runtime does not know. False with a reason when the file cannot be written.
bool SavePreferences(const std::string& path, const std::string& game, const Preferences& p,
                     std::string& problem);

}  // namespace orvo::host
