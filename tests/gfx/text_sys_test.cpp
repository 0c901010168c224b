// Row 16 at the VM boundary: addresses checked for their whole length, and the result
// counted in whole characters whatever the text holds.
#include "tests/gfx/text_test_support.h"

namespace orvo::gfx::test {
namespace {

using TextSysTest = TextFixture;

TEST_F(TextSysTest, ABlockOrTextOutsideVmMemoryStopsTheProgram) {
  const uint32_t size = vm.m.memSize;
  vm.m.SetWord(vm::HDR_RESULT, 77);
  // The block's last word would be past the end.
  TextSys(t, g, vm.m, size - 32);
  EXPECT_TRUE(vm.m.StopRequested());
  EXPECT_TRUE(vm.m.hostFlags & vm::HOST_END_PROGRAM);
  ASSERT_EQ(vm.hooks.messages.size(), 1u);
  EXPECT_NE(
      vm.hooks.messages[0].find(vm::Format("0x%8.8lX", static_cast<unsigned long>(size - 32))),
      std::string::npos);
  EXPECT_EQ(vm.m.Word(vm::HDR_RESULT), 77u);
}

TEST_F(TextSysTest, ATextWithoutTerminatorInsideVmMemoryStopsTheProgram) {
  // Text pointer far outside.
  const uint32_t block = next;
  const uint32_t words[9] = {0, 0xFFFFFF00u, 0, 0, 100, 20, 0, 0, 0x00FFFFFF};
  for (int i = 0; i < 9; ++i) vm::Store32(vm.m.mem + block + 4 * i, words[i]);
  TextSys(t, g, vm.m, block);
  EXPECT_TRUE(vm.m.StopRequested());
  ASSERT_EQ(vm.hooks.messages.size(), 1u);
  EXPECT_NE(vm.hooks.messages[0].find("0xFFFFFF00"), std::string::npos);

  // Text running to the very end of memory with no NUL.
  vm.m.ClearStopRequest();
  vm.hooks.messages.clear();
  std::memset(vm.m.mem + vm.m.memSize - 8, 'a', 8);
  vm::Store32(vm.m.mem + block + 4, vm.m.memSize - 8);
  TextSys(t, g, vm.m, block);
  EXPECT_TRUE(vm.m.StopRequested());
  EXPECT_EQ(vm.hooks.messages.size(), 1u);
  EXPECT_EQ(CountLit(0, 0, kScreenWidth, kScreenHeight), 0);
}

TEST_F(TextSysTest, CharactersBeyondTheBasicPlaneAreNeverSplit) {
  const std::string smile = "\xF0\x9F\x98\x80";  // U+1F600
  const std::string four = smile + smile + smile + smile;
  const int32_t one = Measure(smile, 20);
  ASSERT_GT(one, 0);
  EXPECT_EQ(Measure(four, 20), 4 * one);
  uint32_t r = Draw(SURFACE_SCREEN, "a" + smile + "b", 0, 0, 300, 20, 0, 0, 0x00FFFFFF);
  EXPECT_EQ(r & 0xFFFF, 6u);
  // A box holding three: the cut draws two whole characters, eight bytes.
  r = Draw(SURFACE_SCREEN, four, 0, 40, 3 * one, 20, TEXT_CUT, 0, 0x00FFFFFF);
  EXPECT_EQ(r & 0xFFFF, 8u);
  EXPECT_EQ(r >> 16, static_cast<uint32_t>(2 * one));
  // Word wrap before a space that follows them.
  r = Draw(SURFACE_SCREEN, smile + smile + " " + smile + smile, 0, 80, 3 * one + 1, 20, TEXT_WRAP,
           0, 0x00FFFFFF);
  EXPECT_EQ(r & 0xFFFF, 8u);
}

TEST_F(TextSysTest, MalformedTextIsConsumedLineByLine) {
  // A program drawing a paragraph advances by the byte count of each result; bytes that
  // begin no character must still be consumed, or it would never finish.
  const std::string text = "\x80\x80 ab \xFF cd \xE2\x82 ef \xC3";
  size_t at = 0;
  int lines = 0;
  while (at < text.size() && lines < 50) {
    const uint32_t r = Draw(SURFACE_SCREEN, text.substr(at), 0, 20 * lines, 30, 18,
                            TEXT_WRAP | TEXT_CUT, 0, 0x00FFFFFF);
    ASSERT_NE(r & 0xFFFF, 0u) << "stuck at byte " << at;
    at += r & 0xFFFF;
    // Spaces the wrap stopped at are skipped by the program.
    while (at < text.size() && text[at] == ' ') ++at;
    ++lines;
  }
  EXPECT_EQ(at, text.size());
  EXPECT_LT(lines, 50);
  // The whole text measured at once covers every byte.
  EXPECT_EQ(Draw(SURFACE_SCREEN, text, 0, 0, 1 << 30, 18, TEXT_MEASURE, 0, 0) & 0xFFFF,
            text.size());
}

TEST_F(TextSysTest, ResultHalvesNeverOverflowIntoEachOther) {
  // 70000 bytes on one line: the byte count stops at the last whole character within
  // 16 bits, and the width at 65535.
  std::string text;
  while (text.size() < 70000) text += "\xE2\x82\xAC";  // three bytes each
  const uint32_t r = Draw(SURFACE_SCREEN, text, 0, 0, 1 << 30, 14, TEXT_MEASURE, 0, 0);
  EXPECT_EQ(r & 0xFFFF, 65535u - 65535u % 3);
  EXPECT_EQ(r >> 16, 0xFFFFu);
  // A line that ends at 65535 bytes is reported whole.
  const std::string ascii(65535, 'i');
  EXPECT_EQ(Draw(SURFACE_SCREEN, ascii, 0, 0, 1 << 30, 8, TEXT_MEASURE, 0, 0) & 0xFFFF, 65535u);
}

TEST_F(TextSysTest, ShutdownEmptiesTheCacheAndStartupMakesAFreshState) {
  Draw(SURFACE_SCREEN, "one", 0, 0, 100, 20, 0, 0, 0x00FFFFFF);
  Draw(SURFACE_SCREEN, "two", 0, 0, 100, 30, 0, 0, 0x00FFFFFF);
  EXPECT_EQ(FontCacheCount(t.cache), 2);
  TextShutdown(t);
  EXPECT_EQ(FontCacheCount(t.cache), 0);
  EXPECT_EQ(t.fonts.counters.fontsCreated, t.fonts.counters.fontsDeleted);
  EXPECT_EQ(t.wideCapacity, 0u);
  // Shut down, the renderer draws nothing.
  EXPECT_EQ(Draw(SURFACE_SCREEN, "three", 0, 0, 100, 20, 0, 0, 0x00FFFFFF), 0u);
  TextShutdown(t);
  ASSERT_TRUE(TextStartup(t, g));
  EXPECT_EQ(t.wideCapacity, TEXT_WIDE_INITIAL);
  EXPECT_NE(Draw(SURFACE_SCREEN, "four", 0, 0, 100, 20, 0, 0, 0x00FFFFFF), 0u);
}

}  // namespace
}  // namespace orvo::gfx::test
