// Text drawing speed: lines of 40 characters drawn onto a 1920 x 1080 screen at line
// heights 16 and 32 once the font and its glyphs are cached, and fonts fitted per second
// when every lookup misses the font cache. Run by hand:
//   build/<dir>/bench/gfx/text_bench [lines per run]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string_view>
#include <utility>

#include "gfx/font_cache.h"
#include "gfx/surface.h"
#include "gfx/text.h"
#include "tests/vm/vm_test_support.h"

namespace {

using namespace orvo;

constexpr int W = 1920, H = 1080;
constexpr std::string_view LINE = "The quick brown fox jumps over a lazy do";
static_assert(LINE.size() == 40);

// Best of five runs, in seconds per run, after one run that warms everything up.
double Best(const std::function<void()>& run) {
  run();
  double best = 1e30;
  for (int i = 0; i < 5; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    run();
    const auto t1 = std::chrono::steady_clock::now();
    best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const int lines = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
  vm::test::Image image;
  image.heapSize = 1u << 20;
  image.Code(vm::test::TERM);
  vm::test::Vm machine;
  if (!machine.Load(image)) {
    std::fprintf(stderr, "text_bench: cannot load the image\n");
    return 1;
  }
  vm::Machine& m = machine.m;
  gfx::Graphics g;
  gfx::TextState t;
  if (!gfx::CreateScreen(g, W, H) || !gfx::TextStartup(t, g)) {
    std::fprintf(stderr, "text_bench: no screen or no fonts\n");
    return 1;
  }
  gfx::DrawRectangle(g, m, gfx::SURFACE_SCREEN, 0, 0, W, H, 0xFF203040, 0);

  std::printf("lines of %zu characters on a %d x %d screen, %d lines per run, best of 5\n",
              LINE.size(), W, H, lines);
  struct Case {
    const char* name;
    int32_t height;
    uint32_t style, background;
  };
  const Case cases[] = {
      {"16 px, see-through background", 16, 0, 0},
      {"16 px, opaque background", 16, 0, 0xFF000000},
      {"32 px, see-through background", 32, 0, 0},
      {"32 px, opaque background", 32, 0, 0xFF000000},
      {"32 px, bold italic underline", 32, gfx::TEXT_BOLD | gfx::TEXT_ITALIC | gfx::TEXT_UNDERLINE,
       0},
      {"16 px, measure only", 16, gfx::TEXT_MEASURE, 0},
  };
  for (const Case& c : cases) {
    gfx::TextBlock block;
    block.surface = gfx::SURFACE_SCREEN;
    block.boxWidth = W;
    block.lineHeight = c.height;
    block.style = c.style;
    block.background = c.background;
    block.colour = 0x00FFFFFF;
    uint32_t result = 0;
    const double seconds = Best([&] {
      for (int i = 0; i < lines; ++i) {
        // Down the screen and back, so the destination rows change as they do in a page.
        block.y = (i * c.height) % (H - c.height);
        result = gfx::DrawText(t, g, m, block, LINE);
      }
    });
    const double perSecond = lines / seconds;
    std::printf("  %-32s %10.0f lines/s  %7.2f us/line  %6.1f Mchar/s  (line %u px wide)\n", c.name,
                perSecond, 1e6 / perSecond, perSecond * LINE.size() / 1e6, result >> 16);
  }

  // Cache misses: 150 different (line height, style key) pairs in turn through a cache of
  // 100 entries, emptied first, so every lookup fits a new font (and the last fifty evict).
  const uint32_t families[] = {0, gfx::TEXT_COURIER, gfx::TEXT_TIMES};
  auto styleKey = [&](int k) {
    const int extra = k / 3;
    return families[k % 3] | (extra & 1 ? gfx::TEXT_BOLD : 0) | (extra & 2 ? gfx::TEXT_ITALIC : 0) |
           (extra & 4 ? gfx::TEXT_UNDERLINE : 0);
  };
  for (const auto& [lo, hi] : {std::pair{8, 20}, std::pair{20, 40}, std::pair{40, 60}}) {
    gfx::ClearFontCache(t.cache);
    const int n = hi - lo, rounds = 150;
    int fits = 0;
    const uint64_t created0 = t.fonts.counters.fontsCreated;
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i)
      if (gfx::LookupFont(t.cache, t.fonts, lo + i % n, styleKey(i / n))) ++fits;
    const auto t1 = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(t1 - t0).count();
    const double sizes = double(t.fonts.counters.fontsCreated - created0) / rounds;
    std::printf(
        "  fonts fitted on misses, heights %2d-%2d: %8.0f fonts/s  (%.1f sizes made each)\n", lo,
        hi - 1, fits / seconds, sizes);
  }

  gfx::TextShutdown(t);
  gfx::DeleteScreen(g);
  return 0;
}
