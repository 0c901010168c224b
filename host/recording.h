// A recorded session: what a replay needs to run a game again exactly as it ran. The image
// it belongs to, the sizes the run had, the data folder's files as they were at the start,
// then in order every delivery, the effect of every request answered from outside the
// game and every screenshot taken, and at the end a hash of VM memory as the run left it.
// docs/recording.md describes the file field by field.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "vm/request_effects.h"

namespace orvo::host {

using Digest = std::array<uint8_t, 32>;  // SHA-256

Digest Sha256(const uint8_t* bytes, size_t size);
// Lower-case hex, for messages.
std::string HexDigest(const Digest& d);

inline constexpr uint32_t kRecordingVersion = 1;
// The data folder's files a recording carries at most, together.
inline constexpr uint64_t kMaxRecordedFiles = 16u << 20;
// The largest recording read at all.
inline constexpr uint64_t kMaxRecordingBytes = 1u << 30;

struct RecordedFile {
  std::string name;  // relative to the data folder, '/' between folders
  std::vector<uint8_t> bytes;
  bool operator==(const RecordedFile&) const = default;
};

struct RecordedDelivery {
  int32_t code = 0, a1 = 0, a2 = 0, a3 = 0;
  uint32_t ms = 0;  // since the start of the run
  bool operator==(const RecordedDelivery&) const = default;
};

struct RecordedItem {
  enum Kind : uint8_t { DELIVERY = 1, REQUEST = 2, SCREENSHOT = 3, END = 4 } kind = DELIVERY;
  RecordedDelivery delivery;  // DELIVERY
  vm::RequestEffect effect;   // REQUEST
  std::string shot;           // SCREENSHOT: the file's name, without its folder
  Digest memory{};            // END: SHA-256 of VM memory as the run ended
};

struct Recording {
  Digest image{};  // SHA-256 of the main.ove bytes
  uint32_t buildNumber = 0;
  uint32_t memorySize = 0;  // VM memory of the image: every run lies inside it
  int32_t desktopWidth = 0, desktopHeight = 0;
  int32_t displayWidth = 0, displayHeight = 0;
  int32_t clientWidth = 0, clientHeight = 0;
  platform::LocalTime start;  // the date and time the run started at
  std::string commandLine;    // the game's
  std::vector<RecordedFile> files;
  std::vector<RecordedItem> items;
};

// Whether the machine's row for command is one whose answer a recording keeps.
bool AnsweredFromOutside(const vm::Machine& m, uint32_t command);

std::vector<uint8_t> EncodeRecording(const Recording& r);
// False with problem set when bytes are no recording this runtime can replay: cut short,
// damaged, too large, or with content no run can have made.
bool DecodeRecording(const std::vector<uint8_t>& bytes, Recording& out, std::string& problem);

}  // namespace orvo::host
