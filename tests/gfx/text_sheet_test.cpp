// The reference sheet: the three families in every style at line heights from 10 to 48,
// drawn through row 16 onto a real screen and compared with the stored picture a person
// can look at (text_sheet_reference.png beside this file). With ORVO_UPDATE_REFERENCE set
// in the environment the picture is written anew instead.
#include <vector>

#include "tests/gfx/png_support.h"
#include "tests/gfx/text_test_support.h"

namespace orvo::gfx::test {
namespace {

constexpr int32_t kWidth = 1280, kHeight = 720;  // text surface 1280 x 48

RgbPicture PictureOf(const OwnedSurface& s) {
  RgbPicture out;
  out.width = static_cast<uint32_t>(s.width);
  out.height = static_cast<uint32_t>(s.height);
  out.rgb.reserve(static_cast<size_t>(s.width) * s.height * 3);
  for (int32_t y = 0; y < s.height; ++y)
    for (int32_t x = 0; x < s.width; ++x) {
      const uint8_t* p = s.bits + y * s.stride + x * 4;
      out.rgb.insert(out.rgb.end(), {p[2], p[1], p[0]});
    }
  return out;
}

class TextSheet : public TextFixture {
 public:
  void SetUp() override {
    TextFixture::SetUp();
    DeleteScreen(g);
    ASSERT_TRUE(CreateScreen(g, kWidth, kHeight));
    DrawRectangle(g, vm.m, SURFACE_SCREEN, 0, 0, kWidth, kHeight, 0xFF201810, 0);
    TextShutdown(t);
    ASSERT_TRUE(TextStartup(t, g));
  }

  // One line: the family's name and size, then a sample in each style, left to right.
  void Line(uint32_t family, const char* name, int32_t height, int32_t y) {
    struct Style {
      uint32_t flags;
      const char* label;
    };
    const Style styles[] = {{0, "Regular"},
                            {TEXT_BOLD, "Bold"},
                            {TEXT_ITALIC, "Italic"},
                            {TEXT_BOLD | TEXT_ITALIC, "Bold italic"},
                            {TEXT_UNDERLINE, "Underline"}};
    const std::string label = std::string(name) + " " + std::to_string(height);
    // The label right-aligned in a column of its own, on an opaque band.
    Draw(SURFACE_SCREEN, label, 0, y, 230, height, family | TEXT_RIGHT, 0xFF403020, 0x00C0C0C0);
    int32_t x = 240;
    for (const Style& s : styles) {
      const uint32_t r = Draw(SURFACE_SCREEN, std::string(s.label) + " \xC3\x89\xC3\xA7 Qy", x, y,
                              kWidth - 10 - x, height, family | s.flags | TEXT_CUT, 0, 0x00FFFFFF);
      x += static_cast<int32_t>(r >> 16) + height / 2;
    }
  }
};

TEST_F(TextSheet, ThreeFamiliesInEveryStyleFromTenToFortyEightPixels) {
  const int32_t heights[] = {10, 12, 14, 16, 20, 24, 32, 40, 48};
  const struct {
    uint32_t flag;
    const char* name;
  } families[] = {{0, "Tahoma"}, {TEXT_COURIER, "Courier New"}, {TEXT_TIMES, "Times New Roman"}};
  int32_t y = 4;
  for (int32_t h : heights)
    for (const auto& f : families) {
      Line(f.flag, f.name, h, y);
      y += h + 2;
    }
  ASSERT_LE(y, kHeight);
  ExpectSameAsStored(PictureOf(g.screen), "text_sheet_reference.png", true);
}

}  // namespace
}  // namespace orvo::gfx::test
