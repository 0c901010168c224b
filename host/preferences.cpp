#include "host/preferences.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "host/key_names.h"
#include "platform/window.h"

namespace orvo::host {
namespace {

using nlohmann::json;

constexpr const char* kGames = "games";

// The controls' names in the file, in PadControl order.
constexpr const char* kPadNames[platform::PAD_CONTROL_COUNT] = {
    "a",  "b",    "x",    "y",    "back", "start", "left shoulder", "right shoulder",
    "up", "down", "left", "right"};

std::string ReadAll(const std::string& path, bool& exists) {
  std::ifstream in(path, std::ios::binary);
  exists = static_cast<bool>(in);
  std::stringstream s;
  if (in) s << in.rdbuf();
  return s.str();
}

// Reads the whole file as a JSON object; false when there is a file and it is not one.
bool ReadObject(const std::string& path, json& out, bool& exists) {
  const std::string text = ReadAll(path, exists);
  out = json::object();
  if (!exists) return true;
  json parsed = json::parse(text, nullptr, false);
  if (parsed.is_discarded() || !parsed.is_object()) return false;
  out = std::move(parsed);
  return true;
}

// Each reader takes the value if it is of the right kind and says so.
bool ReadBool(const json& section, const char* name, bool& out) {
  const auto it = section.find(name);
  if (it == section.end()) return true;
  if (!it->is_boolean()) return false;
  out = it->get<bool>();
  return true;
}

bool ReadScale(const json& section, int32_t& out) {
  const auto it = section.find("scale");
  if (it == section.end()) return true;
  if (it->is_string() && it->get<std::string>() == "fit") {
    out = platform::SCALE_FIT;
    return true;
  }
  if (!it->is_number_integer()) return false;
  const int64_t v = it->get<int64_t>();
  if (v < 1 || v > MAX_SCALE) return false;
  out = static_cast<int32_t>(v);
  return true;
}

bool ReadVolume(const json& section, int32_t& out) {
  const auto it = section.find("volume");
  if (it == section.end()) return true;
  if (!it->is_number_integer()) return false;
  const int64_t v = it->get<int64_t>();
  if (v < 0 || v > 100) return false;
  out = static_cast<int32_t>(v);
  return true;
}

bool ReadKey(const json& object, const char* name, uint32_t& out) {
  const auto it = object.find(name);
  if (it == object.end()) return true;
  if (!it->is_string()) return false;
  const auto key = KeyFromName(it->get<std::string>());
  if (!key) return false;
  out = *key;
  return true;
}

bool ReadPad(const json& section, platform::PadMapping& out) {
  const auto it = section.find("pad");
  if (it == section.end()) return true;
  if (!it->is_object()) return false;
  bool ok = true;
  for (int c = 0; c < platform::PAD_CONTROL_COUNT; ++c)
    ok &= ReadKey(*it, kPadNames[c], out.keys[c]);
  return ok;
}

// Writes text to a new file in path's folder and renames it over path.
bool WriteAtomically(const std::string& path, const std::string& text, std::string& problem) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::create_directories(fs::path(path).parent_path(), ec);
  std::string temporary = path + ".XXXXXX";
  const int fd = mkstemp(temporary.data());
  if (fd < 0) {
    problem = std::strerror(errno);
    return false;
  }
  size_t done = 0;
  bool ok = true;
  while (ok && done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  ok = ok && fsync(fd) == 0;
  if (!ok) problem = std::strerror(errno);
  if (close(fd) != 0 && ok) {
    ok = false;
    problem = std::strerror(errno);
  }
  if (ok && std::rename(temporary.c_str(), path.c_str()) != 0) {
    ok = false;
    problem = std::strerror(errno);
  }
  if (!ok) unlink(temporary.c_str());
  return ok;
}

}  // namespace

platform::PadMapping Preferences::DefaultPadMapping() {
  platform::PadMapping m;
  m.keys[platform::PAD_A] = VK_RETURN;
  m.keys[platform::PAD_B] = VK_ESCAPE;
  m.keys[platform::PAD_X] = VK_SPACE;
  m.keys[platform::PAD_Y] = 'N';
  m.keys[platform::PAD_BACK] = VK_TAB;
  m.keys[platform::PAD_START] = 'P';
  m.keys[platform::PAD_LEFT_SHOULDER] = VK_PRIOR;
  m.keys[platform::PAD_RIGHT_SHOULDER] = VK_NEXT;
  m.keys[platform::PAD_UP] = VK_UP;
  m.keys[platform::PAD_DOWN] = VK_DOWN;
  m.keys[platform::PAD_LEFT] = VK_LEFT;
  m.keys[platform::PAD_RIGHT] = VK_RIGHT;
  return m;
}

std::string PreferencesPath(const char* xdgConfigHome, const char* home) {
  // As the base directory rules say: a relative XDG_CONFIG_HOME is ignored.
  if (xdgConfigHome && xdgConfigHome[0] == '/')
    return std::string(xdgConfigHome) + "/orvo/preferences.json";
  if (home && *home) return std::string(home) + "/.config/orvo/preferences.json";
  return "";
}

Preferences LoadPreferences(const std::string& path, const std::string& game,
                            std::string& warning) {
  Preferences p;
  warning.clear();
  if (path.empty()) return p;
  json all;
  bool exists = false;
  if (!ReadObject(path, all, exists)) {
    warning =
        "orvo: " + path + " is not a preferences file (not a JSON object); using the defaults";
    return p;
  }
  const auto games = all.find(kGames);
  if (games == all.end()) return p;
  const auto section = games->is_object() ? games->find(game) : games->end();
  if (section == games->end() || !games->is_object()) {
    if (!games->is_object())
      warning = "orvo: " + path + ": \"games\" is not an object; using the defaults";
    return p;
  }
  if (!section->is_object()) {
    warning =
        "orvo: " + path + ": the section of " + game + " is not an object; using the defaults";
    return p;
  }
  const json& s = *section;
  std::string wrong;
  auto check = [&](bool ok, const char* name) {
    if (!ok) wrong += (wrong.empty() ? "\"" : ", \"") + std::string(name) + "\"";
  };
  check(ReadBool(s, "fullscreen", p.fullscreen), "fullscreen");
  check(ReadScale(s, p.scale), "scale");
  check(ReadBool(s, "sound", p.sound), "sound");
  check(ReadVolume(s, p.volume), "volume");
  check(ReadKey(s, "screenshot key", p.screenshotKey), "screenshot key");
  check(ReadKey(s, "gif key", p.gifKey), "gif key");
  platform::PadMapping pad = p.pad;
  const bool padOk = ReadPad(s, pad);
  check(padOk, "pad");
  if (padOk) p.pad = pad;
  if (!wrong.empty())
    warning = "orvo: " + path + ": " + game + ": " + wrong +
              " cannot be used; the defaults stand for them";
  return p;
}

bool SavePreferences(const std::string& path, const std::string& game, const Preferences& p,
                     std::string& problem) {
  if (path.empty()) {
    problem = "no home folder";
    return false;
  }
  json all;
  bool exists = false;
  // A file that is not JSON is replaced: it held nothing this runtime could keep.
  if (!ReadObject(path, all, exists)) all = json::object();
  if (!all[kGames].is_object()) all[kGames] = json::object();
  json& s = all[kGames][game];
  if (!s.is_object()) s = json::object();
  s["fullscreen"] = p.fullscreen;
  if (p.scale == platform::SCALE_FIT)
    s["scale"] = "fit";
  else
    s["scale"] = p.scale;
  s["sound"] = p.sound;
  s["volume"] = p.volume;
  s["screenshot key"] = KeyName(p.screenshotKey);
  s["gif key"] = KeyName(p.gifKey);
  json pad = json::object();
  for (int c = 0; c < platform::PAD_CONTROL_COUNT; ++c) pad[kPadNames[c]] = KeyName(p.pad.keys[c]);
  s["pad"] = pad;
  const std::string text = all.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
  return WriteAtomically(path, text, problem);
}

}  // namespace orvo::host
