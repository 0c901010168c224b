// Writes part of a BGRA pixel block as an opaque RGB PNG file.
#pragma once

#include <cstdint>
#include <string>

namespace orvo::host {

bool WriteScreenshot(const std::string& file, const uint8_t* bgra, int32_t width, int32_t height,
                     int32_t stride);

}  // namespace orvo::host
