// The editor grammar names exactly velda's mnemonics.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

#include "mnemonics.h"
#include "protocol/json_rpc.h"

namespace {

TEST(Grammar, NamesEveryMnemonicOfVeldasTableAndNoOther) {
  std::ifstream in(ORVO_SOURCE_DIR "/editor/syntaxes/velda.tmLanguage.json");
  orvo::protocol::Json g = orvo::protocol::Json::parse(in, nullptr, false);
  ASSERT_FALSE(g.is_discarded());
  std::string match = g["repository"]["mnemonic"]["match"];
  size_t open = match.find("(", match.find(")") + 1);
  open = match.find('(', match.find("])") + 2);
  std::string list = match.substr(open + 1, match.find(')', open) - open - 1);
  std::set<std::string> grammar;
  std::stringstream s(list);
  for (std::string name; std::getline(s, name, '|');) grammar.insert(name);
  std::set<std::string> table;
  for (const auto& m : orvo::velda::kMnemonics)
    if (m.name[0] != '\0') table.insert(m.name);
  EXPECT_EQ(grammar, table);
}

}  // namespace
