// Putting a laid-out line onto its destination through the text scratch surface.
#pragma once

#include <cstdint>
#include <span>

#include "gfx/font.h"
#include "gfx/text.h"

namespace orvo::gfx {

// Renders the glyphs (their total width with any italic widening is width) into the text
// surface over the block's background and blits the result onto the destination at the
// aligned position.
void ComposeText(Graphics& g, vm::Machine& m, const TextBlock& block, const Font& font,
                 std::span<const Glyph* const> glyphs, int64_t width);

}  // namespace orvo::gfx
