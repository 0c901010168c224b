#include "host/key_names.h"

#include <cctype>
#include <charconv>

namespace orvo::host {
namespace {

struct Named {
  uint32_t vk;
  const char* name;
};

constexpr Named kNamed[] = {
    {0x08, "Backspace"}, {VK_TAB, "Tab"},      {VK_RETURN, "Enter"},  {VK_ESCAPE, "Escape"},
    {VK_SPACE, "Space"}, {VK_PRIOR, "PageUp"}, {VK_NEXT, "PageDown"}, {VK_END, "End"},
    {0x24, "Home"},      {VK_LEFT, "Left"},    {VK_UP, "Up"},         {VK_RIGHT, "Right"},
    {VK_DOWN, "Down"},   {0x2D, "Insert"},     {0x2E, "Delete"},  {0x13, "Pause"},
    {0x2C, "PrintScreen"}, {0x91, "ScrollLock"},
};
constexpr uint32_t VK_F1 = 0x70;

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

}  // namespace

std::string KeyName(uint32_t vk) {
  if (vk == 0) return "none";
  if ((vk >= 'A' && vk <= 'Z') || (vk >= '0' && vk <= '9')) return std::string(1, char(vk));
  if (vk >= VK_F1 && vk < VK_F1 + 24) return "F" + std::to_string(vk - VK_F1 + 1);
  for (const Named& n : kNamed) {
    if (n.vk == vk) return n.name;
  }
  static constexpr char kHex[] = "0123456789ABCDEF";
  return std::string("0x") + kHex[(vk >> 4) & 15] + kHex[vk & 15];
}

std::optional<uint32_t> KeyFromName(std::string_view name) {
  if (SameText(name, "none")) return 0;
  if (name.size() == 1) {
    const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
    if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return static_cast<uint32_t>(c);
  }
  if (name.size() >= 2 && (name[0] == 'F' || name[0] == 'f') && name[1] != '0') {
    uint32_t n = 0;
    const auto [end, ec] = std::from_chars(name.data() + 1, name.data() + name.size(), n);
    if (ec == std::errc() && end == name.data() + name.size() && n >= 1 && n <= 24)
      return VK_F1 + n - 1;
  }
  if (name.size() > 2 && name[0] == '0' && (name[1] == 'x' || name[1] == 'X')) {
    uint32_t v = 0;
    const auto [end, ec] = std::from_chars(name.data() + 2, name.data() + name.size(), v, 16);
    if (ec == std::errc() && end == name.data() + name.size() && v >= 1 && v <= 0xFE) return v;
  }
  for (const Named& n : kNamed) {
    if (SameText(name, n.name)) return n.vk;
  }
  return std::nullopt;
}

}  // namespace orvo::host
