// The player's side of the runtime without a window: the preferences file (real files in
// a temporary folder), key names, orvo's own command-line options, the runtime's keys.
#include "host/player.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "host/key_names.h"
#include "host/player_options.h"
#include "host/preferences.h"

namespace orvo::host {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct TempDir {
  fs::path path;
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "orvo-prefs-XXXXXX").string();
    path = mkdtemp(pattern.data());
  }
  ~TempDir() { fs::remove_all(path); }
};

std::string Read(const fs::path& p) {
  std::ifstream in(p);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(KeyNames, EveryCodeSurvivesItsNameAndNamesIgnoreCase) {
  for (uint32_t vk = 0; vk <= 0xFE; ++vk) {
    const auto back = KeyFromName(KeyName(vk));
    ASSERT_TRUE(back.has_value()) << vk << " " << KeyName(vk);
    EXPECT_EQ(*back, vk) << KeyName(vk);
  }
  EXPECT_EQ(KeyFromName("enter"), 0x0Du);
  EXPECT_EQ(KeyFromName("f12"), 0x7Bu);
  EXPECT_EQ(KeyFromName("n"), uint32_t{'N'});
  for (const char* bad : {"", "F0", "F25", "0x", "0xFFF", "0x00", "Enterr", "ß"})
    EXPECT_FALSE(KeyFromName(bad).has_value()) << bad;
}

TEST(Preferences, PathFollowsTheConfigFolderRules) {
  EXPECT_EQ(PreferencesPath("/x/cfg", "/home/p"), "/x/cfg/orvo/preferences.json");
  EXPECT_EQ(PreferencesPath("relative", "/home/p"), "/home/p/.config/orvo/preferences.json");
  EXPECT_EQ(PreferencesPath(nullptr, "/home/p"), "/home/p/.config/orvo/preferences.json");
  EXPECT_EQ(PreferencesPath(nullptr, nullptr), "");
  EXPECT_EQ(PreferencesSection("/home/p/Documents/games/mines/"), "games/mines");
  EXPECT_EQ(PreferencesSection("/mines/"), "mines");
}

TEST(Preferences, AGameSectionRoundTripsBesideTheOthersAndNoTemporaryStays) {
  TempDir t;
  const std::string path = (t.path / "orvo" / "preferences.json").string();
  std::string warning, problem;
  // No file: the defaults, silently.
  Preferences p = LoadPreferences(path, "games/mines", warning);
  EXPECT_TRUE(warning.empty());
  EXPECT_EQ(p.volume, 100);
  EXPECT_EQ(p.pad.keys[platform::PAD_A], 0x0Du);

  p.fullscreen = true;
  p.scale = platform::SCALE_FIT;
  p.volume = 30;
  p.sound = false;
  p.gifKey = 0x7B;
  p.pad.keys[platform::PAD_Y] = 'Z';
  ASSERT_TRUE(SavePreferences(path, "games/mines", p, problem)) << problem;
  Preferences other;
  other.scale = 3;
  ASSERT_TRUE(SavePreferences(path, "games/hello", other, problem)) << problem;
  // A name of the player's own in the section is kept across saves.
  json file = json::parse(Read(path));
  file["games"]["games/mines"]["note"] = "mine";
  std::ofstream(path) << file.dump();
  ASSERT_TRUE(SavePreferences(path, "games/mines", p, problem)) << problem;

  const Preferences back = LoadPreferences(path, "games/mines", warning);
  EXPECT_TRUE(warning.empty()) << warning;
  EXPECT_TRUE(back.fullscreen);
  EXPECT_EQ(back.scale, platform::SCALE_FIT);
  EXPECT_EQ(back.volume, 30);
  EXPECT_FALSE(back.sound);
  EXPECT_EQ(back.gifKey, 0x7Bu);
  EXPECT_EQ(back.pad.keys, p.pad.keys);
  EXPECT_EQ(LoadPreferences(path, "games/hello", warning).scale, 3);
  file = json::parse(Read(path));
  EXPECT_EQ(file["games"]["games/mines"]["note"], "mine");
  EXPECT_EQ(file["games"]["games/mines"]["pad"]["y"], "Z");
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(t.path / "orvo"))
    names.push_back(e.path().filename());
  EXPECT_EQ(names, std::vector<std::string>{"preferences.json"});
}

