#include "platform/web/web_shell.h"

#include <emscripten.h>

namespace orvo::platform {

namespace {

// The page's dialog (Module.orvoDialog, a promise that settles when it is closed); a
// page without one falls back to the browser's own alert.
EM_ASYNC_JS(void, orvo_dialog, (const char* text), {
  const message = UTF8ToString(text);
  if (Module.orvoDialog) await Module.orvoDialog(message);
  else alert(message);
});

// Offered to the browser's clipboard where the page may write to it; refused silently
// otherwise, the page's own copy stays.
EM_JS(void, orvo_copy, (const char* text), {
  const value = UTF8ToString(text);
  if (navigator.clipboard && navigator.clipboard.writeText)
    navigator.clipboard.writeText(value).catch(() => {});
});

EM_JS(void, orvo_open, (const char* target), {
  window.open(UTF8ToString(target), "_blank", "noopener");
});

}  // namespace

void WebShell::MessageBox(std::string_view text) {
  orvo_dialog(std::string(text).c_str());
}

void WebShell::SetClipboardText(std::string_view utf8) {
  clipboard_ = utf8;
  hasClipboard_ = true;
  orvo_copy(clipboard_.c_str());
}

void WebShell::OpenWithShell(std::string_view target) {
  orvo_open(std::string(target).c_str());
}

}  // namespace orvo::platform
