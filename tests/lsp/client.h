// A client for the server in the same process, and a folder of sources for it.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "lsp/server.h"
#include "lsp/uri.h"

namespace orvo::lsp::testing {

using protocol::Json;

class Folder {
 public:
  Folder();
  ~Folder();
  std::string Write(const std::string& name, const std::string& text) const;  // its path
  std::string Uri(const std::string& name) const { return PathToUri((path_ / name).string()); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

class Client {
 public:
  Client();
  Json Request(const std::string& method, const Json& params);
  void Notify(const std::string& method, const Json& params);
  void Open(const std::string& uri, const std::string& text);
  void Change(const std::string& uri, const std::string& text);
  // The diagnostics last published for a document.
  Json Diagnostics(const std::string& uri) const;
  // Every message the server sent for the last body it handled.
  const std::vector<Json>& last() const { return last_; }
  void Raw(const std::string& body);

 private:
  Server server_;
  std::vector<Json> last_;
  std::map<std::string, Json> diagnostics_;
  int next_ = 1;
};

Json At(const std::string& uri, int line, int character);

}  // namespace orvo::lsp::testing
