// Finding and opening main.ove for the loader.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "services/files.h"

namespace orvo::host {

struct ImageFile {
  std::FILE* file = nullptr;  // nullptr: no main.ove that can be read
  std::string path;           // where it was found
};

// The user's copy in the data folder first, then the installed one. Only a regular file
// counts: anything else of that name (a FIFO, a device, a folder) is passed over as if it
// were absent, so opening it can never hold up the start.
ImageFile OpenImageFile(const services::FileService& files);

// The rest of file's bytes; the file is closed.
std::vector<uint8_t> ReadWholeFile(std::FILE* file);

}  // namespace orvo::host
