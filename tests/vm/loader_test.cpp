#include <gtest/gtest.h>

#include "tests/vm/vm_test_support.h"

namespace orvo::vm::test {
namespace {

void Put32(std::vector<uint8_t>& b, uint32_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

TEST(Loader, RefusesUnreadableImagesWithTheirMessages) {
  struct Case {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> spoil;
    const char* message;
  } cases[] = {
      {"short header", [](auto& b) { b.resize(511); }, "Error reading .OVE file"},
      {"wrong magic", [](auto& b) { b[212] = '7'; }, "Not a ORVO 6 .OVE file"},
      {"no magic terminator", [](auto& b) { b[213] = 'X'; }, "Not a ORVO 6 .OVE file"},
      {"minor 1", [](auto& b) { b[219] = 1; }, "Mismatched ORVO.EXE and MAIN.OVE files"},
      {"major 7",
       [](auto& b) {
         b[218] = 7;
         b[219] = 0;
       },
       "Mismatched ORVO.EXE and MAIN.OVE files"},
      {"image below header", [](auto& b) { Put32(b, 224, 100); }, "Invalid sizes in .OVE file"},
      {"sizes wrap", [](auto& b) { Put32(b, 248, 0xFFFFF000); }, "Invalid sizes in .OVE file"},
  };
  Image image;
  image.Code(TERM);
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = image.Build();
    c.spoil(bytes);
    Vm vm;
    EXPECT_FALSE(vm.Load(bytes)) << c.name;
    EXPECT_EQ(vm.hooks.messages, std::vector<std::string>{c.message}) << c.name;
    EXPECT_EQ(vm.m.mem, nullptr) << c.name;
  }
  Vm missing;
  EXPECT_FALSE(LoadImage(missing.m, nullptr));
  EXPECT_EQ(missing.hooks.messages, std::vector<std::string>{"MAIN.OVE file not found"});
}

TEST(Loader, AcceptsOlderMajorVersionsAndLongFiles) {
  Image image;
  image.major = 5;
  image.minor = 9;
  image.Code(TERM);
  std::vector<uint8_t> bytes = image.Build();
  const uint32_t s = static_cast<uint32_t>(bytes.size());
  bytes.insert(bytes.end(), {0xAA, 0xBB, 0xCC, 0xDD});  // beyond S: not loaded
  Vm vm;
  ASSERT_TRUE(vm.Load(bytes));
  EXPECT_TRUE(vm.hooks.messages.empty());
  EXPECT_EQ(vm.m.mem[s], 0);
}

TEST(Loader, ShortBodyFailsSilently) {
  Image image;
  image.Code(TERM, NOP, NOP);
  std::vector<uint8_t> bytes = image.Build();
  bytes.pop_back();
  Vm vm;
  EXPECT_FALSE(vm.Load(bytes));
  EXPECT_TRUE(vm.hooks.messages.empty());
}

// No message, but the caller learns how far the file got.
TEST(Loader, ShortBodyIsToldToTheCaller) {
  Image image;
  image.Code(TERM, NOP, NOP);
  const std::vector<uint8_t> whole = image.Build();
  for (size_t length : {size_t{512}, whole.size() - 1}) {
    std::vector<uint8_t> bytes(whole.begin(), whole.begin() + length);
    Vm vm;
    std::string unshown;
    std::FILE* f = fmemopen(bytes.data(), bytes.size(), "rb");
    EXPECT_FALSE(LoadImage(vm.m, f, &unshown));
    EXPECT_TRUE(vm.hooks.messages.empty());
    EXPECT_NE(unshown.find(std::to_string(length)), std::string::npos) << unshown;
    EXPECT_NE(unshown.find(std::to_string(whole.size())), std::string::npos) << unshown;
  }
}

TEST(Loader, LaysOutMemoryAroundTheImage) {
  Image image;
  image.Code(TERM);
  image.zeroSize = 300;
  image.stackSize = 1000;
  image.heapSize = 5000;
  std::vector<uint8_t> bytes = image.Build();
  // Garbage where the loader owns the fields.
  for (uint32_t a : {144u, 152u, 160u}) Put32(bytes, a, 0xDEADBEEF);
  for (uint32_t a = 195; a < 200; ++a) bytes[a] = 0x77;
  Vm vm;
  ASSERT_TRUE(vm.Load(bytes));
  const uint32_t s = static_cast<uint32_t>(bytes.size());
  EXPECT_EQ(vm.m.memSize, s + 300 + 1000 + 5000);
  EXPECT_EQ(vm.Word(HDR_STACK_LIMIT), s + 300);
  EXPECT_EQ(vm.Word(HDR_STACK_TOP), s + 1300);
  EXPECT_EQ(vm.Word(HDR_VSP), s + 1300);
  for (uint32_t a = s; a < vm.m.memSize; ++a) ASSERT_EQ(vm.m.mem[a], 0) << a;
  EXPECT_EQ(vm.m.mem[195], 0);
  EXPECT_EQ(vm.m.mem[196], 6);
  EXPECT_EQ(vm.m.mem[197], 0);
  EXPECT_EQ(Load16(vm.m.mem + 198), 19);
  EXPECT_EQ(Load32(vm.m.mem + 512), TERM);
  // Handle 0: 4 allocated bytes at the heap start.
  EXPECT_EQ(vm.m.heap.records[0].list, LIST_ALLOCATED);
  EXPECT_EQ(vm.m.heap.records[0].address, s + 1300);
  EXPECT_EQ(vm.m.heap.records[0].capacity, 4u);
  EXPECT_EQ(vm.m.heap.heapTop, s + 1304);
}

}  // namespace
}  // namespace orvo::vm::test
