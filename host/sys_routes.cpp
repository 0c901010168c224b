// The sys groups served outside the VM core, routed to their services.
#include "gfx/picture.h"
#include "host/runtime.h"
#include "host/window_requests.h"
#include "services/strings.h"
#include "vm/sys.h"

namespace orvo::host {

namespace {

enum Group : uint32_t {
  GROUP_FILES = 0,
  GROUP_STRINGS = 3,
  GROUP_GRAPHICS = 5,
  GROUP_WINDOW = 7,
  GROUP_SETTINGS = 8,
};

// The graphics row served by the text renderer.
constexpr uint32_t GFX_DRAW_TEXT = 16;

}  // namespace

void Runtime::SysGroup(vm::Machine& m, uint32_t command, uint32_t args) {
  const uint32_t row = command & 0xFF;
  switch (command >> 8) {
    case GROUP_FILES:
      services::FilesSys(files_, m, row, args);
      break;
    case GROUP_STRINGS:
      services::StringsSys(m, row, args);
      break;
    case GROUP_GRAPHICS:
      if (row == gfx::GFX_LOAD_PICTURE || row == gfx::GFX_SAVE_PICTURE)
        gfx::PictureSys(graphics_, m, row, args);
      else if (row == GFX_DRAW_TEXT) {
        StartText();
        gfx::TextSys(text_, graphics_, m, args);
      } else
        gfx::GraphicsSys(graphics_, m, row, args);
      break;
    case GROUP_WINDOW: {
      WindowContext w{platform_, state_, queue_};
      WindowSys(w, m, row, args);
      break;
    }
    case GROUP_SETTINGS:
      services::SettingsSys(settings_, files_, m, row, args);
      break;
    default:
      vm::UnknownSys(m);
      break;
  }
}

}  // namespace orvo::host
