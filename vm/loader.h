// Loading main.ove into a fresh VM memory block.
#pragma once

#include <cstdio>
#include <string>

namespace orvo::vm {

struct Machine;

// Loads the image from an open file (nullptr: the file could not be opened). Returns
// true on success; on failure the message (if any) has been shown and the caller ends
// the process with exit code 1. A file that breaks off before the size its header gives
// shows no message; unshown, when given, then receives what is wrong with it, for the
// caller to tell whoever started the runtime. The file is closed either way.
bool LoadImage(Machine& m, std::FILE* file, std::string* unshown = nullptr);

// Releases VM memory (the window is gone).
void ReleaseImage(Machine& m);

}  // namespace orvo::vm
