// Names that are not regular files (FIFOs, devices) where the program's files, its
// settings, its pictures or the runtime's own files are looked for: every request
// returns, treating them as absent or failing, and leaves them as they were.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <future>

#include "gfx/picture.h"
#include "gfx/surface.h"
#include "tests/services/files_test_support.h"

namespace orvo::services::test {
namespace {

constexpr uint32_t kFail = 0xFFFFFFFF;
constexpr auto kBound = std::chrono::seconds(10);

bool IsFifo(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
}

class FifoTest : public ::testing::Test {
 protected:
  Folders2 dirs;
  ServicesVm vm{&dirs};
  std::vector<std::string> fifos;
  // A write set free on a FIFO whose reader went away must not end the suite.
  void SetUp() override { signal(SIGPIPE, SIG_IGN); }

  std::string User(std::string_view name) { return dirs.user + std::string(name); }
  std::string Install(std::string_view name) { return dirs.install + std::string(name); }
  void MakeFifo(const std::string& path) {
    ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
    fifos.push_back(path);
  }
  // Opens every FIFO from both ends for a moment, which lets an open waiting on one go on.
  void Release() {
    for (const std::string& f : fifos) {
      int r = open(f.c_str(), O_RDONLY | O_NONBLOCK);
      int w = open(f.c_str(), O_WRONLY | O_NONBLOCK);
      if (w >= 0) close(w);
      if (r >= 0) close(r);
    }
  }
  // Runs a request that must return by itself; one stuck on a FIFO fails the test and is
  // then set free, so a regression fails instead of hanging the suite.
  template <typename Result>
  Result Returns(const char* what, std::function<Result()> request) {
    auto done = std::async(std::launch::async, request);
    if (done.wait_for(kBound) != std::future_status::ready) {
      ADD_FAILURE() << what << " waited on a FIFO";
      while (done.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) Release();
    }
    return done.get();
  }
  uint32_t Open(std::string_view name, uint32_t flags) {
    const uint32_t at = vm.Put(name);
    return Returns<uint32_t>("open", [&] { return vm.Files(SYS_FOPEN, {at, flags}); });
  }
};

TEST_F(FifoTest, ProgramOpensTreatAFifoAsNoFile) {
  MakeFifo(User("save.dat"));
  WriteBytes(Install("save.dat"), "installed");
  // Reading: the data folder's FIFO is passed over for the installed file.
  uint32_t fd = Open("save.dat", 0x8000);
  ASSERT_NE(fd, kFail);
  const uint32_t buffer = vm.Buffer(16);
  EXPECT_EQ(vm.Files(SYS_FREAD, {fd, buffer, 16}), 9u);
  EXPECT_EQ(vm.Text(buffer), "installed");
  vm.Files(SYS_FCLOSE, {fd});
  // Every other open of it fails and leaves it in place, truncating or not.
  for (uint32_t flags : {0x8002u, 0x8001u, 0x8302u, 0x0301u, 0x8109u, 0x0000u})
    EXPECT_EQ(Open("SAVE.DAT", flags), kFail) << std::hex << flags;
  EXPECT_TRUE(IsFifo(User("save.dat")));
  EXPECT_EQ(ReadBytes(Install("save.dat")), "installed");

  // Installed only: not found for reading, and never copied.
  MakeFifo(Install("level.dat"));
  EXPECT_EQ(Open("level.dat", 0x8000), kFail);
  EXPECT_EQ(Open("level.dat", 0x8002), kFail);
  EXPECT_FALSE(PathExists(User("level.dat")));

  // A device behind a link is no file either.
  ASSERT_EQ(symlink("/dev/zero", User("zero.dat").c_str()), 0);
  EXPECT_EQ(Open("zero.dat", 0x8000), kFail);
  EXPECT_EQ(Open("zero.dat", 0x8302), kFail);

  const uint32_t name = vm.Put("save.dat");
  EXPECT_EQ(Returns<uint32_t>("size", [&] { return vm.Files(SYS_FSIZE, {name}); }), kFail);
}

TEST_F(FifoTest, SettingsPicturesStreamsAndTheLogReturn) {
  for (const char* name : {"opts.ini", "pic.bmp", "lib.dat", "debug.log"}) MakeFifo(User(name));
  FileService& fs = vm.files();

  const uint32_t opts = vm.Put("opts.ini");
  EXPECT_EQ(Returns<uint32_t>("settings load", [&] { return vm.Settings(0, {opts}); }), 0u);
  EXPECT_EQ(Returns<uint32_t>("settings save", [&] { return vm.Settings(1, {opts}); }), 0u);
  EXPECT_TRUE(IsFifo(User("opts.ini"))) << "a save does not replace what is no file";

  gfx::Graphics g;
  g.openFile = [&](std::string_view n, const char* mode) { return OpenForRuntime(fs, n, mode); };
  EXPECT_EQ(Returns<int32_t>("picture", [&] { return gfx::LoadPicture(g, vm.m, "pic.bmp"); }), 0);
  EXPECT_EQ(
      Returns<std::FILE*>("runtime write", [&] { return OpenForRuntime(fs, "pic.bmp", "wb"); }),
      nullptr);
  EXPECT_EQ(Returns<int32_t>("stream", [&] { return StreamOpen(fs, "lib.dat", "rb"); }), 0);
  EXPECT_EQ(Returns<int32_t>("stream write", [&] { return StreamOpen(fs, "lib.dat", "wb"); }), 0);
  Returns<bool>("debug log", [&] {
    AppendDebugLog(fs, "line\n");
    return true;
  });
  for (const std::string& f : fifos) EXPECT_TRUE(IsFifo(f)) << f;
}

TEST_F(FifoTest, SoundsAndMusicResolveOnlyToFiles) {
  MakeFifo(Install("tune.mid"));
  WriteBytes(Install("Boom.wav"), "RIFF");
  std::string path;
  EXPECT_FALSE(ResolveInstalledFile(vm.files(), "tune.mid", path));
  EXPECT_FALSE(ResolveInstalledFile(vm.files(), "missing.wav", path));
  EXPECT_FALSE(ResolveInstalledFile(vm.files(), ".", path)) << "a folder";
  ASSERT_TRUE(ResolveInstalledFile(vm.files(), "boom.wav", path));
  EXPECT_EQ(path, Install("Boom.wav"));
}

}  // namespace
}  // namespace orvo::services::test
