#include <filesystem>
#include <fstream>
#include <sstream>

#include "pack/pack.h"

namespace orvo::pack {

namespace fs = std::filesystem;

namespace {

std::string EscapeHtml(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

bool CopyPageFile(const std::string& pageFolder, const std::string& folder, const char* name,
                  std::string& problem) {
  std::error_code error;
  const fs::path from = fs::path(pageFolder) / name, to = fs::path(folder) / name;
  if (fs::copy_file(from, to, fs::copy_options::overwrite_existing, error)) return true;
  problem = from.string() + ": " + error.message();
  return false;
}

}  // namespace

bool CarriesSoundFont(const std::vector<PackFile>& files) {
  for (const PackFile& file : files)
    if (file.name.rfind(kSoundFontFolder, 0) == 0) return true;
  return false;
}

bool WriteWebPage(const std::string& pageFolder, const std::string& folder,
                  const services::Manifest& manifest, bool music, std::string& problem) {
  if (music)
    for (const char* name : kWebSynthesizerFiles)
      if (!CopyPageFile(pageFolder, folder, name, problem)) return false;
  for (const char* name : kWebPageFiles) {
    if (std::string(name) != "index.html") {
      if (!CopyPageFile(pageFolder, folder, name, problem)) return false;
      continue;
    }
    const fs::path from = fs::path(pageFolder) / name, to = fs::path(folder) / name;
    // The page is named after the game.
    std::ifstream in(from, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::string html = text.str();
    const size_t title = html.find("<title>orvo</title>");
    if (!in || title == std::string::npos) {
      problem = from.string() + ": no page of the web build";
      return false;
    }
    html.replace(title, 19, "<title>" + EscapeHtml(manifest.title) + "</title>");
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    out << html;
    if (!out.flush()) {
      problem = to.string() + ": cannot be written";
      return false;
    }
  }
  return true;
}

}  // namespace orvo::pack
