#include "host/gif_recorder.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>

namespace orvo::host {
namespace {

struct Box {
  int32_t x = 0, y = 0, width = 0, height = 0;
};

// The smallest box holding every pixel where a and b differ; width 0 when none does.
Box Changed(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int32_t width,
            int32_t height) {
  int32_t left = width, right = -1, top = height, bottom = -1;
  for (int32_t y = 0; y < height; ++y) {
    const uint32_t* ra = reinterpret_cast<const uint32_t*>(a.data()) + size_t(y) * width;
    const uint32_t* rb = reinterpret_cast<const uint32_t*>(b.data()) + size_t(y) * width;
    if (std::memcmp(ra, rb, size_t(width) * 4) == 0) continue;
    top = std::min(top, y);
    bottom = y;
    int32_t l = 0, r = width - 1;
    while (ra[l] == rb[l]) ++l;
    while (ra[r] == rb[r]) --r;
    left = std::min(left, l);
    right = std::max(right, r);
  }
  if (bottom < 0) return {};
  return {left, top, right - left + 1, bottom - top + 1};
}

class GifFile {
 public:
  GifFile(const std::string& path, int32_t width, int32_t height) {
    int error = 0;
    gif_ = EGifOpenFileName(path.c_str(), false, &error);
    if (!gif_) return;
    EGifSetGifVersion(gif_, true);
    ok_ = EGifPutScreenDesc(gif_, width, height, 8, 0, nullptr) == GIF_OK;
    // Played in a loop, as GIFs of games are watched.
    static const GifByteType kLoop[] = {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};
    static const GifByteType kForever[] = {1, 0, 0};
    ok_ = ok_ && EGifPutExtensionLeader(gif_, APPLICATION_EXT_FUNC_CODE) == GIF_OK &&
          EGifPutExtensionBlock(gif_, sizeof kLoop, kLoop) == GIF_OK &&
          EGifPutExtensionBlock(gif_, sizeof kForever, kForever) == GIF_OK &&
          EGifPutExtensionTrailer(gif_) == GIF_OK;
  }
  ~GifFile() { Close(); }
  bool Close() {
    if (!gif_) return false;
    int error = 0;
    const bool closed = EGifCloseFile(gif_, &error) == GIF_OK;
    gif_ = nullptr;
    return ok_ && closed;
  }

  // The box of frame (width pixels a row) quantized to its own palette, shown for
  // centiseconds over what is already there.
  void Put(const std::vector<uint8_t>& frame, int32_t width, const Box& box, int centiseconds) {
    if (!gif_ || !ok_) return;
    const size_t n = size_t(box.width) * box.height;
    std::vector<GifByteType> r(n), g(n), b(n), index(n);
    for (int32_t y = 0; y < box.height; ++y) {
      const uint8_t* p = frame.data() + (size_t(box.y + y) * width + box.x) * 4;
      for (int32_t x = 0; x < box.width; ++x, p += 4) {
        const size_t i = size_t(y) * box.width + x;
        b[i] = p[0], g[i] = p[1], r[i] = p[2];
      }
    }
    int colours = 256;
    GifColorType palette[256] = {};
    if (GifQuantizeBuffer(box.width, box.height, &colours, r.data(), g.data(), b.data(),
                          index.data(), palette) != GIF_OK) {
      ok_ = false;
      return;
    }
    ColorMapObject* map = GifMakeMapObject(256, palette);
    GraphicsControlBlock control{};
    control.DisposalMode = DISPOSE_DO_NOT;
    control.DelayTime = centiseconds;
    control.TransparentColor = NO_TRANSPARENT_COLOR;
    GifByteType extension[4];
    const size_t length = EGifGCBToExtension(&control, extension);
    ok_ = map && EGifPutExtension(gif_, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length),
                                  extension) == GIF_OK &&
          EGifPutImageDesc(gif_, box.x, box.y, box.width, box.height, false, map) == GIF_OK;
    for (int32_t y = 0; y < box.height && ok_; ++y)
      ok_ = EGifPutLine(gif_, index.data() + size_t(y) * box.width, box.width) == GIF_OK;
    GifFreeMapObject(map);
  }

 private:
  GifFileType* gif_ = nullptr;
  bool ok_ = false;
};

// Centiseconds of a recording at ms, rounded: delays are differences of these, so the
// rounding never adds up over a long recording.
int Centi(uint32_t ms) {
  return static_cast<int>((ms + 5) / 10);
}

}  // namespace

bool GifRecorder::Start(const std::string& path, int32_t width, int32_t height, uint32_t nowMs) {
  if (Recording() || width <= 0 || height <= 0) return false;
  path_ = path;
  width_ = width;
  height_ = height;
  startMs_ = nowMs;
  ok_ = true;
  waiting_.clear();
  thread_ = std::thread([this] { Encode(); });
  return true;
}

bool GifRecorder::Frame(const uint8_t* bgra, int32_t stride, uint32_t nowMs) {
  if (!Recording()) return false;
  const uint32_t ms = nowMs - startMs_;
  if (ms >= kMaxMs) return false;
  Shot shot;
  shot.ms = ms;
  shot.bgra.resize(size_t(width_) * height_ * 4);
  for (int32_t y = 0; y < height_; ++y)
    std::memcpy(shot.bgra.data() + size_t(y) * width_ * 4, bgra + size_t(y) * stride,
                size_t(width_) * 4);
  {
    std::lock_guard<std::mutex> hold(lock_);
    // An encoder behind the game loses the frames in between, never the newest.
    if (waiting_.size() >= maxWaiting_)
      waiting_.back() = std::move(shot);
    else
      waiting_.push_back(std::move(shot));
  }
  wake_.notify_one();
  return true;
}

bool GifRecorder::Stop(uint32_t nowMs) {
  if (!Recording()) return false;
  {
    std::lock_guard<std::mutex> hold(lock_);
    Shot end;
    end.ms = std::min(nowMs - startMs_, kMaxMs);
    end.last = true;
    waiting_.push_back(std::move(end));
  }
  wake_.notify_one();
  thread_.join();
  return ok_;
}

void GifRecorder::Encode() {
  GifFile file(path_, width_, height_);
  std::vector<uint8_t> shown(size_t(width_) * height_ * 4, 0);  // what the GIF shows so far
  bool first = true;
  Shot pending;  // the newest frame, its delay not known yet
  bool havePending = false;
  for (;;) {
    Shot shot;
    {
      std::unique_lock<std::mutex> hold(lock_);
      wake_.wait(hold, [&] { return !waiting_.empty(); });
      shot = std::move(waiting_.front());
      waiting_.pop_front();
    }
    if (havePending && !shot.last && shot.bgra == pending.bgra) continue;  // nothing changed
    if (havePending) {
      const int delay = Centi(shot.ms) - Centi(pending.ms);
      // A frame shown for less than the GIF's time unit gives way to the next.
      if (delay > 0 || shot.last) {
        const Box box = first ? Box{0, 0, width_, height_}
                              : Changed(shown, pending.bgra, width_, height_);
        if (box.width > 0) {
          file.Put(pending.bgra, width_, box, std::max(delay, 1));
          shown.swap(pending.bgra);
          first = false;
        }
      }
    }
    if (shot.last) break;
    pending = std::move(shot);
    havePending = true;
  }
  const bool written = file.Close() && !first;
  std::lock_guard<std::mutex> hold(lock_);
  ok_ = written;
}

}  // namespace orvo::host
