// Positions in a text: byte offsets against the protocol's line and character, where a
// character counts UTF-16 code units. A byte that is no valid UTF-8 counts as one unit.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace orvo::lsp {

struct Position {
  uint32_t line = 0;
  uint32_t character = 0;
};

class LineIndex {
 public:
  LineIndex() = default;
  explicit LineIndex(std::string_view text);

  Position At(size_t offset) const;
  // The offset of a position; one beyond the text is clamped to its line or its end.
  size_t OffsetOf(Position p) const;
  size_t lines() const { return starts_.size(); }
  size_t LineStart(size_t line) const { return starts_[line]; }
  // The line's bytes without its line end.
  std::string_view Line(size_t line) const;

 private:
  std::string_view text_;
  std::vector<size_t> starts_{0};
};

}  // namespace orvo::lsp
