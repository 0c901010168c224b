#include "platform/headless/script.h"

#include <gtest/gtest.h>

namespace orvo::platform {
namespace {

TEST(EventScript, ReadsEventsWaitsAndComments) {
  std::vector<ScriptItem> items;
  std::string error;
  ASSERT_TRUE(
      ParseScript("# start\n12 65 1 0\n\n  13 0x41 -1   # key up\nwait 50\n"
                  "until 11 2000\n15 0xFFFFFFFF\r\nshot after.png\n",
                  items, error))
      << error;
  ASSERT_EQ(items.size(), 6u);
  EXPECT_EQ(items[0].event[0], 12);
  EXPECT_EQ(items[0].event[1], 65);
  EXPECT_EQ(items[1].event[1], 0x41);
  EXPECT_EQ(items[1].event[2], -1);
  EXPECT_EQ(items[1].event[3], 0);
  EXPECT_EQ(items[2].kind, ScriptItem::WAIT);
  EXPECT_EQ(items[2].waitMs, 50u);
  EXPECT_EQ(items[3].kind, ScriptItem::UNTIL);
  EXPECT_EQ(items[3].code, 11);
  EXPECT_EQ(items[3].waitMs, 2000u);
  EXPECT_EQ(items[4].event[1], -1);
  EXPECT_EQ(items[5].kind, ScriptItem::SHOT);
  EXPECT_EQ(items[5].file, "after.png");
}

TEST(EventScript, RefusesMalformedLines) {
  for (const char* bad :
       {"12 x", "wait", "wait -5", "until 11", "1 2 3 4 5", "0x", "0x1G", "shot", "shot a b"}) {
    std::vector<ScriptItem> items;
    std::string error;
    EXPECT_FALSE(ParseScript(bad, items, error)) << bad;
    EXPECT_NE(error.find("line 1"), std::string::npos) << bad;
  }
}

}  // namespace
}  // namespace orvo::platform