TEST(Preferences, ABrokenFileGivesOneWarningAndTheDefaults) {
  TempDir t;
  const std::string path = (t.path / "preferences.json").string();
  Preferences saved;
  saved.volume = 40;
  std::string warning, problem;
  for (const char* text :
       {"\x01garbage{{", "[1, 2]", "{\"games\": 7}", "{\"games\": {\"g/m\": \"loud\"}}",
        "{\"games\": {\"g/m\": {\"volume\""}) {
    std::ofstream(path) << text;
    const Preferences p = LoadPreferences(path, "g/m", warning);
    EXPECT_EQ(p.volume, 100) << text;
    EXPECT_FALSE(warning.empty()) << text;
    EXPECT_EQ(warning.find('\n'), std::string::npos) << "one line";
    // Saving over a broken file gives a good one.
    ASSERT_TRUE(SavePreferences(path, "g/m", saved, problem)) << problem;
    EXPECT_EQ(LoadPreferences(path, "g/m", warning).volume, 40);
    EXPECT_TRUE(warning.empty()) << text;
  }
  // One wrong value: the default for it, the rest as written, one line.
  std::ofstream(path) << R"({"games": {"g/m": {"volume": "loud", "scale": 99, "fullscreen": true,
                            "pad": {"a": "Space", "b": "nokey"}}}})";
  const Preferences p = LoadPreferences(path, "g/m", warning);
  EXPECT_EQ(p.volume, 100);
  EXPECT_EQ(p.scale, 1);
  EXPECT_TRUE(p.fullscreen);
  EXPECT_EQ(p.pad.keys, Preferences::DefaultPadMapping().keys)
      << "a pad with a bad key is not half taken";
  for (const char* name : {"volume", "scale", "pad"})
    EXPECT_NE(warning.find(name), std::string::npos) << warning;
  EXPECT_EQ(warning.find("fullscreen"), std::string::npos) << warning;
}

TEST(Preferences, AFileThatCannotBeWrittenSaysWhy) {
  TempDir t;
  const fs::path blocked = t.path / "file";
  std::ofstream(blocked) << "x";
  std::string problem;
  EXPECT_FALSE(SavePreferences((blocked / "orvo" / "preferences.json").string(), "g", {}, problem));
  EXPECT_FALSE(problem.empty());
}

TEST(PlayerOptions, TheRuntimesOptionsComeFirstAndTheRestIsTheGames) {
  PlayerOptions o = ParsePlayerOptions({"--fullscreen", "--scale", "3", "-eh"});
  EXPECT_TRUE(o.fullscreen);
  EXPECT_EQ(o.scale, 3);
  EXPECT_EQ(JoinArguments(o.gameArguments), "-eh");
  EXPECT_TRUE(o.warnings.empty());
  o = ParsePlayerOptions({"--scale=fit", "--", "--fullscreen", "x"});
  EXPECT_EQ(o.scale, platform::SCALE_FIT);
  EXPECT_FALSE(o.fullscreen);
  EXPECT_EQ(JoinArguments(o.gameArguments), "--fullscreen x");
  // The game's own words are left alone, also when they look like options.
  o = ParsePlayerOptions({"-eh", "--fullscreen"});
  EXPECT_FALSE(o.fullscreen);
  EXPECT_EQ(JoinArguments(o.gameArguments), "-eh --fullscreen");
  EXPECT_EQ(JoinArguments(ParsePlayerOptions({}).gameArguments), "");
  o = ParsePlayerOptions({"--no-jit", "--fullscreen", "-eh"});
  EXPECT_TRUE(o.noJit);
  EXPECT_TRUE(o.fullscreen);
  EXPECT_EQ(JoinArguments(o.gameArguments), "-eh");
  EXPECT_FALSE(ParsePlayerOptions({"--fullscreen"}).noJit);
  for (const char* bad : {"0", "9", "x", "2x", "-1", ""}) {
    o = ParsePlayerOptions({"--scale", bad});
    EXPECT_FALSE(o.scale.has_value()) << bad;
    EXPECT_EQ(o.warnings.size(), 1u) << bad;
  }
  EXPECT_TRUE(ParsePlayerOptions({"--help"}).help);
  o = ParsePlayerOptions({"--record", "a.orvorec", "--record=b.orvorec", "-eh"});
  EXPECT_EQ(o.recordFile, "b.orvorec");
  EXPECT_EQ(JoinArguments(o.gameArguments), "-eh");
  o = ParsePlayerOptions({"--record"});
  EXPECT_EQ(o.recordFile, "");
  EXPECT_EQ(o.warnings,
            std::vector<std::string>{"orvo: --record needs a file; nothing is recorded"});
}

