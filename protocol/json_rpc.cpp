#include "json_rpc.h"

namespace orvo::protocol {

std::optional<Message> ReadMessage(std::string_view body, ReadError& error) {
  Json j = Json::parse(body.begin(), body.end(), nullptr, /*allow_exceptions=*/false);
  if (j.is_discarded()) {
    error = {kParseError, "parse error", nullptr};
    return std::nullopt;
  }
  if (!j.is_object()) {
    error = {kInvalidRequest, "a message is an object", nullptr};
    return std::nullopt;
  }
  Message m;
  if (auto id = j.find("id"); id != j.end()) {
    if (!id->is_number_integer() && !id->is_string() && !id->is_null()) {
      error = {kInvalidRequest, "bad id", nullptr};
      return std::nullopt;
    }
    m.id = *id;
  }
  auto method = j.find("method");
  if (method == j.end()) {
    if (j.contains("result") || j.contains("error")) {
      m.isResponse = true;
      if (auto r = j.find("result"); r != j.end()) m.result = *r;
      return m;
    }
    error = {kInvalidRequest, "no method", m.id};
    return std::nullopt;
  }
  if (!method->is_string()) {
    error = {kInvalidRequest, "method is not a string", m.id};
    return std::nullopt;
  }
  m.method = method->get<std::string>();
  if (auto p = j.find("params"); p != j.end()) {
    if (!p->is_object() && !p->is_array()) {
      error = {kInvalidRequest, "params is neither object nor array", m.id};
      return std::nullopt;
    }
    m.params = *p;
  }
  return m;
}

namespace {

// Invalid UTF-8 (from a binary file) is replaced rather than refused.
std::string Dump(const Json& j) {
  return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

std::string Response(const Json& id, const Json& result) {
  return Dump(Json{{"jsonrpc", "2.0"}, {"id", id}, {"result", result}});
}

std::string ErrorResponse(const Json& id, int code, std::string_view message) {
  return Dump(Json{{"jsonrpc", "2.0"},
                   {"id", id},
                   {"error", {{"code", code}, {"message", std::string(message)}}}});
}

std::string Notification(std::string_view method, const Json& params) {
  return Dump(Json{{"jsonrpc", "2.0"}, {"method", std::string(method)}, {"params", params}});
}

std::string Request(const Json& id, std::string_view method, const Json& params) {
  return Dump(
      Json{{"jsonrpc", "2.0"}, {"id", id}, {"method", std::string(method)}, {"params", params}});
}

}  // namespace orvo::protocol
