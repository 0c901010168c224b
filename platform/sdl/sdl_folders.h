// Where the runtime was started from and where the user keeps documents.
#pragma once

#include <string>

namespace orvo::platform {

// argv0 made absolute: a relative name against cwd, a bare name looked up in path (the
// PATH list) as the shell did. The folder is resolved, the last component is not, so a
// link to the runtime inside a game's folder stands for that folder. "" when argv0 says
// nothing usable.
std::string AbsoluteStartPath(const std::string& argv0, const std::string& cwd, const char* path);

// The documents folder ending in '/': XDG_DOCUMENTS_DIR from user-dirs.dirs in configHome
// (or home/.config when configHome is null or relative), else home/Documents; "" without
// a home.
std::string DocumentsFolderFor(const char* home, const char* configHome);

// Both from the process itself: its argv[0] (falling back to /proc/self/exe), and HOME
// and XDG_CONFIG_HOME.
std::string ExecutablePathOf(const std::string& argv0);
std::string UserDocumentsFolder();

}  // namespace orvo::platform
