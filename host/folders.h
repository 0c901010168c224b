// Where the program is installed and where its user's files go.
#pragma once

#include <string>

#include "services/folders.h"

namespace orvo::host {

// The folder of the runtime's path, ending in '/'.
std::string ProgramFolderOf(const std::string& executablePath);

// documents + the program folder's parent name + its own name, each level created. With
// no documents folder the program folder itself; with a program folder in the root, only
// its own name (or the documents folder when it has none either).
std::string DataFolderFor(const std::string& programFolder, const std::string& documents);

// folder as an absolute path ending in exactly one '/': a relative one is taken from the
// current folder, and links, "." and ".." are resolved as far as the folder exists. The
// folders are fixed once at start-up, so nothing the program or a library does with the
// current folder later can move them.
std::string AbsoluteFolder(const std::string& folder);

// Creates folder with every missing parent. False, with the system's reason in problem,
// when it does not exist as a folder afterwards.
bool CreateFolders(const std::string& folder, std::string& problem);

}  // namespace orvo::host
