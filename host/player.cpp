#include "host/player.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "host/key_names.h"

namespace orvo::host {
namespace {

constexpr uint32_t ALT_HELD = 1u << 29, WAS_DOWN = 1u << 30;
constexpr int32_t VOLUME_STEP = 10;
constexpr int32_t kScaleCycle[] = {1, 2, 3, 4, platform::SCALE_FIT};

std::string ScaleText(int32_t scale) {
  return scale == platform::SCALE_FIT ? "scale fit" : "scale " + std::to_string(scale) + "x";
}

}  // namespace

std::optional<PlayerCommand> CommandFor(uint32_t vk, bool alt, bool shift, bool control) {
  if (control) return std::nullopt;
  if ((vk == VK_F11 && !alt && !shift) || (vk == VK_RETURN && alt && !shift))
    return PlayerCommand::ToggleFullscreen;
  if (vk == VK_F11 && shift && !alt) return PlayerCommand::CycleScale;
  if (vk == VK_VOLUME_UP || (vk == VK_PRIOR && alt)) return PlayerCommand::VolumeUp;
  if (vk == VK_VOLUME_DOWN || (vk == VK_NEXT && alt)) return PlayerCommand::VolumeDown;
  if (vk == VK_VOLUME_MUTE || (vk == VK_END && alt)) return PlayerCommand::ToggleSound;
  return std::nullopt;
}

int32_t FittingScale(int32_t wanted, int32_t width, int32_t height, platform::Size display) {
  int32_t s = std::max(wanted, 1);
  if (display.width <= 0 || display.height <= 0) return s;
  while (s > 1 && (int64_t{width} * s > display.width || int64_t{height} * s > display.height)) --s;
  return s;
}

std::string PreferencesSection(const std::string& dataFolder) {
  std::string f = dataFolder;
  while (!f.empty() && f.back() == '/') f.pop_back();
  const size_t last = f.rfind('/');
  if (last == std::string::npos) return f;
  const size_t parent = last == 0 ? std::string::npos : f.rfind('/', last - 1);
  return parent == std::string::npos ? f.substr(last + 1) : f.substr(parent + 1);
}

void PlayerControls::Start(const PlayerOptions& options, const std::string& preferencesPath,
                           const std::string& section) {
  path_ = preferencesPath;
  section_ = section;
  if (!path_.empty()) {
    std::string warning;
    saved_ = LoadPreferences(path_, section_, warning);
    if (!warning.empty()) std::fprintf(stderr, "%s\n", warning.c_str());
  }
  now_ = saved_;
  for (const std::string& w : options.warnings) std::fprintf(stderr, "%s\n", w.c_str());
  if (options.fullscreen) now_.fullscreen = true;
  if (options.scale) now_.scale = *options.scale;
}

void PlayerControls::BeforeWindow(platform::WindowSystem& window, int32_t width, int32_t height) {
  if (now_.scale > 1 && !now_.fullscreen) {
    const platform::Size display = window.DisplaySize();
    const int32_t fits = FittingScale(now_.scale, width, height, display);
    if (fits != now_.scale) {
      std::fprintf(stderr, "orvo: a scale of %d does not fit the display (%dx%d); using %d\n",
                   now_.scale, display.width, display.height, fits);
      now_.scale = fits;
    }
  }
  if (now_.scale != 1) window.SetScale(now_.scale);
}

void PlayerControls::AfterShow(platform::WindowSystem& window, sound::Sound& sound) {
  window.SetPadMapping(now_.pad);
  if (now_.fullscreen) window.SetFullscreen(true);
  ApplyVolume(sound);
}

void PlayerControls::ApplyVolume(sound::Sound& sound) const {
  sound.SetMasterVolume(now_.sound ? static_cast<float>(now_.volume) / 100.0f : 0.0f);
}

bool PlayerControls::TakeKey(bool down, uint32_t vk, uint32_t lParam, bool shift, bool control,
                             platform::WindowSystem& window, sound::Sound& sound) {
  bool& taken = taken_[vk & 0xFF];
  if (!down) {
    const bool was = taken;
    taken = false;
    return was;
  }
  const bool alt = (lParam & ALT_HELD) != 0;
  auto command = CommandFor(vk, alt, shift, control);
  if (!command) command = AuthorCommandFor(vk, alt, shift, control);
  if (!command) return taken;  // a repeat of a key taken before stays taken
  taken = true;
  // A held key acts once; its repeats are swallowed.
  if (!(lParam & WAS_DOWN)) Carry(*command, window, sound);
  return true;
}

std::optional<PlayerCommand> PlayerControls::AuthorCommandFor(uint32_t vk, bool alt, bool shift,
                                                              bool control) const {
  // A key turned off ("none", 0) never matches: the game has it.
  if (!authorKey || vk == 0 || alt || shift || control) return std::nullopt;
  if (vk == now_.screenshotKey) return PlayerCommand::Screenshot;
  if (vk == now_.gifKey) return PlayerCommand::ToggleGif;
  return std::nullopt;
}

void PlayerControls::Carry(PlayerCommand c, platform::WindowSystem& window, sound::Sound& sound) {
  switch (c) {
    case PlayerCommand::Screenshot:
    case PlayerCommand::ToggleGif:
      authorKey(c);
      return;  // nothing of the preferences changed
    case PlayerCommand::ToggleFullscreen:
      now_.fullscreen = saved_.fullscreen = !window.Fullscreen();
      window.SetFullscreen(now_.fullscreen);
      break;
    case PlayerCommand::CycleScale: {
      size_t i = 0;
      while (i < std::size(kScaleCycle) && kScaleCycle[i] != now_.scale) ++i;
      now_.scale = saved_.scale = kScaleCycle[(i + 1) % std::size(kScaleCycle)];
      window.SetScale(now_.scale);
      window.ShowNotice(ScaleText(now_.scale));
      break;
    }
    case PlayerCommand::VolumeUp:
    case PlayerCommand::VolumeDown: {
      const int32_t step = c == PlayerCommand::VolumeUp ? VOLUME_STEP : -VOLUME_STEP;
      now_.volume = saved_.volume = std::clamp(now_.volume + step, 0, 100);
      now_.sound = saved_.sound = true;
      ApplyVolume(sound);
      window.ShowNotice("volume " + std::to_string(now_.volume) + "%");
      break;
    }
    case PlayerCommand::ToggleSound:
      now_.sound = saved_.sound = !now_.sound;
      ApplyVolume(sound);
      window.ShowNotice(now_.sound ? "sound on, volume " + std::to_string(now_.volume) + "%"
                                   : std::string("sound off"));
      break;
  }
  Save();
}

void PlayerControls::Save() {
  if (path_.empty()) return;
  std::string problem;
  if (!SavePreferences(path_, section_, saved_, problem))
    std::fprintf(stderr, "orvo: cannot keep the preferences in %s: %s\n", path_.c_str(),
                 problem.c_str());
}

}  // namespace orvo::host
