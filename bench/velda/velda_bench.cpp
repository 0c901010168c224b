// Times velda on a generated source of about 1,000,000 lines with 100,000
// labels and forward references, and GNU as on an x86-64 source of the same
// line and label count, and prints lines per second for both.
//
//   velda_bench [path-to-velda] [blocks]
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#ifndef VELDA_PATH
#define VELDA_PATH "velda"
#endif

namespace {

// Runs argv in `dir` with output discarded; returns seconds, or -1 on failure.
double TimeRun(const std::vector<std::string>& argv, const std::filesystem::path& dir) {
  std::fflush(stdout);  // the child must not write our buffered text again
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    std::freopen("/dev/null", "w", stdout);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return s;
}

// Each block: one label, four one-word instructions (two of them jumps to
// labels further on) and five lines that reserve zero-segment data, so the
// whole program fits the 2 MiB code image.
size_t WriteVeldaSource(const std::filesystem::path& path, int blocks) {
  std::ofstream out(path, std::ios::binary);
  size_t lines = 1;
  out << "@code\n";
  for (int i = 0; i < blocks; ++i) {
    out << ":L" << i << "\n"
        << " d mov $1, =3\n"
        << " d add $2, $3\n"
        << " ljne L" << (i + 7) % blocks << "\n"
        << " jmp =L" << (i + 1) % blocks << "\n"
        << "@seg_end\n@zero\n d [4]\n@seg_end\n@code\n";
    lines += 10;
  }
  return lines;
}

size_t WriteGasSource(const std::filesystem::path& path, int blocks) {
  std::ofstream out(path, std::ios::binary);
  size_t lines = 1;
  out << "  .text\n";
  for (int i = 0; i < blocks; ++i) {
    out << "L" << i << ":\n"
        << "  movl $3, %eax\n"
        << "  addl %ebx, %ecx\n"
        << "  jne L" << (i + 7) % blocks << "\n"
        << "  jmp L" << (i + 1) % blocks << "\n"
        << "  .bss\n  .skip 4\n  .text\n  movl %ecx, %edx\n  subl $1, %edx\n";
    lines += 10;
  }
  return lines;
}

}  // namespace

int main(int argc, char** argv) {
  std::string velda = argc > 1 ? argv[1] : VELDA_PATH;
  int blocks = argc > 2 ? std::atoi(argv[2]) : 100000;
  if (!velda.empty() && velda[0] != '/' && velda.find('/') != std::string::npos)
    velda = std::filesystem::absolute(velda).string();
  char tmpl[] = "/tmp/velda-bench-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  std::filesystem::path dir = tmpl;

  size_t vLines = WriteVeldaSource(dir / "bench.ova", blocks);
  double v = TimeRun({velda, "-q", "bench"}, dir);
  if (v < 0) {
    std::printf("velda failed\n");
    std::filesystem::remove_all(dir);
    return 1;
  }
  std::printf("velda:  %zu lines, %d labels, %.3f s, %.0f lines/s\n", vLines, blocks, v,
              vLines / v);

  size_t gLines = WriteGasSource(dir / "bench.s", blocks);
  double g = TimeRun({"as", "--64", "-o", "bench.o", "bench.s"}, dir);
  if (g < 0) {
    std::printf("GNU as: not available\n");
  } else {
    std::printf("GNU as: %zu lines, %d labels, %.3f s, %.0f lines/s\n", gLines, blocks, g,
                gLines / g);
    std::printf("ratio (velda lines/s over GNU as lines/s): %.2f\n", (vLines / v) / (gLines / g));
  }
  std::filesystem::remove_all(dir);
  return 0;
}
