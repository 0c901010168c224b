#include "server.h"

#include <filesystem>

#include "features.h"
#include "source_list.h"
#include "uri.h"

namespace orvo::lsp {

using protocol::Json;

namespace {

const Json* Field(const Json& j, const char* key) {
  if (!j.is_object()) return nullptr;
  auto it = j.find(key);
  return it == j.end() ? nullptr : &*it;
}

std::string String(const Json& j, const char* key) {
  const Json* f = Field(j, key);
  return f && f->is_string() ? f->get<std::string>() : std::string();
}

std::string DocumentUri(const Json& params) {
  const Json* doc = Field(params, "textDocument");
  return doc ? String(*doc, "uri") : std::string();
}

// A position as sent; out-of-range numbers are clamped by the text when used.
Position PositionOf(const Json& params) {
  Position p;
  if (const Json* pos = Field(params, "position")) {
    const Json* line = Field(*pos, "line");
    const Json* ch = Field(*pos, "character");
    auto clamp = [](const Json* v) -> uint32_t {
      if (!v || !v->is_number_integer()) return 0;
      int64_t n = v->get<int64_t>();
      return n < 0 ? 0 : n > 0xFFFFFFF ? 0xFFFFFFF : static_cast<uint32_t>(n);
    };
    p.line = clamp(line);
    p.character = clamp(ch);
  }
  return p;
}

Json Capabilities() {
  return {
      {"textDocumentSync", {{"openClose", true}, {"change", 1}, {"save", true}}},
      {"definitionProvider", true},
      {"referencesProvider", true},
      {"renameProvider", {{"prepareProvider", true}}},
      {"documentSymbolProvider", true},
      {"workspaceSymbolProvider", true},
      {"documentHighlightProvider", true},
      {"hoverProvider", true},
      {"completionProvider", {{"triggerCharacters", {"=", "[", " "}}}},
      {"semanticTokensProvider", {{"legend", SemanticTokenLegend()}, {"full", true}}},
      {"foldingRangeProvider", true},
      {"documentFormattingProvider", true},
  };
}

}  // namespace

void Server::Handle(std::string_view body) {
  protocol::ReadError readError;
  std::optional<protocol::Message> m = protocol::ReadMessage(body, readError);
  if (!m) {
    send_(protocol::ErrorResponse(readError.id, readError.code, readError.message));
    return;
  }
  if (m->isResponse) return;  // the server sends no requests that need an answer
  int code = 0;
  std::string error;
  Json result;
  if (!initialized_ && m->method != "initialize" && m->method != "exit") {
    code = protocol::kServerNotInitialized;
    error = "not initialized";
  } else {
    // nlohmann reports a value of an unexpected type by throwing; the fields are
    // checked before use, so this only keeps a missed case from ending the server.
    try {
      result = Dispatch(*m, code, error);
    } catch (const std::exception& e) {
      code = protocol::kInternalError;
      error = e.what();
    }
  }
  if (!m->HasId()) return;  // a notification has no answer, not even an error
  send_(code != 0 ? protocol::ErrorResponse(m->id, code, error)
                  : protocol::Response(m->id, result));
}

Json Server::Dispatch(const protocol::Message& m, int& code, std::string& error) {
  const Json& params = m.params;
  const std::string& method = m.method;
  if (method == "initialize") {
    initialized_ = true;
    return {{"capabilities", Capabilities()}, {"serverInfo", {{"name", "velda-lsp"}}}};
  }
  if (method == "initialized" || method.starts_with("$/")) return nullptr;
  if (method == "shutdown") {
    shutdown_ = true;
    return nullptr;
  }
  if (method == "exit") {
    exited_ = true;
    return nullptr;
  }
  if (method == "textDocument/didOpen") {
    const Json* doc = Field(params, "textDocument");
    if (doc) Open(String(*doc, "uri"), String(*doc, "text"));
    return nullptr;
  }
  if (method == "textDocument/didChange") {
    const Json* changes = Field(params, "contentChanges");
    if (changes && changes->is_array() && !changes->empty())
      Change(DocumentUri(params), String(changes->back(), "text"));
    return nullptr;
  }
  if (method == "textDocument/didClose") {
    Close(DocumentUri(params));
    return nullptr;
  }
  if (method == "textDocument/didSave") return nullptr;
  if (method == "workspace/symbol") {
    Json list = Json::array();
    for (const auto& p : projects_) WorkspaceSymbols(*p, String(params, "query"), list);
    return list;
  }

  int file = -1;
  Project* p = method.starts_with("textDocument/") ? Find(DocumentUri(params), file) : nullptr;
  if (!method.starts_with("textDocument/")) {
    code = protocol::kMethodNotFound;
    error = "unknown method: " + method;
    return nullptr;
  }
  if (!p) return nullptr;  // not a document the server knows
  Position at = PositionOf(params);
  if (method == "textDocument/definition") return Definition(*p, file, at);
  if (method == "textDocument/references") {
    const Json* context = Field(params, "context");
    const Json* decl = context ? Field(*context, "includeDeclaration") : nullptr;
    return References(*p, file, at, decl && decl->is_boolean() && decl->get<bool>());
  }
  if (method == "textDocument/documentHighlight") return Highlights(*p, file, at);
  if (method == "textDocument/prepareRename") return PrepareRename(*p, file, at);
  if (method == "textDocument/rename") {
    Json edit = Rename(*p, file, at, String(params, "newName"), error);
    if (edit.is_null()) code = protocol::kRequestFailed;
    return edit;
  }
  if (method == "textDocument/documentSymbol") return DocumentSymbols(*p, file);
  if (method == "textDocument/hover") return Hover(*p, file, at);
  if (method == "textDocument/completion") return Completion(*p, file, at);
  if (method == "textDocument/semanticTokens/full") return SemanticTokens(*p, file);
  if (method == "textDocument/foldingRange") return FoldingRanges(*p, file);
  if (method == "textDocument/formatting") return Formatting(*p, file);
  code = protocol::kMethodNotFound;
  error = "unknown method: " + method;
  return nullptr;
}

Project* Server::Find(const std::string& uri, int& file) {
  std::string path = UriToPath(uri);
  if (path.empty()) return nullptr;
  path = NormalPath(path);
  for (const auto& p : projects_)
    if ((file = p->FileOf(path)) >= 0) return p.get();
  return nullptr;
}

void Server::Open(const std::string& uri, std::string text) {
  std::string path = UriToPath(uri);
  if (path.empty()) return;
  path = NormalPath(path);
  open_.insert(uri);
  int file;
  if (!Find(uri, file)) {
    // The source list of the file's folder, when it names the file; else the file alone.
    std::filesystem::path list = std::filesystem::path(path).parent_path() / velda::kSourceListName;
    std::unique_ptr<Project> p;
    std::error_code ec;
    if (std::filesystem::exists(list, ec)) {
      p = Project::Load(list.string(), "");
      if (p->FileOf(path) < 0) p.reset();
    }
    if (!p) p = Project::Load("", path);
    projects_.push_back(std::move(p));
  }
  Change(uri, std::move(text));
}

void Server::Change(const std::string& uri, std::string text) {
  std::string path = UriToPath(uri);
  if (path.empty() || !open_.count(uri)) return;
  path = NormalPath(path);
  for (const auto& p : projects_) {
    int file = p->FileOf(path);
    if (file < 0) continue;
    p->files[static_cast<size_t>(file)]->SetText(text);  // a file may be in several lists
    p->Analyze();
    Publish(*p);
  }
}

void Server::Close(const std::string& uri) {
  open_.erase(uri);
  // What is on disk counts again.
  std::string path = UriToPath(uri);
  if (path.empty()) return;
  path = NormalPath(path);
  for (const auto& p : projects_) {
    int file = p->FileOf(path);
    if (file < 0) continue;
    std::unique_ptr<Project> fresh = Project::Load(p->listPath, path);
    int same = fresh->FileOf(path);
    if (same >= 0)
      p->files[static_cast<size_t>(file)]->SetText(fresh->files[static_cast<size_t>(same)]->text);
    p->Analyze();
    Publish(*p);
  }
}

void Server::Publish(Project& p) {
  for (size_t i = 0; i < p.files.size(); ++i)
    send_(protocol::Notification("textDocument/publishDiagnostics",
                                 Diagnostics(p, static_cast<int>(i))));
}

}  // namespace orvo::lsp
