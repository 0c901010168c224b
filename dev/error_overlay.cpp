#include "dev/error_overlay.h"

#include <algorithm>

namespace orvo::dev {
namespace {

constexpr int32_t kLineHeight = 16, kMargin = 4;
constexpr uint32_t kBackground = 0xFF201860u;  // dark red, opaque (0xAABBGGRR)
constexpr uint32_t kInk = 0xFFFFFFFFu;

}  // namespace

ErrorOverlay::~ErrorOverlay() {
  gfx::TextShutdown(text_);
  gfx::DeleteScreen(g_);
}

bool ErrorOverlay::Draw(const std::vector<std::string>& lines, int32_t width) {
  shown_ = false;
  if (lines.empty() || width <= 0) return false;
  std::vector<std::string> shown(lines.begin(),
                                 lines.begin() + std::min(lines.size(), kMaxLines));
  if (lines.size() > kMaxLines)
    shown.back() = "... and " + std::to_string(lines.size() - kMaxLines + 1) + " more";
  const int32_t height = static_cast<int32_t>(shown.size()) * kLineHeight + 2 * kMargin;
  if (!g_.screen.bits || g_.screen.width < width || g_.screen.height < height) {
    gfx::TextShutdown(text_);
    gfx::DeleteScreen(g_);
    started_ = false;
    // Room for the most lines, so a longer list of errors needs no new surfaces.
    const int32_t most = static_cast<int32_t>(kMaxLines) * kLineHeight + 2 * kMargin;
    if (!gfx::CreateScreen(g_, std::max(width, 64), std::max(most, 15 * kLineHeight)))
      return false;
  }
  if (!started_) started_ = gfx::TextStartup(text_, g_);
  width_ = width;
  height_ = height;
  gfx::DrawRectangle(g_, machine_, gfx::SURFACE_SCREEN, 0, 0, width, height, kBackground, kInk);
  for (size_t i = 0; i < shown.size() && started_; ++i) {
    gfx::TextBlock block;
    block.surface = gfx::SURFACE_SCREEN;
    block.x = kMargin;
    block.y = kMargin + static_cast<int32_t>(i) * kLineHeight;
    block.boxWidth = width - 2 * kMargin;
    block.lineHeight = kLineHeight;
    block.background = kBackground;
    block.colour = kInk;
    gfx::DrawText(text_, g_, machine_, block, shown[i]);
  }
  shown_ = true;
  return true;
}

}  // namespace orvo::dev
