// Debug Adapter Protocol messages: unlike JSON-RPC each one is an object with a sequence
// number and a type ("request", "response", "event"). Reading a body gives a request or
// the reason it is none; writing numbers every message the adapter sends.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace orvo::protocol {

struct DapRequest {
  int64_t seq = 0;
  std::string command;
  nlohmann::json arguments = nlohmann::json::object();  // always an object
};

struct DapReadError {
  std::string message;
  int64_t seq = 0;          // the request's seq when it could be read, else 0
  std::string command;      // its command when it could be read
};

// A body as a client's request. Responses and events from the client, non-objects,
// a missing or non-integer seq, a missing command and non-object arguments are errors.
std::optional<DapRequest> ReadDapRequest(std::string_view body, DapReadError& error);

// Numbers the messages sent, from 1, and gives their bodies (unframed).
class DapWriter {
 public:
  std::string Response(const DapRequest& request, const nlohmann::json& body);
  std::string ErrorResponse(int64_t requestSeq, std::string_view command, std::string_view message);
  std::string Event(std::string_view event, const nlohmann::json& body = nlohmann::json::object());

 private:
  int64_t seq_ = 0;
};

}  // namespace orvo::protocol
