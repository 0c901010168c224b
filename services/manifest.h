// The manifest a game archive carries: the game's name, which names its data folder, the
// title a desktop shows and the icon inside the archive. Written by orvo-pack, read at
// start-up.
#pragma once

#include <string>
#include <string_view>

namespace orvo::services {

inline constexpr const char* kManifestName = "orvo-game.json";

struct Manifest {
  std::string name;   // one folder name: letters, digits, ' ', '.', '-', '_'; no leading '.'
  std::string title;  // what a desktop shows; the name when not given
  std::string icon;   // a PNG inside the archive, or empty
};

// True for a name that may name the data folder.
bool ValidGameName(std::string_view name);

// Reads the manifest's JSON text; false with the reason in problem for anything else
// than an object with a valid name and, if present, text title and icon.
bool ParseManifest(std::string_view text, Manifest& out, std::string& problem);
std::string WriteManifest(const Manifest& m);

}  // namespace orvo::services
