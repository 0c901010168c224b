// Font resolution through fontconfig, font sizes, FitFont and the glyph cache, on the
// installed fonts.
#include "gfx/font.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "gfx/font_fit.h"
#include "gfx/font_library.h"

namespace orvo::gfx {
namespace {

class FontTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(OpenFontLibrary(lib)); }
  FontLibrary lib;
};

struct FamilyCase {
  uint32_t flag;
  std::string substitutes[2];
};

TEST_F(FontTest, FamiliesResolveToTheInstalledSubstitutesWithRealStyledFaces) {
  const FamilyCase cases[] = {{0, {"DejaVu Sans", "Liberation Sans"}},
                              {TEXT_COURIER, {"Liberation Mono", "Liberation Mono"}},
                              {TEXT_TIMES, {"Liberation Serif", "Liberation Serif"}},
                              {TEXT_COURIER | TEXT_TIMES, {"Liberation Mono", "Liberation Mono"}}};
  for (const FamilyCase& c : cases) {
    SCOPED_TRACE(c.substitutes[0]);
    const FontFamily family = FamilyOf(c.flag);
    const FontFace* plain = ResolveFace(lib, family, false, false);
    ASSERT_NE(plain, nullptr);
    EXPECT_TRUE(plain->family == c.substitutes[0] || plain->family == c.substitutes[1])
        << plain->family;
    EXPECT_EQ(plain->face->style_flags & (FT_STYLE_FLAG_BOLD | FT_STYLE_FLAG_ITALIC), 0);

    for (int style = 1; style < 4; ++style) {
      const bool bold = style & 1, italic = style & 2;
      const FontFace* f = ResolveFace(lib, family, bold, italic);
      ASSERT_NE(f, nullptr);
      EXPECT_EQ(f->family, plain->family);
      EXPECT_NE(f->file, plain->file);
      EXPECT_FALSE(f->syntheticBold);
      EXPECT_FALSE(f->syntheticItalic);
      EXPECT_EQ((f->face->style_flags & FT_STYLE_FLAG_BOLD) != 0, bold);
      EXPECT_EQ((f->face->style_flags & FT_STYLE_FLAG_ITALIC) != 0, italic);
      // Looked up once: the same face comes back.
      EXPECT_EQ(ResolveFace(lib, family, bold, italic), f);
    }
  }
}

TEST_F(FontTest, StylesAFamilyLacksAreSynthesised) {
  // A configuration that knows only one plain face.
  FcConfig* only = FcConfigCreate();
  ASSERT_TRUE(FcConfigAppFontAddFile(
      only, reinterpret_cast<const FcChar8*>(
                ResolveFace(lib, FAMILY_TIMES, false, false)->file.c_str())));
  FontLibrary narrow;
  ASSERT_TRUE(OpenFontLibrary(narrow));
  FcConfigDestroy(narrow.config);
  narrow.config = only;

  const FontFace* plain = ResolveFace(narrow, FAMILY_TIMES, false, false);
  const FontFace* boldItalic = ResolveFace(narrow, FAMILY_TIMES, true, true);
  ASSERT_NE(plain, nullptr);
  ASSERT_NE(boldItalic, nullptr);
  EXPECT_FALSE(plain->syntheticBold || plain->syntheticItalic);
  EXPECT_TRUE(boldItalic->syntheticBold);
  EXPECT_TRUE(boldItalic->syntheticItalic);
  EXPECT_EQ(boldItalic->file, plain->file);

  // Made-up bold is wider and darker; made-up italic leans: the top of an I moves right.
  auto regular = CreateFont(narrow, 30, TEXT_TIMES);
  auto heavy = CreateFont(narrow, 30, TEXT_TIMES | TEXT_BOLD);
  auto leaning = CreateFont(narrow, 30, TEXT_TIMES | TEXT_ITALIC);
  ASSERT_TRUE(regular && heavy && leaning);
  const Glyph& r = GetGlyph(*regular, U'I');
  const Glyph& b = GetGlyph(*heavy, U'I');
  const Glyph& i = GetGlyph(*leaning, U'I');
  auto ink = [](const Glyph& gl) {
    long sum = 0;
    for (uint8_t c : gl.coverage) sum += c;
    return sum;
  };
  EXPECT_GT(b.advance, r.advance);
  EXPECT_GT(ink(b), ink(r) * 11 / 10);
  EXPECT_GT(i.width, r.width + 3);
  auto firstInk = [](const Glyph& gl, int row) {
    for (int x = 0; x < gl.width; ++x)
      if (gl.coverage[static_cast<size_t>(row * gl.width + x)] > 128) return gl.left + x;
    return -1000;
  };
  EXPECT_GT(firstInk(i, 0), firstInk(i, i.rows - 1) + 3);
}

