// Loading main.ove into a fresh VM memory block.
#pragma once

#include <cstdio>

namespace orvo::vm {

struct Machine;

// Loads the image from an open file (nullptr: the file could not be opened). Returns
// true on success; on failure the message (if any) has been shown and the caller ends
// the process with exit code 1. The file is closed either way.
bool LoadImage(Machine& m, std::FILE* file);

// Releases VM memory (the window is gone).
void ReleaseImage(Machine& m);

}  // namespace orvo::vm
