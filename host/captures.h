// What the author's keys make of the game's screen: a PNG screenshot, or a GIF recording
// started and stopped with a key. Both go to the screenshots folder of the game's data
// folder, named after the game and the moment ("mines-20260314-101500.png"), and are
// announced in the title bar for a moment.
#pragma once

#include <cstdint>
#include <string>

#include "host/gif_recorder.h"
#include "platform/window.h"
#include "vm/machine.h"

namespace orvo::host {

// The screen as a capture sees it: the client area's part of the screen surface.
struct CaptureSource {
  const uint8_t* bgra = nullptr;
  int32_t width = 0, height = 0, stride = 0;
  std::string dataFolder;  // ends in '/'
  std::string game;        // the game folder's name
};

// A name in folder not taken yet: game-YYYYMMDD-HHMMSS.ext, "-2", "-3"... after it when
// the second is taken already.
std::string CaptureName(const std::string& folder, const std::string& game,
                        const vm::LocalTime& t, const char* extension);

class Captures {
 public:
  // The file written, or "" when none was.
  std::string Screenshot(const CaptureSource& s, const vm::LocalTime& now,
                         platform::WindowSystem& w);
  void ToggleGif(const CaptureSource& s, const vm::LocalTime& now, uint32_t ms,
                 platform::WindowSystem& w);
  bool Recording() const { return gif_.Recording(); }
  // A frame was painted; the recording ends by itself at its length.
  void Painted(const CaptureSource& s, uint32_t ms, platform::WindowSystem& w);
  // The run ends: a recording still running is finished.
  void End(uint32_t ms, platform::WindowSystem& w);

 private:
  GifRecorder gif_;
};

}  // namespace orvo::host
