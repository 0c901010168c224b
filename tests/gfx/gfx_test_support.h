// A loaded VM with a heap and a screen for the graphics tests, plus a plain reference of
// the drawing rules: canvases of pixel words with straightforward loops, per-pixel clip
// tests and ordinary division, written from the rules and not from the fast code.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <random>
#include <utility>
#include <vector>

#include "gfx/surface.h"
#include "tests/vm/vm_test_support.h"
#include "vm/heap.h"
#include "vm/sys.h"

namespace orvo::gfx::test {

// Pixel words: blue in the low byte, as they lie in memory.
constexpr uint32_t Px(uint32_t b, uint32_t g, uint32_t r, uint32_t a) {
  return b | g << 8 | r << 16 | a << 24;
}

struct Canvas {
  int32_t width = 0, height = 0;
  int32_t clipX = 0, clipY = 0, clipW = 0, clipH = 0;
  std::vector<uint32_t> px;
  Canvas() = default;
  Canvas(int32_t w, int32_t h, uint32_t fill = 0)
      : width(w), height(h), clipW(w), clipH(h), px(size_t(w) * size_t(h), fill) {}
  uint32_t& at(int64_t x, int64_t y) { return px[size_t(y * width + x)]; }
  uint32_t at(int64_t x, int64_t y) const { return px[size_t(y * width + x)]; }
  bool InClip(int64_t x, int64_t y) const {
    return x >= clipX && x < int64_t{clipX} + clipW && y >= clipY && y < int64_t{clipY} + clipH;
  }
  bool Inside(int64_t x, int64_t y) const { return x >= 0 && x < width && y >= 0 && y < height; }
};

inline uint32_t Ch(uint32_t p, int c) {
  return (p >> (8 * c)) & 0xFF;
}
inline uint32_t Swap(uint32_t c) {
  return (c & 0xFF00FF00u) | (c & 0xFF) << 16 | ((c >> 16) & 0xFF);
}

// ---- Reference rules ----

inline uint32_t RefBlitPixel(uint32_t d, uint32_t s, bool invert) {
  const uint32_t a = s >> 24;
  if (a == 0) return d;
  uint32_t out = 0;
  for (int c = 0; c < 3; ++c) {
    const uint32_t v = invert ? (255 - Ch(s, c)) * a / 255 + Ch(d, c) * (255 - a) / 255
                              : Ch(d, c) * (255 - a) / 255 + Ch(s, c) * a / 255;
    out |= v << (8 * c);
  }
  return out | std::min<uint32_t>(255, Ch(d, 3) + a) << 24;
}

// Colour blend of lines, fills and single pixels, with a colour given as a pixel word.
inline uint32_t RefColourBlend(uint32_t d, uint32_t colourPixel) {
  const uint32_t a = colourPixel >> 24;
  uint32_t out = 0;
  for (int c = 0; c < 3; ++c)
    out |= (Ch(colourPixel, c) * a / 255 + Ch(d, c) * (255 - a) / 255) << (8 * c);
  return out | (a * a / 255 + Ch(d, 3) * (255 - a) / 255) << 24;
}

// The blit, tile by tile in the destination's row order, reading the source as it is at
// the moment each pixel is drawn (src may be dst). Source pixels outside the source are
// not drawn.
inline void RefBlit(Canvas& dst, const Canvas* srcp, int64_t dx, int64_t dy, int64_t sx, int64_t sy,
                    int64_t w, int64_t h, bool invert, int64_t R, int64_t B) {
  if (w <= 0 || h <= 0) return;
  const Canvas& src = srcp ? *srcp : dst;
  const int64_t xEnd = R ? R : dx + w, yEnd = B ? B : dy + h;
  for (int64_t y = dy; y < yEnd; ++y) {
    for (int64_t x = dx; x < xEnd; ++x) {
      if (!dst.InClip(x, y)) continue;
      const int64_t qx = sx + (x - dx) % w, qy = sy + (y - dy) % h;
      if (!src.Inside(qx, qy)) continue;
      dst.at(x, y) = RefBlitPixel(dst.at(x, y), src.at(qx, qy), invert);
    }
  }
}

// The scaled blit's box averaging and blend, with the running sums of the rule.
inline void RefScaled(Canvas& dst, const Canvas* srcp, int64_t dx, int64_t dy, int64_t dw,
                      int64_t dh, int64_t sx, int64_t sy, int64_t sw, int64_t sh, int64_t R,
                      int64_t B) {
  if (dw < 1 || dh < 1 || sw < 1 || sh < 1) return;
  const Canvas& src = srcp ? *srcp : dst;
  if (dw == sw && dh == sh) {
    RefBlit(dst, srcp, dx, dy, sx, sy, sw, sh, false, R, B);
    return;
  }
  const int64_t xEnd = R ? R : dx + dw, yEnd = B ? B : dy + dh;
  for (int64_t ty = dy; ty < yEnd; ty += dh) {
    for (int64_t tx = dx; tx < xEnd; tx += dw) {
      int64_t rowSum = 0;
      for (int64_t r = 0; r < dh; ++r, rowSum += sh * 32) {
        const int64_t top = sy * 32 + rowSum / dh, bottom = sy * 32 + (rowSum + sh * 32) / dh;
        int64_t colSum = 0;
        for (int64_t c = 0; c < dw; ++c, colSum += sw * 32) {
          const int64_t x = tx + c, y = ty + r;
          if (x >= xEnd || y >= yEnd || !dst.InClip(x, y)) continue;
          const int64_t left = sx * 32 + colSum / dw, right = sx * 32 + (colSum + sw * 32) / dw;
          // Every source pixel the box touches must exist.
          const int64_t lastX = right > left ? (right - 1) / 32 : left / 32;
          const int64_t lastY = bottom > top ? (bottom - 1) / 32 : top / 32;
          if (left < 0 || top < 0 || lastX >= src.width || lastY >= src.height) continue;
          uint32_t result;
          const int64_t I = (bottom - top) * (right - left);
          if (I == 0) {
            result = src.at(left / 32, top / 32);
          } else {
            uint64_t sum[4] = {};
            bool same[4] = {true, true, true, true};
            const uint32_t first = src.at(left / 32, top / 32);
            for (int64_t py = top; py < bottom; py = std::min((py / 32 + 1) * 32, bottom)) {
              for (int64_t qx = left; qx < right; qx = std::min((qx / 32 + 1) * 32, right)) {
                int64_t wgt = (std::min((qx / 32 + 1) * 32, right) - qx) *
                              (std::min((py / 32 + 1) * 32, bottom) - py);
                wgt = std::clamp<int64_t>(wgt, 0, I);
                const uint32_t p = src.at(qx / 32, py / 32);
                for (int ch = 0; ch < 4; ++ch) {
                  sum[ch] += Ch(p, ch) * uint64_t(wgt) / uint64_t(I);
                  if (Ch(p, ch) != Ch(first, ch)) same[ch] = false;
                }
              }
            }
            result = 0;
            for (int ch = 0; ch < 4; ++ch)
              result |= (same[ch] ? Ch(first, ch) : uint32_t(std::min<uint64_t>(sum[ch], 255)))
                        << (8 * ch);
          }
          const uint32_t N = result >> 24;
          if (N == 0) continue;
          const uint32_t d = dst.at(x, y);
          uint32_t out = 0;
          for (int ch = 0; ch < 3; ++ch)
            out |= (Ch(result, ch) * N / 255 + Ch(d, ch) * (255 - N) / 255) << (8 * ch);
          out |= std::min<uint32_t>(255, Ch(d, 3) * (255 - N) / 255 + N * N / 255) << 24;
          dst.at(x, y) = out;
        }
      }
    }
  }
}

// A line by the rule, walked from its first point to its last with every pixel
// clip-tested; the pattern turns only on visible pixels.
inline void RefLine(Canvas& dst, uint64_t& pattern, int64_t x1, int64_t y1, int64_t x2, int64_t y2,
                    uint32_t colourPixel) {
  auto visit = [&](int64_t x, int64_t y) {
    if (!dst.InClip(x, y)) return;
    if (pattern >> 63) dst.at(x, y) = RefColourBlend(dst.at(x, y), colourPixel);
    pattern = pattern << 1 | pattern >> 63;
  };
  const int64_t dx = std::llabs(x2 - x1), dy = std::llabs(y2 - y1);
  const int64_t sx = x2 >= x1 ? 1 : -1, sy = y2 >= y1 ? 1 : -1;
  if (dx == 0 || dy == 0) {
    for (int64_t k = 0; k <= std::max(dx, dy); ++k)
      visit(x1 + sx * (dx ? k : 0), y1 + sy * (dy ? k : 0));
    return;
  }
  const bool xMajor = dx >= dy;
  const int64_t major = xMajor ? dx : dy, minor = xMajor ? dy : dx;
  int64_t err = 2 * minor - major, x = x1, y = y1;
  for (int64_t k = 0; k <= major; ++k) {
    visit(x, y);
    if (err > 0) {
      if (xMajor)
        y += sy;
      else
        x += sx;
      err += 2 * minor - 2 * major;
    } else {
      err += 2 * minor;
    }
    if (xMajor)
      x += sx;
    else
      y += sy;
  }
}

inline void RefRect(Canvas& dst, uint64_t& pattern, int64_t x, int64_t y, int64_t w, int64_t h,
                    uint32_t fill, uint32_t border) {
  const bool borderOn = border > 0x00FFFFFF;
  const int64_t in = borderOn ? 1 : 0;
  if (fill > 0x00FFFFFF)
    for (int64_t py = y + in; py < y + h - in; ++py)
      for (int64_t px = x + in; px < x + w - in; ++px)
        if (dst.InClip(px, py)) dst.at(px, py) = RefColourBlend(dst.at(px, py), Swap(fill));
  if (borderOn) {
    const uint32_t b = Swap(border);
    RefLine(dst, pattern, x, y, x + w - 1, y, b);
    RefLine(dst, pattern, x + w - 1, y, x + w - 1, y + h - 1, b);
    RefLine(dst, pattern, x + w - 1, y + h - 1, x, y + h - 1, b);
    RefLine(dst, pattern, x, y + h - 1, x, y, b);
  }
}

// The ellipse's walk step by step, recording each write; the pixels are then blended
// into the canvas where they fall inside the clip. writes counts writes per pixel.
inline void RefEllipse(Canvas& dst, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t fill,
                       uint32_t outline, std::map<std::pair<int64_t, int64_t>, int>* writes,
                       uint64_t& pattern) {
  if (outline <= 0x00FFFFFF) outline = fill;
  if (w == 0 || h == 0) {
    RefLine(dst, pattern, x, y, x + w, y + h, Swap(outline));
    return;
  }
  std::vector<std::pair<std::pair<int64_t, int64_t>, uint32_t>> order;
  auto put = [&](int64_t px, int64_t py, uint32_t colour) { order.push_back({{px, py}, colour}); };
  const int64_t ew = w % 2 == 0, eh = h % 2 == 0;
  int64_t L = x + (w - ew) / 2, Rc = L + ew;
  const int64_t half = (h - eh) / 2;
  int64_t top = y, bot = y + eh + 2 * half;
  const int64_t A = (w - ew - 1) * (w - ew - 1), Bq = (h - eh - 1) * (h - eh - 1);
  int64_t t = A / 4 + Bq / 2 - half * (A / 2), v = Bq / 4 + A / 2 - A * half, u = A * half, O = 0;
  const int64_t A2 = A + A / 2, B2 = Bq + Bq / 2;
  put(L, top, outline);
  if (ew) put(Rc, top, outline);
  if (bot != top) {
    put(L, bot, outline);
    if (ew) put(Rc, bot, outline);
  }
  while (true) {
    bool row = false;
    if (t < 0) {
      L--, Rc++;
      t += B2 + O, v += Bq + O, O += Bq;
    } else {
      top++, bot--, row = true;
      if (v < 0) {
        L--, Rc++;
        t += B2 + O + A - u, v += Bq + O + A2 - u, O += Bq;
      } else {
        t += A - u, v += A2 - u;
      }
      u -= A;
    }
    if (top > bot) break;
    if (row && fill > 0x00FFFFFF) {
      for (int64_t px = L + 1; px < Rc; ++px) put(px, top, fill);
      if (bot != top)
        for (int64_t px = L + 1; px < Rc; ++px) put(px, bot, fill);
    }
    put(L, top, outline);
    if (Rc != L) put(Rc, top, outline);
    if (top != bot) {
      put(L, bot, outline);
      if (Rc != L) put(Rc, bot, outline);
    }
  }
  for (auto& [p, colour] : order) {
    if (writes) ++(*writes)[p];
    // Red and blue as the colour word has them: the word is used as the pixel.
    if (dst.InClip(p.first, p.second))
      dst.at(p.first, p.second) = RefColourBlend(dst.at(p.first, p.second), colour);
  }
}

inline void RefGradient(Canvas& dst, int64_t x, int64_t y, int64_t w, int64_t h, uint32_t hue) {
  const int64_t cols = std::llabs(w), rows = std::llabs(h);
  int hs = 167 - int(hue & 0xFF);
  if (hs < 0) hs += 252;
  const double H = hs / 42.0;
  const int sector = int(std::floor(H));
  const double f = H - sector;
  for (int64_t i = 0; i < rows; ++i) {
    for (int64_t j = 0; j < cols; ++j) {
      if (!dst.InClip(x + j, y + i)) continue;
      const double V = rows > 1 ? double(h < 0 ? rows - 1 - i : i) / double(rows - 1) : 0;
      const double S = cols > 1 ? double(w < 0 ? cols - 1 - j : j) / double(cols - 1) : 0;
      double c[3];
      if (S == 0) {
        c[0] = c[1] = c[2] = V;
      } else {
        const double p = V * (1 - S), q = V * (1 - S * f), t = V * (1 - S * (1 - f));
        const double table[6][3] = {{V, t, p}, {q, V, p}, {p, V, t},
                                    {p, q, V}, {t, p, V}, {V, p, q}};
        for (int k = 0; k < 3; ++k) c[k] = table[sector][k];
      }
      dst.at(x + j, y + i) = uint32_t(c[0] * 255) | uint32_t(c[1] * 255) << 8 |
                             uint32_t(c[2] * 255) << 16 | 0xFF000000u;
    }
  }
}

// ---- The fixture ----

class GfxTest : public ::testing::Test {
 protected:
  vm::test::Vm vm;
  Graphics g;
  uint32_t scratch = 0;  // VM address of 64 KiB of zeroed data for argument blocks
  static constexpr int32_t SCREEN_W = 64, SCREEN_H = 48;

