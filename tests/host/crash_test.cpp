// The crash report: the formatting of the report and the summary in this process, and the
// whole path (handler, report file, clipboard, message box, the signal ending the process)
// in a child process that faults for real.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "host/crash_report.h"
#include "tests/host/faults_game.h"
#include "platform/headless/headless_platform.h"
#include "tests/vm/vm_test_support.h"

extern char** environ;

namespace orvo::host::crash {
namespace {

namespace fs = std::filesystem;
using vm::test::Image;

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Hex8(uint32_t v) {
  char b[16];
  std::snprintf(b, sizeof b, "%08X", v);
  return b;
}

// A folder of its own under the system's temporary folder, removed afterwards.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "orvo-crash-XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// ---- report and summary, formatted in this process

// The report file for the machine's present state, written through a real descriptor.
std::string ReportOf(const vm::Machine& m, const fs::path& folder) {
  const fs::path file = folder / "report.txt";
  int fd = ::open(file.c_str(), O_CREAT | O_TRUNC | O_RDWR, 0600);
  EXPECT_GE(fd, 0);
  EXPECT_TRUE(WriteReport(fd, m));
  ::close(fd);
  return ReadAll(file);
}

// The report as the C library's printf writes it from the same values, LF turned to CR LF.
std::string PrintfReport(const vm::Machine& m, uint32_t dumpEnd) {
  const uint32_t vsp = m.Word(vm::HDR_VSP), top = m.Word(vm::HDR_STACK_TOP);
  char line[256];
  std::snprintf(line, sizeof line,
                "VPC=%8.8X\nVSP=%8.8X\nlen=%8.8X\nVFP=%8.8X PCpreJSR=%8.8X 0x1E0=0x%8.8X\n",
                m.Word(vm::HDR_VPC), vsp, top - vsp, m.Word(vm::HDR_VFP), m.pcPreJsr,
                m.Word(vm::HDR_DEBUG_CRASH));
  std::string text = line;
  uint32_t a = vsp;
  int64_t len = vsp < dumpEnd ? int64_t{dumpEnd} - vsp : 0;
  while (len > 0) {
    if (len >= 4) {
      std::snprintf(line, sizeof line, "%8.8X: 0x%8.8X \n", a, vm::Load32(m.mem + a));
      a += 4, len -= 4;
    } else if (len >= 2) {
      std::snprintf(line, sizeof line, "%8.8X: 0x%4.4X \n", a, vm::Load16(m.mem + a));
      a += 2, len -= 2;
    } else {
      std::snprintf(line, sizeof line, "%8.8X: 0x%2.2X \n", a, m.mem[a]);
      len = 0;
    }
    text += line;
  }
  std::string crlf;
  for (char c : text) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  return crlf;
}

class CrashReport : public ::testing::Test {
 protected:
  TempFolder tmp;
  vm::test::Vm vm;
  uint32_t top = 0;

