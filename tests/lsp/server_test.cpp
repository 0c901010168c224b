// The language server through its messages: velda's findings where they are, the
// warnings velda does not give, navigation, the word help, and bad input.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>

#include "client.h"
#include "driver.h"

namespace orvo::lsp::testing {
namespace {

const char* kLib =
    "@code\n"
    ":Helper\n"
    " d mov $1, =0x303\n"
    " efr 0\n"
    "@seg_end\n";
const char* kGame =
    "@code\n"               // 0
    ":Start\n"              // 1
    " jsrfr 0, =Helper\n"   // 2
    " trem\n"               // 3
    " ljeq =Missing\n"      // 4
    " d mov $1, $2 junk\n"  // 5
    ":Unused\n"             // 6
    " jmp =Start\n"         // 7
    "@seg_end\n";

struct Game {
  Folder folder;
  std::string game, lib;
  Client client;
  Game(const std::string& gameText = kGame) {
    folder.Write("velda.list", "source lib\nsource game\n");
    folder.Write("lib.ova", kLib);
    folder.Write("game.ova", gameText);
    game = folder.Uri("game.ova");
    lib = folder.Uri("lib.ova");
    client.Open(game, gameText);
  }
};

std::vector<std::string> Messages(const Json& diagnostics, int severity) {
  std::vector<std::string> out;
  for (const Json& d : diagnostics)
    if (d["severity"] == severity) out.push_back(d["message"]);
  return out;
}

const Json* WithMessage(const Json& diagnostics, const std::string& message) {
  for (const Json& d : diagnostics)
    if (d["message"] == message) return &d;
  return nullptr;
}

Json Range(int line, int from, int to) {
  return {{"start", {{"line", line}, {"character", from}}},
          {"end", {{"line", line}, {"character", to}}}};
}

TEST(Diagnostics, AreVeldasOwnErrorsWithTheirTextsAtTheirPlaces) {
  Game g;
  Json d = g.client.Diagnostics(g.game);
  // velda itself, run on the same files, prints the same texts.
  auto a = std::make_unique<velda::Assembler>();
  std::string console;
  a->console = &console;
  a->outDir = g.folder.path();
  velda::RunVelda(*a, {(g.folder.path() / "lib").string(), (g.folder.path() / "game").string()});
  std::vector<std::string> errors = Messages(d, 1);
  ASSERT_FALSE(errors.empty());
  EXPECT_EQ(static_cast<int>(errors.size()), a->errorCount);
  for (const std::string& e : errors) EXPECT_NE(console.find(e + "\n"), std::string::npos) << e;

  const Json* junk = WithMessage(d, "unexpected characters: junk");
  ASSERT_TRUE(junk);
  EXPECT_EQ((*junk)["range"], Range(5, 14, 18));
  const Json* missing = WithMessage(d, "undefined label: Missing");
  ASSERT_TRUE(missing);
  EXPECT_EQ((*missing)["range"], Range(4, 7, 14));
  EXPECT_EQ(g.client.Diagnostics(g.lib), Json::array());  // every file of the list is published
}

TEST(Diagnostics, WarnOfWhatVeldaPassesOverSilently) {
  Game g;
  std::vector<std::string> warnings = Messages(g.client.Diagnostics(g.game), 2);
  EXPECT_NE(std::find(warnings.begin(), warnings.end(),
                      "'trem' is no mnemonic or directive: the statement assembles to nothing"),
            warnings.end());
  EXPECT_NE(std::find(warnings.begin(), warnings.end(), "label never used: Unused"),
            warnings.end());
  EXPECT_EQ(std::count(warnings.begin(), warnings.end(), "label never used: Start"), 0);
  Json undefined;
  for (const Json& d : g.client.Diagnostics(g.game))
    if (d["severity"] == 2 && d["message"] == "undefined label: Missing") undefined = d;
  ASSERT_FALSE(undefined.is_null());
  EXPECT_EQ(undefined["range"], Range(4, 7, 14));
}

TEST(Diagnostics, FollowEveryChangeAcrossTheFilesOfTheList) {
  Game g;
  std::string fixed = kGame;
  fixed.replace(fixed.find(" junk"), 5, "");
  fixed.replace(fixed.find("Missing"), 7, "Helper");
  g.client.Change(g.game, fixed);
  EXPECT_TRUE(Messages(g.client.Diagnostics(g.game), 1).empty());
  // A change in the library is seen by the game: the label it calls is gone.
  g.client.Open(g.lib, kLib);
  std::string renamed = kLib;
  renamed.replace(renamed.find("Helper"), 6, "Helpe");
  g.client.Change(g.lib, renamed);
  EXPECT_FALSE(Messages(g.client.Diagnostics(g.game), 1).empty());
  EXPECT_FALSE(Messages(g.client.Diagnostics(g.lib), 2).empty());  // Helpe is never used
}

TEST(Diagnostics, TakeALabelOfTheMapAsUsedAndSayWhereVeldaGaveUp) {
  std::string text = "@code\n@align 4\n:_Checksum\n d 0\n:Plain\n d 0\n";
  Game g(text + "@seg_end\n");
  std::vector<std::string> warnings = Messages(g.client.Diagnostics(g.game), 2);
  EXPECT_EQ(warnings, std::vector<std::string>{"label never used: Plain"});

  for (int i = 0; i < 25; ++i) text += " d mov $1, $2 x\n";
  g.client.Change(g.game, text + "@seg_end\n");
  Json d = g.client.Diagnostics(g.game);
  EXPECT_EQ(Messages(d, 1).size(), 21u);  // velda's limit
  EXPECT_EQ(Messages(d, 3), std::vector<std::string>{"Too many errors..."});
  EXPECT_TRUE(Messages(d, 2).empty());  // which labels are used is not known then
}

TEST(Navigation, FindsLabelsAcrossFilesAndRenamesThemEverywhere) {
  Game g;
  Json def = g.client.Request("textDocument/definition", At(g.game, 2, 13))["result"];
  EXPECT_EQ(def["uri"], g.lib);
  EXPECT_EQ(def["range"], Range(1, 1, 7));

  Json params = At(g.lib, 1, 3);
  params["context"] = {{"includeDeclaration", true}};
  EXPECT_EQ(g.client.Request("textDocument/references", params)["result"].size(), 2u);
  Json highlights = g.client.Request("textDocument/documentHighlight", At(g.game, 7, 7))["result"];
  ASSERT_EQ(highlights.size(), 2u);  // the definition of Start and its one use

  params = At(g.game, 2, 13);
  params["newName"] = "Assist";
  Json edit = g.client.Request("textDocument/rename", params)["result"];
  EXPECT_EQ(edit["changes"][g.lib].size(), 1u);
  EXPECT_EQ(edit["changes"][g.game].size(), 1u);
  EXPECT_EQ(edit["changes"][g.game][0]["range"], Range(2, 11, 17));
  for (const char* bad : {"Start", "9lives", "mov", "has space", ""}) {
    params["newName"] = bad;
    Json answer = g.client.Request("textDocument/rename", params);
    EXPECT_TRUE(answer.contains("error")) << bad;
  }
}

TEST(Navigation, AnonymousLabelsResolveAsVeldaResolvesThem) {
  Game g(
      "@code\n"
      ":@\n"
      " ljeq @F\n"
      ":@\n"
      " ljne @BB\n"
      "@seg_end\n");
  Json def = g.client.Request("textDocument/definition", At(g.game, 2, 7))["result"];
  EXPECT_EQ(def["range"], Range(3, 1, 2));
  def = g.client.Request("textDocument/definition", At(g.game, 4, 7))["result"];
  EXPECT_EQ(def["range"], Range(1, 1, 2));
}

TEST(WordHelp, SymbolsHoverAndCompletionTellWhatAWordIs) {
  Game g;
  Json symbols = g.client.Request("textDocument/documentSymbol",
                                  {{"textDocument", {{"uri", g.game}}}})["result"];
  ASSERT_EQ(symbols.size(), 2u);
  EXPECT_EQ(symbols[0]["name"], "Start");
  EXPECT_EQ(symbols[0]["kind"], 12);
  Json found = g.client.Request("workspace/symbol", {{"query", "help"}})["result"];
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0]["location"]["uri"], g.lib);

