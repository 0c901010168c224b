// Base64 as the protocol carries memory contents (RFC 4648, with padding).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvo::debugger {

std::string EncodeBase64(const uint8_t* data, size_t size);
// nullopt when the text is no base64 (whitespace is not allowed).
std::optional<std::vector<uint8_t>> DecodeBase64(std::string_view text);

}  // namespace orvo::debugger
