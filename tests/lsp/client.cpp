#include "client.h"

#include <unistd.h>

namespace orvo::lsp::testing {

Folder::Folder() {
  std::string t = (std::filesystem::temp_directory_path() / "velda-lsp-XXXXXX").string();
  path_ = mkdtemp(t.data());
}

Folder::~Folder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string Folder::Write(const std::string& name, const std::string& text) const {
  std::filesystem::path p = path_ / name;
  std::filesystem::create_directories(p.parent_path());
  FILE* f = std::fopen(p.c_str(), "wb");
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
  return p.string();
}

Client::Client()
    : server_([this](const std::string& body) {
        Json j = Json::parse(body);
        if (j.value("method", "") == "textDocument/publishDiagnostics")
          diagnostics_[j["params"]["uri"]] = j["params"]["diagnostics"];
        last_.push_back(std::move(j));
      }) {
  Request("initialize", {{"capabilities", Json::object()}});
  Notify("initialized", Json::object());
}

void Client::Raw(const std::string& body) {
  last_.clear();
  server_.Handle(body);
}

Json Client::Request(const std::string& method, const Json& params) {
  int id = next_++;
  Raw(Json{{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", params}}.dump(
      -1, ' ', false, Json::error_handler_t::replace));
  for (const Json& j : last_)
    if (j.contains("id") && j["id"] == id) return j;
  return nullptr;
}

void Client::Notify(const std::string& method, const Json& params) {
  Raw(Json{{"jsonrpc", "2.0"}, {"method", method}, {"params", params}}.dump(
      -1, ' ', false, Json::error_handler_t::replace));
}

void Client::Open(const std::string& uri, const std::string& text) {
  Notify(
      "textDocument/didOpen",
      {{"textDocument", {{"uri", uri}, {"languageId", "velda"}, {"version", 1}, {"text", text}}}});
}

void Client::Change(const std::string& uri, const std::string& text) {
  Notify("textDocument/didChange", {{"textDocument", {{"uri", uri}, {"version", 2}}},
                                    {"contentChanges", {{{"text", text}}}}});
}

Json Client::Diagnostics(const std::string& uri) const {
  auto it = diagnostics_.find(uri);
  return it == diagnostics_.end() ? Json() : it->second;
}

Json At(const std::string& uri, int line, int character) {
  return {{"textDocument", {{"uri", uri}}},
          {"position", {{"line", line}, {"character", character}}}};
}

}  // namespace orvo::lsp::testing
