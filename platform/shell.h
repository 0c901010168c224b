// The desktop around the runtime: where it was started from, the user's documents, one
// instance per program folder, the message box, the clipboard and opening documents.
#pragma once

#include <string>
#include <string_view>

namespace orvo::platform {

class Shell {
 public:
  virtual ~Shell() = default;
  // Absolute path the runtime was started through (its last component not resolved).
  virtual std::string ExecutablePath() = 0;
  // The user's documents folder ending in '/', or "" when there is none.
  virtual std::string DocumentsFolder() = 0;
  // True when this is the only instance for programFolder. Otherwise the running instance
  // has been asked to raise and restore its window, and the caller ends with 0.
  virtual bool ClaimInstance(const std::string& programFolder) = 0;
  // The runtime's message box: UTF-8 text, caption "!", waits until closed.
  virtual void MessageBox(std::string_view text) = 0;
  // UTF-8 text.
  virtual bool HasClipboardText() = 0;
  virtual std::string GetClipboardText() = 0;
  virtual void SetClipboardText(std::string_view utf8) = 0;
  // Opens a document, folder or address without waiting.
  virtual void OpenWithShell(std::string_view target) = 0;
};

}  // namespace orvo::platform
