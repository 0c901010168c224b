#include <gtest/gtest.h>

#include "host/event_queue.h"
#include "host/event_script.h"

namespace orvo::host {
namespace {

TEST(EventQueue, HoldsAtMost1023Events) {
  EventQueue q;
  for (int i = 0; i < 1100; ++i) PostEvent(q, {12, i, 0, 0});
  int count = 0;
  Event e;
  while (TakeEvent(q, e)) {
    EXPECT_EQ(e.a1, count);
    ++count;
  }
  EXPECT_EQ(count, 1023);
}

TEST(EventQueue, FullQueueRuleAfterWrapping) {
  EventQueue q;
  q.read = q.write = 1000;
  for (int i = 0; i < 1023; ++i) PostEvent(q, {5, i, 0, 0});
  EXPECT_EQ(q.write, 999u);
  PostEvent(q, {6, 0, 0, 0});  // full: discarded
  EXPECT_EQ(q.write, 999u);
  EXPECT_TRUE(HasPending(q, 5));
  EXPECT_FALSE(HasPending(q, 6));
  Event e;
  ASSERT_TRUE(TakeEvent(q, e));
  EXPECT_EQ(e.a1, 0);
}

TEST(EventScript, ReadsEventsWaitsAndComments) {
  std::vector<ScriptItem> items;
  std::string error;
  ASSERT_TRUE(ParseScript("# start\n12 65 1 0\n\n  13 0x41 -1   # key up\nwait 50\n"
                          "until 11 2000\n15 0xFFFFFFFF\r\n",
                          items, error))
      << error;
  ASSERT_EQ(items.size(), 5u);
  EXPECT_EQ(items[0].event.code, 12);
  EXPECT_EQ(items[0].event.a1, 65);
  EXPECT_EQ(items[1].event.a1, 0x41);
  EXPECT_EQ(items[1].event.a2, -1);
  EXPECT_EQ(items[1].event.a3, 0);
  EXPECT_EQ(items[2].kind, ScriptItem::WAIT);
  EXPECT_EQ(items[2].waitMs, 50u);
  EXPECT_EQ(items[3].kind, ScriptItem::UNTIL);
  EXPECT_EQ(items[3].code, 11);
  EXPECT_EQ(items[3].waitMs, 2000u);
  EXPECT_EQ(items[4].event.a1, -1);
}

TEST(EventScript, RefusesMalformedLines) {
  for (const char* bad : {"12 x", "wait", "wait -5", "until 11", "1 2 3 4 5", "0x", "0x1G"}) {
    std::vector<ScriptItem> items;
    std::string error;
    EXPECT_FALSE(ParseScript(bad, items, error)) << bad;
    EXPECT_NE(error.find("line 1"), std::string::npos) << bad;
  }
}

}  // namespace
}  // namespace orvo::host
