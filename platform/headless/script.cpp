#include "platform/headless/script.h"

#include <cstdint>

namespace orvo::platform {

namespace {

std::vector<std::string_view> Tokens(std::string_view line) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
    if (i > start) out.push_back(line.substr(start, i - start));
  }
  return out;
}

bool ParseDuration(std::string_view token, uint32_t& ms) {
  int32_t v = 0;
  if (!ParseNumber(token, v) || v < 0) return false;
  ms = static_cast<uint32_t>(v);
  return true;
}

}  // namespace

bool ParseNumber(std::string_view token, int32_t& out) {
  bool negative = false;
  if (!token.empty() && (token[0] == '-' || token[0] == '+')) {
    negative = token[0] == '-';
    token.remove_prefix(1);
  }
  unsigned base = 10;
  if (token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X')) {
    base = 16;
    token.remove_prefix(2);
  }
  if (token.empty() || token.size() > 20) return false;
  uint64_t v = 0;
  for (char c : token) {
    unsigned digit;
    if (c >= '0' && c <= '9')
      digit = static_cast<unsigned>(c - '0');
    else if (base == 16 && c >= 'a' && c <= 'f')
      digit = static_cast<unsigned>(c - 'a' + 10);
    else if (base == 16 && c >= 'A' && c <= 'F')
      digit = static_cast<unsigned>(c - 'A' + 10);
    else
      return false;
    if (digit >= base) return false;
    v = v * base + digit;
    if (v > 0xFFFFFFFFull) return false;
  }
  const uint32_t bits = static_cast<uint32_t>(negative ? 0 - v : v);
  out = static_cast<int32_t>(bits);
  return true;
}

bool ParseScript(std::string_view text, std::vector<ScriptItem>& items, std::string& error) {
  unsigned lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (size_t hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
    std::vector<std::string_view> t = Tokens(line);
    if (t.empty()) continue;
    ScriptItem item;
    bool ok = false;
    if (t[0] == "wait") {
      item.kind = ScriptItem::WAIT;
      ok = t.size() == 2 && ParseDuration(t[1], item.waitMs);
    } else if (t[0] == "until") {
      item.kind = ScriptItem::UNTIL;
      ok = t.size() == 3 && ParseNumber(t[1], item.code) && ParseDuration(t[2], item.waitMs);
    } else if (t[0] == "shot") {
      item.kind = ScriptItem::SHOT;
      ok = t.size() == 2;
      if (ok) item.file = std::string(t[1]);
    } else if (t.size() <= 4) {
      ok = true;
      for (size_t i = 0; i < t.size() && ok; ++i) ok = ParseNumber(t[i], item.event[i]);
    }
    if (!ok) {
      error = "line " + std::to_string(lineNumber) + ": cannot read \"" + std::string(line) + "\"";
      return false;
    }
    items.push_back(item);
  }
  return true;
}

}  // namespace orvo::platform
