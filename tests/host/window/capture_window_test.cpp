// The author's keys in the real orvo on a private X server: the screenshot key writes a
// PNG of the game's screen and the GIF key records it; both files are decoded and held
// against the window's pixels. A key the player turned off is the game's.
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <spng.h>

#include <cstdlib>

#include "tests/host/window/orvo_window.h"

namespace orvo::host {
namespace {

using platform::test::ReadWindow;
using platform::test::Shell;

constexpr int kWidth = 640, kHeight = 480;  // the recorder's window, from its header

std::vector<fs::path> Files(const fs::path& folder, const std::string& extension) {
  std::vector<fs::path> out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec))
    if (e.path().extension() == extension) out.push_back(e.path());
  std::sort(out.begin(), out.end());
  return out;
}

// 0xRRGGBB pixels of a PNG, empty when it cannot be read.
std::vector<uint32_t> ReadPng(const fs::path& file, int& width, int& height) {
  const std::string bytes = ReadFile(file);
  std::vector<uint32_t> out;
  spng_ctx* ctx = spng_ctx_new(0);
  spng_set_png_buffer(ctx, bytes.data(), bytes.size());
  spng_ihdr ihdr{};
  size_t size = 0;
  if (spng_get_ihdr(ctx, &ihdr) == 0 && spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size) == 0) {
    std::vector<uint8_t> rgba(size);
    if (spng_decode_image(ctx, rgba.data(), size, SPNG_FMT_RGBA8, 0) == 0) {
      width = static_cast<int>(ihdr.width);
      height = static_cast<int>(ihdr.height);
      for (size_t i = 0; i + 3 < size; i += 4)
        out.push_back(uint32_t{rgba[i]} << 16 | uint32_t{rgba[i + 1]} << 8 | rgba[i + 2]);
    }
  }
  spng_ctx_free(ctx);
  return out;
}

struct Gif {
  int width = 0, height = 0;
  std::vector<std::vector<uint32_t>> frames;  // the picture after each frame, 0xRRGGBB
  std::vector<int> delays;                    // centiseconds
};

// Plays the GIF as a viewer would: each frame's rectangle drawn over what is there.
Gif ReadGif(const fs::path& file) {
  Gif out;
  int error = 0;
  GifFileType* gif = DGifOpenFileName(file.c_str(), &error);
  if (!gif) return out;
  if (DGifSlurp(gif) == GIF_OK) {
    out.width = gif->SWidth;
    out.height = gif->SHeight;
    std::vector<uint32_t> canvas(size_t(out.width) * out.height, 0);
    for (int i = 0; i < gif->ImageCount; ++i) {
      const SavedImage& image = gif->SavedImages[i];
      const GifImageDesc& d = image.ImageDesc;
      const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
      GraphicsControlBlock control{};
      DGifSavedExtensionToGCB(gif, i, &control);
      for (int y = 0; y < d.Height && map; ++y)
        for (int x = 0; x < d.Width; ++x) {
          const GifColorType c = map->Colors[image.RasterBits[y * d.Width + x]];
          canvas[size_t(d.Top + y) * out.width + d.Left + x] =
              uint32_t{c.Red} << 16 | uint32_t{c.Green} << 8 | c.Blue;
        }
      out.frames.push_back(canvas);
      out.delays.push_back(control.DelayTime);
    }
  }
  DGifCloseFile(gif, &error);
  return out;
}

