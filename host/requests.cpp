// Every subsystem adds its rows to the machine's request table.
#include "gfx/picture.h"
#include "host/runtime.h"
#include "host/window_requests.h"
#include "services/strings.h"
#include "vm/sys.h"

namespace orvo::host {

void Runtime::AddRequests() {
  static constexpr vm::RequestRow kText[] = {
      {0x510, "text", gfx::TEXT_BLOCK_BYTES / 4, vm::ArgCheck::BY_HANDLER, DrawTextRequest},
  };
  vm::RequestTable& t = machine_.requests;
  services::AddFileRequests(t, files_);
  services::AddStringRequests(t);
  gfx::AddGraphicsRequests(t, graphics_);
  gfx::AddPictureRequests(t, graphics_);
  vm::AddRequests(t, kText, this);
  sound::AddSoundRequests(t, sound_);
  AddWindowRequests(t, window_);
  services::AddSettingsRequests(t, settingsRequests_);
}

void Runtime::DrawTextRequest(vm::Request& r) {
  Runtime& runtime = vm::ServiceOf<Runtime>(r);
  runtime.StartText();
  gfx::TextSys(runtime.text_, runtime.graphics_, r.m, r.args);
}

}  // namespace orvo::host
