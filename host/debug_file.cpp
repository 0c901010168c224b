#include "host/debug_file.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "isa/debug_format.h"

namespace orvo::host {

namespace {

bool ReadWhole(const std::filesystem::path& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream text;
  text << in.rdbuf();
  out = std::move(text).str();
  return !in.bad();
}

}  // namespace

vm::SourceView LoadSourceView(const std::string& imagePath, std::string& note) {
  note.clear();
  const std::filesystem::path path =
      std::filesystem::path(imagePath).replace_filename(debug_format::kFileName);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return {};
  std::string bytes, image;
  if (!ReadWhole(path, bytes)) {
    note = path.string() + " cannot be read; ignored";
    return {};
  }
  vm::DebugInfo info;
  std::string problem;
  if (!vm::ReadDebugInfo(bytes, info, problem)) {
    note = path.string() + " is damaged (" + problem + "); ignored";
    return {};
  }
  if (!ReadWhole(imagePath, image) ||
      !vm::DebugInfoMatches(info, reinterpret_cast<const uint8_t*>(image.data()), image.size())) {
    note = path.string() + " was written for another build of main.ove; ignored";
    return {};
  }
  return vm::SourceView(std::move(info));
}

}  // namespace orvo::host