// Alike within what a 256-colour palette loses: every channel of every pixel close.
bool Alike(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  if (a.size() != b.size() || a.empty()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    for (int shift : {0, 8, 16})
      if (std::abs(int((a[i] >> shift) & 0xFF) - int((b[i] >> shift) & 0xFF)) > 12) return false;
  return true;
}

TEST_F(OrvoWindow, TheScreenshotAndGifKeysWriteWhatTheWindowShows) {
  GameFolder g(base, "games");
  Process orvo;
  const Window w = OpenUnderThePointer(orvo, g);
  ASSERT_NE(w, 0u);
  platform::test::XConnection x;
  ASSERT_NE(x.display, nullptr);
  const fs::path shots = g.data / "screenshots";

  ASSERT_EQ(Shell("xdotool key F12"), 0);
  ASSERT_TRUE(WaitFor([&] { return Files(shots, ".png").size() == 1; }));
  const std::vector<uint32_t> before = ReadWindow(x.display, w, 0, 0, kWidth, kHeight);
  int pw = 0, ph = 0;
  std::vector<uint32_t> png;
  ASSERT_TRUE(WaitFor([&] { return !(png = ReadPng(Files(shots, ".png")[0], pw, ph)).empty(); }));
  EXPECT_EQ(pw, kWidth);
  EXPECT_EQ(ph, kHeight);
  EXPECT_EQ(png, before);
  EXPECT_EQ(Files(shots, ".png")[0].filename().string().rfind("recorder-", 0), 0u);

  // A GIF of the red box, then the blue one drawn.
  ASSERT_EQ(Shell("xdotool key Pause"), 0);
  ASSERT_TRUE(WaitFor([&] { return platform::test::WindowTitle(x.display, w).find("recording") !=
                                   std::string::npos; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_EQ(Shell("xdotool key d"), 0);
  ASSERT_TRUE(Logged(g, "E13 68 "));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_EQ(Shell("xdotool key Pause"), 0);
  ASSERT_TRUE(WaitFor([&] { return Files(shots, ".gif").size() == 1; }));
  const std::vector<uint32_t> after = ReadWindow(x.display, w, 0, 0, kWidth, kHeight);
  Gif gif;
  ASSERT_TRUE(WaitFor([&] { return (gif = ReadGif(Files(shots, ".gif")[0])).frames.size() >= 2; }));
  EXPECT_EQ(gif.width, kWidth);
  EXPECT_EQ(gif.height, kHeight);
  EXPECT_TRUE(Alike(gif.frames.front(), before));
  EXPECT_TRUE(Alike(gif.frames.back(), after));
  EXPECT_FALSE(Alike(gif.frames.front(), after));
  // Unchanged frames merged: the delays are the real times the pictures stood, about
  // 300 ms each, not a frame's worth.
  int total = 0;
  for (int d : gif.delays) total += d;
  EXPECT_GE(total, 50);
  EXPECT_GE(gif.delays.front(), 20);
  // The game heard none of the keys.
  EXPECT_EQ(Log(g).find("E12 123 "), std::string::npos) << Log(g);
  EXPECT_EQ(Log(g).find("E12 19 "), std::string::npos) << Log(g);
}

TEST_F(OrvoWindow, AHotKeyTurnedOffIsTheGames) {
  GameFolder g(base, "games");
  const fs::path file = g.home / ".config" / "orvo" / "preferences.json";
  fs::create_directories(file.parent_path());
  std::ofstream(file) << R"({"games": {"games/recorder": {"screenshot key": "none", "gif key": "F9"}}})";
  Process orvo;
  ASSERT_NE(OpenUnderThePointer(orvo, g), 0u);
  ASSERT_EQ(Shell("xdotool key F12 Pause F9"), 0);
  EXPECT_TRUE(Logged(g, "E13 19 ")) << Log(g);  // Pause is only a key now
  EXPECT_NE(Log(g).find("E12 123 "), std::string::npos) << Log(g);
  EXPECT_EQ(Log(g).find("E12 120 "), std::string::npos) << Log(g);  // F9 records
  ASSERT_EQ(Shell("xdotool key F9"), 0);
  EXPECT_TRUE(WaitFor([&] { return Files(g.data / "screenshots", ".gif").size() == 1; }));
  EXPECT_TRUE(Files(g.data / "screenshots", ".png").empty());
}

}  // namespace
}  // namespace orvo::host
