// The example library lays down a proper image header and entry.
#include <gtest/gtest.h>

#include <string>

#include "velda_test_util.h"

using velda_test::Assemble;
using velda_test::Le32;
using velda_test::TempDir;

TEST(Examples, HelloHeaderAndEntry) {
  const std::string ex = VELDA_EXAMPLES_DIR;
  TempDir dir;
  auto r = Assemble(dir, {}, {"-q", ex + "/lib/header", ex + "/lib/sys", ex + "/hello/hello"});
  ASSERT_EQ(r.code, 0) << r.console;
  ASSERT_GT(r.image.size(), 512u);
  EXPECT_EQ(r.image.substr(208, 6), std::string("ORVO6\0", 6));
  EXPECT_EQ(uint8_t(r.image[218]), 6);  // format version 6.0
  EXPECT_EQ(uint8_t(r.image[219]), 0);
  EXPECT_EQ(Le32(r.image, 224), r.image.size());
  EXPECT_EQ(Le32(r.image, 240), 0x10000u);   // stack
  EXPECT_EQ(Le32(r.image, 248), 0x100000u);  // heap
  EXPECT_EQ(Le32(r.image, 264), 100u | 100u << 16);
  EXPECT_EQ(Le32(r.image, 268), 640u | 480u << 16);
  EXPECT_EQ(Le32(r.image, 512), 0x154u);  // sfvr 0, 0
}
