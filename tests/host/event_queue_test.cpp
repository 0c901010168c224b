#include <gtest/gtest.h>

#include "host/event_queue.h"

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

}  // namespace
}  // namespace orvo::host
