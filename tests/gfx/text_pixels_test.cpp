// What row 16 leaves in the pixels: glyph colour and coverage blending, the opaque and
// the see-through background, alpha 255 over the composited rectangle, the underline,
// and nothing ever written beyond the text scratch surface.
#include <algorithm>

#include "tests/gfx/text_test_support.h"

namespace orvo::gfx::test {
namespace {

using TextPixels = TextFixture;

// Channel c of every pixel lies between the two colours' channels.
bool Between(const Rgb& p, const Rgb& a, const Rgb& b) {
  auto in = [](uint8_t v, uint8_t x, uint8_t y) {
    return v >= std::min(x, y) && v <= std::max(x, y);
  };
  return in(p.red, a.red, b.red) && in(p.green, a.green, b.green) && in(p.blue, a.blue, b.blue);
}

// A heap surface filled with one pixel value (bytes blue, green, red, alpha).
int32_t MakeSurface(TextFixture& f, int32_t w, int32_t h, uint32_t pixel) {
  const int32_t s = CreateSurface(f.vm.m, w, h);
  EXPECT_TRUE(StartDST(f.g, f.vm.m, s));
  for (int32_t i = 0; i < w * h; ++i) vm::Store32(f.g.dst.pixels + 4 * i, pixel);
  EndDST(f.g, f.vm.m);
  return s;
}

Rgb SurfacePixel(TextFixture& f, int32_t s, int32_t x, int32_t y) {
  EXPECT_TRUE(StartSRC(f.g, f.vm.m, s));
  const uint8_t* p = f.g.src.pixels + y * f.g.src.stride + x * 4;
  Rgb out{p[2], p[1], p[0], p[3]};
  EndSRC(f.g, f.vm.m);
  return out;
}

TEST_F(TextPixels, GlyphsShowTheTextColourOverTheOpaqueBackground) {
  const Rgb ink{0x99, 0xCC, 0x33, 255}, paper{0x10, 0x20, 0x80, 255};
  const uint32_t r = Draw(SURFACE_SCREEN, "HIH", 20, 20, 300, 30, 0, 0xFF802010, 0x0033CC99);
  const int32_t w = static_cast<int32_t>(r >> 16);
  int full = 0, background = 0;
  for (int32_t y = 20; y < 50; ++y)
    for (int32_t x = 20; x < 20 + w; ++x) {
      const Rgb p = ScreenPixel(x, y);
      EXPECT_TRUE(Between(p, ink, paper)) << x << "," << y;
      EXPECT_EQ(p.alpha, 255);
      full += p == ink;
      background += p == paper;
    }
  // Stems of H and I are fully covered; most of the line is background.
  EXPECT_GT(full, 60);
  EXPECT_GT(background, 30 * w / 2);
  EXPECT_EQ(CountLit(0, 0, kScreenWidth, 20), 0);
  EXPECT_EQ(CountLit(20 + w, 20, kScreenWidth, 50), 0);
  // The text colour's alpha byte plays no part.
  const std::string once = ScreenBytes();
  Draw(SURFACE_SCREEN, "HIH", 20, 20, 300, 30, 0, 0xFF802010, 0x7733CC99);
  EXPECT_EQ(ScreenBytes(), once);
}

TEST_F(TextPixels, ASeeThroughBackgroundBlendsAgainstTheRealDestination) {
  // Stripes of colour under the text.
  const uint32_t stripes[] = {0xFF2040C0, 0xFFC04020, 0xFF30A030, 0xFF808080};
  for (int i = 0; i < 4; ++i)
    DrawRectangle(g, vm.m, SURFACE_SCREEN, 0, 100 + 6 * i, 400, 6, stripes[i], 0);
  const std::string before = ScreenBytes();
  const Rgb ink{255, 255, 255, 255};
  const uint32_t r = Draw(SURFACE_SCREEN, "Blend me", 30, 100, 300, 24, 0, 0x80FF00FF, 0x00FFFFFF);
  const int32_t w = static_cast<int32_t>(r >> 16);
  int kept = 0, blended = 0;
  for (int32_t y = 100; y < 124; ++y)
    for (int32_t x = 30; x < 30 + w; ++x) {
      const uint8_t* old =
          reinterpret_cast<const uint8_t*>(before.data()) + y * g.screen.stride + x * 4;
      const Rgb under{old[2], old[1], old[0], old[3]};
      const Rgb p = ScreenPixel(x, y);
      EXPECT_TRUE(Between(p, under, ink)) << x << "," << y;
      kept += p == under;
      blended += !(p == under) && !(p == ink);
    }
  EXPECT_GT(kept, 24 * w / 2);  // the background colour (alpha 0x80) is not painted
  EXPECT_GT(blended, 20);       // anti-aliased edges mix with the stripe under them
}

TEST_F(TextPixels, TheCompositedRectangleBecomesOpaqueAndNothingElseIsTouched) {
  const int32_t s = MakeSurface(*this, 200, 60, 0x00000000);
  const uint32_t r = Draw(s, "alpha", 40, 10, 100, 20, 0, 0, 0x00FFFFFF);
  const int32_t w = static_cast<int32_t>(r >> 16);
  ASSERT_GT(w, 10);
  for (int32_t y = 0; y < 60; ++y)
    for (int32_t x = 0; x < 200; ++x) {
      const bool inside = x >= 40 && x < 40 + w && y >= 10 && y < 30;
      ASSERT_EQ(SurfacePixel(*this, s, x, y).alpha, inside ? 255 : 0) << x << "," << y;
    }
  EXPECT_FALSE(g.dirty.any);  // not the screen
}

TEST_F(TextPixels, NoStalePixelsOfAnEarlierLineShowThrough) {
  // Half-transparent destination: what it shows must depend on it alone, not on what the
  // text surface held before.
  const int32_t s = MakeSurface(*this, 200, 40, 0x40806040);
  auto line = [&] {
    Draw(s, "same line", 0, 0, 200, 24, 0, 0, 0x00FFFFFF);
    std::string out;
    StartSRC(g, vm.m, s);
    out.assign(reinterpret_cast<const char*>(g.src.pixels), 200 * 40 * 4);
    EndSRC(g, vm.m);
    return out;
  };
  Draw(SURFACE_SCREEN, "first", 0, 0, 400, 24, 0, 0xFF00FF00, 0x000000FF);
  const std::string a = line();
  // Refill the surface and leave other pixels in the text surface.
  StartDST(g, vm.m, s);
  for (int32_t i = 0; i < 200 * 40; ++i) vm::Store32(g.dst.pixels + 4 * i, 0x40806040);
  EndDST(g, vm.m);
  Draw(SURFACE_SCREEN, "second", 0, 0, 400, 24, 0, 0xFFFF00FF, 0x0000FF00);
  EXPECT_EQ(line(), a);
  // Wider than the box, centred, opaque: the part beyond the box is background too.
  Draw(SURFACE_SCREEN, "wwwwwwwwwwww", 0, 200, 400, 24, 0, 0xFF00FFFF, 0x000000FF);
  const uint32_t r =
      Draw(SURFACE_SCREEN, "centred wide", 100, 300, 20, 24, TEXT_CENTRE, 0xFF102030, 0x00FFFFFF);
  const int32_t w = static_cast<int32_t>(r >> 16);
  const int32_t left = 100 + (20 - w) / 2;
  for (int32_t x = left; x < left + w; ++x)
    EXPECT_EQ(ScreenPixel(x, 300), (Rgb{0x30, 0x20, 0x10, 255}));
}

TEST_F(TextPixels, UnderlineSitsAtTheFacesPositionAndThickness) {
  const int32_t h = 30;
  Draw(SURFACE_SCREEN, "ooo", 10, 10, 300, h, 0, 0xFF000000, 0x00FFFFFF);
  const uint32_t r =
      Draw(SURFACE_SCREEN, "ooo", 10, 60, 300, h, TEXT_UNDERLINE, 0xFF000000, 0x00FFFFFF);
  const int32_t w = static_cast<int32_t>(r >> 16);
  std::vector<int32_t> rows;
  for (int32_t y = 0; y < h; ++y) {
    int differing = 0;
    for (int32_t x = 10; x < 10 + w; ++x)
      differing += !(ScreenPixel(x, 10 + y) == ScreenPixel(x, 60 + y));
    if (differing) {
      EXPECT_EQ(differing, w) << "row " << y;  // the line runs under the whole text
      rows.push_back(y);
    }
  }
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(rows.back() - rows.front() + 1, static_cast<int32_t>(rows.size()));  // one band
  // Where the face puts it: its centre below the baseline, its thickness, at this size.
  Font* font = LookupFont(t.cache, t.fonts, h, TEXT_UNDERLINE);
  FT_Face face = font->face->face;
  const double scale = font->pixelHeight / double(face->units_per_EM);
  const double centre = font->ascender - face->underline_position * scale;
  EXPECT_NEAR((rows.front() + rows.back() + 1) / 2.0, centre, 1.0);
  EXPECT_NEAR(double(rows.size()), std::max(1.0, face->underline_thickness * scale), 1.0);
  EXPECT_GT(rows.front(), font->ascender);  // below the baseline
}

TEST_F(TextPixels, LinesTallerThanTheTextSurfaceAreCutToIt) {
  ASSERT_EQ(g.text.height, 32);
  const uint32_t r = Draw(SURFACE_SCREEN, "Tall", 50, 100, 300, 100, 0, 0xFF0000FF, 0x00FFFFFF);
  const int32_t w = static_cast<int32_t>(r >> 16);
  ASSERT_GT(w, 0);
  EXPECT_EQ(ScreenPixel(50, 100), (Rgb{255, 0, 0, 255}));
  EXPECT_EQ(ScreenPixel(50, 131), (Rgb{255, 0, 0, 255}));
  EXPECT_EQ(CountLit(0, 132, kScreenWidth, kScreenHeight), 0);
  EXPECT_EQ(CountLit(0, 0, kScreenWidth, 100), 0);
}

TEST_F(TextPixels, TextWiderThanTheTextSurfaceIsCutToIt) {
  const int32_t s = MakeSurface(*this, 1600, 30, 0x00000000);
  const std::string longText(110, 'W');
  const uint32_t r = Draw(s, longText, 0, 0, 1500, 20, TEXT_RIGHT, 0xFF00FF00, 0x00FFFFFF);
  const int32_t w = static_cast<int32_t>(r >> 16);
  ASSERT_GT(w, 1500);
  const int32_t left = 1500 - w;  // right-aligned, starts left of the surface
  int opaque = 0;
  for (int32_t x = 0; x < 1600; ++x) opaque += SurfacePixel(*this, s, x, 0).alpha == 255;
  EXPECT_EQ(opaque, std::max(0, left + kScreenWidth));
  // Left-aligned from 0: 640 columns at most.
  const int32_t s2 = MakeSurface(*this, 1600, 30, 0x00000000);
  Draw(s2, longText, 0, 0, 1500, 20, 0, 0xFF00FF00, 0x00FFFFFF);
  EXPECT_EQ(SurfacePixel(*this, s2, kScreenWidth - 1, 0).alpha, 255);
  EXPECT_EQ(SurfacePixel(*this, s2, kScreenWidth, 0).alpha, 0);
}

TEST_F(TextPixels, TextPartlyOffTheDestinationDrawsItsVisiblePart) {
  const uint32_t r = Draw(SURFACE_SCREEN, "edge", -15, -8, 300, 24, 0, 0, 0x00FFFFFF);
  EXPECT_GT(r >> 16, 15u);
  EXPECT_GT(CountLit(0, 0, 60, 16), 0);
  Draw(SURFACE_SCREEN, "edge", kScreenWidth - 10, kScreenHeight - 10, 300, 24, 0, 0, 0x00FFFFFF);
  EXPECT_GT(CountLit(kScreenWidth - 10, kScreenHeight - 10, kScreenWidth, kScreenHeight), 0);
}

}  // namespace
}  // namespace orvo::gfx::test

