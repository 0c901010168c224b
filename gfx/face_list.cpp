#include "gfx/face_list.h"

#include <charconv>

namespace orvo::gfx {

namespace {

// Reads one small number and the space after it.
bool Number(std::string_view& line, int limit, int& out) {
  const char* end = line.data() + line.size();
  auto [p, ec] = std::from_chars(line.data(), end, out);
  if (ec != std::errc() || out < 0 || out > limit || p == end || *p != ' ') return false;
  line.remove_prefix(static_cast<size_t>(p - line.data()) + 1);
  return true;
}

}  // namespace

std::string FormatFaceList(const std::vector<FaceChoice>& choices) {
  std::string text;
  for (const FaceChoice& c : choices) {
    for (int value : {static_cast<int>(c.family), int{c.bold}, int{c.italic}, int{c.syntheticBold},
                      int{c.syntheticItalic}})
      text += std::to_string(value) + ' ';
    text += c.file + '\n';
  }
  return text;
}

std::vector<FaceChoice> ParseFaceList(std::string_view text) {
  std::vector<FaceChoice> choices;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    int family = 0, bold = 0, italic = 0, synBold = 0, synItalic = 0;
    if (!Number(line, FAMILY_COUNT - 1, family) || !Number(line, 1, bold) ||
        !Number(line, 1, italic) || !Number(line, 1, synBold) || !Number(line, 1, synItalic) ||
        line.empty() || line.find('/') != std::string_view::npos)
      continue;
    choices.push_back({static_cast<FontFamily>(family), bold != 0, italic != 0, synBold != 0,
                       synItalic != 0, std::string(line)});
  }
  return choices;
}

}  // namespace orvo::gfx
