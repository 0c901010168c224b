// The image fuzz target's session (tests/fuzz/image_session.h) on the project's programs:
// they are its seeds, so each must load and run as it stands, and one session serving
// input after input must run each exactly as a fresh one would.
#include "tests/fuzz/image_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "tests/vm/vm_test_support.h"

namespace orvo::fuzz {
namespace {

namespace fs = std::filesystem;
using NamedImages = std::vector<std::pair<std::string, std::vector<uint8_t>>>;

std::vector<uint8_t> ReadImage(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// name -> main.ove, for every program assembled for these tests.
NamedImages AllImages() {
  NamedImages images;
  for (const auto& entry : fs::directory_iterator(ORVO_SESSION_IMAGES))
    images.emplace_back(entry.path().filename().string(), ReadImage(entry.path() / "main.ove"));
  std::sort(images.begin(), images.end());
  return images;
}

// Inputs whose runs leave the machine in states that no program of the project leaves.
NamedImages LeftoverImages() {
  using namespace vm::test;
  // Every delivery suspends itself: ModalDepth climbs with each event.
  Image suspends;
  suspends.Code(SMOD);
  // A heap block left locked at the end of a delivery: a fatal error.
  Image locks;
  uint32_t load = locks.Code(Two(15, D, 22, 15, 0), 0, SYS, SMOD);
  uint32_t request = locks.Code(2306, 0);
  locks.Patch(load + 4, request);
  return {{"suspends", suspends.Build()}, {"locks", locks.Build()}};
}

RunOutcome RunOnce(ImageSession& s, const std::vector<uint8_t>& bytes) {
  return s.Run(bytes.data(), bytes.size());
}

TEST(ImageSession, EveryProgramLoadsAndRunsAsItStands) {
  auto images = AllImages();
  ASSERT_GE(images.size(), 10u);
  ImageSession session;
  for (const auto& [name, bytes] : images) {
    ASSERT_FALSE(bytes.empty()) << name;
    EXPECT_EQ(bytes[0] & 1, 0) << name;  // taken as it stands, not repaired
    RunOutcome out = RunOnce(session, bytes);
    EXPECT_TRUE(out.loaded) << name;
    EXPECT_FALSE(out.fatal) << name;
    EXPECT_GT(out.instructions, 0u) << name;
  }
}

TEST(ImageSession, TheBudgetCoversEachProgramsSession) {
  // Everything but the benchmarks, which compute far longer on purpose, ends its
  // deliveries before the budget runs out.
  ImageSession session;
  for (const char* name : {"hello", "mines", "events", "recorder", "primitives", "text_sheet",
                           "music", "forms", "control", "requests"}) {
    auto bytes = ReadImage(fs::path(ORVO_SESSION_IMAGES) / name / "main.ove");
    RunOutcome out = RunOnce(session, bytes);
    EXPECT_TRUE(out.loaded) << name;
    EXPECT_LT(out.instructions, kInstructionBudget) << name;
  }
}

TEST(ImageSession, AReusedSessionRunsEachInputAsAFreshOne) {
  auto images = AllImages();
  for (auto& leftover : LeftoverImages()) images.push_back(std::move(leftover));
  ImageSession reused;
  // Twice round, so that every image also follows every kind of ending.
  for (int round = 0; round < 2; ++round) {
    for (const auto& [name, bytes] : images) {
      ImageSession fresh;
      RunOutcome expected = RunOnce(fresh, bytes);
      RunOutcome got = RunOnce(reused, bytes);
      EXPECT_EQ(got.loaded, expected.loaded) << name;
      EXPECT_EQ(got.fatal, expected.fatal) << name;
      EXPECT_EQ(got.ended, expected.ended) << name;
      EXPECT_EQ(got.instructions, expected.instructions) << name;
      const vm::Machine& a = reused.machine();
      const vm::Machine& b = fresh.machine();
      ASSERT_EQ(a.memSize, b.memSize) << name;
      EXPECT_TRUE(std::equal(a.mem, a.mem + a.memSize, b.mem)) << name;
      EXPECT_EQ(a.modalDepth, b.modalDepth) << name;
      EXPECT_EQ(a.hostFlags, b.hostFlags) << name;
    }
  }
}

TEST(ImageSession, BitZeroOfTheFirstByteRepairsTheHeader) {
  auto bytes = ReadImage(fs::path(ORVO_SESSION_IMAGES) / "hello" / "main.ove");
  std::fill(bytes.begin() + 208, bytes.begin() + 256, 0xFF);  // magic, version and sizes
  ImageSession session;
  EXPECT_FALSE(RunOnce(session, bytes).loaded);
  bytes[0] |= 1;
  RunOutcome repaired = RunOnce(session, bytes);
  EXPECT_TRUE(repaired.loaded);
  EXPECT_GT(repaired.instructions, 0u);
  // Too short for a header: padded to one with a first instruction word.
  const std::vector<uint8_t> tiny{1};
  EXPECT_TRUE(RunOnce(session, tiny).loaded);
}

}  // namespace
}  // namespace orvo::fuzz
