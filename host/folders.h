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

}  // namespace orvo::host