  std::string label =
      g.client.Request("textDocument/hover", At(g.game, 2, 14))["result"]["contents"]["value"];
  EXPECT_NE(label.find("code label, value 0x0"), std::string::npos) << label;
  std::string mov =
      g.client.Request("textDocument/hover", At(g.lib, 2, 4))["result"]["contents"]["value"];
  EXPECT_NE(mov.find("`mov $r, =v` | 2 words, 3 words at q"), std::string::npos) << mov;
  EXPECT_NE(mov.find("`mov $r, =v (-4..3)` | 1 word"), std::string::npos) << mov;
  g.client.Open(g.lib, kLib);
  std::string request =
      g.client.Request("textDocument/hover", At(g.lib, 2, 13))["result"]["contents"]["value"];
  EXPECT_NE(request.find("0x303 length"), std::string::npos) << request;
  std::string seg =
      g.client.Request("textDocument/hover", At(g.lib, 4, 2))["result"]["contents"]["value"];
  EXPECT_NE(seg.find("@seg_end"), std::string::npos);

  auto labels = [](const Json& items) {
    std::vector<std::string> out;
    for (const Json& i : items) out.push_back(i["label"]);
    return out;
  };
  std::vector<std::string> first =
      labels(g.client.Request("textDocument/completion", At(g.game, 3, 1))["result"]);
  EXPECT_NE(std::find(first.begin(), first.end(), "term"), first.end());
  EXPECT_NE(std::find(first.begin(), first.end(), "@align"), first.end());
  std::vector<std::string> operand =
      labels(g.client.Request("textDocument/completion", At(g.game, 2, 11))["result"]);
  EXPECT_NE(std::find(operand.begin(), operand.end(), "Helper"), operand.end());
  EXPECT_NE(std::find(operand.begin(), operand.end(), "EVT_START"), operand.end());
  EXPECT_NE(std::find(operand.begin(), operand.end(), "0x303 length"), operand.end());
  EXPECT_EQ(std::find(operand.begin(), operand.end(), "term"), operand.end());
}

