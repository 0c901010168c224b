// Full-screen blits: opaque, 50% alpha and 2x scaled, 1920 x 1080, in megapixels per
// second, beside memcpy of the same bytes and (when built with it) pixman's composite of
// the same surfaces. Run by hand: build/<dir>/bench/gfx/blit_bench [repetitions]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "gfx/blend.h"
#include "gfx/surface.h"
#include "tests/vm/vm_test_support.h"
#include "vm/heap.h"

#if ORVO_HAVE_PIXMAN
#include <pixman.h>
#endif

namespace {

using namespace orvo;

constexpr int W = 1920, H = 1080;
constexpr double PIXELS = double(W) * H;

// Best of the repetitions, in seconds per run.
double Best(int reps, const std::function<void()>& run) {
  run();  // warm the caches and the pages
  double best = 1e30;
  for (int i = 0; i < reps; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    run();
    const auto t1 = std::chrono::steady_clock::now();
    best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
  }
  return best;
}

void Row(const char* name, double seconds, double reference, const char* against) {
  std::printf("  %-34s %9.1f Mpixel/s  %7.2f ms", name, PIXELS / seconds / 1e6, seconds * 1e3);
  if (reference > 0) std::printf("   %5.2fx %s", reference / seconds, against);
  std::printf("\n");
}

// A pixman row: its speed, and ours (taking `ours` seconds) as a multiple of it.
void PixmanRow(const char* name, double seconds, double ours) {
  std::printf("  %-34s %9.1f Mpixel/s  %7.2f ms   ours %5.2fx its speed\n", name,
              PIXELS / seconds / 1e6, seconds * 1e3, seconds / ours);
}

void FillRandom(uint8_t* p, size_t pixels, uint32_t alpha, std::mt19937& rng) {
  for (size_t i = 0; i < pixels; ++i) vm::Store32(p + 4 * i, (rng() & 0x00FFFFFFu) | alpha << 24);
}

}  // namespace

