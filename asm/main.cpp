// velda: the assembler for orvo images.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "driver.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  // The state is large (code image and label table); keep it off the stack.
  auto a = std::make_unique<orvo::velda::Assembler>();
  int code = orvo::velda::RunVelda(*a, args);
  std::fflush(stdout);
  return code;
}
