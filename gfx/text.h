// Drawing one line of UTF-8 text from VM memory into a surface (row 16 of the graphics
// group). Text is laid out with the fonts of the FontCache, rendered into the text scratch
// surface and composited onto the destination with the blit.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "gfx/font_cache.h"
#include "gfx/font_library.h"
#include "gfx/surface.h"
#include "vm/machine.h"

namespace orvo::gfx {

// The argument words of the draw-text command, in order.
struct TextBlock {
  int32_t surface = 0;
  uint32_t text = 0;  // VM address of NUL-terminated UTF-8
  int32_t x = 0, y = 0;
  int32_t boxWidth = 0, lineHeight = 0;
  uint32_t style = 0;
  uint32_t background = 0;  // colour word; opaque when its alpha is 255
  uint32_t colour = 0;      // colour word; its alpha is ignored
};
inline constexpr uint32_t TEXT_BLOCK_BYTES = 36;

// Everything the renderer keeps between requests. Created with the screen, shut down
// with it; the order of the members is the order of their release, fonts before faces.
struct TextState {
  FontLibrary fonts;
  FontCache cache;
  // The wide buffer: the request's text as characters. It only grows, with slack.
  std::unique_ptr<char32_t[]> wide;
  size_t wideCapacity = 0;
  // Per-character scratch of the current request.
  std::vector<int32_t> advances;
  std::vector<const Glyph*> glyphs;
  bool running = false;
};

inline constexpr size_t TEXT_WIDE_INITIAL = 2048;
inline constexpr size_t TEXT_WIDE_SLACK = 512;

// Starts FreeType and fontconfig, empties the cache and makes the wide buffer; the text
// scratch surface is g's (CreateScreen made it). False when the font libraries fail.
bool TextStartup(TextState& t, const Graphics& g);
// Deletes every font, closes the libraries and frees the buffer. Safe to call twice.
void TextShutdown(TextState& t);

// Draws (or measures) text as the block asks. Result: low 16 bits the number of bytes of
// the text the drawn part covers, high 16 bits its width in pixels; 0 when nothing was
// drawn.
uint32_t DrawText(TextState& t, Graphics& g, vm::Machine& m, const TextBlock& block,
                  std::string_view text);

// Row 16: args is the VM address of the text block. The block and the text are checked
// for their whole length; a bad address stops the program in order.
void TextSys(TextState& t, Graphics& g, vm::Machine& m, uint32_t args);

}  // namespace orvo::gfx
