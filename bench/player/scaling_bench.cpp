// Frame time of the real SDL window at 1920 x 1080, unscaled and with every game pixel
// shown as a 3 x 3 block: the same full-screen picture presented again and again (the
// upload of the changed area, the renderer's one copy, the present), in milliseconds per
// frame. Needs a display of at least 1920 x 1080; bench/scaling starts one.
//   build/<dir>/bench/player/scaling_bench [frames]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/sdl/sdl_platform.h"

namespace {

using namespace orvo::platform;

constexpr int W = 1920, H = 1080;

// Milliseconds per frame, best of three rounds of frames presents of the whole picture.
double FrameMs(int scale, int frames) {
  char name[] = "scaling_bench";
  char* argv[] = {name, nullptr};
  SdlPlatform p(1, argv);
  if (!p.HasVideo()) return -1;
  p.window.SetScale(scale);
  const int gw = W / scale, gh = H / scale;
  if (!p.window.CreateWindow("scaling", 0, 0, gw, gh)) return -1;
  p.window.ShowWindow();
  std::vector<uint8_t> picture(static_cast<size_t>(gw) * gh * 4);
  Message m;
  double best = 1e9;
  for (int round = 0; round < 3; ++round) {
    while (p.window.PeekMessage()) p.window.GetMessage(m);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < frames; ++i) {
      picture[static_cast<size_t>(i % gh) * gw * 4] = static_cast<uint8_t>(i);  // a change
      p.window.Present(picture.data(), gw, gh, gw * 4, {0, 0, gw, gh});
    }
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count() / frames);
  }
  p.window.DestroyWindow();
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const int frames = argc > 1 ? std::max(std::atoi(argv[1]), 1) : 60;
  for (const int scale : {1, 3}) {
    const double ms = FrameMs(scale, frames);
    if (ms < 0) {
      std::fprintf(stderr, "scaling_bench: no window could be made (no display?)\n");
      return 1;
    }
    std::printf("%dx  %4d x %-4d game pixels in a %d x %d window: %6.2f ms a frame\n", scale,
                W / scale, H / scale, W, H, ms);
  }
  return 0;
}
