// orvo-web: the runtime in a web page. The page (web/orvo-page.js) has mounted the data
// folder from the browser's storage and put the game archive in the program folder
// before this starts; the game then runs in the page's canvas.
#include <emscripten.h>

#include "host/runtime.h"
#include "platform/web/web_platform.h"

namespace {

// The archive the page fetched, as the program folder.
constexpr const char* kArchive = "/game/game.orvo";

// Tells the page how the run ended, so it can say so where the game was.
EM_JS(void, orvo_ended, (int code, int outcome), {
  if (Module.onGameEnded) Module.onGameEnded(code, outcome);
});

}  // namespace

int main() {
  orvo::host::RuntimeOptions options;
  options.archive.path = kArchive;
  orvo::platform::WebPlatform platform("#screen");
  orvo::host::Runtime runtime(platform.Parts(), std::move(options));
  const int code = runtime.Run();
  orvo_ended(code, static_cast<int>(runtime.Outcome()));
  return code;
}
