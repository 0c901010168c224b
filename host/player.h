// What the player sets for the runtime rather than the game: full screen, pixel scaling,
// volume and sound, the pad's keys. Taken from the preferences and the command line,
// changed with the runtime's own keys, and kept in the preferences when changed.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "host/player_options.h"
#include "host/preferences.h"
#include "platform/window.h"
#include "sound/sound.h"

namespace orvo::host {

enum class PlayerCommand {
  ToggleFullscreen,
  CycleScale,
  VolumeUp,
  VolumeDown,
  ToggleSound,
  Screenshot,  // the author's keys, carried out by whoever set authorKey
  ToggleGif,
};

// The runtime's keys (see PlayerHelp); nothing for a key that is the game's.
std::optional<PlayerCommand> CommandFor(uint32_t vk, bool alt, bool shift, bool control);

// The largest scale up to wanted at which a window of width x height fits the display;
// at least 1.
int32_t FittingScale(int32_t wanted, int32_t width, int32_t height, platform::Size display);

// The section of the preferences a game's data folder ("/.../games/mines/") is kept
// under: its last two names, "games/mines".
std::string PreferencesSection(const std::string& dataFolder);

class PlayerControls {
 public:
  // preferencesPath "" keeps no preferences (the headless runtime).
  void Start(const PlayerOptions& options, const std::string& preferencesPath,
             const std::string& section);
  // The scale, before the window of the image header's outer size is made.
  void BeforeWindow(platform::WindowSystem& window, int32_t width, int32_t height);
  // Full screen, the pad's keys and the volume, once the window is shown and sound open.
  void AfterShow(platform::WindowSystem& window, sound::Sound& sound);
  // A key message: true when the key is the runtime's, which the game then does not
  // see, neither its press nor its release.
  bool TakeKey(bool down, uint32_t vk, uint32_t lParam, bool shift, bool control,
               platform::WindowSystem& window, sound::Sound& sound);
  // Carries out the screenshot and GIF keys; without it they are the game's.
  std::function<void(PlayerCommand)> authorKey;

 private:
  // The screenshot and GIF keys the preferences name, pressed alone.
  std::optional<PlayerCommand> AuthorCommandFor(uint32_t vk, bool alt, bool shift,
                                                bool control) const;
  void Carry(PlayerCommand c, platform::WindowSystem& window, sound::Sound& sound);
  void ApplyVolume(sound::Sound& sound) const;
  void Save();

  Preferences saved_;  // as kept in the file: what the keys changed, not the command line
  Preferences now_;    // in effect in this run
  std::string path_, section_;
  bool taken_[256] = {};  // keys whose press was the runtime's, until released
};

}  // namespace orvo::host