int main(int argc, char** argv) {
  const int reps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  vm::test::Image image;
  image.heapSize = 64u << 20;
  image.Code(vm::test::TERM);
  vm::test::Vm machine;
  if (!machine.Load(image)) {
    std::fprintf(stderr, "blit_bench: cannot load the image\n");
    return 1;
  }
  vm::Machine& m = machine.m;
  gfx::Graphics g;
  if (!gfx::CreateScreen(g, W, H)) {
    std::fprintf(stderr, "blit_bench: no screen\n");
    return 1;
  }
  std::mt19937 rng(1);
  const int32_t opaque = gfx::CreateSurface(m, W, H);
  const int32_t half = gfx::CreateSurface(m, W, H);
  const int32_t small = gfx::CreateSurface(m, W / 2, H / 2);
  auto bits = [&](int32_t s) {
    const uint32_t rec = m.heap.records[uint32_t(s)].address;
    return m.mem + m.heap.records[vm::Load32(m.mem + rec + 28)].address;
  };
  FillRandom(bits(opaque), size_t(W) * H, 255, rng);
  FillRandom(bits(half), size_t(W) * H, 128, rng);
  FillRandom(bits(small), size_t(W / 2) * (H / 2), 255, rng);
  FillRandom(g.screen.bits, size_t(W) * H, 255, rng);
  const size_t bytes = size_t(W) * H * 4;
  std::vector<uint8_t> copy(bytes);

  std::printf("1920 x 1080 surfaces, best of %d runs\n", reps);
  const double mem = Best(reps, [&] { std::memcpy(copy.data(), bits(opaque), bytes); });
  Row("memcpy of the same bytes", mem, 0, "");

  const double opaqueBlit =
      Best(reps, [&] { gfx::Blit(g, m, gfx::SURFACE_SCREEN, 0, 0, opaque, 0, 0, W, H, 0, 0, 0); });
  Row("blit, opaque", opaqueBlit, mem, "memcpy");
  const double halfBlit =
      Best(reps, [&] { gfx::Blit(g, m, gfx::SURFACE_SCREEN, 0, 0, half, 0, 0, W, H, 0, 0, 0); });
  Row("blit, alpha 128", halfBlit, mem, "memcpy");
  const double scaled = Best(reps, [&] {
    gfx::ScaledBlit(g, m, gfx::SURFACE_SCREEN, 0, 0, W, H, small, 0, 0, W / 2, H / 2, 0, 0);
  });
  Row("scaled blit 2x, opaque", scaled, mem, "memcpy");
  const double down = Best(std::max(1, reps / 4), [&] {
    gfx::ScaledBlit(g, m, gfx::SURFACE_SCREEN, 0, 0, W / 2, H / 2, half, 0, 0, W, H, 0, 0);
  });
  std::printf("  %-34s %9.1f Mpixel/s (source pixels)\n", "scaled blit 1/2, alpha 128",
              PIXELS / down / 1e6);
  const double portable = Best(reps, [&] {
    for (int y = 0; y < H; ++y)
      gfx::blend::BlitRowPortable(g.screen.bits + size_t(y) * W * 4, bits(half) + size_t(y) * W * 4,
                                  W, false);
  });
  Row("alpha 128 rows, portable kernel", portable, halfBlit, "the vector blit");
#if ORVO_GFX_SSE2
  const double sse2 = Best(reps, [&] {
    for (int y = 0; y < H; ++y)
      gfx::blend::BlitRowSse2(g.screen.bits + size_t(y) * W * 4, bits(half) + size_t(y) * W * 4, W,
                              false);
  });
  Row("alpha 128 rows, SSE2 kernel", sse2, halfBlit, "the chosen kernel");
#endif
#if ORVO_GFX_AVX2
  std::printf("  (the blit uses the %s kernel on this processor)\n",
              gfx::blend::HaveAvx2() ? "AVX2" : "SSE2");
#endif

#if ORVO_HAVE_PIXMAN
  auto wrap = [&](uint8_t* p, int w, int h) {
    return pixman_image_create_bits(PIXMAN_a8r8g8b8, w, h, reinterpret_cast<uint32_t*>(p), w * 4);
  };
  pixman_image_t* dst = wrap(g.screen.bits, W, H);
  pixman_image_t* srcOpaque = wrap(bits(opaque), W, H);
  pixman_image_t* srcHalf = wrap(bits(half), W, H);
  pixman_image_t* srcSmall = wrap(bits(small), W / 2, H / 2);
  const double pixSrc = Best(reps, [&] {
    pixman_image_composite32(PIXMAN_OP_SRC, srcOpaque, nullptr, dst, 0, 0, 0, 0, 0, 0, W, H);
  });
  PixmanRow("pixman SRC copy", pixSrc, opaqueBlit);
  const double pixOverOpaque = Best(reps, [&] {
    pixman_image_composite32(PIXMAN_OP_OVER, srcOpaque, nullptr, dst, 0, 0, 0, 0, 0, 0, W, H);
  });
  PixmanRow("pixman OVER, opaque", pixOverOpaque, opaqueBlit);
  const double pixOver = Best(reps, [&] {
    pixman_image_composite32(PIXMAN_OP_OVER, srcHalf, nullptr, dst, 0, 0, 0, 0, 0, 0, W, H);
  });
  PixmanRow("pixman OVER, alpha 128", pixOver, halfBlit);
  pixman_transform_t t;
  pixman_transform_init_scale(&t, pixman_double_to_fixed(0.5), pixman_double_to_fixed(0.5));
  pixman_image_set_transform(srcSmall, &t);
  pixman_image_set_filter(srcSmall, PIXMAN_FILTER_NEAREST, nullptr, 0);
  const double pixScaled = Best(reps, [&] {
    pixman_image_composite32(PIXMAN_OP_OVER, srcSmall, nullptr, dst, 0, 0, 0, 0, 0, 0, W, H);
  });
  PixmanRow("pixman OVER 2x nearest, opaque", pixScaled, scaled);
  std::printf("goal: alpha 128 blit at least pixman OVER's speed: %.2fx (%s)\n", pixOver / halfBlit,
              pixOver >= halfBlit ? "met" : "missed");
  for (pixman_image_t* i : {dst, srcOpaque, srcHalf, srcSmall}) pixman_image_unref(i);
#else
  std::printf("  pixman: not built in (install libpixman-1-dev and reconfigure)\n");
#endif
  std::printf("goal: opaque blit at least half of memcpy's bandwidth: %.2fx (%s)\n",
              mem / opaqueBlit, mem / opaqueBlit >= 0.5 ? "met" : "missed");
  std::printf("ratios beside memcpy: memcpy's time over the operation's (1 = memcpy speed)\n");
  gfx::DeleteScreen(g);
  return 0;
}