TEST_F(FontTest, PixelHeightIsPointsAtNinetySixDotsPerInch) {
  for (int32_t points : {4, 9, 10, 11, 12, 20, 36, 73}) {
    SCOPED_TRACE(points);
    auto font = CreateFont(lib, points, 0);
    ASSERT_TRUE(font);
    EXPECT_EQ(font->pixelHeight, points * 96 / 72);
    EXPECT_EQ(font->face->face->size->metrics.y_ppem, points * 96 / 72);
    EXPECT_GT(font->ascender, 0);
    EXPECT_LT(font->descender, 0);
    // Whole-pixel height of the face's ascender and descender at this size.
    const double scale = font->pixelHeight / double(font->face->face->units_per_EM);
    EXPECT_NEAR(font->Height(), (font->face->face->ascender - font->face->face->descender) * scale,
                2.0);
  }
  EXPECT_EQ(PixelHeight(10, 96), 13);
  EXPECT_EQ(PixelHeight(10, 120), 16);
}

TEST_F(FontTest, FitFontPicksTheLargestSizeBelowTheLineHeight) {
  const std::u32string_view sample(kFitSample);
  for (uint32_t style : {0u, TEXT_COURIER | TEXT_BOLD, TEXT_TIMES | TEXT_ITALIC}) {
    for (int32_t height : {14, 16, 20, 24, 31, 48, 90}) {
      SCOPED_TRACE(testing::Message() << "style " << style << " height " << height);
      auto font = FitFont(lib, sample, 2048, height, style);
      ASSERT_TRUE(font);
      EXPECT_LT(font->Height(), height);
      auto bigger = CreateFont(lib, font->points + 1, style);
      EXPECT_GE(bigger->Height(), height);
      EXPECT_EQ(font->style, style);
    }
  }
}

TEST_F(FontTest, FitFontSearchesDownToFourPointsAndObeysTheWidthLimit) {
  const std::u32string_view sample(kFitSample);
  // Nothing fits in 3 rows; the floor is used.
  EXPECT_EQ(FitFont(lib, sample, 2048, 3, 0)->points, FIT_MIN_POINTS);
  // Below the 9-point start the search goes downwards to the first fit.
  auto small = FitFont(lib, sample, 2048, 12, 0);
  EXPECT_LT(small->points, FIT_START_POINTS);
  EXPECT_LT(small->Height(), 12);
  EXPECT_GE(CreateFont(lib, small->points + 1, 0)->Height(), 12);
  // An empty sample never fits.
  EXPECT_EQ(FitFont(lib, {}, 2048, 500, 0)->points, FIT_MIN_POINTS);
  // A narrow width limit decides instead of the height.
  auto narrow = FitFont(lib, sample, 40, 1000, 0);
  EXPECT_LT(MeasureText(*narrow, sample).width, 40);
  EXPECT_GE(MeasureText(*CreateFont(lib, narrow->points + 1, 0), sample).width, 40);
}

TEST_F(FontTest, GlyphsAreRasterisedOnceAndMeasuringDoesNotRasterise) {
  auto font = CreateFont(lib, 20, 0);
  ASSERT_TRUE(font);
  const uint64_t before = lib.counters.glyphsRasterised;
  EXPECT_GT(MeasureText(*font, U"Hello").width, 0);
  EXPECT_EQ(lib.counters.glyphsRasterised, before);
  EXPECT_EQ(font->glyphs.Size(), 0u);

  const Glyph& a = GetGlyph(*font, U'H');
  const Glyph& emoji = GetGlyph(*font, U'\U0001F600');
  EXPECT_EQ(lib.counters.glyphsRasterised, before + 2);
  EXPECT_EQ(&GetGlyph(*font, U'H'), &a);
  EXPECT_EQ(&GetGlyph(*font, U'\U0001F600'), &emoji);
  EXPECT_EQ(lib.counters.glyphsRasterised, before + 2);
  EXPECT_GT(a.rows, 0);
  EXPECT_EQ(a.coverage.size(), static_cast<size_t>(a.rows * a.width));
  // The measured width of cached glyphs is their advance sum.
  EXPECT_EQ(MeasureText(*font, U"HH").width, 2 * a.advance);
}

TEST_F(FontTest, GlyphRowsBelowTheVisibleLineAreNotKept) {
  auto whole = CreateFont(lib, 60, 0);  // 80 pixels, far taller than the 30 visible rows
  const Glyph full = GetGlyph(*whole, U'|');
  lib.visibleRows = 30;
  auto cut = CreateFont(lib, 60, 0);
  const Glyph& part = GetGlyph(*cut, U'|');
  ASSERT_GT(full.top + full.rows, 30);
  ASSERT_LT(full.top, 30);
  EXPECT_EQ(part.top, full.top);
  EXPECT_EQ(part.rows, 30 - full.top);
  EXPECT_EQ(part.width, full.width);
  EXPECT_TRUE(std::equal(part.coverage.begin(), part.coverage.end(), full.coverage.begin()));
}

}  // namespace
}  // namespace orvo::gfx
