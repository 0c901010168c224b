// Programs assembled by velda, run by the runtime without a display.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "velda_test_util.h"

using velda_test::Assemble;
using velda_test::Le32;
using velda_test::TempDir;

namespace {

const std::string kExamples = VELDA_EXAMPLES_DIR;

int RunHeadless(const TempDir& dir) {
  std::string cmd = std::string(ORVO_HEADLESS) + " --dump-memory '" +
                    (dir.path() / "memory.bin").string() + "' '" + dir.path().string() +
                    "' > /dev/null 2>&1";
  int status = std::system(cmd.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(RoundTrip, HelloWritesItsDebugLine) {
  TempDir dir;
  auto r = Assemble(
      dir, {},
      {"-q", kExamples + "/lib/header", kExamples + "/lib/sys", kExamples + "/hello/hello"});
  ASSERT_EQ(r.code, 0) << r.console;
  ASSERT_EQ(RunHeadless(dir), 0);
  EXPECT_EQ(dir.Read("debug.log"), "hello, world\n");
}

TEST(RoundTrip, ComputedValuesLandInMemory) {
  TempDir dir;
  const std::string program =
      "@code\n@align 4\n:EventTable\n & EventDone\n & Start\n"
      " & EventDone\n & EventDone\n & EventDone\n & EventDone\n & EventDone\n & EventDone\n"
      " & EventDone\n & EventDone\n & EventDone\n & EventDone\n & EventDone\n & EventDone\n"
      " & EventDone\n & EventDone\n"
      ":Start\n d mov $2, =40\n d add $2, =2\n d mov [480], $2\n"
      " q mov $3, =5000000000\n q mov [Wide], $3\n"
      " d mov $4, =0\n:@\n d add $4, =3\n d cmp $4, =30\n ljne @B\n d mov [Count], $4\n"
      " jmp =EventDone\n@seg_end\n@zero\n@align 8\n:_Wide\n:Wide\n q [1]\n:Count\n d [1]\n"
      "@seg_end\n";
  auto r = Assemble(dir, {{"prog.ova", program}},
                    {"-q", kExamples + "/lib/header", kExamples + "/lib/sys", "%prog"});
  ASSERT_EQ(r.code, 0) << r.console;
  ASSERT_EQ(RunHeadless(dir), 0);
  std::string memory = dir.Read("memory.bin");
  // the map also lists the anonymous label after "@align 4" (its name is _@0)
  size_t at = r.map.find(" _Wide\r\n");
  ASSERT_NE(at, std::string::npos) << r.map;
  uint32_t wide = static_cast<uint32_t>(std::strtoul(r.map.c_str() + at - 6, nullptr, 16));
  ASSERT_GT(memory.size(), wide + 12);
  EXPECT_EQ(Le32(memory, 480), 42u);
  EXPECT_EQ(Le32(memory, wide), 0x2A05F200u);
  EXPECT_EQ(Le32(memory, wide + 4), 1u);
  EXPECT_EQ(Le32(memory, wide + 8), 30u);
}
