// Which game a start runs: the game folder the runtime lies in (or is linked into), a game
// archive appended to the runtime's own executable, or a game archive named on the
// command line ("orvo GAME.orvo [arguments]"). The command line names an archive only
// when the runtime's folder holds no game, so a game folder's command line keeps its
// meaning.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "services/archive.h"
#include "services/manifest.h"

namespace orvo::host {

inline constexpr const char* kArchiveExtension = ".orvo";

struct GameArchive {
  std::string path;     // empty: the game is the folder the runtime lies in
  uint64_t offset = 0;  // where the archive starts inside the file
  std::string problem;  // set when something that should be an archive cannot be one
};

// The bytes of an ELF executable's own image: what follows them is appended data.
// 0 when the file is no ELF file.
uint64_t ElfImageSize(int fd);

// Looks at the running executable and the arguments (without the program's name). An
// archive named on the command line is taken out of arguments; what remains is the
// program's command line.
GameArchive ChooseGame(const std::string& executablePath, std::vector<std::string>& arguments);

struct OpenedGame {
  std::shared_ptr<services::ArchiveFiles> files;
  services::Manifest manifest;
};

// Opens and checks the archive and its manifest; false with a sentence in problem.
bool OpenGameArchive(const GameArchive& where, OpenedGame& out, std::string& problem);

}  // namespace orvo::host
