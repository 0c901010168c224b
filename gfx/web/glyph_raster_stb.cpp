// Glyphs of the web build, rasterised by stb_truetype without hinting. A style the face
// lacks is made up as FreeType makes it: italic by slanting the outline, bold by
// widening the coverage by a 24th of the em.
#include <algorithm>
#include <cmath>

#include "gfx/glyph_raster.h"

namespace orvo::gfx {

namespace {

// FreeType's slant for a synthetic italic (0x0366A in 16.16).
constexpr float kObliqueSlant = 0x0366A / 65536.0f;
// The rasteriser's flatness, as stb_truetype's own bitmap functions use it.
constexpr float kFlatness = 0.35f;

int GlyphIndex(const Font& font, char32_t c) {
  return stbtt_FindGlyphIndex(&font.face->face->info, static_cast<int>(c));
}

int32_t BoldStrength(const Font& font) {
  return font.face->syntheticBold ? std::max(1, font.pixelHeight / 24) : 0;
}

}  // namespace

int32_t LoadGlyphOutline(Font& font, char32_t c) {
  int advance = 0, bearing = 0;
  stbtt_GetGlyphHMetrics(&font.face->face->info, GlyphIndex(font, c), &advance, &bearing);
  return std::max(0, static_cast<int32_t>(std::lround(advance * font.size->scale)) +
                         BoldStrength(font));
}

Glyph RasteriseGlyph(Font& font, char32_t c) {
  Glyph glyph;
  glyph.advance = LoadGlyphOutline(font, c);
  const stbtt_fontinfo& info = font.face->face->info;
  stbtt_vertex* vertices = nullptr;
  const int count = stbtt_GetGlyphShape(&info, GlyphIndex(font, c), &vertices);
  if (count <= 0) {
    stbtt_FreeShape(&info, vertices);
    return glyph;
  }
  ++font.library->counters.glyphsRasterised;
  // The outline's box in pixels, y downwards, after any slant.
  const float scale = font.size->scale;
  const float slant = font.face->syntheticItalic ? kObliqueSlant : 0.0f;
  float minX = 1e30f, maxX = -1e30f, minY = 1e30f, maxY = -1e30f;
  for (int i = 0; i < count; ++i) {
    stbtt_vertex& v = vertices[i];
    if (slant != 0.0f) {
      v.x = static_cast<stbtt_vertex_type>(std::lround(v.x + slant * v.y));
      v.cx = static_cast<stbtt_vertex_type>(std::lround(v.cx + slant * v.cy));
      v.cx1 = static_cast<stbtt_vertex_type>(std::lround(v.cx1 + slant * v.cy1));
    }
    minX = std::min(minX, float(v.x));
    maxX = std::max(maxX, float(v.x));
    minY = std::min(minY, float(v.y));
    maxY = std::max(maxY, float(v.y));
  }
  const int x0 = static_cast<int>(std::floor(minX * scale));
  const int x1 = static_cast<int>(std::ceil(maxX * scale));
  const int y0 = static_cast<int>(std::floor(-maxY * scale));
  const int y1 = static_cast<int>(std::ceil(-minY * scale));
  const int bold = BoldStrength(font);
  const int width = x1 - x0, rows = y1 - y0;
  if (width <= 0 || rows <= 0) {
    stbtt_FreeShape(&info, vertices);
    return glyph;
  }
  std::vector<uint8_t> coverage(static_cast<size_t>(width) * static_cast<size_t>(rows));
  stbtt__bitmap bitmap{width, rows, width, coverage.data()};
  stbtt_Rasterize(&bitmap, kFlatness, vertices, count, scale, scale, 0, 0, x0, y0, 1, info.userdata);
  stbtt_FreeShape(&info, vertices);

  // Rows of the bitmap's top within the line; keep only the rows that can be seen.
  const int64_t top = int64_t{font.ascender} + y0;
  const int64_t first = std::max<int64_t>(0, -top);
  int64_t last = rows;
  if (font.library->visibleRows > 0)
    last = std::min<int64_t>(last, int64_t{font.library->visibleRows} - top);
  if (last <= first) return glyph;
  glyph.left = x0;
  glyph.top = static_cast<int32_t>(top + first);
  glyph.width = width + bold;
  glyph.rows = static_cast<int32_t>(last - first);
  glyph.coverage.assign(static_cast<size_t>(glyph.rows) * static_cast<size_t>(glyph.width), 0);
  for (int64_t r = first; r < last; ++r) {
    const uint8_t* from = &coverage[static_cast<size_t>(r) * static_cast<size_t>(width)];
    uint8_t* to = &glyph.coverage[static_cast<size_t>(r - first) * static_cast<size_t>(glyph.width)];
    // Widened to the right by the bold strength: each pixel the most of those it covers.
    for (int x = 0; x < width; ++x)
      for (int s = 0; s <= bold; ++s) to[x + s] = std::max(to[x + s], from[x]);
  }
  return glyph;
}

}  // namespace orvo::gfx
