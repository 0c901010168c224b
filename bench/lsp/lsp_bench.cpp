// lsp_bench: how long velda-lsp takes to answer a one-character change, from the
// change message to the last diagnostics published (velda's two passes, the warnings,
// the line scan), for examples/mines and for a generated source of 100,000 lines.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "lsp/server.h"
#include "lsp/uri.h"

namespace {

using orvo::protocol::Json;
using Clock = std::chrono::steady_clock;

std::string ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Routines that call each other, with data and zero-segment variables: every kind of
// statement the examples have, and a label for about every tenth line.
std::string Generated(size_t lines) {
  std::string text = "@code\n";
  size_t n = 0;
  for (size_t r = 0; n < lines; ++r) {
    text += ":Routine" + std::to_string(r) + "                ; a routine\n";
    text += " sfvr 0, 2\n d mov $10, [FP][12]\n d add $10, =4\n";
    text += " d mov [_Var" + std::to_string(r % 1000) + "], $10\n";
    text += " tljeq $10, =@F\n d push =" + std::to_string(r) + "\n";
    text += " jsrfr 4, =Routine" + std::to_string(r / 2) + "\n:@\n efr 2\n";
    n += 10;
  }
  text += "@seg_end\n@zero\n";
  for (size_t v = 0; v < 1000; ++v) text += ":_Var" + std::to_string(v) + "\n d [1]\n";
  text += "@seg_end\n";
  return text;
}

// Median milliseconds from a one-character change to the server having answered it.
double TimeChange(const std::string& uri, const std::string& text, size_t at) {
  size_t messages = 0;
  orvo::lsp::Server server([&](const std::string&) { ++messages; });
  auto send = [&](const Json& j) { server.Handle(j.dump()); };
  send({{"jsonrpc", "2.0"}, {"id", 1}, {"method", "initialize"}, {"params", Json::object()}});
  send({{"jsonrpc", "2.0"},
        {"method", "textDocument/didOpen"},
        {"params",
         {{"textDocument",
           {{"uri", uri}, {"languageId", "velda"}, {"version", 1}, {"text", text}}}}}});
  std::vector<double> ms;
  for (int run = 0; run < 15; ++run) {
    std::string changed = text;
    changed[at] = run % 2 ? 'x' : 'y';  // one character of a statement
    Json change = {{"jsonrpc", "2.0"},
                   {"method", "textDocument/didChange"},
                   {"params",
                    {{"textDocument", {{"uri", uri}, {"version", run + 2}}},
                     {"contentChanges", {{{"text", changed}}}}}}};
    std::string body = change.dump();
    auto start = Clock::now();
    server.Handle(body);
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  if (messages < 3) std::fprintf(stderr, "no diagnostics were published\n");
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

}  // namespace

int main() {
  namespace fs = std::filesystem;
  fs::path mines = fs::path(ORVO_SOURCE_DIR) / "examples/mines/mines.ova";
  std::string text = ReadAll(mines);
  size_t at = text.find("OnStart\n") + 2;
  std::printf("mines (6 files of its velda.list, %zu lines in mines.ova): %.2f ms per change\n",
              static_cast<size_t>(std::count(text.begin(), text.end(), '\n')),
              TimeChange(orvo::lsp::PathToUri(mines.string()), text, at));

  fs::path folder = fs::temp_directory_path() / "lsp_bench";
  fs::create_directories(folder);
  std::string big = Generated(100000);
  fs::path file = folder / "big.ova";
  std::ofstream(file, std::ios::binary) << big;
  size_t middle = big.find(":Routine5000 ") + 3;
  std::printf("generated source (%zu lines, one file): %.2f ms per change\n",
              static_cast<size_t>(std::count(big.begin(), big.end(), '\n')),
              TimeChange(orvo::lsp::PathToUri(file.string()), big, middle));
  fs::remove_all(folder);
  return 0;
}
