// Rewriting a file whole: a truncating open of an existing file, a settings save, a
// picture save. The previous content stays until the new one is complete and closed, and
// writers that die on the way leave neither a damaged file nor a stray name for long.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <set>

#include "tests/services/files_test_support.h"

namespace orvo::services::test {
namespace {

constexpr uint32_t kFail = 0xFFFFFFFF;
constexpr uint32_t kBinaryRead = 0x8000;
constexpr uint32_t kRewrite = 0x8302;  // binary, create, truncate, read-write

std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    names.insert(e.path().filename().string());
  return names;
}

// Runs work in a child process, which then waits to be killed: SIGKILL arrives at the
// point where work left it, as an outside kill or a crash would.
void KillAfter(const std::function<void()>& work) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(ready[0]);
    work();
    if (write(ready[1], "k", 1) != 1) _exit(2);
    for (;;) pause();
  }
  close(ready[1]);
  char byte = 0;
  const bool reached = read(ready[0], &byte, 1) == 1;
  close(ready[0]);
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(reached) << "the child did not get to the point of the kill";
  EXPECT_TRUE(WIFSIGNALED(status));
}

class RewriteTest : public ::testing::Test {
 protected:
  Folders2 dirs;
  ServicesVm vm{&dirs};

  uint32_t Open(std::string_view name, uint32_t flags) {
    return vm.Files(SYS_FOPEN, {vm.Put(name), flags});
  }
  uint32_t Write(uint32_t fd, std::string_view bytes) {
    return vm.Files(SYS_FWRITE, {fd, vm.Put(bytes), static_cast<uint32_t>(bytes.size())});
  }
  std::string Read(uint32_t fd, uint32_t count) {
    const uint32_t buffer = vm.Buffer(count + 1);
    const uint32_t n = vm.Files(SYS_FREAD, {fd, buffer, count});
    return n == kFail ? std::string() : vm.Bytes(buffer, n);
  }
  void Close(uint32_t fd) { vm.Files(SYS_FCLOSE, {fd}); }
  std::string User(std::string_view name) { return dirs.user + std::string(name); }
  std::string Install(std::string_view name) { return dirs.install + std::string(name); }
};

// Every truncating flag word, on a file in the data folder and on one that is installed
// only: killed between the open and the close, the game's file is what it was before.
TEST_F(RewriteTest, AKillBeforeTheCloseLeavesThePreviousContent) {
  const std::string before(5000, 'o');
  for (uint32_t flags : {0x8302u, 0x8301u, 0x0201u, 0x4302u, 0x830Au, 0x8202u}) {
    for (bool installed : {false, true}) {
      SCOPED_TRACE(testing::Message() << std::hex << flags << (installed ? " installed" : ""));
      std::filesystem::remove_all(dirs.user);
      std::filesystem::create_directories(dirs.user);
      std::filesystem::remove(Install("save.dat"));
      WriteBytes(installed ? Install("save.dat") : User("save.dat"), before);
      KillAfter([&] {
        const uint32_t fd = Open("save.dat", flags);
        if (fd == kFail) _exit(3);
        Write(fd, "the new cont");  // the rest would have followed
      });
      uint32_t fd = Open("save.dat", kBinaryRead);
      ASSERT_NE(fd, kFail);
      EXPECT_EQ(Read(fd, 8000), before);
      Close(fd);
      SweepTemporaries(vm.files());
      EXPECT_EQ(Names(dirs.user),
                installed ? std::set<std::string>{} : std::set<std::string>{"save.dat"});
    }
  }
}

