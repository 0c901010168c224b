// Temporary program and data folders, and a loaded machine whose one sys instruction
// runs file (group 0) and settings (group 8) requests built in VM memory.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "services/files.h"
#include "services/settings.h"
#include "tests/vm/vm_test_support.h"
#include "vm/decode.h"

namespace orvo::services::test {

using namespace orvo::vm::test;

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orvo-files-XXXXXX").string();
    EXPECT_NE(mkdtemp(pattern.data()), nullptr);
    path_ = pattern + "/";
  }
  ~TempFolder() { std::filesystem::remove_all(path_); }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline void WriteBytes(const std::string& path, std::string_view bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline bool PathExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// Program folder "install/" and data folder "user/" inside one temporary folder.
struct Folders2 {
  TempFolder root;
  std::string install = root.path() + "install/";
  std::string user = root.path() + "user/";
  Folders2() {
    std::filesystem::create_directories(install);
    std::filesystem::create_directories(user);
  }
};

// The file size limit turns writes past it into failures without filling a disk.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    old_ = signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, old_);
  }

 private:
  struct rlimit saved_;
  void (*old_)(int);
};

class ServicesHooks : public CaptureHooks {
 public:
  FileService files;
  SettingsStore settings;
  SettingsRequests settingsRequests{settings, files};
};

// The program: sfvr, mov $15 <- block, sys (at 0x20C), efr.
inline constexpr uint32_t kSysAt = 0x20C;
inline constexpr uint32_t kBlockOperand = 0x208;
// $14 before each request, so that rows which set no result can be told apart.
inline constexpr uint64_t kUnset = 0xAAAAAAAA55555555;

inline std::string FaultMessage(uint32_t address) {
  return vm::Format(
      "Bad memory address 0x%8.8lX at 0x%8.8lX\nTerminating program. So terribly sorry.",
      static_cast<unsigned long>(address), static_cast<unsigned long>(kSysAt));
}

class ServicesVm {
 public:
  ServicesHooks hooks;
  vm::Machine m{hooks};

  explicit ServicesVm(const Folders2* f = nullptr) {
    if (f) hooks.files.folders = {f->install, f->user};
    AddFileRequests(m.requests, hooks.files);
    AddSettingsRequests(m.requests, hooks.settingsRequests);
    Image image;
    image.zeroSize = 256 * 1024;
    image.Code(Sfvr(0, 0), Two(vm::OP2_MOV, D, 22, 15, 0), 0, SYS, Efr(0));
    base_ = free_ = image.Here();
    std::vector<uint8_t> bytes = image.Build();
    std::FILE* file = fmemopen(bytes.data(), bytes.size(), "rb");
    EXPECT_TRUE(vm::LoadImage(m, file));
  }

  FileService& files() { return hooks.files; }
  SettingsStore& settings() { return hooks.settings; }

  // Forgets every string and buffer placed so far.
  void Reset() { free_ = base_; }

  // Bytes plus a terminator in the zero-initialised area (and spare bytes after them).
  uint32_t Put(std::string_view text, uint32_t spare = 0) {
    const uint32_t at = free_;
    std::memcpy(m.mem + at, text.data(), text.size());
    m.mem[at + text.size()] = 0;
    free_ += (static_cast<uint32_t>(text.size()) + 1 + spare + 3) & ~3u;
    return at;
  }
  // A zeroed buffer of n bytes.
  uint32_t Buffer(uint32_t n) {
    const uint32_t at = free_;
    std::memset(m.mem + at, 0, n);
    free_ += (n + 3) & ~3u;
    return at;
  }

  // Runs command `command` with the given argument words; returns the low word of $14.
  uint32_t Sys(uint32_t command, const std::vector<uint32_t>& args) {
    const uint32_t block = free_;
    vm::Store32(m.mem + block, command);
    uint32_t at = block + 4;
    for (uint32_t w : args) {
      vm::Store32(m.mem + at, w);
      at += 4;
    }
    vm::Store32(m.mem + kBlockOperand, block);
    vm::Store64(m.mem + vm::HDR_RESULT, kUnset);
    vm::CallProgram(m, 5, 0, 0, 0);
    return static_cast<uint32_t>(Result());
  }
  uint32_t Files(uint32_t row, const std::vector<uint32_t>& args) { return Sys(row, args); }
  uint32_t Settings(uint32_t row, const std::vector<uint32_t>& args) {
    return Sys(0x800 + row, args);
  }

  uint64_t Result() const { return vm::Load64(m.mem + vm::HDR_RESULT); }
  bool Unset() const { return Result() == kUnset; }
  std::string Text(uint32_t at) const { return reinterpret_cast<const char*>(m.mem + at); }
  std::string Bytes(uint32_t at, uint32_t n) const {
    return std::string(reinterpret_cast<const char*>(m.mem + at), n);
  }
  uint32_t Word(uint32_t at) const { return vm::Load32(m.mem + at); }
  bool Stopped() const { return hooks.endProgramCalls == 1; }

 private:
  uint32_t base_ = 0, free_ = 0;
};

}  // namespace orvo::services::test
