#include "outputs.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "expression.h"
#include "report.h"

namespace orvo::velda {

bool WriteFile(const std::filesystem::path& path, const void* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(data, 1, size, f) == size;
  ok = std::fclose(f) == 0 && ok;
  return ok;
}

std::filesystem::path OutputPath(const Assembler& a, const char* name) {
  return a.outDir.empty() ? std::filesystem::path(name) : a.outDir / name;
}

void UpdateBuildNumber(Assembler& a) {
  int fd = open(OutputPath(a, "BUILDNUM").c_str(), O_RDWR | O_CREAT, 0666);
  if (fd < 0) {
    ReportPlainError(a, "Error reading/creating BUILDNUM");
    a.buildNumber = 1;
    return;
  }
  char buf[33] = {};
  ssize_t got = read(fd, buf, 32);
  std::string text(buf, got > 0 ? static_cast<size_t>(got) : 0);
  text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
  bool ok;
  int64_t value = ParseNumberText(text, ok);
  if (!ok) ReportPlainError(a, "invalid number: " + text);
  a.buildNumber = static_cast<uint32_t>(static_cast<uint64_t>(value) + 1);
  std::string out = std::to_string(a.buildNumber);
  // Written from the start and cut to the new text: a shorter number must not
  // leave the tail of the old one behind.
  bool written = lseek(fd, 0, SEEK_SET) == 0 &&
                 write(fd, out.data(), out.size()) == static_cast<ssize_t>(out.size()) &&
                 ftruncate(fd, static_cast<off_t>(out.size())) == 0;
  close(fd);
  if (!written) ReportPlainError(a, "Error reading/creating BUILDNUM");
}

void WriteHeaderFields(Assembler& a, int year, int month, int day) {
  a.image.Put(214, static_cast<uint32_t>(year), 2);
  a.image.Put(216, static_cast<uint32_t>(month), 1);
  a.image.Put(217, static_cast<uint32_t>(day), 1);
  a.image.Put(220, a.buildNumber, 4);
  a.image.Put(224, a.codeSize, 4);
  a.image.Put(228, 0, 4);
  a.image.Put(232, a.zeroSize, 4);
  a.image.Put(236, 0, 4);
}

bool WriteImage(const Assembler& a) {
  return WriteFile(OutputPath(a, "main.ove"), a.image.data(), a.codeSize);
}

std::string FormatMap(const Assembler& a) {
  std::string out;
  for (uint32_t kind : {ID_CODE, ID_ZERO}) {
    for (size_t i = 0; i < a.ids.count(); ++i) {
      const IdEntry& e = a.ids[i];
      if ((e.flags & ID_MAPPED) == 0 || (e.flags & kind) == 0) continue;
      char line[64];
      std::snprintf(line, sizeof line, "%6.6lX ",
                    static_cast<unsigned long>(static_cast<uint64_t>(e.value) & 0xFFFFFFFF));
      out.append(line);
      out.append(e.name);
      out.append("\r\n");
    }
  }
  return out;
}

bool WriteMap(const Assembler& a) {
  std::string text = FormatMap(a);
  return WriteFile(OutputPath(a, "main.map"), text.data(), text.size());
}

}  // namespace orvo::velda
