// The web build's font engine: faces are font files the game carries, read whole and
// opened with stb_truetype; a size is the scale from font units to pixels.
#pragma once

#include <cstdint>
#include <vector>

#include "stb_truetype.h"

namespace orvo::gfx {

struct StbFace {
  std::vector<unsigned char> data;  // the whole font file; stb_truetype reads it in place
  stbtt_fontinfo info{};
  int references = 1;  // the styles that stand in with this face
  // From the font's post table, in font units.
  int underlinePosition = 0, underlineThickness = 0;
};

struct StbSize {
  float scale = 0;  // pixels per font unit: the em is the pixel height
};

struct StbEngine {};
struct StbFaceChoices;  // the game's face list, read when the library opens

using FontEngine = StbEngine*;
using FaceLookup = StbFaceChoices*;
using FaceHandle = StbFace*;
using SizeHandle = StbSize*;

}  // namespace orvo::gfx
