// The game's frame time with and without a GIF recording: frames of mines' size drawn at
// 60 per second (a moving box and a changing counter, as mines' clock and cursor change
// the screen), each handed to the recorder as the runtime hands it a painted frame. The
// figure is the main thread's time per frame (drawing and the recorder's copy); the
// encoding runs on the recorder's thread meanwhile.
//   build/<dir>/bench/player/gif_bench [frames]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "host/gif_recorder.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int W = 640, H = 480;

void Draw(std::vector<uint32_t>& screen, int frame) {
  const int x = (frame * 3) % (W - 64), y = 100 + (frame % 50);
  for (int j = 0; j < H; ++j)
    for (int i = 0; i < W; ++i) screen[size_t(j) * W + i] = 0xFF2E7D32u;  // the felt
  for (int j = y; j < y + 64; ++j)
    for (int i = x; i < x + 64; ++i) screen[size_t(j) * W + i] = 0xFFC6C6C6u;
  for (int j = 8; j < 30; ++j)
    for (int i = 8; i < 60; ++i) screen[size_t(j) * W + i] = 0xFF000000u | uint32_t(frame * 40503);
}

struct Figures {
  double mean = 0, p99 = 0;
};

Figures Run(int frames, bool record, const std::string& file) {
  std::vector<uint32_t> screen(size_t(W) * H);
  orvo::host::GifRecorder gif;
  const Clock::time_point start = Clock::now();
  auto ms = [&] {
    return uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
  };
  if (record) gif.Start(file, W, H, ms());
  std::vector<double> times;
  Clock::time_point next = Clock::now();
  for (int f = 0; f < frames; ++f) {
    const Clock::time_point t0 = Clock::now();
    Draw(screen, f);
    if (record) gif.Frame(reinterpret_cast<const uint8_t*>(screen.data()), W * 4, ms());
    times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    next += std::chrono::microseconds(16667);
    std::this_thread::sleep_until(next);
  }
  if (record) gif.Stop(ms());
  std::sort(times.begin(), times.end());
  Figures out;
  for (double t : times) out.mean += t;
  out.mean /= double(times.size());
  out.p99 = times[std::min(times.size() - 1, times.size() * 99 / 100)];
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const int frames = argc > 1 ? std::max(60, std::atoi(argv[1])) : 600;
  const std::string file =
      (std::filesystem::temp_directory_path() / "orvo-gif-bench.gif").string();
  const Figures plain = Run(frames, false, file);
  const Figures recording = Run(frames, true, file);
  std::error_code ec;
  const auto size = std::filesystem::file_size(file, ec);
  std::filesystem::remove(file, ec);
  std::printf("frame time at %dx%d, %d frames at 60/s: without GIF %.3f ms (99%% %.3f), "
              "recording %.3f ms (99%% %.3f); GIF %llu KiB\n",
              W, H, frames, plain.mean, plain.p99, recording.mean, recording.p99,
              static_cast<unsigned long long>(size / 1024));
  return 0;
}
