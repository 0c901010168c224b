// The GIF recorder on frames made up here: decoded again with giflib, the file holds
// one image per change, each only the changed rectangle, delays adding up to the time
// recorded, and colours within the quantizer's reach of the frames.
#include "host/gif_recorder.h"

#include <gif_lib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>

namespace orvo::host {
namespace {

namespace fs = std::filesystem;
constexpr int32_t W = 64, H = 48;

struct Frame {
  std::vector<uint8_t> bgra = std::vector<uint8_t>(size_t(W) * H * 4, 0);
  void Fill(int32_t x, int32_t y, int32_t w, int32_t h, uint8_t r, uint8_t g, uint8_t b) {
    for (int32_t j = y; j < y + h; ++j)
      for (int32_t i = x; i < x + w; ++i) {
        uint8_t* p = &bgra[(size_t(j) * W + i) * 4];
        p[0] = b, p[1] = g, p[2] = r, p[3] = 255;
      }
  }
};

TEST(GifRecorder, StoresEachChangeAsItsRectangleWithItsRealDelay) {
  const fs::path file = fs::temp_directory_path() / ("gif-" + std::to_string(getpid()) + ".gif");
  std::mt19937 random(7);
  GifRecorder gif(1000);  // room for every frame: none is lost to a slow encoder
  ASSERT_TRUE(gif.Start(file.string(), W, H, 1000));
  Frame f;
  f.Fill(0, 0, W, H, 10, 20, 30);
  ASSERT_TRUE(gif.Frame(f.bgra.data(), W * 4, 1000));
  struct Change {
    int32_t x, y, w, h;
  };
  std::vector<Change> changes;
  uint32_t now = 1000;
  for (int i = 0; i < 12; ++i) {
    // A few unchanged frames, then a box somewhere in new colours.
    for (int same = 0; same < 3; ++same) ASSERT_TRUE(gif.Frame(f.bgra.data(), W * 4, now += 16));
    Change c{int32_t(random() % 40), int32_t(random() % 30), 1 + int32_t(random() % 24),
             1 + int32_t(random() % 18)};
    f.Fill(c.x, c.y, c.w, c.h, uint8_t(random()), uint8_t(random()), uint8_t(random()));
    ASSERT_TRUE(gif.Frame(f.bgra.data(), W * 4, now += 16));
    changes.push_back(c);
  }
  now += 500;
  ASSERT_TRUE(gif.Stop(now));

  int error = 0;
  GifFileType* d = DGifOpenFileName(file.c_str(), &error);
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(DGifSlurp(d), GIF_OK);
  ASSERT_EQ(d->ImageCount, 1 + int(changes.size()));
  int total = 0;
  std::vector<uint8_t> canvas(size_t(W) * H * 3);
  for (int i = 0; i < d->ImageCount; ++i) {
    const SavedImage& image = d->SavedImages[i];
    const GifImageDesc& desc = image.ImageDesc;
    if (i > 0) {
      // No bigger than the box drawn (a box may repaint some pixels with the same colour).
      const Change& c = changes[size_t(i) - 1];
      EXPECT_GE(desc.Left, c.x);
      EXPECT_GE(desc.Top, c.y);
      EXPECT_LE(desc.Left + desc.Width, c.x + c.w);
      EXPECT_LE(desc.Top + desc.Height, c.y + c.h);
    }
    GraphicsControlBlock control{};
    DGifSavedExtensionToGCB(d, i, &control);
    total += control.DelayTime;
    for (int y = 0; y < desc.Height; ++y)
      for (int x = 0; x < desc.Width; ++x) {
        const GifColorType c = desc.ColorMap->Colors[image.RasterBits[y * desc.Width + x]];
        uint8_t* p = &canvas[(size_t(desc.Top + y) * W + desc.Left + x) * 3];
        p[0] = c.Red, p[1] = c.Green, p[2] = c.Blue;
      }
  }
  DGifCloseFile(d, &error);
  EXPECT_EQ(total, int(now - 1000 + 5) / 10);
  // The last picture is the last frame, within the quantizer's tolerance.
  int worst = 0;
  for (size_t i = 0; i < size_t(W) * H; ++i)
    for (int c = 0; c < 3; ++c)
      worst = std::max(worst, std::abs(int(canvas[i * 3 + c]) - int(f.bgra[i * 4 + 2 - c])));
  EXPECT_LE(worst, 8);
  fs::remove(file);
}

TEST(GifRecorder, EndsAtItsLengthAndRefusesANoneSize) {
  GifRecorder gif;
  EXPECT_FALSE(gif.Start("/nonexistent/a.gif", 0, 10, 0));
  const fs::path file = fs::temp_directory_path() / ("gif-len-" + std::to_string(getpid()) + ".gif");
  ASSERT_TRUE(gif.Start(file.string(), W, H, 0));
  Frame f;
  EXPECT_TRUE(gif.Frame(f.bgra.data(), W * 4, GifRecorder::kMaxMs - 1));
  EXPECT_FALSE(gif.Frame(f.bgra.data(), W * 4, GifRecorder::kMaxMs));
  EXPECT_TRUE(gif.Stop(GifRecorder::kMaxMs + 5000));
  fs::remove(file);
  // A file that cannot be made is a failed recording, not a crash.
  ASSERT_TRUE(gif.Start("/nonexistent/folder/a.gif", W, H, 0));
  gif.Frame(f.bgra.data(), W * 4, 10);
  EXPECT_FALSE(gif.Stop(100));
}

}  // namespace
}  // namespace orvo::host
