// Which font file stands for each family, weight and slant, with the parts of the style
// the engine must make up. orvo-pack writes it into the fonts the archive carries for the
// web build, which has no fontconfig to ask: there the list is the lookup.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "gfx/font_library.h"

namespace orvo::gfx {

// The list's name in the game's fonts folder.
inline constexpr const char* kFaceListName = "faces.txt";

struct FaceChoice {
  FontFamily family = FAMILY_TAHOMA;
  bool bold = false, italic = false;
  bool syntheticBold = false, syntheticItalic = false;
  std::string file;  // a name in the fonts folder
};

// One line per choice: "family bold italic synthetic-bold synthetic-italic file", the
// first five as numbers, the file name last so that it may hold spaces.
std::string FormatFaceList(const std::vector<FaceChoice>& choices);
// Lines that do not read as a choice are left out.
std::vector<FaceChoice> ParseFaceList(std::string_view text);

}  // namespace orvo::gfx
