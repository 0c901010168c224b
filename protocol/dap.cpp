#include "protocol/dap.h"

namespace orvo::protocol {

using Json = nlohmann::json;

std::optional<DapRequest> ReadDapRequest(std::string_view body, DapReadError& error) {
  const Json j = Json::parse(body.begin(), body.end(), nullptr, /*allow_exceptions=*/false);
  if (j.is_discarded()) {
    error = {"the message is not JSON", 0, {}};
    return std::nullopt;
  }
  if (!j.is_object()) {
    error = {"a message is an object", 0, {}};
    return std::nullopt;
  }
  DapRequest r;
  const auto seq = j.find("seq");
  if (seq == j.end() || !seq->is_number_integer()) {
    error = {"a message needs an integer seq", 0, {}};
    return std::nullopt;
  }
  r.seq = seq->get<int64_t>();
  const auto command = j.find("command");
  if (command != j.end() && command->is_string()) r.command = command->get<std::string>();
  const auto type = j.find("type");
  if (type == j.end() || !type->is_string() || *type != "request") {
    error = {"only requests are read", r.seq, r.command};
    return std::nullopt;
  }
  if (command == j.end() || !command->is_string()) {
    error = {"a request needs a command", r.seq, {}};
    return std::nullopt;
  }
  if (const auto a = j.find("arguments"); a != j.end() && !a->is_null()) {
    if (!a->is_object()) {
      error = {"arguments must be an object", r.seq, r.command};
      return std::nullopt;
    }
    r.arguments = *a;
  }
  return r;
}

std::string DapWriter::Response(const DapRequest& request, const Json& body) {
  Json j = {{"seq", ++seq_},          {"type", "response"}, {"request_seq", request.seq},
            {"command", request.command}, {"success", true}};
  if (!body.is_null()) j["body"] = body;
  return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string DapWriter::ErrorResponse(int64_t requestSeq, std::string_view command,
                                     std::string_view message) {
  const Json j = {{"seq", ++seq_},
                  {"type", "response"},
                  {"request_seq", requestSeq},
                  {"command", command},
                  {"success", false},
                  {"message", message},
                  {"body", {{"error", {{"id", 1}, {"format", message}, {"showUser", true}}}}}};
  return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string DapWriter::Event(std::string_view event, const Json& body) {
  const Json j = {{"seq", ++seq_}, {"type", "event"}, {"event", event}, {"body", body}};
  return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace orvo::protocol
