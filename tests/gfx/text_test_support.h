// A loaded VM, a real screen with its text scratch surface and a started text renderer,
// with helpers to place request blocks and texts in VM memory and to look at pixels.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "gfx/surface.h"
#include "gfx/text.h"
#include "tests/vm/vm_test_support.h"
#include "vm/sys.h"

namespace orvo::gfx::test {

struct Rgb {
  uint8_t red = 0, green = 0, blue = 0, alpha = 0;
  bool operator==(const Rgb&) const = default;
};

class TextFixture : public ::testing::Test {
 public:
  static constexpr int32_t kScreenWidth = 640, kScreenHeight = 480;  // text surface 640 x 32
  static constexpr uint32_t kScratchBytes = 1 << 20;

  void SetUp() override {
    vm::test::Image image;
    image.zeroSize = kScratchBytes;
    image.heapSize = 4 << 20;
    ASSERT_TRUE(vm.Load(image));
    scratch = next = image.Here();
    ASSERT_TRUE(CreateScreen(g, kScreenWidth, kScreenHeight));
    DrawRectangle(g, vm.m, SURFACE_SCREEN, 0, 0, kScreenWidth, kScreenHeight, 0xFF000000, 0);
    g.dirty = DirtyRect{};
    ASSERT_TRUE(TextStartup(t, g));
  }
  void TearDown() override {
    TextShutdown(t);
    DeleteScreen(g);
  }

  // Places the text in VM memory; returns its address.
  uint32_t PutText(const std::string& text) {
    const uint32_t at = next;
    std::memcpy(vm.m.mem + at, text.data(), text.size());
    vm.m.mem[at + text.size()] = 0;
    next += static_cast<uint32_t>(text.size() + 4) & ~3u;
    return at;
  }
  // Writes the nine-word block for text at a fresh address, runs row 16 and returns $14's
  // low word.
  uint32_t Draw(int32_t surface, const std::string& text, int32_t x, int32_t y, int32_t box,
                int32_t lineHeight, uint32_t style, uint32_t background, uint32_t colour) {
    const uint32_t textAt = PutText(text);
    const uint32_t block = next;
    const uint32_t words[9] = {static_cast<uint32_t>(surface),
                               textAt,
                               static_cast<uint32_t>(x),
                               static_cast<uint32_t>(y),
                               static_cast<uint32_t>(box),
                               static_cast<uint32_t>(lineHeight),
                               style,
                               background,
                               colour};
    for (int i = 0; i < 9; ++i) vm::Store32(vm.m.mem + block + 4 * i, words[i]);
    next += 36;
    vm.m.SetWord(vm::HDR_RESULT, 0xDEADBEEF);
    TextSys(t, g, vm.m, block);
    return vm.m.Word(vm::HDR_RESULT);
  }
  // Width (high half) of a measure-only request.
  int32_t Measure(const std::string& text, int32_t lineHeight, uint32_t style = 0) {
    return static_cast<int32_t>(
        Draw(SURFACE_SCREEN, text, 0, 0, 1 << 30, lineHeight, style | TEXT_MEASURE, 0, 0) >> 16);
  }

  Rgb ScreenPixel(int32_t x, int32_t y) const {
    const uint8_t* p = g.screen.bits + y * g.screen.stride + x * 4;
    return {p[2], p[1], p[0], p[3]};
  }
  // Number of screen pixels in [x0, x1) x [y0, y1) that are not opaque black.
  int CountLit(int32_t x0, int32_t y0, int32_t x1, int32_t y1) const {
    int n = 0;
    for (int32_t y = y0; y < y1; ++y)
      for (int32_t x = x0; x < x1; ++x)
        if (!(ScreenPixel(x, y) == Rgb{0, 0, 0, 255})) ++n;
    return n;
  }
  std::string ScreenBytes() const {
    return std::string(reinterpret_cast<const char*>(g.screen.bits),
                       static_cast<size_t>(g.screen.stride) * static_cast<size_t>(g.screen.height));
  }

  vm::test::Vm vm;
  Graphics g;
  TextState t;
  uint32_t scratch = 0;
  uint32_t next = 0;
};

}  // namespace orvo::gfx::test
