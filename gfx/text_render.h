// Pixel work on the started text scratch surface: glyph coverage, the underline, clearing
// and making the composited rectangle opaque.
#pragma once

#include <cstdint>
#include <span>

#include "gfx/font.h"
#include "gfx/surface.h"

namespace orvo::gfx {

// Blends the glyphs, one after another from pen position 0 on the line whose top is row 0,
// in colour (a colour word; its alpha is ignored) by their coverage: each channel becomes
// D * (255 - c) / 255 + colour * c / 255. With underline, the font's underline rows are
// drawn solid under the whole run. Pixels outside the slot's clip rectangle are left alone.
void RenderGlyphRun(const Slot& s, const Font& font, std::span<const Glyph* const> glyphs,
                    uint32_t colour, bool underline);

// Sets the rectangle (0, 0, width, height), cut to the surface, to transparent black.
void ClearArea(const Slot& s, int64_t width, int64_t height);
// Sets the alpha of every pixel of (0, 0, width, height), cut to the surface, to 255.
void MakeOpaque(const Slot& s, int64_t width, int64_t height);

}  // namespace orvo::gfx
