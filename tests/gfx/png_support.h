// Reference pictures of the screenshot tests: RGB PNG files through libspng, the stored
// picture's path beside the sources, and the comparison that leaves a copy of a
// differing picture behind for a person to look at.
#pragma once

#include <gtest/gtest.h>
#include <spng.h>
#include <stdlib.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace orvo::gfx::test {

// RGB bytes of a picture, three per pixel, rows top-down.
struct RgbPicture {
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> rgb;
};

// The stored reference pictures lie beside this file. The folder comes from the build,
// since __FILE__ is relative when a compiler cache or -ffile-prefix-map rewrites it.
inline std::string SourceFolder() { return ORVO_GFX_TEST_SOURCES "/"; }

inline bool WritePng(const std::string& path, const RgbPicture& p) {
  spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
  spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
  spng_ihdr ihdr{};
  ihdr.width = p.width;
  ihdr.height = p.height;
  ihdr.bit_depth = 8;
  ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
  spng_set_ihdr(ctx, &ihdr);
  bool ok =
      spng_encode_image(ctx, p.rgb.data(), p.rgb.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE) == 0;
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

inline bool ReadPng(const std::string& path, RgbPicture& p) {
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
    p.rgb.resize(size);
    ok = spng_decode_image(ctx, p.rgb.data(), size, SPNG_FMT_RGB8, 0) == 0;
  }
  p.width = ihdr.width, p.height = ihdr.height;
  spng_ctx_free(ctx);
  return ok;
}

// Compares a picture with the stored one named file (beside the sources). With
// ORVO_UPDATE_REFERENCE set the stored picture is written anew and the test skipped.
// A differing picture is written to a temporary folder named in the failure.
inline void ExpectSameAsStored(const RgbPicture& got, const std::string& file, bool mayUpdate) {
  const std::string path = SourceFolder() + file;
  if (mayUpdate && std::getenv("ORVO_UPDATE_REFERENCE")) {
    ASSERT_TRUE(WritePng(path, got));
    GTEST_SKIP() << "wrote " << path;
  }
  RgbPicture stored;
  ASSERT_TRUE(ReadPng(path, stored)) << path;
  ASSERT_EQ(stored.width, got.width);
  ASSERT_EQ(stored.height, got.height);
  ASSERT_EQ(stored.rgb.size(), got.rgb.size());
  size_t differing = 0, first = got.rgb.size();
  for (size_t i = 0; i < got.rgb.size(); ++i)
    if (got.rgb[i] != stored.rgb[i]) {
      if (!differing) first = i;
      ++differing;
    }
  if (differing) {
    char dir[] = "/tmp/orvo-picture-XXXXXX";
    const std::string out = mkdtemp(dir) ? std::string(dir) + "/" + file : std::string("(none)");
    if (out != "(none)") WritePng(out, got);
    const size_t px = first / 3;
    ADD_FAILURE() << differing << " channel values differ from " << path << ", the first at ("
                  << px % got.width << ", " << px / got.width << "); this run's picture is " << out;
  }
}

}  // namespace orvo::gfx::test