  void SetUp() override {
    ASSERT_FALSE(tmp.path().empty());
    Image image;
    image.zeroSize = 0x100;
    image.stackSize = 0x200;
    image.heapSize = 0x100;
    ASSERT_TRUE(vm.Load(image));
    top = vm.m.Word(vm::HDR_STACK_TOP);
    vm.m.SetWord(vm::HDR_VPC, 0x0000061C);
    vm.m.SetWord(vm::HDR_VFP, top - 0x20);
    vm.m.SetWord(vm::HDR_DEBUG_CRASH, 0xCAFEF00D);
    vm.m.pcPreJsr = 0x00000588;
    // Every stack byte different, so a value read from the wrong address shows.
    for (uint32_t a = top - 0x40; a < top; ++a) vm.m.mem[a] = static_cast<uint8_t>(a * 7 + 3);
  }
};

TEST_F(CrashReport, EveryStackLengthDumpsWordsThenAHalfThenAByte) {
  for (uint32_t len = 0; len <= 11; ++len) {
    SCOPED_TRACE(len);
    vm.m.SetWord(vm::HDR_VSP, top - len);
    const std::string report = ReportOf(vm.m, tmp.path());
    EXPECT_EQ(report, PrintfReport(vm.m, top));
    // Lines: the register block's four, then one per word, one for a 16-bit rest, one for
    // a last byte.
    size_t lines = 0;
    for (size_t p = report.find("\r\n"); p != std::string::npos; p = report.find("\r\n", p + 1))
      ++lines;
    EXPECT_EQ(lines, 4 + len / 4 + (len % 4) / 2 + len % 2);
    EXPECT_EQ(report.find('\n'), report.find("\r\n") + 1);
  }
}

TEST_F(CrashReport, SixBytesReadAsTheyLieInMemory) {
  vm.m.SetWord(vm::HDR_VSP, top - 6);
  const uint8_t bytes[6] = {0x78, 0x56, 0x34, 0x12, 0xBC, 0xAA};
  std::memcpy(vm.m.mem + top - 6, bytes, 6);
  const std::string expected = "VPC=0000061C\r\nVSP=" + Hex8(top - 6) +
                               "\r\nlen=00000006\r\nVFP=" + Hex8(top - 0x20) +
                               " PCpreJSR=00000588 0x1E0=0xCAFEF00D\r\n" + Hex8(top - 6) +
                               ": 0x12345678 \r\n" + Hex8(top - 2) + ": 0xAABC \r\n";
  EXPECT_EQ(ReportOf(vm.m, tmp.path()), expected);
}

TEST_F(CrashReport, DumpStaysInsideVmMemory) {
  // VSP above the top: len wraps and is shown so, but nothing is dumped.
  vm.m.SetWord(vm::HDR_VSP, top + 8);
  std::string report = ReportOf(vm.m, tmp.path());
  EXPECT_NE(report.find("len=FFFFFFF8\r\n"), std::string::npos);
  EXPECT_EQ(report, PrintfReport(vm.m, 0));

  // A stack top the program overwrote with an address past the block: the dump ends at
  // the block's last byte.
  const uint32_t end = vm.m.memSize;
  for (uint32_t a = end - 7; a < end; ++a) vm.m.mem[a] = static_cast<uint8_t>(0xA0 + a % 16);
  vm.m.SetWord(vm::HDR_VSP, end - 7);
  vm.m.SetWord(vm::HDR_STACK_TOP, 0xFFFFFFF0);
  report = ReportOf(vm.m, tmp.path());
  EXPECT_EQ(report, PrintfReport(vm.m, end));
  EXPECT_NE(report.find(Hex8(end - 1) + ": 0x"), std::string::npos);

  // A VSP far outside the block, below a top inside it, dumps nothing either.
  vm.m.SetWord(vm::HDR_STACK_TOP, top);
  vm.m.SetWord(vm::HDR_VSP, 0x80000000);
  EXPECT_EQ(ReportOf(vm.m, tmp.path()), PrintfReport(vm.m, 0));
}

TEST_F(CrashReport, NoVmMemoryReportsZeros) {
  vm::ReleaseImage(vm.m);
  EXPECT_EQ(ReportOf(vm.m, tmp.path()),
            "VPC=00000000\r\nVSP=00000000\r\nlen=00000000\r\n"
            "VFP=00000000 PCpreJSR=00000588 0x1E0=0x00000000\r\n");
  char summary[SUMMARY_CAPACITY];
  FormatSummary(summary, sizeof summary, EXCEPTION_ACCESS_VIOLATION, 0, 0, vm.m);
  EXPECT_STREQ(summary,
               "EXCEPTION[0xC0000005:0] @ 0000000000000000 VPC=0x00000000 VSP=0x00000000 "
               "VSPlen=0x00000000\r\n");
}

TEST_F(CrashReport, WriteFailureIsReported) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[0]);
  // Writing to a pipe without a reader fails; the signal that comes with it is ignored here.
  struct sigaction ign {
  }, old{};
  ign.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ign, &old);
  vm.m.SetWord(vm::HDR_VSP, top - 8);
  EXPECT_FALSE(WriteReport(fds[1], vm.m));
  sigaction(SIGPIPE, &old, nullptr);
  ::close(fds[1]);
}

