#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>

#include "gfx/face_list.h"
#include "gfx/font_library.h"
#include "pack/pack.h"
#include "sound/fluid_device.h"

namespace orvo::pack {

namespace fs = std::filesystem;

namespace {

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

bool HasExtension(const std::string& name, std::initializer_list<const char*> extensions) {
  const std::string lower = Lower(fs::path(name).extension().string());
  return std::any_of(extensions.begin(), extensions.end(),
                     [&](const char* e) { return lower == e; });
}

// The licence of a file installed by a Debian package: its package's copyright file.
std::string LicenceOf(const std::string& file, std::string& package) {
  const std::string command = "dpkg-query -S '" + file + "' 2>/dev/null";
  std::string out;
  if (std::FILE* p = popen(command.c_str(), "r")) {
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, p)) out += buffer;
    pclose(p);
  }
  const size_t colon = out.find(':');
  if (colon == std::string::npos) return "";
  package = out.substr(0, colon);
  const std::string copyright = "/usr/share/doc/" + package + "/copyright";
  std::error_code error;
  return fs::is_regular_file(copyright, error) ? copyright : std::string();
}

// A file the runtime reads from the system, carried with its package's licence.
bool AddSystemFile(const std::string& file, const std::string& folder,
                   std::vector<PackFile>& files, std::set<std::string>& licences,
                   std::vector<std::string>& notes) {
  std::error_code error;
  const std::string real = fs::canonical(file, error).string();
  if (error) return false;
  std::string package;
  const std::string licence = LicenceOf(real, package);
  if (licence.empty()) {
    notes.push_back(real + " is not carried: no licence for it was found");
    return false;
  }
  files.push_back({real, folder + fs::path(real).filename().string()});
  if (licences.insert(package).second)
    files.push_back({licence, std::string(kLicenceFolder) + package + ".txt"});
  return true;
}

}  // namespace

bool IsDeveloperFile(const std::string& name) {
  const std::string lower = Lower(name);
  // The assembler's listing, map and build number, its sources and every other main.ov?
  // output of the tools: only main.ove is the game.
  if (lower == "buildnum" || lower == "main.map" || HasExtension(lower, {".ova"})) return true;
  return lower.size() == 8 && lower.rfind("main.ov", 0) == 0 && lower != "main.ove";
}

bool CollectGame(PackOptions& options, std::vector<PackFile>& files,
                 std::vector<std::string>& notes, std::string& problem) {
  std::error_code error;
  const fs::path root = fs::absolute(options.gameDir, error);
  if (error || !fs::is_regular_file(root / "main.ove", error)) {
    problem = options.gameDir + " is no built game folder: it has no main.ove";
    return false;
  }
  const fs::path output = fs::weakly_canonical(fs::absolute(options.output, error), error);
  bool music = false;
  std::map<std::string, std::string> seen;  // lower-case name -> name
  fs::recursive_directory_iterator it(root, fs::directory_options::none, error), end;
  for (; !error && it != end; it.increment(error)) {
    const fs::path& path = it->path();
    const std::string name = fs::relative(path, root, error).generic_string();
    const std::string leaf = path.filename().string();
    if (it->is_symlink(error)) {
      // A link may point anywhere; the runtime's own link is expected and left out.
      if (name != "orvo") notes.push_back(name + " is a link: left out");
      continue;
    }
    if (!leaf.empty() && leaf[0] == '.') {
      if (it->is_directory(error)) it.disable_recursion_pending();
      continue;
    }
    if (it->is_directory(error)) continue;
    if (!it->is_regular_file(error)) continue;
    if (fs::weakly_canonical(path, error) == output) continue;
    if (!options.developer && it.depth() == 0 && IsDeveloperFile(leaf)) continue;
    if (it.depth() == 0 && Lower(leaf) == "orvo") continue;
    auto [at, added] = seen.emplace(Lower(name), name);
    if (!added) {
      problem = "\"" + at->second + "\" and \"" + name + "\" differ only in case";
      return false;
    }
    if (HasExtension(leaf, {".mid", ".midi", ".rmi"})) music = true;
    files.push_back({path.string(), name});
  }
  if (error) {
    problem = options.gameDir + ": " + error.message();
    return false;
  }
  // The icon: named on the command line, else the game's own icon.png.
  if (!options.icon.empty()) {
    if (!fs::is_regular_file(options.icon, error)) {
      problem = "there is no icon " + options.icon;
      return false;
    }
    std::erase_if(files, [](const PackFile& f) { return Lower(f.name) == kIconName; });
    files.push_back({options.icon, kIconName});
    options.manifest.icon = kIconName;
  } else if (seen.count(kIconName)) {
    options.manifest.icon = seen[kIconName];
  }
  std::set<std::string> licences;
  if (options.fonts) {
    // The faces the runtime would draw each family and style with, chosen the same way.
    // The choices go along as the face list, for the web build's runtime, which has no
    // fontconfig to make them again.
    gfx::FontLibrary lib;
    std::set<std::string> faces;
    std::vector<gfx::FaceChoice> choices;
    if (gfx::OpenFontLibrary(lib)) {
      for (int family = 0; family < gfx::FAMILY_COUNT; ++family)
        for (bool bold : {false, true})
          for (bool italic : {false, true})
            if (const gfx::FontFace* face =
                    gfx::ResolveFace(lib, static_cast<gfx::FontFamily>(family), bold, italic)) {
              faces.insert(face->file);
              std::error_code error;
              choices.push_back({static_cast<gfx::FontFamily>(family), bold, italic,
                                 face->syntheticBold, face->syntheticItalic,
                                 fs::canonical(face->file, error).filename().string()});
            }
    }
    std::set<std::string> carried;
    for (const std::string& face : faces)
      if (AddSystemFile(face, kFontFolder, files, licences, notes)) {
        std::error_code error;
        carried.insert(fs::canonical(face, error).filename().string());
      }
    std::erase_if(choices, [&](const gfx::FaceChoice& c) { return !carried.count(c.file); });
    if (faces.empty()) notes.push_back("no fonts were found to carry");
    if (!choices.empty())
      files.push_back({"", std::string(kFontFolder) + gfx::kFaceListName,
                       gfx::FormatFaceList(choices)});
  }
  if (options.soundFont && music) {
    const std::string soundFont = sound::FindSoundFont();
    if (soundFont.empty())
      notes.push_back("the game has music but no SoundFont was found to carry");
    else
      AddSystemFile(soundFont, kSoundFontFolder, files, licences, notes);
  }
  return true;
}

}  // namespace orvo::pack
