// The desktop on SDL: the message box, the clipboard, the user's folders, one instance
// per program folder, and documents opened with the desktop's handler.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "platform/sdl/sdl_folders.h"
#include "platform/sdl/sdl_instance.h"
#include "platform/shell.h"

namespace orvo::platform {

// Starts xdg-open on target without waiting for it; false when it could not be started.
// The target is one argument, never seen by a shell.
bool OpenWithDesktop(std::string_view target);

class SdlShell final : public Shell {
 public:
  // Without video there is no clipboard and message boxes go to standard error. A later
  // instance's request to raise the window arrives as an SDL event of type raiseEvent.
  SdlShell(bool video, std::string executablePath, uint32_t raiseEvent)
      : video_(video), executablePath_(std::move(executablePath)), raiseEvent_(raiseEvent) {}

  std::string ExecutablePath() override { return executablePath_; }
  std::string DocumentsFolder() override { return UserDocumentsFolder(); }
  bool ClaimInstance(const std::string& programFolder) override;
  void MessageBox(std::string_view text) override;
  bool HasClipboardText() override;
  std::string GetClipboardText() override;
  void SetClipboardText(std::string_view utf8) override;
  void OpenWithShell(std::string_view target) override { OpenWithDesktop(target); }

  void ReleaseInstance() { instance_.Release(); }

 private:
  const bool video_;
  const std::string executablePath_;
  const uint32_t raiseEvent_;
  InstanceLock instance_;
};

}  // namespace orvo::platform
