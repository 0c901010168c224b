// X errors that need not end the runtime. Xlib's own handler, behind SDL's, ends the
// process on any error; a post to a window that has just been destroyed (SDL's wake-up
// from another thread racing the end of the program) is one of those that mean nothing.
#pragma once

namespace orvo::platform {

// Call once the X11 video driver is up; does nothing on other drivers.
void TolerateSendsToGoneWindows();

}  // namespace orvo::platform