  void SetUp() override {
    vm::test::Image image;
    image.heapSize = 4u << 20;
    image.zeroSize = 65536;
    image.Code(vm::test::TERM);
    ASSERT_TRUE(vm.Load(image));
    scratch = image.Here();
    ASSERT_TRUE(CreateScreen(g, SCREEN_W, SCREEN_H));
  }

  vm::Machine& M() { return vm.m; }
  const std::vector<std::string>& Messages() const { return vm.hooks.messages; }

  // Pointer to the pixel bytes of a surface (through the heap records for a heap surface).
  uint8_t* Bits(int32_t handle) {
    if (handle == SURFACE_SCREEN) return g.screen.bits;
    if (handle == SURFACE_TEXT) return g.text.bits;
    const uint32_t rec = vm.m.heap.records[uint32_t(handle)].address;
    return vm.m.mem + vm.m.heap.records[vm.Word(rec + 28)].address;
  }
  uint32_t RecordWord(int32_t handle, int i) {
    return vm.Word(vm.m.heap.records[uint32_t(handle)].address + 4 * i);
  }
  void SetRecordWord(int32_t handle, int i, uint32_t v) {
    vm::Store32(vm.m.mem + vm.m.heap.records[uint32_t(handle)].address + 4 * i, v);
  }
  int32_t Width(int32_t h) {
    return h == 0 ? g.screen.width : h == -2 ? g.text.width : int32_t(RecordWord(h, 0));
  }
  int32_t Height(int32_t h) {
    return h == 0 ? g.screen.height : h == -2 ? g.text.height : int32_t(RecordWord(h, 1));
  }

