// The font library of the web build: the game's face list (face_list.h) names the file
// of each family and style; a file is read and opened with stb_truetype once.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "gfx/face_list.h"
#include "gfx/font_library.h"

namespace orvo::gfx {

struct StbFaceChoices {
  std::vector<FaceChoice> choices;
};

namespace {

StbEngine theEngine;  // stateless: it only marks the library open

uint16_t Be16(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

// The underline's place and thickness from the post table; FreeType reads the same.
void ReadUnderline(StbFace& face) {
  const int offset = stbtt_GetFontOffsetForIndex(face.data.data(), 0);
  const size_t size = face.data.size();
  if (offset < 0 || size < static_cast<size_t>(offset) + 12) return;
  const unsigned char* font = face.data.data() + offset;
  const uint16_t tables = Be16(font + 4);
  for (uint16_t i = 0; i < tables; ++i) {
    const size_t entry = static_cast<size_t>(offset) + 12 + size_t{i} * 16;
    if (entry + 16 > size) return;
    const unsigned char* e = face.data.data() + entry;
    if (e[0] != 'p' || e[1] != 'o' || e[2] != 's' || e[3] != 't') continue;
    const size_t at = size_t{Be16(e + 8)} << 16 | Be16(e + 10);
    if (at + 12 > size) return;
    face.underlinePosition = static_cast<int16_t>(Be16(face.data.data() + at + 8));
    face.underlineThickness = static_cast<int16_t>(Be16(face.data.data() + at + 10));
    return;
  }
}

StbFace* OpenFace(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return nullptr;
  auto face = new StbFace;
  face->data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  const int offset = face->data.empty() ? -1 : stbtt_GetFontOffsetForIndex(face->data.data(), 0);
  if (offset < 0 || !stbtt_InitFont(&face->info, face->data.data(), offset)) {
    delete face;
    return nullptr;
  }
  ReadUnderline(*face);
  return face;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char x, char y) { return lower(x) == lower(y); });
}

// A file of the game's fonts folder (named without its final '/'). The name is matched
// without regard to case, as the game's files are: the archive hands its files out under
// their folded names.
std::string InFonts(const FontLibrary& lib, const std::string& name) {
  std::error_code error;
  for (std::filesystem::directory_iterator it(lib.gameFonts, error), end; !error && it != end;
       it.increment(error))
    if (SameIgnoringCase(it->path().filename().string(), name)) return it->path().string();
  return lib.gameFonts + "/" + name;
}

void Release(StbFace* face) {
  if (face && --face->references == 0) delete face;
}

}  // namespace

FontLibrary::~FontLibrary() {
  CloseFontLibrary(*this);
}

bool OpenFontLibrary(FontLibrary& lib) {
  CloseFontLibrary(lib);
  lib.ft = &theEngine;
  lib.config = new StbFaceChoices;
  if (lib.gameFonts.empty()) return true;
  std::ifstream in(InFonts(lib, kFaceListName), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  lib.config->choices = ParseFaceList(text.str());
  return true;
}

void CloseFontLibrary(FontLibrary& lib) {
  for (auto& family : lib.faces)
    for (auto& weight : family)
      for (FontFace& face : weight) {
        Release(face.face);
        face = FontFace{};
      }
  delete lib.config;
  lib.config = nullptr;
  lib.ft = nullptr;
}

const FontFace* ResolveFace(FontLibrary& lib, FontFamily family, bool bold, bool italic) {
  if (!lib.ft || !lib.config) return nullptr;
  FontFace& face = lib.faces[family][bold][italic];
  if (face.resolved) return face.face ? &face : nullptr;
  face.resolved = true;
  for (const FaceChoice& choice : lib.config->choices) {
    if (choice.family != family || choice.bold != bold || choice.italic != italic) continue;
    const std::string path = InFonts(lib, choice.file);
    // Styles that share a file share its face.
    for (auto& f : lib.faces)
      for (auto& w : f)
        for (FontFace& other : w)
          if (!face.face && other.face && other.file == path) {
            face.face = other.face;
            ++face.face->references;
          }
    if (!face.face) face.face = OpenFace(path);
    if (face.face) {
      face.file = path;
      face.family = FamilyName(family);
      face.syntheticBold = choice.syntheticBold;
      face.syntheticItalic = choice.syntheticItalic;
    }
    break;
  }
  if (!face.face && (bold || italic)) {
    // No file for the style: it is made up from the family's plain face.
    const FontFace* plain = ResolveFace(lib, family, false, false);
    if (plain) {
      face.face = plain->face;
      ++face.face->references;
      face.file = plain->file;
      face.family = plain->family;
      face.syntheticBold = bold;
      face.syntheticItalic = italic;
    }
  }
  return face.face ? &face : nullptr;
}

}  // namespace orvo::gfx
