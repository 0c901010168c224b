// One assembly of a game from its source folder, in memory: velda.list read, every
// source read, velda's passes run over the texts and main.ove made from the result. Nothing
// is written anywhere, so the folders velda writes to stay as velda left them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace orvo::dev {

struct GameBuild {
  std::vector<uint8_t> image;          // main.ove; empty when the sources do not assemble
  std::vector<std::string> errors;     // as velda prints them: "mines(12): text"
  std::vector<std::filesystem::path> files;  // the list and every source it names
  std::filesystem::path gameFolder;    // the list's output folder: pictures, sounds, music
  bool listRead = false;               // the list could be read: files names its sources
};

// buildNumber goes into the image header as velda's BUILDNUM would.
GameBuild BuildGame(const std::filesystem::path& sourceFolder, uint32_t buildNumber);

}  // namespace orvo::dev