TEST(PlayerKeys, OnlyTheRuntimesCombinationsAreTaken) {
  using C = PlayerCommand;
  EXPECT_EQ(CommandFor(VK_F11, false, false, false), C::ToggleFullscreen);
  EXPECT_EQ(CommandFor(VK_RETURN, true, false, false), C::ToggleFullscreen);
  EXPECT_EQ(CommandFor(VK_F11, false, true, false), C::CycleScale);
  EXPECT_EQ(CommandFor(VK_PRIOR, true, false, false), C::VolumeUp);
  EXPECT_EQ(CommandFor(VK_NEXT, true, false, false), C::VolumeDown);
  EXPECT_EQ(CommandFor(VK_END, true, false, false), C::ToggleSound);
  EXPECT_EQ(CommandFor(VK_VOLUME_MUTE, false, false, false), C::ToggleSound);
  // Every other key with any modifiers is the game's.
  int taken = 0;
  for (uint32_t vk = 1; vk < 256; ++vk)
    for (int mods = 0; mods < 8; ++mods)
      taken += CommandFor(vk, mods & 1, mods & 2, mods & 4).has_value();
  // F11 with and without Shift, Alt+Enter, Alt+PageUp/PageDown/End with and without
  // Shift, the three volume keys with Alt, Shift, both or neither; never with Control.
  EXPECT_EQ(taken, 2 + 1 + 3 * 2 + 3 * 4);
  EXPECT_FALSE(CommandFor(VK_RETURN, false, false, false));
  EXPECT_FALSE(CommandFor(VK_F11, false, false, true));
}

TEST(PlayerKeys, AScaleIsLoweredUntilTheWindowFitsTheDisplay) {
  EXPECT_EQ(FittingScale(3, 640, 480, {1920, 1080}), 2);
  EXPECT_EQ(FittingScale(4, 320, 240, {1920, 1080}), 4);
  EXPECT_EQ(FittingScale(8, 4000, 4000, {1920, 1080}), 1);
  EXPECT_EQ(FittingScale(3, 640, 480, {0, 0}), 3) << "no display known: as asked";
}

// The example on the player's page of the guide is a preferences file as the runtime
// reads it.
TEST(Preferences, ThePlayersPageShowsAFileTheRuntimeReads) {
  const std::string page = Read(fs::path(ORVO_DOCS_DIR) / "player.md");
  const size_t start = page.find("```json\n"), end = page.find("```", start + 8);
  ASSERT_NE(start, std::string::npos);
  ASSERT_NE(end, std::string::npos);
  TempDir t;
  const fs::path file = t.path / "preferences.json";
  std::ofstream(file) << page.substr(start + 8, end - start - 8);
  std::string warning;
  const Preferences p = LoadPreferences(file.string(), "game/mines", warning);
  EXPECT_TRUE(warning.empty()) << warning;
  EXPECT_EQ(p.scale, 2);
  EXPECT_EQ(p.volume, 80);
  EXPECT_EQ(p.pad.keys, Preferences::DefaultPadMapping().keys) << "the page shows the defaults";
}

}  // namespace
}  // namespace orvo::host
