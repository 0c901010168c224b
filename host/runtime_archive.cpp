// The runtime's side of a game archive: the archive becomes the program folder, and the
// fonts and SoundFont it carries reach the libraries that open files by path.
#include <strings.h>

#include <cstdio>

#include "host/folders.h"
#include "host/runtime.h"

namespace orvo::host {

namespace {

constexpr const char* kFontFolder = "fonts";
constexpr const char* kSoundFontFolder = "soundfont";

bool IsSoundFont(const std::string& name) {
  return name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".sf2") == 0;
}

}  // namespace

bool Runtime::UseArchive() {
  OpenedGame game;
  std::string problem;
  if (!OpenGameArchive(options_.archive, game, problem)) {
    std::fprintf(stderr, "orvo: %s\n", problem.c_str());
    platform_.shell.MessageBox(problem);
    return false;
  }
  // Each archive is an installation of its own, known by its absolute path.
  std::string path = AbsoluteFolder(options_.archive.path);
  path.pop_back();
  state_.folders.program = path + "/";
  options_.archive.path = path;
  gameName_ = game.manifest.name;
  files_.archive = game.files;
  sound_.SetSoundFont([files = game.files] {
    std::vector<services::ProgramListing> listed;
    if (!files->List(kSoundFontFolder, listed)) return std::string();
    for (const services::ProgramListing& item : listed)
      if (!item.entry.folder && IsSoundFont(item.name))
        return files->PathOf(std::string(kSoundFontFolder) + "/" + item.name);
    return std::string();
  });
  return true;
}

void Runtime::UseArchiveFonts() {
  if (!files_.archive) return;
  std::vector<services::ProgramListing> listed;
  if (!files_.archive->List(kFontFolder, listed)) return;
  std::string folder;
  for (const services::ProgramListing& item : listed) {
    if (item.entry.folder) continue;
    const std::string path = files_.archive->PathOf(std::string(kFontFolder) + "/" + item.name);
    if (!path.empty()) folder = path.substr(0, path.rfind('/'));
  }
  text_.fonts.gameFonts = folder;
}

}  // namespace orvo::host
