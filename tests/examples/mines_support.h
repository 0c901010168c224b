// Running the assembled example games under orvo-headless: temporary data folders,
// event scripts, memory dumps read through the game's own symbol map, screenshots
// decoded with libspng.
#pragma once

#include <fcntl.h>
#include <spng.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace orvo::examples {

namespace fs = std::filesystem;

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A fresh folder under the system's temporary folder, removed again at the end.
struct TempFolder {
  fs::path path;
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "orvo-examples-XXXXXX").string();
    if (char* made = mkdtemp(pattern.data())) path = made;
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!path.empty()) fs::remove_all(path, ignored);
  }
};

// The names main.map lists ("%6.6lX name" lines) and their addresses.
inline std::map<std::string, uint32_t> ReadMap(const fs::path& file) {
  std::map<std::string, uint32_t> out;
  std::istringstream lines(ReadFile(file));
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string value, name;
    if (fields >> value >> name) out[name] = static_cast<uint32_t>(std::stoul(value, nullptr, 16));
  }
  return out;
}

struct Picture {
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> rgba;
  bool Valid() const { return width > 0 && height > 0; }
  // Red, green, blue of a pixel as 0xRRGGBB; 0xFF000000 outside the picture.
  uint32_t Rgb(int x, int y) const {
    if (x < 0 || y < 0 || static_cast<uint32_t>(x) >= width || static_cast<uint32_t>(y) >= height)
      return 0xFF000000u;
    const uint8_t* p = rgba.data() + (static_cast<size_t>(y) * width + static_cast<size_t>(x)) * 4;
    return uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
  }
};

inline Picture ReadPng(const fs::path& file) {
  Picture pic;
  const std::string bytes = ReadFile(file);
  spng_ctx* ctx = spng_ctx_new(0);
  if (!ctx) return pic;
  spng_ihdr ihdr{};
  size_t size = 0;
  if (spng_set_png_buffer(ctx, bytes.data(), bytes.size()) == 0 && spng_get_ihdr(ctx, &ihdr) == 0 &&
      spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size) == 0) {
    pic.rgba.resize(size);
    if (spng_decode_image(ctx, pic.rgba.data(), size, SPNG_FMT_RGBA8, 0) == 0) {
      pic.width = ihdr.width;
      pic.height = ihdr.height;
    }
  }
  spng_ctx_free(ctx);
  return pic;
}

inline bool Near(uint32_t rgb, uint32_t want, int tolerance = 6) {
  for (int shift = 0; shift < 24; shift += 8) {
    const int a = static_cast<int>((rgb >> shift) & 0xFF), b = static_cast<int>((want >> shift) & 0xFF);
    if (a - b > tolerance || b - a > tolerance) return false;
  }
  return (rgb >> 24) == 0;
}

// The outcome of one run: exit code, the runtime's messages and the memory at the end.
struct Outcome {
  int exitCode = -1;
  std::string out;
  std::vector<uint8_t> memory;
  const std::map<std::string, uint32_t>* symbols = nullptr;

  uint32_t Word(const std::string& name, uint32_t offset = 0) const {
    auto it = symbols->find(name);
    if (it == symbols->end() || it->second + offset + 4 > memory.size()) return 0xDEADBEEFu;
    const uint8_t* p = memory.data() + it->second + offset;
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
  }
  int32_t Int(const std::string& name, uint32_t offset = 0) const {
    return static_cast<int32_t>(Word(name, offset));
  }
  uint8_t Byte(const std::string& name, uint32_t offset) const {
    auto it = symbols->find(name);
    if (it == symbols->end() || it->second + offset >= memory.size()) return 0;
    return memory[it->second + offset];
  }
  std::string Text(const std::string& name) const {
    auto it = symbols->find(name);
    if (it == symbols->end() || it->second >= memory.size()) return "";
    const char* p = reinterpret_cast<const char*>(memory.data() + it->second);
    size_t n = 0;
    while (it->second + n < memory.size() && p[n]) ++n;
    return std::string(p, n);
  }
};

// Starts a program with argv and envp (both ending in a null) from folder, its output
// going to log; the child's pid, or -1.
inline pid_t StartLogged(char* const* argv, char* const* envp, const fs::path& folder,
                         const fs::path& log) {
  const std::string logName = log.string();
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = open(logName.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
    }
    if (chdir(folder.c_str()) != 0) _exit(126);
    execve(argv[0], argv, envp);
    _exit(127);
  }
  return pid;
}

// The exit code once the child has ended (pid then becomes -1), or -1 if it is still
// running after ms.
inline int WaitForExit(pid_t& pid, int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      pid = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return -1;
}

// Runs a shell command; its exit status (-1 when it did not exit), its output in out.
inline int RunCommand(const std::string& command, std::string& out) {
  FILE* p = popen(command.c_str(), "r");
  if (!p) return -1;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  const int status = pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A session of random presses of both buttons over mines' field, a wait after each (from
// minWait, up to waitSpread more), N (a new game) every 40 moves and Q (save and quit) at
// the end; after(move) may add lines after a move's wait.
inline std::string RandomSession(uint32_t seed, int moves, uint32_t minWait, uint32_t waitSpread,
                                 const std::function<std::string(int)>& after = {}) {
  std::mt19937 random(seed);
  std::string script;
  for (int move = 0; move < moves; ++move) {
    const int x = 30 + int(random() % 580), y = 60 + int(random() % 400);
    const int button = random() % 4 == 0 ? 2 : 1;
    const std::string pos = std::to_string(x | y << 16);
    script += "12 " + std::to_string(button) + " " + std::to_string(button) + " " + pos + "\n";
    script += "13 " + std::to_string(button) + " 0 " + pos + "\n";
    script += "wait " + std::to_string(minWait + random() % waitSpread) + "\n";
    if (after) script += after(move);
    if (move % 40 == 39) script += "12 0x4E 1 0\n13 0x4E 1 0\n";
  }
  return script + "12 0x51 1 0\n13 0x51 1 0\n";
}

// Runs orvo-headless on a game folder with a data folder and an event script.
inline Outcome RunHeadless(const fs::path& game, const fs::path& data, const std::string& script,
                       const std::map<std::string, uint32_t>& symbols,
                       const fs::path& workFolder, const std::string& options = "") {
  const fs::path events = data / "events.txt";
  const fs::path dump = data / "memory.bin";
  std::ofstream(events) << script;
  fs::remove(dump);
  const std::string cmd = "cd '" + workFolder.string() + "' && '" + ORVO_HEADLESS + "' --data '" +
                          data.string() + "' --events '" + events.string() + "' --dump-memory '" +
                          dump.string() + "' " + options + " '" + game.string() + "' 2>&1";
  Outcome r;
  r.symbols = &symbols;
  r.exitCode = RunCommand(cmd, r.out);
  const std::string mem = ReadFile(dump);
  r.memory.assign(mem.begin(), mem.end());
  return r;
}

// The key = value lines of one section of a settings file, values as written.
inline std::map<std::string, std::string> Section(const std::string& file, const std::string& name) {
  std::map<std::string, std::string> out;
  std::istringstream lines(file);
  std::string line;
  bool inside = false;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      const size_t eq = line.find('='), close = line.find(']');
      inside = eq != std::string::npos && close != std::string::npos &&
               line.substr(eq + 1, close - eq - 1) == name;
      continue;
    }
    const size_t eq = line.find('=');
    if (inside && eq != std::string::npos) {
      std::string value = line.substr(eq + 1);
      if (!value.empty() && value[0] == ' ') value.erase(0, 1);
      out[line.substr(0, eq)] = value;
    }
  }
  return out;
}

}  // namespace orvo::examples
