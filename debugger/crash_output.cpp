#include "debugger/crash_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace orvo::debugger {

namespace {

std::atomic<int> g_fd{1};
char g_report[32768];
char g_body[6 * sizeof g_report + 512];

// Appends text as the inside of a JSON string; false when it does not fit.
bool Escape(const char* text, size_t length, size_t& at) {
  static const char kHex[] = "0123456789abcdef";
  for (size_t i = 0; i < length; ++i) {
    if (at + 7 > sizeof g_body) return false;
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      g_body[at++] = '\\';
      g_body[at++] = static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      const char u[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
      std::memcpy(g_body + at, u, sizeof u);
      at += sizeof u;
    } else {
      g_body[at++] = static_cast<char>(c);
    }
  }
  return true;
}

bool Append(const char* text, size_t& at) {
  const size_t n = std::strlen(text);
  if (at + n > sizeof g_body) return false;
  std::memcpy(g_body + at, text, n);
  at += n;
  return true;
}

void WriteAll(int fd, const char* data, size_t length) {
  while (length > 0) {
    const ssize_t n = ::write(fd, data, length);
    if (n <= 0) return;
    data += n;
    length -= static_cast<size_t>(n);
  }
}

}  // namespace

void SetCrashOutput(int fd) {
  g_fd.store(fd);
}

void SendCrashReport(void*, const char* reportPath, const char* summary) {
  size_t reportLength = 0;
  if (reportPath && *reportPath) {
    const int fd = ::open(reportPath, O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
      ssize_t n;
      while (reportLength < sizeof g_report &&
             (n = ::read(fd, g_report + reportLength, sizeof g_report - reportLength)) > 0)
        reportLength += static_cast<size_t>(n);
      ::close(fd);
    }
  }
  size_t at = 0;
  const char* prefix = "velda-dap: the runtime crashed: ";
  if (!Append(R"({"seq":0,"type":"event","event":"output","body":{"category":"stderr","output":")",
              at) ||
      !Escape(prefix, std::strlen(prefix), at) || !Escape(summary, std::strlen(summary), at) ||
      !Escape(g_report, reportLength, at) || !Append("\"}}", at))
    return;
  char header[64];
  const int headerLength = std::snprintf(header, sizeof header, "Content-Length: %zu\r\n\r\n", at);
  WriteAll(g_fd.load(), header, static_cast<size_t>(headerLength));
  WriteAll(g_fd.load(), g_body, at);
}

}  // namespace orvo::debugger