TEST_F(CrashReport, SummaryLine) {
  vm.m.SetWord(vm::HDR_VSP, top - 0x1C);
  char summary[SUMMARY_CAPACITY];
  const size_t n = FormatSummary(summary, sizeof summary, EXCEPTION_INT_DIVIDE_BY_ZERO, 0,
                                 uintptr_t{0x7FF6A1B2C3D4}, vm.m);
  const std::string expected = "EXCEPTION[0xC0000094:0] @ 00007FF6A1B2C3D4 VPC=0x0000061C VSP=0x" +
                               Hex8(top - 0x1C) + " VSPlen=0x0000001C\r\n";
  EXPECT_EQ(std::string(summary, n), expected);
  EXPECT_EQ(std::strlen(summary), n);

  // Flags print in decimal, the address in full width whatever its value.
  FormatSummary(summary, sizeof summary, 0xDEADBEEF, 4000000000u, ~uintptr_t{0}, vm.m);
  const std::string start = "EXCEPTION[0xDEADBEEF:4000000000] @ FFFFFFFFFFFFFFFF VPC=";
  EXPECT_EQ(std::string(summary).substr(0, start.size()), start);

  // A buffer too small keeps what fits and its terminator.
  char small[12];
  std::memset(small, 'x', sizeof small);
  EXPECT_EQ(FormatSummary(small, sizeof small, EXCEPTION_ACCESS_VIOLATION, 0, 0, vm.m), 11u);
  EXPECT_STREQ(small, "EXCEPTION[0");
}

TEST(CrashCodes, SignalsMapToExceptionCodes) {
  EXPECT_EQ(ExceptionCode(SIGSEGV, SEGV_MAPERR), 0xC0000005u);
  EXPECT_EQ(ExceptionCode(SIGSEGV, SEGV_ACCERR), 0xC0000005u);
  EXPECT_EQ(ExceptionCode(SIGBUS, BUS_ADRALN), 0xC0000005u);
  EXPECT_EQ(ExceptionCode(SIGILL, ILL_ILLOPN), 0xC000001Du);
  EXPECT_EQ(ExceptionCode(SIGFPE, FPE_INTDIV), 0xC0000094u);
  for (int code : std::initializer_list<int>{FPE_FLTDIV, FPE_FLTINV, FPE_FLTOVF, FPE_FLTUND,
                                             FPE_FLTRES, FPE_INTOVF, 0})
    EXPECT_EQ(ExceptionCode(SIGFPE, code), 0xC0000090u) << code;
  EXPECT_EQ(ExceptionCode(SIGTERM, 0), 0u);
}

void Marker(int) {}

TEST(CrashInstall, UninstallPutsBackWhatWasThere) {
  TempFolder tmp;
  vm::test::CaptureHooks hooks;
  vm::Machine m(hooks);
  platform::HeadlessPlatform platform({});

  struct sigaction marker {
  }, before[4]{}, now{};
  marker.sa_handler = Marker;
  sigemptyset(&marker.sa_mask);
  const int signals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE};
  for (int i = 0; i < 4; ++i) ASSERT_EQ(sigaction(signals[i], &marker, &before[i]), 0);
  stack_t stackBefore{}, stackNow{};
  ASSERT_EQ(sigaltstack(nullptr, &stackBefore), 0);

  ASSERT_TRUE(Install(m, tmp.path().string() + "/", platform.shell));
  for (int s : signals) {
    sigaction(s, nullptr, &now);
    EXPECT_TRUE(now.sa_flags & SA_SIGINFO) << s;
    EXPECT_TRUE(now.sa_flags & SA_ONSTACK) << s;
    EXPECT_NE(reinterpret_cast<void*>(now.sa_sigaction), reinterpret_cast<void*>(Marker)) << s;
  }
  sigaltstack(nullptr, &stackNow);
  EXPECT_FALSE(stackNow.ss_flags & SS_DISABLE);
  EXPECT_GE(stackNow.ss_size, size_t{64 * 1024});

  // A second installation replaces the first, and one Uninstall undoes it to the start.
  // Another machine going away leaves the installation alone.
  ASSERT_TRUE(Install(m, tmp.path().string() + "/", platform.shell));
  vm::Machine other(hooks);
  UninstallFor(other);
  sigaction(SIGSEGV, nullptr, &now);
  EXPECT_NE(reinterpret_cast<void*>(now.sa_sigaction), reinterpret_cast<void*>(Marker));
  UninstallFor(m);
  for (int s : signals) {
    sigaction(s, nullptr, &now);
    EXPECT_EQ(reinterpret_cast<void*>(now.sa_handler), reinterpret_cast<void*>(Marker)) << s;
  }
  sigaltstack(nullptr, &stackNow);
  EXPECT_EQ(stackNow.ss_sp, stackBefore.ss_sp);
  EXPECT_EQ(stackNow.ss_size, stackBefore.ss_size);
  EXPECT_EQ(stackNow.ss_flags & SS_DISABLE, stackBefore.ss_flags & SS_DISABLE);
  Uninstall();  // nothing installed: no effect

  for (int i = 0; i < 4; ++i) sigaction(signals[i], &before[i], nullptr);
  EXPECT_FALSE(fs::exists(tmp.path() / REPORT_FILE));
}

