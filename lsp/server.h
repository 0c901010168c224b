// The language server's state and its answer to each message.
#pragma once

#include <functional>
#include <set>
#include <memory>
#include <string>
#include <vector>

#include "project.h"
#include "protocol/json_rpc.h"

namespace orvo::lsp {

class Server {
 public:
  // `send` writes one message body to the client.
  explicit Server(std::function<void(const std::string&)> send) : send_(std::move(send)) {}

  // Handles one message body.
  void Handle(std::string_view body);
  bool exited() const { return exited_; }
  int exitCode() const { return shutdown_ ? 0 : 1; }

 private:
  protocol::Json Dispatch(const protocol::Message& m, int& errorCode, std::string& error);
  void Open(const std::string& uri, std::string text);
  void Change(const std::string& uri, std::string text);
  void Close(const std::string& uri);
  // The project that holds a document and the file's index in it.
  Project* Find(const std::string& uri, int& file);
  void Publish(Project& p);

  std::function<void(const std::string&)> send_;
  std::vector<std::unique_ptr<Project>> projects_;
  std::set<std::string> open_;  // uris of open documents
  bool initialized_ = false;
  bool shutdown_ = false;
  bool exited_ = false;
};

}  // namespace orvo::lsp
