// The answers of the language server, each worked out from one analysed project.
#pragma once

#include <string>

#include "project.h"
#include "protocol/json_rpc.h"

namespace orvo::lsp {

using protocol::Json;

// Semantic token types, in the order of the legend announced at start-up.
Json SemanticTokenLegend();

// publishDiagnostics parameters for one file of the project.
Json Diagnostics(const Project& p, int file);

Json Definition(const Project& p, int file, Position at);
Json References(const Project& p, int file, Position at, bool withDeclaration);
Json Highlights(const Project& p, int file, Position at);
// A WorkspaceEdit, or null with `error` set when the new name cannot be used.
Json Rename(const Project& p, int file, Position at, const std::string& newName,
            std::string& error);
Json PrepareRename(const Project& p, int file, Position at);
Json DocumentSymbols(const Project& p, int file);
// Appends the project's labels matching `query` to `out`.
void WorkspaceSymbols(const Project& p, const std::string& query, Json& out);
Json Hover(const Project& p, int file, Position at);
Json Completion(const Project& p, int file, Position at);
Json SemanticTokens(const Project& p, int file);
Json FoldingRanges(const Project& p, int file);
Json Formatting(const Project& p, int file);

// The text of a file laid out in the columns of the examples; only white space changes.
std::string FormatText(const ProjectFile& f);

}  // namespace orvo::lsp
