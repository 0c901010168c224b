// The two folders every relative file name is resolved against.
#pragma once

#include <string>

namespace orvo::services {

struct Folders {
  std::string program;  // the installation: read-only for the program, ends in '/'
  std::string data;     // the user's copy: every write goes here, ends in '/'
};

}  // namespace orvo::services
