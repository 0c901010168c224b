// Formatting keeps every assembled word; bad input gets an error answer or nothing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#include "client.h"
#include "lsp/features.h"
#include "protocol/framing.h"

namespace orvo::lsp::testing {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

velda::Analysis Assemble(const std::vector<std::pair<std::string, std::string>>& files) {
  std::vector<velda::MemorySource> sources;
  for (const auto& [name, text] : files) sources.push_back({name, text});
  return velda::AnalyzeSources(sources);
}

std::vector<std::string> ErrorTexts(const velda::Analysis& a) {
  std::vector<std::string> out;
  for (const auto& e : a.errors) out.push_back(e.message);
  return out;
}

// Every source of the project, assembled after the library as the build assembles it.
TEST(Formatting, NeverChangesTheAssembledWordsOfAnySourceOfTheProject) {
  const fs::path root = ORVO_SOURCE_DIR;
  const std::string header = ReadAll(root / "examples/lib/header.ova");
  const std::string sys = ReadAll(root / "examples/lib/sys.ova");
  int files = 0, changed = 0;
  for (const char* folder : {"examples", "tests", "bench"}) {
    for (const auto& entry : fs::recursive_directory_iterator(root / folder)) {
      if (entry.path().extension() != ".ova") continue;
      ProjectFile f;
      f.SetText(ReadAll(entry.path()));
      std::string formatted = FormatText(f);
      ProjectFile again;
      again.SetText(formatted);
      EXPECT_EQ(FormatText(again), formatted) << entry.path() << " formats once and for all";
      velda::Analysis before = Assemble({{"header", header}, {"sys", sys}, {"t", f.text}});
      velda::Analysis after = Assemble({{"header", header}, {"sys", sys}, {"t", formatted}});
      EXPECT_EQ(before.image, after.image) << entry.path();
      EXPECT_EQ(ErrorTexts(before), ErrorTexts(after)) << entry.path();
      ++files;
      changed += formatted != f.text;
    }
  }
  EXPECT_GT(files, 20);
  EXPECT_GT(changed, 0);
}

TEST(Formatting, PutsLabelsAtTheLeftStatementsOneInAndCommentsInTheirColumn) {
  ProjectFile f;
  f.SetText(
      "@code\r\n:Loop   \n\t\td mov $1, =2 ; two\n   b \"a ;b\"   \n; note\n"
      "@seg_end\nfree text  ; outside\n");
  EXPECT_EQ(FormatText(f),
            "@code\r\n:Loop\n d mov $1, =2           ; two\n b \"a ;b\"\n; note\n"
            "@seg_end\nfree text  ; outside\n");
}

TEST(BadInput, MalformedMessagesAndUnknownMethodsGetAnErrorAnswerOrNothing) {
  Client c;
  c.Raw("{not json");
  ASSERT_EQ(c.last().size(), 1u);
  EXPECT_EQ(c.last()[0]["error"]["code"], protocol::kParseError);
  EXPECT_TRUE(c.last()[0]["id"].is_null());
  EXPECT_EQ(c.Request("velda/unknown", Json::object())["error"]["code"], protocol::kMethodNotFound);
  c.Notify("velda/unknownNotification", Json::object());
  EXPECT_TRUE(c.last().empty());
  // Parameters of the wrong shape are no document: no answer to give but null.
  for (Json params :
       {Json::object(), Json{{"textDocument", 5}}, Json{{"textDocument", {{"uri", 7}}}},
        Json{{"textDocument", {{"uri", "http://x/y.ova"}}}}}) {
    Json r = c.Request("textDocument/hover", params);
    EXPECT_TRUE(r.contains("result")) << params;
  }
  std::vector<std::string> sent;
  Server early([&](const std::string& b) { sent.push_back(b); });
  early.Handle(R"({"jsonrpc":"2.0","id":1,"method":"textDocument/hover","params":{}})");
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(Json::parse(sent[0])["error"]["code"], protocol::kServerNotInitialized);
}

TEST(BadInput, HalfTypedBinaryAndHugeSourcesAndOutOfRangePositions) {
  Folder folder;
  Client c;
  std::mt19937 random(7);
  std::string binary(4096, '\0');
  for (char& ch : binary) ch = static_cast<char>(random());
  std::string huge;
  // 10 MB of statements with long comments: every line assembles, and the answers stay
  // within what a sanitizer build runs in seconds.
  const std::string line = " d mov $1, [FP][12]    ;" + std::string(180, '-') + "\n";
  while (huge.size() < 10 * 1024 * 1024) huge += line;
  std::vector<std::string> texts = {"@code\n d mov [",
                                    "@code\n jsrfr",
                                    "@code\n:",
                                    "@code\n b \"abc\\",
                                    "@code\n :@\n ljeq @FX",
                                    "@code\n d mov $1, =Label +",
                                    "@code\n\xF0\x9F\x98\x80 \xC3 \xFF\n",
                                    binary,
                                    "@code\n" + huge};
  for (size_t i = 0; i < texts.size(); ++i) {
    std::string uri = PathToUri(folder.Write("t" + std::to_string(i) + ".ova", texts[i]));
    c.Open(uri, texts[i]);
    EXPECT_TRUE(c.Diagnostics(uri).is_array()) << i;
    int lines = static_cast<int>(std::count(texts[i].begin(), texts[i].end(), '\n'));
    for (int line : {0, 1, lines, lines + 5, 1 << 30})
      for (int ch : {-1, 0, 3, 9, 100000}) {
        for (const char* m : {"textDocument/hover", "textDocument/definition",
                              "textDocument/completion", "textDocument/documentHighlight"})
          EXPECT_TRUE(c.Request(m, At(uri, line, ch)).contains("result")) << m << " " << i;
      }
    for (const char* m : {"textDocument/semanticTokens/full", "textDocument/foldingRange",
                          "textDocument/formatting", "textDocument/documentSymbol"})
      EXPECT_TRUE(c.Request(m, {{"textDocument", {{"uri", uri}}}}).contains("result"))
          << m << " " << i;
  }
}

// The program itself: garbage between messages on standard input is read past.
TEST(BadInput, TheServerProgramReadsPastGarbageAndEndsCleanly) {
  Folder folder;
  std::string in = "\x01\x02 garbage\r\n\r\n";
  in += "Content-Length: 5\r\n\r\n{oops";
  in += protocol::Frame(R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{}})");
  in += protocol::Frame(R"({"jsonrpc":"2.0","id":2,"method":"shutdown"})");
  in += protocol::Frame(R"({"jsonrpc":"2.0","method":"exit"})");
  std::string input = folder.Write("in", in);
  std::string output = (folder.path() / "out").string();
  std::string command = std::string(VELDA_LSP) + " < " + input + " > " + output + " 2>/dev/null";
  int status = std::system(command.c_str());
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::string out = ReadAll(output);
  EXPECT_NE(out.find("\"id\":1,\"jsonrpc\":\"2.0\",\"result\":{\"capabilities\""),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("\"code\":-32700"), std::string::npos);
}

}  // namespace
}  // namespace orvo::lsp::testing
