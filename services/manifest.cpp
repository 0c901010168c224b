#include "services/manifest.h"

#include <nlohmann/json.hpp>

namespace orvo::services {

namespace {

constexpr size_t kMaxName = 64;
constexpr size_t kMaxText = 256;

bool TextField(const nlohmann::json& object, const char* key, std::string& out,
               std::string& problem) {
  auto it = object.find(key);
  if (it == object.end()) return true;
  if (!it->is_string() || it->get_ref<const std::string&>().size() > kMaxText) {
    problem = std::string("\"") + key + "\" is not a text of at most 256 bytes";
    return false;
  }
  out = it->get<std::string>();
  return true;
}

}  // namespace

bool ValidGameName(std::string_view name) {
  if (name.empty() || name.size() > kMaxName || name[0] == '.' || name[0] == ' ') return false;
  for (char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == ' ' || c == '.' || c == '-' || c == '_';
    if (!ok) return false;
  }
  return true;
}

bool ParseManifest(std::string_view text, Manifest& out, std::string& problem) {
  out = Manifest{};
  const nlohmann::json doc = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
  if (doc.is_discarded() || !doc.is_object()) {
    problem = "it is not a JSON object";
    return false;
  }
  if (!TextField(doc, "name", out.name, problem) || !TextField(doc, "title", out.title, problem) ||
      !TextField(doc, "icon", out.icon, problem))
    return false;
  if (!ValidGameName(out.name)) {
    problem = "its \"name\" is missing or not a folder name (letters, digits, space, '.', '-', '_')";
    return false;
  }
  if (out.title.empty()) out.title = out.name;
  return true;
}

std::string WriteManifest(const Manifest& m) {
  nlohmann::json doc = {{"name", m.name}, {"title", m.title}};
  if (!m.icon.empty()) doc["icon"] = m.icon;
  return doc.dump(2) + "\n";
}

}  // namespace orvo::services
