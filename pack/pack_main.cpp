// orvo-pack: writes a built game folder as one game archive (GAME.orvo, run with
// "orvo GAME.orvo"), as one executable (--exe), as a folder for a web server (--web)
// and, with --desktop, a desktop entry.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "pack/pack.h"

namespace {

enum ExitStatus : int { EXIT_PACKED = 0, EXIT_FAILED = 1, EXIT_USAGE = 2 };

constexpr const char* kUsage =
    "usage: orvo-pack GAMEDIR -o OUTPUT [--exe | --web] [--desktop] [--name NAME]\n"
    "                 [--title TEXT] [--icon FILE.png] [--runtime FILE|PAGEDIR] [--developer]\n"
    "                 [--no-fonts] [--no-soundfont]\n"
    "  --web: OUTPUT is a folder: the page, the runtime as WebAssembly and game.orvo;\n"
    "         --runtime names the web build's page folder (build/web/page)\n";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "orvo-pack: %s\n%s", problem.c_str(), kUsage);
  return EXIT_USAGE;
}

int Failed(const std::string& problem) {
  std::fprintf(stderr, "orvo-pack: %s\n", problem.c_str());
  return EXIT_FAILED;
}

// The runtime to copy: orvo-player (else orvo) beside orvo-pack or in the build's host folder.
std::string DefaultRuntime() {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  for (const fs::path& candidate : {self.parent_path() / "orvo-player", self.parent_path() / "orvo",
                                    self.parent_path().parent_path() / "host" / "orvo-player",
                                    self.parent_path().parent_path() / "host" / "orvo"})
    if (fs::is_regular_file(candidate, error)) return candidate.string();
  return "";
}

// The web build's page folder: beside orvo-pack, or in the web build next to this build.
std::string DefaultWebPage() {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  for (const fs::path& candidate :
       {self.parent_path() / "page", self.parent_path().parent_path().parent_path() / "web" / "page"})
    if (fs::is_regular_file(candidate / "orvo-web.wasm", error)) return candidate.string();
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  orvo::pack::PackOptions options;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    bool ok = true;
    if (std::strcmp(arg, "-o") == 0)
      ok = value(options.output);
    else if (std::strcmp(arg, "--name") == 0)
      ok = value(options.manifest.name);
    else if (std::strcmp(arg, "--title") == 0)
      ok = value(options.manifest.title);
    else if (std::strcmp(arg, "--icon") == 0)
      ok = value(options.icon);
    else if (std::strcmp(arg, "--runtime") == 0)
      ok = value(options.runtime);
    else if (std::strcmp(arg, "--exe") == 0)
      options.exe = true;
    else if (std::strcmp(arg, "--web") == 0)
      options.web = true;
    else if (std::strcmp(arg, "--desktop") == 0)
      options.desktop = true;
    else if (std::strcmp(arg, "--developer") == 0)
      options.developer = true;
    else if (std::strcmp(arg, "--no-fonts") == 0)
      options.fonts = false;
    else if (std::strcmp(arg, "--no-soundfont") == 0)
      options.soundFont = false;
    else if (arg[0] == '-' && arg[1] != '\0')
      return Usage(std::string("unknown option ") + arg);
    else if (options.gameDir.empty())
      options.gameDir = arg;
    else
      return Usage("only one GAMEDIR may be given");
    if (!ok) return Usage(std::string(arg) + " needs a value");
  }
  if (options.gameDir.empty()) return Usage("no GAMEDIR given");
  if (options.output.empty()) return Usage("no output given (-o)");
  std::error_code error;
  if (options.manifest.name.empty())
    options.manifest.name = fs::absolute(options.gameDir, error).lexically_normal().filename().string();
  if (options.manifest.name.empty())
    options.manifest.name = fs::absolute(options.gameDir, error).lexically_normal().parent_path().filename().string();
  if (!orvo::services::ValidGameName(options.manifest.name))
    return Usage("the game's name \"" + options.manifest.name +
                 "\" is no folder name (letters, digits, space, '.', '-', '_'); give --name");
  if (options.manifest.title.empty()) options.manifest.title = options.manifest.name;
  if (options.exe && options.web) return Usage("--exe and --web make different outputs");
  if (options.runtime.empty()) options.runtime = options.web ? DefaultWebPage() : DefaultRuntime();
  if (options.web && options.runtime.empty())
    return Usage("no web build found to copy the page from; give --runtime PAGEDIR");
  if ((options.exe || options.desktop) && options.runtime.empty())
    return Usage("no runtime found to copy or start; give --runtime");

  std::vector<orvo::pack::PackFile> files;
  std::vector<std::string> notes;
  std::string problem;
  if (!orvo::pack::CollectGame(options, files, notes, problem)) return Failed(problem);
  for (const std::string& note : notes) std::fprintf(stderr, "orvo-pack: note: %s\n", note.c_str());

  if (options.web) {
    fs::create_directories(options.output, error);
    if (error) return Failed(options.output + ": " + error.message());
  }
  const std::string archive = options.exe   ? options.output + ".orvo-part"
                              : options.web ? (fs::path(options.output) / orvo::pack::kWebArchiveName).string()
                                            : options.output;
  if (!orvo::pack::WriteArchive(archive, files, options.manifest, problem)) return Failed(problem);
  if (options.web && !orvo::pack::WriteWebPage(options.runtime, options.output, options.manifest,
                                                 orvo::pack::CarriesSoundFont(files), problem))
    return Failed(problem);
  if (options.exe) {
    const bool written = orvo::pack::WriteExecutable(options.runtime, archive, options.output, problem);
    unlink(archive.c_str());
    if (!written) return Failed(problem);
  }
  if (options.desktop) {
    std::string icon;
    for (const orvo::pack::PackFile& f : files)
      if (f.name == options.manifest.icon && !f.name.empty()) icon = f.source;
    if (icon.empty()) std::fprintf(stderr, "orvo-pack: note: the game has no icon.png\n");
    if (!orvo::pack::WriteDesktopEntry(options.output, options.exe ? "" : options.runtime, icon,
                                       options.manifest, problem))
      return Failed(problem);
  }
  return EXIT_PACKED;
}
