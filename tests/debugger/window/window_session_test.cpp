// velda-dap running mines in its real window on a private X server: the game stops at a
// breakpoint with its window up, goes back a step there, runs on, and the window's close
// button ends the session as it ends orvo.
#include <gtest/gtest.h>

#include <string>

#include "tests/debugger/adapter_process.h"
#include "tests/platform/x_client.h"
#include "tests/platform/xvfb.h"

namespace {

using orvo::debugger::test::Adapter;
using orvo::debugger::test::Json;
using orvo::debugger::test::Until;

bool IsEvent(const Json& m, const char* name) {
  return m["type"] == "event" && m["event"] == name;
}

TEST(WindowSession, BreaksInTheRealWindowAndItsCloseButtonEndsTheGame) {
  if (orvo::test::XServer::Ensure(orvo::test::XServer::kPrivate).empty())
    GTEST_SKIP() << "no X server (Xvfb) could be started";
  Adapter a;
  a.Request(1, "initialize");
  ASSERT_TRUE(a.ResponseTo(1)["success"]);
  a.Request(2, "launch", {{"game", ORVO_EXAMPLE_GAMES "/mines"}, {"data", ::testing::TempDir()}});
  ASSERT_TRUE(a.ResponseTo(2)["success"]);
  a.Request(3, "setFunctionBreakpoints", {{"breakpoints", {{{"name", "NewGame"}}}}});
  ASSERT_TRUE(a.ResponseTo(3)["body"]["breakpoints"][0]["verified"]);
  a.Request(4, "configurationDone");
  const Json stop = Until(a, [](const Json& m) { return IsEvent(m, "stopped"); });
  ASSERT_FALSE(stop.is_null());
  EXPECT_EQ(stop["body"]["reason"], "breakpoint");

  orvo::platform::test::XConnection x;
  ASSERT_NE(x.display, nullptr);
  const Window window = orvo::platform::test::FindWindow(".");
  ASSERT_NE(window, 0u) << "the game's window is up while it is stopped";

  a.Request(5, "stepIn", {{"threadId", 1}, {"granularity", "instruction"}});
  ASSERT_FALSE(Until(a, [](const Json& m) { return IsEvent(m, "stopped"); }).is_null());
  a.Request(6, "stepBack", {{"threadId", 1}, {"granularity", "instruction"}});
  ASSERT_FALSE(Until(a, [](const Json& m) { return IsEvent(m, "stopped"); }).is_null());
  a.Request(7, "stackTrace", {{"threadId", 1}});
  EXPECT_EQ(a.ResponseTo(7)["body"]["stackFrames"][0]["name"], "NewGame");

  a.Request(8, "setFunctionBreakpoints", {{"breakpoints", Json::array()}});
  a.Request(9, "continue", {{"threadId", 1}});
  ASSERT_TRUE(a.ResponseTo(9)["success"]);
  orvo::platform::test::SendClose(x.display, window);
  const Json exited = Until(a, [](const Json& m) { return IsEvent(m, "exited"); });
  ASSERT_FALSE(exited.is_null());
  EXPECT_EQ(exited["body"]["exitCode"], 0);
  a.Request(10, "disconnect");
  EXPECT_TRUE(a.ResponseTo(10)["success"]);
  a.EndInput();
}

}  // namespace
