// Pictures a person can look at: test programs assembled with velda draw onto the screen
// of orvo-headless, which writes it out with --screenshot; the test suite's reference
// code draws the same scene on its own, and both must equal the stored picture beside
// this file. ORVO_UPDATE_REFERENCE in the environment writes the stored picture anew
// from the reference code.
#include <stdlib.h>
#include <sys/wait.h>

#include <string>

#include "tests/gfx/gfx_test_support.h"
#include "tests/gfx/png_support.h"

namespace orvo::gfx::test {
namespace {

RgbPicture FromCanvas(const Canvas& c) {
  RgbPicture p{uint32_t(c.width), uint32_t(c.height), {}};
  p.rgb.reserve(c.px.size() * 3);
  for (uint32_t px : c.px)
    p.rgb.insert(p.rgb.end(), {uint8_t(px >> 16), uint8_t(px >> 8), uint8_t(px)});
  return p;
}

// ---- Reference code for the pixel operations the shared reference lacks ----

// The corner is bounded by the surface's size (bounding it by the requested size would move
// a clip of (10, 340, 200, 80) up to row 80).
void RefClip(Canvas& c, int64_t x, int64_t y, int64_t w, int64_t h) {
  c.clipX = int32_t(std::min<int64_t>(c.width, std::max<int64_t>(0, x)));
  c.clipY = int32_t(std::min<int64_t>(c.height, std::max<int64_t>(0, y)));
  c.clipW = int32_t(std::max<int64_t>(0, std::min<int64_t>(w, c.width - c.clipX)));
  c.clipH = int32_t(std::max<int64_t>(0, std::min<int64_t>(h, c.height - c.clipY)));
}

// Alpha key by colour: pixels whose blue, green and red match the key word get alpha.
void RefAlphaKey(Canvas& c, uint32_t key, uint32_t alpha) {
  for (auto& p : c.px)
    if ((p & 0xFFFFFF) == (Swap(key) & 0xFFFFFF)) p = (p & 0xFFFFFF) | alpha << 24;
}

// The colour pass, written from its integer steps; analysed hues below 0 go round the
// 252-step circle.
void RefAdjust(Canvas& c, int64_t x, int64_t y, int64_t w, int64_t h, int64_t hue, int64_t sat,
               int64_t bright, int64_t contrast) {
  for (int64_t py = y; py < y + h; ++py)
    for (int64_t px = x; px < x + w; ++px) {
      if (!c.InClip(px, py)) continue;
      uint32_t& pixel = c.at(px, py);
      const int64_t b[3] = {Ch(pixel, 0), Ch(pixel, 1), Ch(pixel, 2)};
      const int64_t V = std::max({b[0], b[1], b[2]}), mn = std::min({b[0], b[1], b[2]});
      const int64_t S = V ? (V - mn) * 255 / V : 0, d = V - mn;
      int64_t hh = 0;
      if (S) {
        if (b[0] == V)
          hh = ((V - b[2]) * 255 / d - (V - b[1]) * 255 / d) / 6;
        else if (b[1] == V)
          hh = ((V - b[0]) * 255 / d - (V - b[2]) * 255 / d) / 6 + 85;
        else
          hh = ((V - b[1]) * 255 / d - (V - b[0]) * 255 / d) / 6 + 171;
      }
      const int64_t s = (sat >= 0 ? sat : S) & 0xFF;
      int64_t K = V + contrast * (V - 128) / 255;
      K += bright * K / 255;
      const int64_t L = std::clamp<int64_t>(K, 0, 255);
      int64_t out[3] = {L, L, L};
      if (s) {
        int64_t n = hue >= 0 ? (hue & 0xFF) : hh;
        if (n < 0) n += 252;
        const int64_t sector = n / 42 == 6 ? 0 : n / 42, f = (n % 42) * 6;
        const int64_t p = (255 - s) * L / 255;
        const int64_t q = f == 0 ? L : (62730 - f * s) * L / 62730;
        const int64_t t = ((f - 246) * s + 62730) * L / 62730;
        const int64_t table[6][3] = {{L, t, p}, {q, L, p}, {p, L, t},
                                     {p, q, L}, {t, p, L}, {L, p, q}};
        for (int k = 0; k < 3; ++k) out[k] = table[sector][k];
      }
      pixel =
          (pixel & 0xFF000000u) | uint32_t(out[0]) | uint32_t(out[1]) << 8 | uint32_t(out[2]) << 16;
    }
}

void RefRun(Canvas& c, uint64_t& pattern, const std::vector<int64_t>& xy, uint32_t colour) {
  for (size_t i = 0; i + 3 < xy.size(); i += 2)
    RefLine(c, pattern, xy[i], xy[i + 1], xy[i + 2], xy[i + 3], Swap(colour));
}

// The scene of tests/gfx/programs/primitives.ova, request by request.
Canvas PrimitivesScene() {
  Canvas s(640, 480, Px(0, 0, 0, 255));
  uint64_t pattern = ~uint64_t{0};
  RefRect(s, pattern, 10, 10, 100, 60, 0xFFC06030, 0xFFFFFFFF);
  RefRect(s, pattern, 120, 10, 100, 60, 0x800080FF, 0);
  RefRect(s, pattern, 170, 40, 100, 50, 0x8000FF00, 0xFFFF0000);
  RefRect(s, pattern, 290, 10, 50, 50, 0, 0xFF00FFFF);
  RefRun(s, pattern, {400, 15, 440, 60, 360, 30, 440, 30, 360, 60, 400, 15}, 0xFF00FFFF);
  pattern = 0xF0F0F0F0F0F0F0F0u;
  RefRun(s, pattern, {460, 10, 630, 10, 630, 70, 460, 40}, 0xFF8080FF);
  pattern = 0xFF00FF00FFFF0000u;
  RefRun(s, pattern, {460, 75, 500, 50, 545, 78, 590, 52, 630, 75}, 0xFFFFFFFF);
  pattern = ~uint64_t{0};
  RefEllipse(s, 10, 90, 60, 40, 0xFF2020C0, 0xFFFFFFFF, nullptr, pattern);
  RefEllipse(s, 80, 90, 41, 41, 0xFF00C000, 0xFF00FFFF, nullptr, pattern);
  RefEllipse(s, 130, 90, 40, 40, 0x80FF0000, 0xFFFFFFFF, nullptr, pattern);
  RefEllipse(s, 180, 90, 21, 60, 0xFF0080FF, 0, nullptr, pattern);
  RefEllipse(s, 210, 90, 0, 50, 0xFFFFFFFF, 0xFF808080, nullptr, pattern);
  RefEllipse(s, 220, 90, 7, 6, 0, 0xFFFFFF00, nullptr, pattern);
  RefEllipse(s, 235, 95, 50, 30, 0xA0FFFF00, 0, nullptr, pattern);
  RefGradient(s, 300, 90, 100, 100, 0);
  RefGradient(s, 410, 90, -100, 100, 84);
  RefGradient(s, 520, 90, 100, -100, 168);
  RefAdjust(s, 350, 90, 50, 50, -1, -1, 40, 0);
  RefAdjust(s, 520, 140, 100, 50, 100, 200, 0, 60);
  RefClip(s, 10, 340, 200, 80);
  RefEllipse(s, -20, 320, 150, 120, 0xFF4040FF, 0xFFFFFFFF, nullptr, pattern);
  RefRun(s, pattern, {0, 330, 250, 430}, 0xFFFFFFFF);
  RefRect(s, pattern, 150, 350, 100, 100, 0x6000FF00, 0xFFFF00FF);
  RefClip(s, 0, 0, 640, 480);

  Canvas a(64, 64), b(40, 40);
  RefRect(a, pattern, 0, 0, 64, 64, 0xFF804020, 0);
  RefEllipse(a, 8, 8, 48, 48, 0xFF20C0FF, 0xFFFFFFFF, nullptr, pattern);
  RefRect(a, pattern, 20, 28, 24, 8, 0xFF00FF00, 0);
  RefAlphaKey(a, 0xFF804020, 0);
  RefRect(b, pattern, 0, 0, 40, 40, 0x80FFFF00, 0);
  RefEllipse(b, 5, 5, 30, 30, 0xC00000FF, 0, nullptr, pattern);
  RefBlit(s, &a, 10, 200, 0, 0, 64, 64, false, 0, 0);
  RefBlit(s, &a, 80, 200, 0, 0, 64, 64, true, 0, 0);
  RefBlit(s, &a, 150, 200, 16, 16, 32, 32, false, 256, 252);
  RefBlit(s, &b, 40, 230, 0, 0, 40, 40, false, 0, 0);
  RefBlit(s, &a, 270, 200, 32, 32, 64, 64, false, 0, 0);
  RefScaled(s, &a, 340, 200, 128, 128, 0, 0, 64, 64, 0, 0);
  RefScaled(s, &a, 480, 200, 32, 32, 0, 0, 64, 64, 0, 0);
  RefScaled(s, &b, 480, 240, 90, 50, 0, 0, 40, 40, 0, 0);
  RefScaled(s, &a, 520, 200, 20, 20, 20, 20, 13, 13, 610, 236);
  for (int i = 0; i < 40; ++i)
    s.at(230 + 4 * i, 440) = RefColourBlend(s.at(230 + 4 * i, 440), Swap(0x80FFFFFF));

  // The conversions are pure functions checked against their formulas elsewhere.
  RefRect(s, pattern, 260, 340, 40, 40, HsvToRgb(0xFFFFFF2A), 0xFFFFFFFF);
  RefRect(s, pattern, 310, 340, 40, 40, HsvToRgb(RgbToHsv(0xFF3080E0)), 0xFFFFFFFF);
  RefRect(s, pattern, 360, 340, 40, 40, Swap(s.at(30, 20)), 0xFF00FF00);
  RefRect(s, pattern, 410, 340, b.width, b.height, 0xFF808080, 0);
  return s;
}

std::string RunHeadless(const std::string& program, const std::string& desktop,
                        std::string& folder) {
  char dir[] = "/tmp/orvo-shot-XXXXXX";
  if (!mkdtemp(dir)) return {};
  folder = dir;
  const std::string shot = folder + "/screen.png";
  const std::string command = std::string(ORVO_HEADLESS) + " --data " + folder + " --desktop " +
                              desktop + " --screenshot " + shot + " " + ORVO_GFX_PROGRAMS + "/" +
                              program + " > " + folder + "/out.txt 2>&1";
  const int status = std::system(command.c_str());
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
  return shot;
}

TEST(Screenshots, ReferenceCodeDrawsTheStoredPrimitivesPicture) {
  ExpectSameAsStored(FromCanvas(PrimitivesScene()), "primitives_reference.png", true);
}

TEST(Screenshots, PrimitivesProgramOnTheHeadlessScreenMatchesTheReference) {
  std::string folder;
  const std::string shot = RunHeadless("primitives", "640x480", folder);
  ASSERT_FALSE(shot.empty()) << "orvo-headless failed; see " << folder << "/out.txt";
  RgbPicture got;
  ASSERT_TRUE(ReadPng(shot, got)) << shot;
  ExpectSameAsStored(got, "primitives_reference.png", false);
  // The scene must not be mostly the black ground: the program really drew.
  size_t lit = 0;
  for (size_t i = 0; i < got.rgb.size(); i += 3)
    lit += got.rgb[i] | got.rgb[i + 1] | got.rgb[i + 2] ? 1 : 0;
  EXPECT_GT(lit, got.rgb.size() / 3 / 5);
}

// The text sheet of text_sheet_test.cpp, drawn by a program through row 16: the three
// families in every style at line heights 10 to 48, the same picture to the last pixel.
TEST(Screenshots, TextSheetProgramOnTheHeadlessScreenMatchesTheReference) {
  std::string folder;
  const std::string shot = RunHeadless("text_sheet", "1280x720", folder);
  ASSERT_FALSE(shot.empty()) << "orvo-headless failed; see " << folder << "/out.txt";
  RgbPicture got;
  ASSERT_TRUE(ReadPng(shot, got)) << shot;
  ExpectSameAsStored(got, "text_sheet_reference.png", false);
  // Text really was drawn: the sheet's white ink is there in quantity.
  size_t white = 0;
  for (size_t i = 0; i < got.rgb.size(); i += 3)
    white += got.rgb[i] == 255 && got.rgb[i + 1] == 255 && got.rgb[i + 2] == 255;
  EXPECT_GT(white, 10000u);
}

}  // namespace
}  // namespace orvo::gfx::test
