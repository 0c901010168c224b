// The web build's zip reader, run under node: an archive written by orvo-pack (libzip)
// reads back entry for entry as the files it was made from; damaged copies are refused
// as a whole or entry by entry, never read wrong.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "services/archive.h"

namespace orvo::services {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class ZipReader : public ::testing::Test {
 protected:
  void SetUp() override {
    bytes = ReadFile(ORVO_WEB_TEST_ARCHIVE);
    ASSERT_GT(bytes.size(), 1000u);
  }
  std::unique_ptr<ArchiveFiles> Open(const std::string& data, std::string& problem) {
    return ArchiveFiles::FromBytes(data.data(), data.size(), problem);
  }
  std::string bytes;
};

TEST_F(ZipReader, EveryGameFileReadsBackAsItIsOnDisk) {
  std::string problem;
  auto archive = Open(bytes, problem);
  ASSERT_TRUE(archive) << problem;
  int compared = 0;
  for (const auto& entry : fs::directory_iterator(ORVO_WEB_TEST_GAME)) {
    const std::string name = entry.path().filename().string();
    ProgramEntry found;
    if (!archive->Find(name, found)) continue;  // the developer files stay out
    std::string got;
    ASSERT_TRUE(archive->Read(name, got)) << name;
    EXPECT_EQ(got, ReadFile(entry.path())) << name;
    ++compared;
  }
  EXPECT_GE(compared, 9);  // main.ove, the three pictures, the four sounds and the song
  // The fonts go stored, the game's files deflated: both kinds are read.
  std::string faces;
  EXPECT_TRUE(archive->Read("fonts/faces.txt", faces));
  EXPECT_NE(faces.find(".ttf"), std::string::npos);
}

TEST_F(ZipReader, AnEntryDescriptorReadsLikeAFile) {
  std::string problem;
  auto archive = Open(bytes, problem);
  ASSERT_TRUE(archive) << problem;
  const int fd = archive->Open("main.ove");
  ASSERT_GE(fd, 0);
  std::string through;
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) through.append(buffer, size_t(n));
  close(fd);
  EXPECT_EQ(through, ReadFile(fs::path(ORVO_WEB_TEST_GAME) / "main.ove"));
}

TEST_F(ZipReader, ADamagedEntryIsNeverReadWrong) {
  std::string problem;
  auto whole = Open(bytes, problem);
  ASSERT_TRUE(whole);
  std::string original;
  ASSERT_TRUE(whole->Read("faces.bmp", original));
  // Every flipped byte of the entry's stored data (after its name in the local header)
  // either leaves the entry as it was or makes it unreadable.
  const size_t data = bytes.find("faces.bmp");
  ASSERT_NE(data, std::string::npos);
  int refused = 0;
  for (size_t at = data + 9; at < data + 9 + 1500 && at < bytes.size(); at += 7) {
    std::string damaged = bytes;
    damaged[at] = static_cast<char>(damaged[at] ^ 0x5A);
    auto archive = Open(damaged, problem);
    if (!archive) continue;
    std::string got;
    if (archive->Read("faces.bmp", got))
      EXPECT_EQ(got, original) << at;
    else
      ++refused;
  }
  EXPECT_GT(refused, 0);
}

TEST_F(ZipReader, ATruncatedOrForeignFileIsRefusedWithAReason) {
  for (const std::string& data : {bytes.substr(0, bytes.size() / 2), std::string("PK\x05\x06"),
                                  std::string(), std::string(5000, 'x')}) {
    std::string problem;
    EXPECT_FALSE(Open(data, problem));
    EXPECT_FALSE(problem.empty());
  }
}

}  // namespace
}  // namespace orvo::services
