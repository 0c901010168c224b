// orvo-pack: a built game folder as one game archive, one executable or a desktop entry.
#pragma once

#include <string>
#include <vector>

#include "services/manifest.h"

namespace orvo::pack {

inline constexpr const char* kFontFolder = "fonts/";
inline constexpr const char* kSoundFontFolder = "soundfont/";
inline constexpr const char* kLicenceFolder = "licences/";
inline constexpr const char* kIconName = "icon.png";

struct PackOptions {
  std::string gameDir;
  std::string output;
  services::Manifest manifest;  // name and title; the icon is set while collecting
  std::string icon;             // a PNG on disk; else the game folder's icon.png, if any
  std::string runtime;          // the runtime --exe copies
  bool exe = false;
  bool web = false;        // a folder for a web server: the page, the runtime, game.orvo
  bool desktop = false;
  bool developer = false;  // also the outputs only developers use
  bool fonts = true;       // carry the fonts the runtime draws text with
  bool soundFont = true;   // carry the SoundFont when the game has music
};

// One file of the archive: where it is read from and the name it gets.
struct PackFile {
  std::string source;
  std::string name;
  std::string text = {};  // the contents of a file made while packing (source empty)
};

// Outputs of the assembler and the tools, left out unless asked for.
bool IsDeveloperFile(const std::string& name);

// The game folder's files (links and hidden files left out, with a note), then the
// fonts, the SoundFont and their licences. False with a reason in problem.
bool CollectGame(PackOptions& options, std::vector<PackFile>& files,
                 std::vector<std::string>& notes, std::string& problem);

// A zip archive of files and the manifest; written beside path and renamed into place.
bool WriteArchive(const std::string& path, const std::vector<PackFile>& files,
                  const services::Manifest& manifest, std::string& problem);

// A copy of the runtime with the archive appended, executable.
bool WriteExecutable(const std::string& runtime, const std::string& archive,
                     const std::string& output, std::string& problem);

// The page's files the web build makes (page/ of the web build's folder): what --web
// copies, and the archive's name the page fetches.
inline constexpr const char* kWebPageFiles[] = {"index.html", "orvo-page.js", "orvo-web.js",
                                                "orvo-web.wasm"};
inline constexpr const char* kWebArchiveName = "game.orvo";
// The page's General MIDI synthesizer (FluidSynth as WebAssembly, from js-synthesizer) and
// its licence, copied when the archive carries a SoundFont to play the game's songs with.
inline constexpr const char* kWebSynthesizerFiles[] = {"libfluidsynth.js",
                                                       "libfluidsynth-LICENSE.txt"};

// The folder a web server serves the game from: the page from pageFolder, its title the
// game's, the synthesizer when music is true, and the archive (already written there as
// kWebArchiveName).
bool WriteWebPage(const std::string& pageFolder, const std::string& folder,
                  const services::Manifest& manifest, bool music, std::string& problem);

// True when the archive's files carry a SoundFont (the game has music to play).
bool CarriesSoundFont(const std::vector<PackFile>& files);

// NAME.desktop and NAME.png beside the output, starting it: the output itself, or the
// runtime with the output when runtime is not empty.
bool WriteDesktopEntry(const std::string& output, const std::string& runtime,
                       const std::string& icon, const services::Manifest& manifest,
                       std::string& problem);

}  // namespace orvo::pack