namespace orvo::gfx::test {
namespace {

// Every pixel of a composited line, worked out from the font's own glyph bitmaps: the
// ground (the opaque background, or what the destination held), each glyph's coverage c
// blending the text colour in as D * (255 - c) / 255 + ink * c / 255, glyph after glyph
// from pen position 0, the underline rows fully covered under the run, alpha 255, cut to
// the composited width; nothing outside it changes.
struct ExactCase {
  const char* text;
  int32_t lineHeight;
  uint32_t style;
  uint32_t background;  // opaque when its alpha is 255, else see-through
  uint32_t colour;
};

class TextExact : public TextFixture {
 public:
  void Check(const ExactCase& c) {
    // A ground of colour bands, so that a see-through line shows what it blends over.
    for (int i = 0; i < 8; ++i)
      DrawRectangle(g, vm.m, SURFACE_SCREEN, 0, 40 + 4 * i, kScreenWidth, 4,
                    0xFF000000u | (0x302010u * uint32_t(i + 1)), 0);
    const std::string before = ScreenBytes();
    const int32_t x0 = 17, y0 = 40, box = 400;
    const uint32_t r =
        Draw(SURFACE_SCREEN, c.text, x0, y0, box, c.lineHeight, c.style, c.background, c.colour);
    const int32_t width = static_cast<int32_t>(r >> 16);
    ASSERT_GT(width, 0);
    ASSERT_EQ(r & 0xFFFF, std::string(c.text).size());
    const int32_t w = std::min(box, width), h = c.lineHeight;
    ASSERT_LE(h, g.text.height);

    Font* font = LookupFont(t.cache, t.fonts, c.lineHeight, c.style & TEXT_STYLE_KEY);
    ASSERT_NE(font, nullptr);
    auto old = [&](int32_t x, int32_t y) {
      const auto* p = reinterpret_cast<const uint8_t*>(before.data()) + y * g.screen.stride + x * 4;
      return Rgb{p[2], p[1], p[0], p[3]};
    };
    const Rgb paper{uint8_t(c.background), uint8_t(c.background >> 8), uint8_t(c.background >> 16),
                    255};
    const uint32_t ink[3] = {c.colour & 0xFF, (c.colour >> 8) & 0xFF, (c.colour >> 16) & 0xFF};
    const bool opaque = (c.background >> 24) == 255;
    std::vector<Rgb> want(size_t(w) * size_t(h));
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x)
        want[size_t(y * w + x)] = opaque ? paper : old(x0 + x, y0 + y);
    auto cover = [&](int32_t x, int32_t y, uint32_t k) {
      if (x < 0 || x >= w || y < 0 || y >= h || k == 0) return;
      Rgb& p = want[size_t(y * w + x)];
      p.red = uint8_t(p.red * (255 - k) / 255 + ink[0] * k / 255);
      p.green = uint8_t(p.green * (255 - k) / 255 + ink[1] * k / 255);
      p.blue = uint8_t(p.blue * (255 - k) / 255 + ink[2] * k / 255);
    };
    int32_t pen = 0;
    for (const char* p = c.text; *p; ++p) {
      const Glyph& glyph = GetGlyph(*font, static_cast<unsigned char>(*p));
      for (int32_t row = 0; row < glyph.rows; ++row)
        for (int32_t col = 0; col < glyph.width; ++col)
          cover(pen + glyph.left + col, glyph.top + row,
                glyph.coverage[size_t(row * glyph.width + col)]);
      pen += glyph.advance;
    }
    // The result's width is the sum of the advances, widened for italic.
    EXPECT_EQ(width, pen + (c.style & TEXT_ITALIC ? h / 6 : 0)) << c.text;
    if (c.style & TEXT_UNDERLINE)
      for (int32_t y = font->underlineTop; y < font->underlineTop + font->underlineRows; ++y)
        for (int32_t x = 0; x < pen; ++x) cover(x, y, 255);

