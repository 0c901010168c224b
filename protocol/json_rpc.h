// JSON-RPC 2.0 messages: reading a body into a request, notification or response,
// and writing the replies. Nothing here knows any method.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace orvo::protocol {

using Json = nlohmann::json;

// Error codes of JSON-RPC and the protocols built on it.
inline constexpr int kParseError = -32700;
inline constexpr int kInvalidRequest = -32600;
inline constexpr int kMethodNotFound = -32601;
inline constexpr int kInvalidParams = -32602;
inline constexpr int kInternalError = -32603;
inline constexpr int kServerNotInitialized = -32002;
inline constexpr int kRequestFailed = -32803;

struct Message {
  Json id;             // null for a notification
  std::string method;  // empty for a response
  Json params;         // object, array or null
  Json result;         // responses
  bool isResponse = false;
  bool HasId() const { return !id.is_null(); }
};

struct ReadError {
  int code = kParseError;
  std::string message;
  Json id;  // the request's id when it could be read
};

// A body as a message; a body that is no JSON-RPC message gives a ReadError, which the
// caller answers with ErrorResponse (JSON-RPC answers a parse error with a null id).
std::optional<Message> ReadMessage(std::string_view body, ReadError& error);

std::string Response(const Json& id, const Json& result);
std::string ErrorResponse(const Json& id, int code, std::string_view message);
std::string Notification(std::string_view method, const Json& params);
std::string Request(const Json& id, std::string_view method, const Json& params);

}  // namespace orvo::protocol
