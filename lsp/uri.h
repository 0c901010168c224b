// file: URIs and paths.
#pragma once

#include <string>
#include <string_view>

namespace orvo::lsp {

// The path of a file: URI; empty for any other scheme.
std::string UriToPath(std::string_view uri);
std::string PathToUri(std::string_view path);

}  // namespace orvo::lsp
