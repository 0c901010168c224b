// The reference sheet: the three families in every style at line heights from 10 to 48,
// drawn through row 16 onto a real screen and compared with the stored picture a person
// can look at (text_sheet_reference.png beside this file). With ORVO_UPDATE_REFERENCE set
// in the environment the picture is written anew instead.
#include <spng.h>
#include <stdlib.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "tests/gfx/text_test_support.h"

namespace orvo::gfx::test {
namespace {

constexpr int32_t kWidth = 1280, kHeight = 720;  // text surface 1280 x 48

std::string ReferencePath() {
  std::string here = __FILE__;
  return here.substr(0, here.rfind('/') + 1) + "text_sheet_reference.png";
}

std::vector<uint8_t> Rgb(const OwnedSurface& s) {
  std::vector<uint8_t> out;
  out.reserve(static_cast<size_t>(s.width) * s.height * 3);
  for (int32_t y = 0; y < s.height; ++y)
    for (int32_t x = 0; x < s.width; ++x) {
      const uint8_t* p = s.bits + y * s.stride + x * 4;
      out.insert(out.end(), {p[2], p[1], p[0]});
    }
  return out;
}

bool WritePng(const std::string& path, const std::vector<uint8_t>& rgb, int32_t w, int32_t h) {
  spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
  spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
  spng_ihdr ihdr{};
  ihdr.width = static_cast<uint32_t>(w);
  ihdr.height = static_cast<uint32_t>(h);
  ihdr.bit_depth = 8;
  ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
  spng_set_ihdr(ctx, &ihdr);
  bool ok = spng_encode_image(ctx, rgb.data(), rgb.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE) == 0;
  size_t len = 0;
  int error = 0;
  void* png = ok ? spng_get_png_buffer(ctx, &len, &error) : nullptr;
  spng_ctx_free(ctx);
  if (!png) return false;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ok = f && std::fwrite(png, 1, len, f) == len;
  if (f) ok = std::fclose(f) == 0 && ok;
  std::free(png);
  return ok;
}

bool ReadPng(const std::string& path, std::vector<uint8_t>& rgb, uint32_t& w, uint32_t& h) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<char> file((std::istreambuf_iterator<char>(in)), {});
  if (file.empty()) return false;
  spng_ctx* ctx = spng_ctx_new(0);
  spng_set_png_buffer(ctx, file.data(), file.size());
  spng_ihdr ihdr{};
  size_t size = 0;
  bool ok =
      spng_get_ihdr(ctx, &ihdr) == 0 && spng_decoded_image_size(ctx, SPNG_FMT_RGB8, &size) == 0;
  if (ok) {
    rgb.resize(size);
    ok = spng_decode_image(ctx, rgb.data(), size, SPNG_FMT_RGB8, 0) == 0;
  }
  w = ihdr.width, h = ihdr.height;
  spng_ctx_free(ctx);
  return ok;
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
  const std::vector<uint8_t> rgb = Rgb(g.screen);

  if (std::getenv("ORVO_UPDATE_REFERENCE")) {
    ASSERT_TRUE(WritePng(ReferencePath(), rgb, kWidth, kHeight));
    GTEST_SKIP() << "wrote " << ReferencePath();
  }
  std::vector<uint8_t> reference;
  uint32_t w = 0, h = 0;
  ASSERT_TRUE(ReadPng(ReferencePath(), reference, w, h)) << ReferencePath();
  ASSERT_EQ(w, static_cast<uint32_t>(kWidth));
  ASSERT_EQ(h, static_cast<uint32_t>(kHeight));
  size_t differing = 0;
  for (size_t i = 0; i < rgb.size(); ++i) differing += rgb[i] != reference[i];
  if (differing) {
    char dir[] = "/tmp/orvo-text-sheet-XXXXXX";
    if (mkdtemp(dir)) {
      const std::string out = std::string(dir) + "/text_sheet.png";
      WritePng(out, rgb, kWidth, kHeight);
      ADD_FAILURE() << differing << " channel values differ; this run's sheet is " << out;
    }
  }
}

}  // namespace
}  // namespace orvo::gfx::test
