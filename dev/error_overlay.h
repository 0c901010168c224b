// The box of assembly errors shown over the running game: one line per error, drawn with
// the runtime's own text renderer into pixels of its own, so the game's screen is never
// touched.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gfx/surface.h"
#include "gfx/text.h"
#include "vm/machine.h"

namespace orvo::dev {

class ErrorOverlay {
 public:
  ErrorOverlay() = default;
  ~ErrorOverlay();
  ErrorOverlay(const ErrorOverlay&) = delete;
  ErrorOverlay& operator=(const ErrorOverlay&) = delete;

  // Draws the lines (at most kMaxLines, the rest counted) in a box width pixels wide.
  // No lines: nothing is shown. False when there is nothing to show.
  bool Draw(const std::vector<std::string>& lines, int32_t width);
  bool Shown() const { return shown_; }
  // The box, at the top left of the window, BGRA rows.
  const uint8_t* Pixels() const { return g_.screen.bits; }
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  int32_t Stride() const { return g_.screen.stride; }

  static constexpr size_t kMaxLines = 8;

 private:
  // The drawing calls want a machine; the box's pixels are not in it, and it has no
  // program to hear from it.
  struct NoProgram : vm::Hooks {
    void MessageBox(std::string_view) override {}
    void AppendDebugLog(std::string_view) override {}
    uint32_t ElapsedMs() override { return 0; }
    vm::LocalTime Now() override { return {}; }
  };
  gfx::Graphics g_;
  gfx::TextState text_;
  NoProgram noProgram_;
  vm::Machine machine_{noProgram_};
  bool started_ = false, shown_ = false;
  int32_t width_ = 0, height_ = 0;
};

}  // namespace orvo::dev
