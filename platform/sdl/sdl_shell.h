// Opening a document, folder or address with the desktop's handler.
#pragma once

#include <string_view>

namespace orvo::platform {

// Starts xdg-open on target without waiting for it; false when it could not be started.
// The target is one argument, never seen by a shell.
bool OpenWithDesktop(std::string_view target);

}  // namespace orvo::platform