    int inked = 0;
    for (int32_t y = 0; y < kScreenHeight; ++y)
      for (int32_t x = 0; x < kScreenWidth; ++x) {
        const bool inside = x >= x0 && x < x0 + w && y >= y0 && y < y0 + h;
        const Rgb expect = inside ? want[size_t((y - y0) * w + (x - x0))] : old(x, y);
        ASSERT_EQ(ScreenPixel(x, y), expect) << c.text << " at " << x << "," << y;
        inked += inside && expect == (Rgb{uint8_t(ink[0]), uint8_t(ink[1]), uint8_t(ink[2]), 255});
      }
    EXPECT_GT(inked, 10) << c.text;  // fully covered glyph pixels show the text colour
  }
};

TEST_F(TextExact, OpaqueBackgroundPixelByPixel) {
  Check({"HIH Ag, y!", 30, 0, 0xFF802010, 0x0033CC99});
}

TEST_F(TextExact, SeeThroughBackgroundPixelByPixel) {
  // The background's alpha is not 255, so the line blends over the bands already there.
  Check({"Blend over", 24, TEXT_TIMES, 0x80FF00FF, 0x00FFFFFF});
}

TEST_F(TextExact, StyledFacesAndUnderlinePixelByPixel) {
  Check({"Mono bold", 20, TEXT_COURIER | TEXT_BOLD | TEXT_UNDERLINE, 0xFF000000, 0x0000FFFF});
  Check({"slanted", 28, TEXT_ITALIC | TEXT_UNDERLINE, 0, 0x00FF8040});
}

TEST_F(TextExact, LeftAlignedLineCutAtTheBox) {
  // Wider than the box: only the box's width is composited, and its pixels are still
  // exactly the glyphs'.
  Check({"WWWWWWWWWWWWWWWWWWWWWWWWWWWWWW", 24, 0, 0xFF203040, 0x00FFFFFF});
}

}  // namespace
}  // namespace orvo::gfx::test