  uint32_t Get(int32_t h, int x, int y) {
    return vm::Load32(Bits(h) + (size_t(y) * size_t(Width(h)) + size_t(x)) * 4);
  }
  void Set(int32_t h, int x, int y, uint32_t v) {
    vm::Store32(Bits(h) + (size_t(y) * size_t(Width(h)) + size_t(x)) * 4, v);
  }

  int32_t NewSurface(int32_t w, int32_t h, uint32_t fill = 0) {
    const int32_t s = CreateSurface(vm.m, w, h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) Set(s, x, y, fill);
    return s;
  }
  int32_t RandomSurface(int32_t w, int32_t h, std::mt19937& rng) {
    const int32_t s = CreateSurface(vm.m, w, h);
    Load(s, RandomCanvas(w, h, rng));
    return s;
  }
  static Canvas RandomCanvas(int32_t w, int32_t h, std::mt19937& rng) {
    Canvas c(w, h);
    // Alphas weighted towards the two fast-path values, 0 and 255.
    for (auto& p : c.px) {
      uint32_t a = rng() & 0xFF;
      const uint32_t pick = rng() % 4;
      if (pick == 0) a = 0;
      if (pick == 1) a = 255;
      p = (rng() & 0xFFFFFF) | a << 24;
    }
    return c;
  }