TEST(Layout, SemanticTokensAndRoutineFolds) {
  Game g;
  Json data = g.client.Request("textDocument/semanticTokens/full",
                               {{"textDocument", {{"uri", g.game}}}})["result"]["data"];
  ASSERT_EQ(data.size() % 5, 0u);
  // Decode and find "jsrfr" on line 2 as a mnemonic (type 5) and "Helper" as a label (6).
  std::vector<std::array<int, 4>> tokens;  // line, start, length, type
  int line = 0, start = 0;
  for (size_t i = 0; i < data.size(); i += 5) {
    line += data[i].get<int>();
    start = data[i].get<int>() == 0 ? start + data[i + 1].get<int>() : data[i + 1].get<int>();
    tokens.push_back({line, start, data[i + 2].get<int>(), data[i + 3].get<int>()});
  }
  EXPECT_NE(std::find(tokens.begin(), tokens.end(), std::array<int, 4>{2, 1, 5, 5}), tokens.end());
  EXPECT_NE(std::find(tokens.begin(), tokens.end(), std::array<int, 4>{2, 11, 6, 6}), tokens.end());
  EXPECT_NE(std::find(tokens.begin(), tokens.end(), std::array<int, 4>{5, 7, 2, 7}), tokens.end());

  Json folds = g.client.Request("textDocument/foldingRange",
                                {{"textDocument", {{"uri", g.game}}}})["result"];
  ASSERT_EQ(folds.size(), 2u);
  EXPECT_EQ(folds[0]["startLine"], 1);
  EXPECT_EQ(folds[0]["endLine"], 5);
}

}  // namespace
}  // namespace orvo::lsp::testing
