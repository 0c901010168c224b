// The page around the runtime: the message box is a dialog in the page whose wait gives
// the browser back its control (Asyncify), the clipboard is kept in the page and offered
// to the browser's, documents open in a new tab, and the documents folder is the
// IndexedDB-backed data folder the page mounts before the runtime starts.
#pragma once

#include <string>

#include "platform/shell.h"

namespace orvo::platform {

// Where the page mounts the browser's storage (IDBFS) and keeps the game archive.
inline constexpr const char* kWebDataFolder = "/data/";
inline constexpr const char* kWebProgramFolder = "/game/";

class WebShell : public Shell {
 public:
  std::string ExecutablePath() override { return std::string(kWebProgramFolder) + "orvo"; }
  std::string DocumentsFolder() override { return kWebDataFolder; }
  // Each tab is an instance of its own: the storage is shared, as two desktop windows of
  // different games share the documents folder.
  bool ClaimInstance(const std::string&) override { return true; }
  void MessageBox(std::string_view text) override;
  bool HasClipboardText() override { return hasClipboard_; }
  std::string GetClipboardText() override { return clipboard_; }
  void SetClipboardText(std::string_view utf8) override;
  void OpenWithShell(std::string_view target) override;

 private:
  std::string clipboard_;
  bool hasClipboard_ = false;
};

}  // namespace orvo::platform