  // The surface's pixels and clip as a canvas, and back.
  Canvas Snap(int32_t h) {
    Canvas c(Width(h), Height(h));
    for (int y = 0; y < c.height; ++y)
      for (int x = 0; x < c.width; ++x) c.at(x, y) = Get(h, x, y);
    int32_t info[6];
    if (SurfaceInfo(g, vm.m, h, info)) {
      c.clipX = info[2], c.clipY = info[3], c.clipW = info[4], c.clipH = info[5];
    }
    return c;
  }
  void Load(int32_t h, const Canvas& c) {
    for (int y = 0; y < c.height; ++y)
      for (int x = 0; x < c.width; ++x) Set(h, x, y, c.at(x, y));
  }

  // Runs a row of the graphics group with its argument words in VM memory.
  void Sys(uint32_t row, const std::vector<uint32_t>& words) {
    for (size_t i = 0; i < words.size(); ++i) vm::Store32(vm.m.mem + scratch + 4 * i, words[i]);
    AddGraphicsRequests(vm.m.requests, g);
    vm::RunRequest(vm.m, 0x500 | row, scratch);
  }
  uint64_t Result() const { return vm.Quad(vm::HDR_RESULT); }
  uint32_t At(uint32_t offset) const { return scratch + offset; }

  bool Dirty(int32_t& x, int32_t& y, int32_t& w, int32_t& h) { return TakeDirty(g, x, y, w, h); }
  void ExpectDirty(int32_t x, int32_t y, int32_t w, int32_t h) {
    int32_t a, b, c, d;
    ASSERT_TRUE(TakeDirty(g, a, b, c, d));
    EXPECT_EQ(a, x);
    EXPECT_EQ(b, y);
    EXPECT_EQ(c, w);
    EXPECT_EQ(d, h);
  }
  void ExpectClean() {
    int32_t a, b, c, d;
    EXPECT_FALSE(TakeDirty(g, a, b, c, d));
  }
  // Both slots idle and no pins left behind: what every operation must end with.
  void ExpectIdle() {
    EXPECT_EQ(g.dst.handle, SURFACE_NONE);
    EXPECT_EQ(g.src.handle, SURFACE_NONE);
    EXPECT_EQ(vm.m.heap.heapPinCount, 0);
    EXPECT_EQ(vm.m.heap.listHead[vm::LIST_LOCKED], vm::LIST_END);
  }
};

inline int Differences(const Canvas& a, const Canvas& b) {
  int n = 0;
  for (size_t i = 0; i < a.px.size(); ++i) n += a.px[i] != b.px[i];
  return n;
}

}  // namespace orvo::gfx::test
