// The handles of the engine that opens and rasterises fonts: FreeType with fontconfig's
// lookups natively, stb_truetype over the fonts the game carries in the web build. The
// font library, the fonts and their glyphs hold only these.
#pragma once

#if defined(__EMSCRIPTEN__)
#include "gfx/web/stb_font_engine.h"
#else
#include <ft2build.h>
#include FT_FREETYPE_H
#include <fontconfig/fontconfig.h>

namespace orvo::gfx {
using FontEngine = FT_Library;
using FaceLookup = FcConfig*;
using FaceHandle = FT_Face;
using SizeHandle = FT_Size;
}  // namespace orvo::gfx
#endif
