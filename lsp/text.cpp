#include "text.h"

namespace orvo::lsp {

namespace {

// Length of the UTF-8 sequence at text[i] and the UTF-16 units it takes.
size_t Sequence(std::string_view text, size_t i, uint32_t& units) {
  unsigned char c = static_cast<unsigned char>(text[i]);
  size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
  if (len == 0 || i + len > text.size()) {
    units = 1;
    return 1;
  }
  for (size_t k = 1; k < len; ++k)
    if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
      units = 1;
      return 1;
    }
  units = len == 4 ? 2 : 1;
  return len;
}

}  // namespace

LineIndex::LineIndex(std::string_view text) : text_(text) {
  // Line ends as editors count them: LF, CR LF and a lone CR.
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      starts_.push_back(i + 1);
    } else if (text[i] == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      starts_.push_back(i + 1);
    }
  }
}

std::string_view LineIndex::Line(size_t line) const {
  if (line >= starts_.size()) return {};
  size_t from = starts_[line];
  size_t to = line + 1 < starts_.size() ? starts_[line + 1] : text_.size();
  while (to > from && (text_[to - 1] == '\n' || text_[to - 1] == '\r')) --to;
  return text_.substr(from, to - from);
}

Position LineIndex::At(size_t offset) const {
  if (offset > text_.size()) offset = text_.size();
  size_t lo = 0, hi = starts_.size();
  while (hi - lo > 1) {
    size_t mid = (lo + hi) / 2;
    (starts_[mid] <= offset ? lo : hi) = mid;
  }
  Position p{static_cast<uint32_t>(lo), 0};
  for (size_t i = starts_[lo]; i < offset;) {
    uint32_t units;
    i += Sequence(text_, i, units);
    p.character += units;
  }
  return p;
}

size_t LineIndex::OffsetOf(Position p) const {
  if (p.line >= starts_.size()) return text_.size();
  std::string_view line = Line(p.line);
  size_t base = starts_[p.line];
  uint32_t seen = 0;
  size_t i = 0;
  while (i < line.size() && seen < p.character) {
    uint32_t units;
    i += Sequence(line, i, units);
    seen += units;
  }
  return base + i;
}

}  // namespace orvo::lsp
