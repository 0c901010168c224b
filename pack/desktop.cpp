#include <filesystem>
#include <fstream>

#include "pack/pack.h"

namespace orvo::pack {

namespace fs = std::filesystem;

namespace {

// A path as one quoted argument of a desktop entry's Exec line, then escaped again as
// the entry's string values are.
std::string ExecArgument(const std::string& path) {
  std::string quoted = "\"";
  for (char c : path) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    quoted += c;
  }
  quoted += '"';
  std::string escaped;
  for (char c : quoted) {
    if (c == '\\') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

// A value on one line: line ends would start a new key.
std::string OneLine(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\n' || c == '\r' ? ' ' : c;
  return out;
}

}  // namespace

bool WriteDesktopEntry(const std::string& output, const std::string& runtime,
                       const std::string& icon, const services::Manifest& manifest,
                       std::string& problem) {
  std::error_code error;
  const fs::path program = fs::absolute(output, error);
  std::string exec = ExecArgument(program.string());
  if (!runtime.empty()) exec = ExecArgument(fs::absolute(runtime, error).string()) + " " + exec;
  fs::path base = program;
  base.replace_extension();
  const fs::path entry = base.string() + ".desktop";
  const fs::path picture = base.string() + ".png";
  if (!icon.empty() && !fs::copy_file(icon, picture, fs::copy_options::overwrite_existing, error)) {
    problem = picture.string() + ": " + error.message();
    return false;
  }
  std::ofstream out(entry, std::ios::binary | std::ios::trunc);
  out << "[Desktop Entry]\n"
      << "Type=Application\n"
      << "Name=" << OneLine(manifest.title) << "\n"
      << "Exec=" << exec << "\n";
  if (!icon.empty()) out << "Icon=" << picture.string() << "\n";
  out << "Terminal=false\n"
      << "Categories=Game;\n";
  out.close();
  if (!out) {
    problem = entry.string() + ": cannot be written";
    return false;
  }
  return true;
}

}  // namespace orvo::pack
