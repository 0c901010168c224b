#include <algorithm>

#include "gfx/font_cache.h"
#include "gfx/text.h"
#include "gfx/text_compose.h"
#include "gfx/text_layout.h"
#include "gfx/text_utf8.h"
#include "vm/request.h"
#include "vm/sys.h"

namespace orvo::gfx {

namespace {

// Both halves of the result are 16 bits wide.
constexpr size_t kMaxResultBytes = 0xFFFF;
constexpr int64_t kMaxResultWidth = 0xFFFF;

// Decodes the text into the wide buffer, growing it when it is too small; returns the
// number of characters.
size_t Decode(TextState& t, std::string_view text) {
  // A character takes at least one byte, so the byte length (and a terminator) is enough.
  const size_t needed = text.size() + 1;
  if (needed > t.wideCapacity) {
    t.wideCapacity = needed + TEXT_WIDE_SLACK;
    t.wide = std::make_unique<char32_t[]>(t.wideCapacity);
  }
  size_t n = 0;
  for (size_t i = 0; i < text.size();) i = Utf8Next(text, i, t.wide[n++]);
  t.wide[n] = 0;
  return n;
}

uint32_t Result(size_t bytes, int64_t width) {
  const auto w = static_cast<uint32_t>(std::clamp<int64_t>(width, 0, kMaxResultWidth));
  return static_cast<uint32_t>(bytes) | (w << 16);
}

}  // namespace

uint32_t DrawText(TextState& t, Graphics& g, vm::Machine& m, const TextBlock& block,
                  std::string_view text) {
  if (block.boxWidth == 0 || block.lineHeight == 0 || text.empty() || !t.running) return 0;
  const size_t n = Decode(t, text);
  Font* font = LookupFont(t.cache, t.fonts, block.lineHeight, block.style & TEXT_STYLE_KEY);
  if (!font) return 0;

  t.advances.resize(n);
  t.glyphs.resize(n);
  int64_t total = 0;
  for (size_t i = 0; i < n; ++i) {
    t.glyphs[i] = &GetGlyph(*font, t.wide[i]);
    t.advances[i] = t.glyphs[i]->advance;
    total += t.advances[i];
  }
  size_t drawn = n;
  if (total > block.boxWidth)
    drawn = static_cast<size_t>(FitLine(t.advances, std::span<const char32_t>(t.wide.get(), n),
                                        block.boxWidth, block.style));
  // The byte count must fit its half of the result: a longer line is drawn in parts.
  size_t bytes = Utf8Offset(text, drawn);
  if (bytes > kMaxResultBytes) {
    drawn = 0;
    for (size_t i = 0; i < text.size();) {
      char32_t c;
      const size_t next = Utf8Next(text, i, c);
      if (next > kMaxResultBytes) break;
      i = next, bytes = next, ++drawn;
    }
  }
  if (drawn == 0) return 0;

  int64_t width = Advance(t.advances, drawn);
  if (block.style & TEXT_ITALIC) width += block.lineHeight / 6;
  if (!(block.style & TEXT_MEASURE))
    ComposeText(g, m, block, *font, std::span<const Glyph* const>(t.glyphs.data(), drawn), width);
  return Result(bytes, width);
}

void TextSys(TextState& t, Graphics& g, vm::Machine& m, uint32_t args) {
  uint32_t a[TEXT_BLOCK_BYTES / 4];
  if (!vm::RequestWords(m, args, TEXT_BLOCK_BYTES / 4, a)) return;
  auto word = [&a](int i) { return a[i]; };
  TextBlock block;
  block.surface = static_cast<int32_t>(word(0));
  block.text = word(1);
  block.x = static_cast<int32_t>(word(2));
  block.y = static_cast<int32_t>(word(3));
  block.boxWidth = static_cast<int32_t>(word(4));
  block.lineHeight = static_cast<int32_t>(word(5));
  block.style = word(6);
  block.background = word(7);
  block.colour = word(8);
  std::string_view text;
  if (block.boxWidth != 0 && block.lineHeight != 0 && !vm::RequestString(m, block.text, text))
    return;
  vm::SetResult(m, DrawText(t, g, m, block, text));
}

}  // namespace orvo::gfx
