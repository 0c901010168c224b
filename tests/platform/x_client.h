// Looking at and driving windows from outside, as another X client: reading pixels,
// sending the close button's message, running xdotool. Header-only; needs Xlib.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace orvo::platform::test {

// A connection of the test's own, as another client of the server sees the window.
// Xvfb now and then resets a new connection at once; a second try succeeds.
inline Display* OpenDisplay() {
  for (int attempt = 0; attempt < 10; ++attempt) {
    if (Display* d = XOpenDisplay(nullptr)) return d;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return nullptr;
}

struct XConnection {
  Display* display = OpenDisplay();
  ~XConnection() {
    if (display) XCloseDisplay(display);
  }
};

// The window's pixels as 0xRRGGBB, row by row.
inline std::vector<uint32_t> ReadWindow(Display* d, Window w, int x, int y, int width, int height) {
  std::vector<uint32_t> out;
  XSync(d, False);
  XImage* image = XGetImage(d, w, x, y, static_cast<unsigned>(width), static_cast<unsigned>(height),
                            AllPlanes, ZPixmap);
  if (!image) return out;
  for (int j = 0; j < height; ++j) {
    for (int i = 0; i < width; ++i) out.push_back(XGetPixel(image, i, j) & 0xFFFFFF);
  }
  XDestroyImage(image);
  return out;
}

// The output of a shell command (standard error included), and its status in rc.
inline std::string ShellOutput(const std::string& command, int* rc = nullptr) {
  std::string output;
  FILE* f = popen((command + " 2>&1").c_str(), "r");
  if (!f) return output;
  char buf[256];
  while (fgets(buf, sizeof buf, f)) output += buf;
  const int status = pclose(f);
  if (rc) *rc = status;
  return output;
}

// Runs a shell command; xdotool commands that failed to reach the server are run again.
inline int Shell(const std::string& command) {
  int rc = 0;
  for (int attempt = 0; attempt < 10; ++attempt) {
    const std::string output = ShellOutput(command, &rc);
    if (rc == 0 || output.find("an't open display") == std::string::npos) return rc;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return rc;
}

// What a window manager sends when the close button is pressed.
inline void SendClose(Display* d, Window w) {
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = w;
  e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
  e.xclient.data.l[1] = CurrentTime;
  XSendEvent(d, w, False, NoEventMask, &e);
  XFlush(d);
}

// The first visible window whose title matches the regular expression, waiting up to
// seconds for it; 0 when none came.
inline Window FindWindow(const std::string& titleRegex, int seconds = 10) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) {
    const std::string out = ShellOutput("xdotool search --onlyvisible --name '" + titleRegex + "'");
    const unsigned long id = std::strtoul(out.c_str(), nullptr, 10);
    if (id != 0) return static_cast<Window>(id);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return 0;
}

// A window's title as its owner stored it: _NET_WM_NAME, else WM_NAME, read as raw bytes
// whatever their declared encoding. (xdotool cannot match a WM_NAME that SDL's message
// box stores in an encoding Xlib does not know.)
inline std::string WindowTitle(Display* d, Window w) {
  for (const char* property : {"_NET_WM_NAME", "WM_NAME"}) {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* bytes = nullptr;
    const Atom name = XInternAtom(d, property, False);
    if (XGetWindowProperty(d, w, name, 0, 1024, False, AnyPropertyType, &type, &format, &count,
                           &after, &bytes) != Success)
      continue;
    std::string title =
        bytes && format == 8 ? std::string(reinterpret_cast<char*>(bytes), count) : std::string();
    if (bytes) XFree(bytes);
    if (!title.empty()) return title;
  }
  return "";
}

// The first mapped top-level window titled exactly title, waiting up to ms for it; 0 when
// none came.
inline Window FindWindowTitled(Display* d, const std::string& title, int ms = 10000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    Window root = 0, parent = 0, *children = nullptr, found = 0;
    unsigned count = 0;
    // A window may go between the listing and the look at it: its error is no failure.
    XSync(d, False);
    auto* previous = XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    if (XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count)) {
      for (unsigned i = 0; i < count && !found; ++i) {
        XWindowAttributes a{};
        if (XGetWindowAttributes(d, children[i], &a) && a.map_state == IsViewable &&
            WindowTitle(d, children[i]) == title)
          found = children[i];
      }
      if (children) XFree(children);
    }
    XSync(d, False);
    XSetErrorHandler(previous);
    if (found || std::chrono::steady_clock::now() > end) return found;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace orvo::platform::test