// ---- the whole handler, in a child process that faults

struct Outcome {
  bool signaled = false;
  int signal = 0;
  int exitCode = -1;
  std::string out;
  std::string site;  // the faulting instruction's address as the child printed it
};

class CrashChild : public ::testing::Test {
 protected:
  TempFolder tmp;
  fs::path game, data;
  uint32_t top = 0;

  void SetUp() override {
    ASSERT_FALSE(tmp.path().empty());
    game = tmp.path() / "game";
    data = tmp.path() / "data";
    fs::create_directories(game);
    fs::create_directories(data);
    Image image;
    image.zeroSize = 0x300;
    image.stackSize = 0x1000;
    image.heapSize = 0x1000;
    const std::vector<uint8_t> bytes = image.Build();
    std::ofstream(game / "main.ove", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    top = static_cast<uint32_t>(bytes.size()) + image.zeroSize + image.stackSize;
  }

  Outcome Run(const std::string& trigger, const std::string& stackHex, const fs::path& dataFolder,
              const std::string& state = "0000072C", const fs::path& gameFolder = {}) {
    const fs::path outFile = tmp.path() / "stdout.txt";
    std::vector<std::string> args = {ORVO_CRASH_CHILD,
                                     trigger,
                                     (gameFolder.empty() ? game : gameFolder).string() + "/",
                                     dataFolder.string() + "/",
                                     state,
                                     Hex8(top - 0x10),
                                     "000006E8",
                                     "1E0DEB06",
                                     stackHex.empty() ? "-" : stackHex};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    pid_t pid = 0;
    Outcome r;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(spawned, 0);
    if (spawned != 0) return r;

    // A handler that hangs must fail the test, not stop the suite.
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        ADD_FAILURE() << "the child hung";
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    r.signaled = WIFSIGNALED(status);
    r.signal = r.signaled ? WTERMSIG(status) : 0;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = ReadAll(outFile);
    std::smatch site;
    if (std::regex_search(r.out, site, std::regex("site ([0-9A-F]{16})\n"))) r.site = site[1];
    return r;
  }

  // The summary the child must have shown, with the given code and address.
  std::string Summary(const std::string& code, const std::string& address, uint32_t len) const {
    return "EXCEPTION[0x" + code + ":0] @ " + address + " VPC=0x0000072C VSP=0x" + Hex8(top - len) +
           " VSPlen=0x" + Hex8(len) + "\\r\\n";
  }
  std::string RegisterBlock(uint32_t len) const {
    return "VPC=0000072C\r\nVSP=" + Hex8(top - len) + "\r\nlen=" + Hex8(len) +
           "\r\nVFP=" + Hex8(top - 0x10) + " PCpreJSR=000006E8 0x1E0=0x1E0DEB06\r\n";
  }
};

TEST_F(CrashChild, EmptyStackWritesOnlyTheRegisterBlock) {
  // A longer report from an earlier crash is replaced, not overwritten in place.
  std::ofstream(data / REPORT_FILE) << std::string(4000, 'z');
  const Outcome r = Run("segv", "", data);
  ASSERT_TRUE(r.signaled) << r.out;
  EXPECT_EQ(r.signal, SIGSEGV);
  EXPECT_EQ(ReadAll(data / REPORT_FILE), RegisterBlock(0));
  ASSERT_EQ(r.site.size(), 16u) << r.out;
#if defined(__x86_64__)
  EXPECT_NE(r.site, std::string(16, '0'));
#endif
  const std::string summary = Summary("C0000005", r.site, 0);
  // On the clipboard while the box shows it; the box is the last thing the child did.
  EXPECT_EQ(r.out, "site " + r.site + "\nclipboard: " + summary + "\n!: " + summary + "\n");
}

TEST_F(CrashChild, SixByteStackGivesAWordAndA16BitValue) {
  const Outcome r = Run("segv", "785634120BA0", data);
  ASSERT_TRUE(r.signaled) << r.out;
  EXPECT_EQ(r.signal, SIGSEGV);
  EXPECT_EQ(ReadAll(data / REPORT_FILE), RegisterBlock(6) + Hex8(top - 6) + ": 0x12345678 \r\n" +
                                             Hex8(top - 2) + ": 0xA00B \r\n");
  EXPECT_NE(r.out.find("!: " + Summary("C0000005", r.site, 6) + "\n"), std::string::npos) << r.out;
  // A new report is readable and writable by its owner only.
  EXPECT_EQ((fs::status(data / REPORT_FILE).permissions() & fs::perms::all),
            fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(CrashChild, EachSignalEndsTheProcessWithItsCode) {
  struct Case {
    const char* trigger;
    int signal;
    const char* code;
  };
  std::vector<Case> cases = {{"ill", SIGILL, "C000001D"}, {"bus", SIGBUS, "C0000005"}};
#if defined(__x86_64__)
  cases.push_back({"fpe", SIGFPE, "C0000094"});  // a real division, so si_code says integer
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.trigger);
    const Outcome r = Run(c.trigger, "0102030405", data);
    ASSERT_TRUE(r.signaled) << r.out;
    EXPECT_EQ(r.signal, c.signal);
    EXPECT_EQ(ReadAll(data / REPORT_FILE), RegisterBlock(5) + Hex8(top - 5) + ": 0x04030201 \r\n" +
                                               Hex8(top - 1) + ": 0x05 \r\n");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.out, m,
                                  std::regex("\n!: EXCEPTION\\[0x([0-9A-F]{8}):0\\] @ "
                                             "([0-9A-F]{16}) VPC=")))
        << r.out;
    EXPECT_EQ(m[1], c.code);
    // Executed faults name the instruction; a raised signal names where it was raised.
    if (!r.site.empty() && r.site != std::string(16, '0')) {
      EXPECT_EQ(m[2], r.site);
    }
    EXPECT_NE(r.out.find(Summary(c.code, m[2], 5)), std::string::npos) << r.out;
  }
}

