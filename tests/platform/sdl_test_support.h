// Shared by the SDL platform tests: a platform on a private X server, waiting for
// messages with a deadline, and looking at the window from outside through Xlib.
#pragma once

#include <SDL2/SDL_syswm.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/sdl/sdl_platform.h"
#include "tests/platform/x_client.h"
#include "tests/platform/xvfb.h"

namespace orvo::platform::test {

using Clock = std::chrono::steady_clock;

inline std::unique_ptr<SdlPlatform> MakePlatform(const char* argv0 = "/opt/games/orvo") {
  char* argv[] = {const_cast<char*>(argv0), nullptr};
  return std::make_unique<SdlPlatform>(1, argv);
}

// Messages until done(collected) holds or the time is up; false on timeout.
inline bool Collect(WindowSystem& p, std::vector<Message>& got,
                    const std::function<bool(const std::vector<Message>&)>& done,
                    int timeoutMs = 5000) {
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done(got)) {
    if (Clock::now() > end) return false;
    if (p.PeekMessage()) {
      Message m;
      if (!p.GetMessage(m)) return false;
      got.push_back(std::move(m));
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  return true;
}

// Collects until a message with this id (and, when given, wParam) has come.
inline bool CollectUntil(WindowSystem& p, std::vector<Message>& got, uint32_t id,
                         int64_t wParam = -1, int timeoutMs = 5000) {
  return Collect(
      p, got,
      [&](const std::vector<Message>& g) {
        for (const Message& m : g) {
          if (m.id == id && (wParam < 0 || m.wParam == static_cast<uint32_t>(wParam))) return true;
        }
        return false;
      },
      timeoutMs);
}

// Everything that comes within ms.
inline std::vector<Message> Drain(WindowSystem& p, int ms) {
  std::vector<Message> got;
  Collect(
      p, got, [](const std::vector<Message>&) { return false; }, ms);
  return got;
}

inline std::vector<Message> OnlyIds(const std::vector<Message>& all,
                                    std::initializer_list<uint32_t> ids) {
  std::vector<Message> out;
  for (const Message& m : all) {
    for (uint32_t id : ids) {
      if (m.id == id) out.push_back(m);
    }
  }
  return out;
}

inline Window XWindowOf(SDL_Window* w) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!SDL_GetWindowWMInfo(w, &info) || info.subsystem != SDL_SYSWM_X11) return 0;
  return info.info.x11.window;
}

// Every test here runs on an X server of its own.
class SdlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (orvo::test::XServer::Ensure(orvo::test::XServer::kPrivate).empty()) {
      GTEST_SKIP() << "no X server (Xvfb) could be started";
    }
    platform = MakePlatform();
    ASSERT_TRUE(platform->HasVideo());
  }

  // A shown window, with the messages of its creation and showing already taken.
  void OpenWindow(int x, int y, int width, int height) {
    ASSERT_TRUE(platform->window.CreateWindow("test", x, y, width, height));
    platform->window.ShowWindow();
    std::vector<Message> got;
    ASSERT_TRUE(CollectUntil(platform->window, got, MSG_PAINT, -1, 15000))
        << SDL_GetCurrentVideoDriver() << " " << got.size() << " " << SDL_GetError();
    Drain(platform->window, 100);
    xwindow = XWindowOf(platform->window.Native());
    ASSERT_NE(xwindow, 0u);
  }

  std::unique_ptr<SdlPlatform> platform;
  Window xwindow = 0;
};

}  // namespace orvo::platform::test
