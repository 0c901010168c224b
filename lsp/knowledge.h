// What the server tells about velda's words: mnemonics with their forms and sizes
// (from the instruction table), directives, request commands (from the request
// table's written form, docs/sys.md) and event codes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvo::lsp {

// Markdown for the mnemonic of a mnemonic table row: its forms and their sizes.
std::string MnemonicHover(int row);
// One line: the operand forms' sizes, e.g. "1-3 words".
std::string MnemonicSizes(int row);

struct DirectiveDoc {
  const char* word;
  const char* meaning;
};
const std::vector<DirectiveDoc>& Directives();
const DirectiveDoc* FindDirective(std::string_view word);

struct RequestDoc {
  uint32_t command = 0;
  std::string name, arguments, result, group;
};
const std::vector<RequestDoc>& Requests();
const RequestDoc* FindRequest(uint32_t command);

struct EventDoc {
  const char* name;
  int code;
};
const std::vector<EventDoc>& Events();

}  // namespace orvo::lsp