TEST_F(CrashChild, NoReportFolderStillShowsTheSummary) {
  const fs::path missing = tmp.path() / "no such folder";
  const Outcome r = Run("segv", "AABBCCDD", missing);
  ASSERT_TRUE(r.signaled) << r.out;
  EXPECT_EQ(r.signal, SIGSEGV);
  EXPECT_FALSE(fs::exists(missing));
  const std::string summary = Summary("C0000005", r.site, 4);
  EXPECT_EQ(r.out, "site " + r.site + "\nclipboard: " + summary + "\n!: " + summary + "\n");
}

TEST_F(CrashChild, StackOverflowIsReportedFromTheAlternateStack) {
  const Outcome r = Run("overflow", "CAFE", data);
  ASSERT_TRUE(r.signaled) << r.out;
  EXPECT_EQ(r.signal, SIGSEGV);
  EXPECT_EQ(ReadAll(data / REPORT_FILE), RegisterBlock(2) + Hex8(top - 2) + ": 0xFECA \r\n");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(r.out, m,
                                std::regex("\n!: EXCEPTION\\[0xC0000005:0\\] @ "
                                           "([0-9A-F]{16}) VPC=")))
      << r.out;
  EXPECT_NE(r.out.find(Summary("C0000005", m[1], 2)), std::string::npos) << r.out;
}

