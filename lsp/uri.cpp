#include "uri.h"

namespace orvo::lsp {

namespace {

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string UriToPath(std::string_view uri) {
  constexpr std::string_view scheme = "file://";
  if (!uri.starts_with(scheme)) return {};
  uri.remove_prefix(scheme.size());
  std::string path;
  for (size_t i = 0; i < uri.size(); ++i) {
    if (uri[i] == '%' && i + 2 < uri.size() && Hex(uri[i + 1]) >= 0 && Hex(uri[i + 2]) >= 0) {
      path.push_back(static_cast<char>(Hex(uri[i + 1]) * 16 + Hex(uri[i + 2])));
      i += 2;
    } else {
      path.push_back(uri[i]);
    }
  }
  return path;
}

std::string PathToUri(std::string_view path) {
  static const char* digits = "0123456789ABCDEF";
  std::string uri = "file://";
  for (char c : path) {
    unsigned char u = static_cast<unsigned char>(c);
    bool plain = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
                 c == '/' || c == '-' || c == '_' || c == '.' || c == '~';
    if (plain) {
      uri.push_back(c);
    } else {
      uri.push_back('%');
      uri.push_back(digits[u >> 4]);
      uri.push_back(digits[u & 15]);
    }
  }
  return uri;
}

}  // namespace orvo::lsp
