#include "velda_test_util.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>

#include "driver.h"

namespace velda_test {

TempDir::TempDir() {
  char tmpl[] = "/tmp/velda-test-XXXXXX";
  char* made = mkdtemp(tmpl);
  EXPECT_NE(made, nullptr);
  path_ = made ? made : "/tmp";
}

TempDir::~TempDir() {
  std::error_code ec;
  if (path_ != "/tmp") std::filesystem::remove_all(path_, ec);
}

void TempDir::Write(const std::string& name, const std::string& text) const {
  std::ofstream out(path_ / name, std::ios::binary);
  out << text;
}

bool TempDir::Exists(const std::string& name) const {
  return std::filesystem::exists(path_ / name);
}

std::string TempDir::Read(const std::string& name) const {
  std::ifstream in(path_ / name, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

Result Assemble(TempDir& dir, const std::vector<std::pair<std::string, std::string>>& files,
                const std::vector<std::string>& args) {
  for (const auto& [name, text] : files) dir.Write(name, text);
  std::vector<std::string> argv;
  for (const std::string& a : args)
    argv.push_back(a.size() > 1 && a[0] == '%' ? (dir.path() / a.substr(1)).string() : a);
  Result r;
  r.state = std::make_unique<orvo::velda::Assembler>();
  r.state->outDir = dir.path();
  r.state->console = &r.console;
  r.code = orvo::velda::RunVelda(*r.state, argv);
  r.state->console = nullptr;
  r.listing = dir.Read("main.ovl");
  r.map = dir.Read("main.map");
  r.wroteImage = dir.Exists("main.ove");
  r.image = dir.Read("main.ove");
  return r;
}

Result RunSource(TempDir& dir, const std::string& text) {
  return Assemble(dir, {{"t.ova", text}}, {"-q", "%t"});
}

Result RunSource(const std::string& text) {
  TempDir dir;
  return RunSource(dir, text);
}

std::vector<uint32_t> Words(const std::string& body) {
  Result r = RunSource("@code\n" + body + "\n");
  EXPECT_EQ(r.code, 0) << body << "\n" << r.console;
  std::vector<uint32_t> words;
  for (size_t i = 0; i + 4 <= r.image.size(); i += 4) words.push_back(Le32(r.image, i));
  return words;
}

std::string Errors(const std::string& body) {
  Result r = RunSource("@code\n" + body + "\n");
  std::string out;
  std::istringstream lines(r.console);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("[", 0) != 0) out += line + "\n";
  return out;
}

std::vector<uint8_t> Bytes(const std::string& s) {
  return std::vector<uint8_t>(s.begin(), s.end());
}

uint32_t Le32(const std::string& s, size_t at) {
  return uint32_t{static_cast<uint8_t>(s[at])} | uint32_t{static_cast<uint8_t>(s[at + 1])} << 8 |
         uint32_t{static_cast<uint8_t>(s[at + 2])} << 16 |
         uint32_t{static_cast<uint8_t>(s[at + 3])} << 24;
}

}  // namespace velda_test