TEST_F(CrashChild, FaultInsideTheHandlerEndsTheProcess) {
  // The message box faults: the process ends with that fault instead of coming back into
  // the handler, and the report written before the box stays.
  const Outcome r = Run("box-faults", "11223344", data);
  ASSERT_TRUE(r.signaled) << r.out;
  EXPECT_EQ(r.signal, SIGSEGV);
  EXPECT_EQ(ReadAll(data / REPORT_FILE), RegisterBlock(4) + Hex8(top - 4) + ": 0x44332211 \r\n");
  const std::string summary = Summary("C0000005", r.site, 4);
  EXPECT_EQ(r.out, "site " + r.site + "\nclipboard: " + summary + "\n!: " + summary + "\n");
}

// A real program stopped three calls deep (faults.ova's DivideByZero, before its first
// statement), and then the runtime faults: the report keeps its block and dump and gains
// the program's view of them.
TEST_F(CrashChild, RealProgramGetsTheSourceSectionAfterTheDump) {
  const test::FaultsGame faults;
  const fs::path copy = tmp.path() / "faults";
  fs::copy(test::FaultsGame::Built(), copy);
  const Outcome r = Run("segv", "", data, "break:DivideByZero:10:3", copy);
  ASSERT_TRUE(r.signaled) << r.out;
  const std::string report = ReadAll(data / REPORT_FILE);
  const size_t section = report.find("\r\nIn the program's source:\r\n");
  ASSERT_NE(section, std::string::npos) << report;

  // Before the section: the register block for the stopped program, then only dump lines.
  const uint32_t at = faults.Address(faults.Line(":DivideByZero"));
  EXPECT_TRUE(report.starts_with("VPC=" + Hex8(at) + "\r\n")) << report;
  std::istringstream dump(report.substr(0, section));
  std::string line;
  for (int i = 0; i < 4; ++i) std::getline(dump, line);
  size_t words = 0;
  for (; std::getline(dump, line); ++words)
    EXPECT_TRUE(std::regex_match(line, std::regex("[0-9A-F]{8}: 0x([0-9A-F]{8}|[0-9A-F]{4}|[0-9A-F]{2}) \r")))
        << line;
  EXPECT_GT(words, 8u);

  const std::string text = report.substr(section);
  EXPECT_NE(text.find("\r\nat " + faults.Place("DivideByZero", " d mov $2, =0") + "  d mov $2, "),
            std::string::npos)
      << text;
  const std::string chain = "called from " + faults.Place("Middle", " jsrfr 4, =Inner") +
                            "\r\ncalled from " + faults.Place("Outer", " jsrfr 4, =Middle") +
                            "\r\ncalled from " + faults.Place("Trigger", " jsrfr 4, =Outer") +
                            "\r\nCode addresses on the stack:\r\n";
  EXPECT_NE(text.find(chain), std::string::npos) << text;
  // Each return address on the stack is named where it returns to: the statement after
  // the call.
  const std::pair<std::string, std::string> returns[] = {
      {"Middle", " jsrfr 4, =Inner"}, {"Outer", " jsrfr 4, =Middle"}, {"Trigger", " jsrfr 4, =Outer"}};
  for (const auto& [routine, call] : returns) {
    const uint32_t after = faults.Line(call, ":" + routine) + 1;
    const uint32_t address = faults.Address(after);
    std::string next;
    std::istringstream source(ReadAll(fs::path(ORVO_TEST_GAME_SOURCES) / "faults.ova"));
    for (uint32_t i = 0; i < after; ++i) std::getline(source, next);
    EXPECT_NE(text.find(": 0x" + Hex8(address) + " " + faults.Place(routine, next) + "\r\n"),
              std::string::npos)
        << routine << "\n" << text;
  }
}

}  // namespace
}  // namespace orvo::host::crash