TEST_F(RewriteTest, TheNewContentTakesTheNameAtTheClose) {
  WriteBytes(User("save.dat"), "previous");
  chmod(User("save.dat").c_str(), 0640);
  const uint32_t fd = Open("Save.dat", kRewrite);
  ASSERT_NE(fd, kFail);
  EXPECT_EQ(Write(fd, "rewritten text"), 14u);
  // The rewriting descriptor sees what it wrote; other opens see the previous file.
  EXPECT_EQ(vm.Files(SYS_FSEEK, {fd, 0, 0}), 0u);
  EXPECT_EQ(Read(fd, 64), "rewritten text");
  EXPECT_EQ(vm.Files(SYS_FEOF, {fd}), 1u);
  const uint32_t other = Open("save.dat", kBinaryRead);
  EXPECT_EQ(Read(other, 64), "previous");
  Close(other);
  EXPECT_EQ(vm.Files(SYS_FSIZE, {vm.Put("save.dat")}), 8u);
  Close(fd);
  EXPECT_EQ(ReadBytes(User("save.dat")), "rewritten text");
  EXPECT_EQ(Names(dirs.user), std::set<std::string>{"save.dat"});
  struct stat st;
  ASSERT_EQ(stat(User("save.dat").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u) << "the replacement keeps the file's permissions";

  // Write-only and append descriptors keep their modes.
  const uint32_t writeOnly = Open("save.dat", 0x8201);
  EXPECT_EQ(vm.Files(SYS_FREAD, {writeOnly, vm.Buffer(4), 4}), kFail);
  const uint32_t appending = Open("save.dat", 0x820A);
  Write(appending, "ab");
  vm.Files(SYS_FSEEK, {appending, 0, 0});
  Write(appending, "cd");
  Close(writeOnly);
  Close(appending);
  EXPECT_EQ(ReadBytes(User("save.dat")), "abcd");
}

TEST_F(RewriteTest, AShortWriteKeepsThePreviousContent) {
  WriteBytes(User("save.dat"), "previous");
  const uint32_t fd = Open("save.dat", kRewrite);
  {
    FileSizeLimit limit(64);
    EXPECT_LT(Write(fd, std::string(1000, 'x')), 1000u);
  }
  Close(fd);
  EXPECT_EQ(ReadBytes(User("save.dat")), "previous");
  EXPECT_EQ(Names(dirs.user), std::set<std::string>{"save.dat"});
}

// A link keeps pointing at the file it names; the file is rewritten where it is.
TEST_F(RewriteTest, ALinkedFileIsRewrittenInPlace) {
  WriteBytes(User("real.dat"), "old");
  ASSERT_EQ(symlink("real.dat", User("link.dat").c_str()), 0);
  const uint32_t fd = Open("link.dat", kRewrite);
  Write(fd, "new");
  Close(fd);
  struct stat st;
  ASSERT_EQ(lstat(User("link.dat").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadBytes(User("real.dat")), "new");
}

// --- Temporary files ---------------------------------------------------------------------

// The sweep decides by the writer's process: gone, or a later process with its number.
TEST_F(RewriteTest, TheSweepRemovesOnlyFilesOfWritersThatAreGone) {
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  const std::string dead = std::to_string(gone), self = std::to_string(getpid());
  auto plant = [&](const std::string& path) { WriteBytes(path, "partial"); };
  plant(User(".orvo-" + dead + "-3.tmp"));
  plant(User("saves/deep/.orvo-" + dead + "-0.tmp"));
  plant(User(".orvo-" + self + "-7.tmp"));  // a live writer's, just written
  plant(User(".orvo-" + self + "-8.tmp"));  // left by an earlier process with this number
  const struct timeval longAgo[2] = {{1000, 0}, {1000, 0}};
  utimes(User(".orvo-" + self + "-8.tmp").c_str(), longAgo);
  // Names of other shapes are the game's own.
  const std::vector<std::string> others = {".orvo-" + dead + "-1.tmp.bak",
                                           "orvo-" + dead + "-1.tmp", ".orvo-" + dead + ".tmp",
                                           ".orvo--1-2.tmp", ".orvo-x-1.tmp"};
  for (const std::string& name : others) plant(User(name));
  std::filesystem::create_directories(User(".orvo-" + dead + "-9.tmp"));
  // Links lead out of the data folder and are not followed.
  plant(dirs.root.path() + "outside/.orvo-" + dead + "-5.tmp");
  ASSERT_EQ(symlink((dirs.root.path() + "outside").c_str(), User("linked").c_str()), 0);

  SweepTemporaries(vm.files());
  EXPECT_EQ(
      Names(dirs.user),
      (std::set<std::string>{".orvo-" + self + "-7.tmp", ".orvo-" + dead + "-1.tmp.bak",
                             "orvo-" + dead + "-1.tmp", ".orvo-" + dead + ".tmp", ".orvo--1-2.tmp",
                             ".orvo-x-1.tmp", ".orvo-" + dead + "-9.tmp", "saves", "linked"}));
  EXPECT_TRUE(Names(User("saves/deep")).empty());
  EXPECT_TRUE(PathExists(dirs.root.path() + "outside/.orvo-" + dead + "-5.tmp"));
}

}  // namespace
}  // namespace orvo::services::test
