// The web build's PNG codec, run under node: any picture encoded reads back pixel for
// pixel, the pictures of the example game decode to the size their files declare, and a
// picture larger than allowed is refused before it is decoded.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "gfx/picture.h"

namespace orvo::gfx {
namespace {

std::FILE* Temporary(const std::vector<uint8_t>& bytes) {
  std::FILE* f = std::tmpfile();
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::rewind(f);
  return f;
}

TEST(PngStb, RandomPicturesReadBackPixelForPixel) {
  std::mt19937 random(1);
  for (int round = 0; round < 40; ++round) {
    const int32_t width = 1 + static_cast<int32_t>(random() % 70);
    const int32_t height = 1 + static_cast<int32_t>(random() % 50);
    std::vector<uint8_t> rgba(size_t(width) * size_t(height) * 4);
    // Runs of one colour as well as noise, so that every filter gets used.
    for (size_t i = 0; i < rgba.size(); ++i) rgba[i] = random() % 3 ? uint8_t(random()) : rgba[i / 2];
    std::vector<uint8_t> png;
    ASSERT_TRUE(EncodePng(rgba.data(), width, height, png));
    std::FILE* f = Temporary(png);
    Picture picture;
    ASSERT_TRUE(DecodePng(f, picture, 1u << 30));
    std::fclose(f);
    ASSERT_EQ(picture.width, width);
    ASSERT_EQ(picture.height, height);
    for (size_t i = 0; i < rgba.size(); i += 4) {
      // The picture comes back in surface order: blue, green, red, alpha.
      ASSERT_EQ(picture.bgra[i], rgba[i + 2]) << i;
      ASSERT_EQ(picture.bgra[i + 1], rgba[i + 1]) << i;
      ASSERT_EQ(picture.bgra[i + 2], rgba[i]) << i;
      ASSERT_EQ(picture.bgra[i + 3], rgba[i + 3]) << i;
    }
  }
}

TEST(PngStb, APictureLargerThanAllowedIsRefused) {
  std::vector<uint8_t> rgba(64 * 64 * 4, 200), png;
  ASSERT_TRUE(EncodePng(rgba.data(), 64, 64, png));
  std::FILE* f = Temporary(png);
  Picture picture;
  EXPECT_FALSE(DecodePng(f, picture, 64 * 64 * 4 - 1));
  std::rewind(f);
  EXPECT_TRUE(DecodePng(f, picture, 64 * 64 * 4));
  std::fclose(f);
}

TEST(PngStb, TheExampleGamesPicturesDecode) {
  for (const char* name : {"tiles.png", "felt.png"}) {
    const std::string path = std::string(ORVO_WEB_TEST_GAME) + "/" + name;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_TRUE(f) << path;
    Picture picture;
    EXPECT_TRUE(DecodePng(f, picture, 1u << 30)) << name;
    std::fclose(f);
    EXPECT_GT(picture.width, 0);
    EXPECT_EQ(picture.bgra.size(), size_t(picture.width) * size_t(picture.height) * 4);
  }
}

TEST(PngStb, NotAPictureIsRefused) {
  std::FILE* f = Temporary({0x89, 'P', 'N', 'G', 1, 2, 3, 4, 5, 6, 7});
  Picture picture;
  EXPECT_FALSE(DecodePng(f, picture, 1u << 30));
  std::fclose(f);
}

}  // namespace
}  // namespace orvo::gfx
