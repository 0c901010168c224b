// The web build cannot open shared libraries: there is no FluidSynth to find, and songs
// report the device missing, as on a desktop without the library.
#include "sound/fluid_library.h"

namespace orvo::sound {

namespace {

constexpr const char* kNoLibrary = "the web build opens no shared libraries (FluidSynth)";

}  // namespace

bool OpenFluidLibrary(const char*, FluidLibrary&, std::string& error) {
  error = kNoLibrary;
  return false;
}

const FluidLibrary* Fluid(std::string* error) {
  if (error) *error = kNoLibrary;
  return nullptr;
}

std::string TakeFluidError() {
  return "";
}

}  // namespace orvo::sound
