#include "host/captures.h"

#include <cstdio>
#include <filesystem>

#include "host/screenshot.h"

namespace orvo::host {
namespace {

std::string FolderFor(const CaptureSource& s) {
  const std::string folder = s.dataFolder + "screenshots/";
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  return folder;
}

std::string FileName(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

}  // namespace

std::string CaptureName(const std::string& folder, const std::string& game,
                        const vm::LocalTime& t, const char* extension) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "-%04d%02d%02d-%02d%02d%02d", t.year % 10000, t.month % 100,
                t.day % 100, t.hour % 100, t.minute % 100, t.second % 100);
  const std::string base = folder + game + stamp;
  std::string name = base + extension;
  std::error_code ec;
  for (int n = 2; std::filesystem::exists(name, ec); ++n)
    name = base + "-" + std::to_string(n) + extension;
  return name;
}

std::string Captures::Screenshot(const CaptureSource& s, const vm::LocalTime& now,
                                platform::WindowSystem& w) {
  if (!s.bgra) return "";
  const std::string file = CaptureName(FolderFor(s), s.game, now, ".png");
  if (WriteScreenshot(file, s.bgra, s.width, s.height, s.stride)) {
    w.ShowNotice("screenshot " + FileName(file));
    return file;
  }
  std::fprintf(stderr, "orvo: cannot write the screenshot %s\n", file.c_str());
  w.ShowNotice("no screenshot: cannot write " + FileName(file));
  return "";
}

void Captures::ToggleGif(const CaptureSource& s, const vm::LocalTime& now, uint32_t ms,
                         platform::WindowSystem& w) {
  if (gif_.Recording()) {
    End(ms, w);
    return;
  }
  if (!s.bgra) return;
  const std::string file = CaptureName(FolderFor(s), s.game, now, ".gif");
  if (!gif_.Start(file, s.width, s.height, ms)) return;
  // The screen as it is now is the first frame, however long it stays unchanged.
  gif_.Frame(s.bgra, s.stride, ms);
  w.ShowNotice("recording " + FileName(file));
}

void Captures::Painted(const CaptureSource& s, uint32_t ms, platform::WindowSystem& w) {
  if (!gif_.Recording() || !s.bgra) return;
  if (!gif_.Frame(s.bgra, s.stride, ms)) End(ms, w);
}

void Captures::End(uint32_t ms, platform::WindowSystem& w) {
  if (!gif_.Recording()) return;
  if (gif_.Stop(ms)) {
    w.ShowNotice("GIF saved " + FileName(gif_.Path()));
  } else {
    std::fprintf(stderr, "orvo: cannot write the GIF %s\n", gif_.Path().c_str());
    w.ShowNotice("no GIF: cannot write " + FileName(gif_.Path()));
  }
}

}  // namespace orvo::host
