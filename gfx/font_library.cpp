#include "gfx/font_library.h"

namespace orvo::gfx {

namespace {

// Weights and slants at or beyond these count as a real bold or italic face.
constexpr int kBoldEnough = FC_WEIGHT_DEMIBOLD;

// Asks fontconfig for the best face of family at the weight and slant; fills face with the
// file it names, or leaves it empty.
void Lookup(FontLibrary& lib, FontFamily family, bool bold, bool italic, FontFace& face) {
  FcPattern* pattern = FcPatternCreate();
  if (!pattern) return;
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(FamilyName(family)));
  FcPatternAddInteger(pattern, FC_WEIGHT, FcWeightFromOpenType(bold ? 700 : 400));
  FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(lib.config, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(lib.config, pattern, &result);
  FcPatternDestroy(pattern);
  if (!match) return;

  FcChar8* file = nullptr;
  FcChar8* name = nullptr;
  int index = 0, weight = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN;
  if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) {
    FcPatternGetInteger(match, FC_INDEX, 0, &index);
    FcPatternGetInteger(match, FC_WEIGHT, 0, &weight);
    FcPatternGetInteger(match, FC_SLANT, 0, &slant);
    if (FcPatternGetString(match, FC_FAMILY, 0, &name) != FcResultMatch) name = nullptr;
    FT_Face ft = nullptr;
    const char* path = reinterpret_cast<const char*>(file);
    if (FT_New_Face(lib.ft, path, index, &ft) == 0) {
      if (FT_IS_SCALABLE(ft)) {
        face.face = ft;
        face.file = path;
        face.family = name ? reinterpret_cast<const char*>(name) : "";
        face.syntheticBold = bold && weight < kBoldEnough;
        // Oblique faces are real slanted faces too.
        face.syntheticItalic = italic && slant == FC_SLANT_ROMAN;
      } else {
        FT_Done_Face(ft);
      }
    }
  }
  FcPatternDestroy(match);
}

}  // namespace

FontLibrary::~FontLibrary() {
  CloseFontLibrary(*this);
}

bool OpenFontLibrary(FontLibrary& lib) {
  CloseFontLibrary(lib);
  if (FT_Init_FreeType(&lib.ft) != 0) {
    lib.ft = nullptr;
    return false;
  }
  lib.config = FcInitLoadConfigAndFonts();
  if (!lib.config) {
    CloseFontLibrary(lib);
    return false;
  }
  if (!lib.gameFonts.empty())
    FcConfigAppFontAddDir(lib.config, reinterpret_cast<const FcChar8*>(lib.gameFonts.c_str()));
  return true;
}

void CloseFontLibrary(FontLibrary& lib) {
  for (auto& family : lib.faces)
    for (auto& weight : family)
      for (FontFace& face : weight) {
        if (face.face) FT_Done_Face(face.face);
        face = FontFace{};
      }
  if (lib.config) FcConfigDestroy(lib.config);
  lib.config = nullptr;
  if (lib.ft) FT_Done_FreeType(lib.ft);
  lib.ft = nullptr;
}

const FontFace* ResolveFace(FontLibrary& lib, FontFamily family, bool bold, bool italic) {
  if (!lib.ft || !lib.config) return nullptr;
  FontFace& face = lib.faces[family][bold][italic];
  if (!face.resolved) {
    face.resolved = true;
    Lookup(lib, family, bold, italic, face);
    if (!face.face && (bold || italic)) {
      // The styled face would not open: make the style up from the family's plain face.
      const FontFace* plain = ResolveFace(lib, family, false, false);
      if (plain && plain->face && FT_Reference_Face(plain->face) == 0) {
        face.face = plain->face;
        face.file = plain->file;
        face.family = plain->family;
        face.syntheticBold = bold;
        face.syntheticItalic = italic;
      }
    }
  }
  return face.face ? &face : nullptr;
}

}  // namespace orvo::gfx
