// The rasterised glyphs of one font, kept so that drawing the same characters again only
// copies coverage. Glyphs stay at fixed addresses until the font is deleted.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <unordered_map>
#include <vector>

namespace orvo::gfx {

// One character's coverage bitmap (0 = none, 255 = full), placed relative to the pen: the
// bitmap's top-left pixel is at (pen + left, line top + top).
struct Glyph {
  int32_t advance = 0;  // whole pixels
  int32_t left = 0, top = 0;
  int32_t width = 0, rows = 0;
  std::vector<uint8_t> coverage;  // rows x width, top row first
};

class GlyphCache {
 public:
  GlyphCache() { ascii_.fill(-1); }
  const Glyph* Find(char32_t c) const {
    int32_t i = -1;
    if (c < ascii_.size()) {
      i = ascii_[c];
    } else {
      auto it = others_.find(c);
      if (it != others_.end()) i = it->second;
    }
    return i < 0 ? nullptr : &glyphs_[static_cast<size_t>(i)];
  }
  Glyph& Add(char32_t c, Glyph&& glyph) {
    const auto i = static_cast<int32_t>(glyphs_.size());
    glyphs_.push_back(std::move(glyph));
    if (c < ascii_.size())
      ascii_[c] = i;
    else
      others_[c] = i;
    return glyphs_.back();
  }
  size_t Size() const { return glyphs_.size(); }

 private:
  std::deque<Glyph> glyphs_;
  std::array<int32_t, 128> ascii_;
  std::unordered_map<char32_t, int32_t> others_;
};

}  // namespace orvo::gfx
