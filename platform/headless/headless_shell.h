// The headless desktop: message boxes go to a stream as escaped lines, the clipboard
// lives in memory, and every start is the only instance.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "platform/headless/headless_config.h"
#include "platform/shell.h"

namespace orvo::platform {

class HeadlessShell : public Shell {
 public:
  explicit HeadlessShell(const HeadlessConfig& config)
      : executablePath_(config.executablePath),
        documentsFolder_(config.documentsFolder),
        messages_(config.messages) {}

  std::string ExecutablePath() override { return executablePath_; }
  std::string DocumentsFolder() override { return documentsFolder_; }
  bool ClaimInstance(const std::string&) override { return true; }
  void MessageBox(std::string_view text) override;
  bool HasClipboardText() override { return hasClipboard_; }
  std::string GetClipboardText() override { return clipboard_; }
  void SetClipboardText(std::string_view utf8) override;
  void OpenWithShell(std::string_view target) override;

 private:
  const std::string executablePath_, documentsFolder_;
  std::FILE* const messages_;
  bool hasClipboard_ = false;
  std::string clipboard_;
};

// Message text as one output line: backslash, CR and LF escaped.
std::string EscapeMessage(std::string_view text);

}  // namespace orvo::platform
