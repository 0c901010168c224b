// libFuzzer target: arbitrary bytes loaded as a settings file, then a run of the store's
// requests picked by the remaining bytes. After every step the store must still be one
// chain of sections whose length fields add up to exactly the bytes in use, with the
// current section and the cursor inside it. A freshly loaded store saved and loaded
// again must come back byte for byte, its checksums verifying.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "services/files.h"
#include "services/settings.h"
#include "vm/machine.h"
#include "vm/memory.h"

namespace {

using namespace orvo;
using services::SettingsStore;

constexpr uint32_t kMemory = 64 * 1024;
constexpr uint32_t kRequest = 0x1000;  // the command word and its arguments
constexpr uint32_t kStrings = 0x2000;  // keys, names and texts
constexpr uint32_t kDestination = 0x8000;
constexpr size_t kLongestString = 24;

class QuietHooks : public vm::Hooks {
 public:
  void MessageBox(std::string_view) override {}
  void AppendDebugLog(std::string_view) override {}
  uint32_t ElapsedMs() override { return 0; }
  vm::LocalTime Now() override { return {}; }
};

// A failed check names its line before the crash, so a finding can be told at once.
void Require(bool condition, int line = __builtin_LINE()) {
  if (condition) return;
  std::fprintf(stderr, "fuzz_settings: the check on line %d failed\n", line);
  std::abort();
}

bool IsHexDigit(uint8_t c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The store's shape: sections from the buffer start to the terminating zero, chained by
// their lengths; the current section is none, a section start or the end position.
void CheckStore(const SettingsStore& s) {
  if (!s.buffer) {
    Require(s.section == SettingsStore::NONE && s.cursor == SettingsStore::NONE);
    return;
  }
  Require(s.used >= 1 && s.used <= s.capacity && s.buffer[s.used - 1] == 0);
  const size_t end = s.used - 1;
  bool sectionSeen = s.section == SettingsStore::NONE || s.section == end;
  size_t p = 0;
  while (p < end) {
    Require(s.buffer[p] == '[');
    const uint32_t length = vm::Load32(s.buffer.get() + p + services::SECTION_LENGTH);
    // A section ends at the next "[" from its byte 11 on: the shortest is the "[" and
    // the field, when another section follows at once.
    Require(length > services::SECTION_FIELD && length <= end - p);
    if (s.section == p) sectionSeen = true;
    p += length;
  }
  Require(p == end);
  Require(sectionSeen);
  Require(s.cursor == SettingsStore::NONE || s.cursor <= end);
}

std::string_view Body(const SettingsStore& s) {
  return s.buffer ? std::string_view(reinterpret_cast<const char*>(s.buffer.get()), s.used - 1)
                  : std::string_view();
}

// Whether loading the saved file can cut the sections differently: a "[" inside a
// section (a value holding one, or a header kept whole at load because it came too close
// to the end) starts a section of its own when the file is read, and a last section too
// short for a header is left out.
bool SectionsMayMove(const SettingsStore& s) {
  const std::string_view body = Body(s);
  size_t p = 0, last = 0;
  while (p < body.size()) {
    const uint32_t length = vm::Load32(s.buffer.get() + p + services::SECTION_LENGTH);
    if (body.substr(p + services::SECTION_FIELD + 1, length - services::SECTION_FIELD - 1)
            .find('[') != std::string_view::npos)
      return true;
    last = length;
    p += length;
  }
  return p > 0 && last < services::SECTION_NAME;
}

// Saving and loading again gives a store of the same shape and, unless a "[" inside a
// section cuts it anew, the same sections; every checksum written verifies unless the
// byte after the field is itself a hexadecimal digit, which the number parsing then
// reads as part of the checksum.
void CheckRoundTrip(SettingsStore& s) {
  const std::string image = services::SettingsFileImage(s);
  SettingsStore again;
  services::LoadSettingsBytes(again, image);
  CheckStore(again);
  if (SectionsMayMove(s)) return;
  const std::string_view before = Body(s), after = Body(again);
  Require(before.size() == after.size());
  size_t p = 0;
  while (p < before.size()) {
    const uint32_t length = vm::Load32(s.buffer.get() + p + services::SECTION_LENGTH);
    Require(vm::Load32(again.buffer.get() + p + services::SECTION_LENGTH) == length);
    Require(std::memcmp(before.data() + p + services::SECTION_FIELD + 1,
                        after.data() + p + services::SECTION_FIELD + 1,
                        length - services::SECTION_FIELD - 1) == 0);
    if (!IsHexDigit(s.buffer[p + services::SECTION_FIELD + 1]))
      Require(again.buffer[p + services::SECTION_MARK] == 0);
    p += length;
  }
}

// Reads the request's operands from the input, one after the other.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool More() const { return at_ < size_; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint32_t Word() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t{Byte()} << (8 * i);
    return v;
  }
  std::string_view Bytes(size_t n) {
    n = n < size_ - at_ ? n : size_ - at_;
    std::string_view out(reinterpret_cast<const char*>(data_ + at_), n);
    at_ += n;
    return out;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  const size_t fileLength = in.Byte() | size_t{in.Byte()} << 8;
  const std::string_view file = in.Bytes(fileLength);

  // One machine for every input (making one allocates its heap's handle table, which
  // would cost more than the input), its memory cleared each time.
  static QuietHooks hooks;
  static vm::Machine m(hooks);
  if (!m.block) {
    m.block.reset(static_cast<uint8_t*>(std::calloc(kMemory, 1)));
    m.mem = m.block.get();
    m.memSize = kMemory;
  }
  std::memset(m.mem, 0, kMemory);
  services::FileService files;
  SettingsStore s;
  services::SettingsRequests service{s, files};
  services::AddSettingsRequests(m.requests, service);

  services::LoadSettingsBytes(s, file);
  CheckStore(s);
  CheckRoundTrip(s);

  while (in.More()) {
    const uint32_t row = in.Byte() % 18;
    if (row == services::SET_LOAD) {
      // Loading what a save would write, without the file system.
      services::LoadSettingsBytes(s, services::SettingsFileImage(s));
      CheckStore(s);
      continue;
    }
    if (row == services::SET_SAVE) {
      CheckRoundTrip(s);
      continue;
    }
    // Two strings and two words, whichever of them the row takes.
    uint32_t strings[2];
    uint32_t at = kStrings;
    for (uint32_t& address : strings) {
      const std::string_view text = in.Bytes(in.Byte() % kLongestString);
      address = at;
      std::memcpy(m.mem + at, text.data(), text.size());
      m.mem[at + text.size()] = 0;
      at += static_cast<uint32_t>(kLongestString + 1);
    }
    const uint32_t number = in.Word();
    const uint32_t small = in.Byte() % 40;
    uint32_t words[3] = {strings[0], strings[1], number};
    switch (row) {
      case services::SET_READ_NUMBER:
        words[0] = kDestination;
        break;
      case services::SET_READ_STRING:
      case services::SET_NEXT_SECTION:
      case services::SET_READ_LINE:
        words[0] = kDestination;
        words[1] = small;
        break;
      case services::SET_ADD_NUMBER:
        words[1] = number;
        words[2] = small % 3;
        break;
      default:
        break;
    }
    vm::Store32(m.mem + kRequest, 0x800 + row);
    for (int i = 0; i < 3; ++i) vm::Store32(m.mem + kRequest + 4 + 4 * i, words[i]);
    vm::RunRequest(m, 0x800 + row, kRequest + 4);
    Require(!m.StopRequested());  // every address handed over lies inside VM memory
    CheckStore(s);
  }
  services::SettingsFileImage(s);
  CheckStore(s);
  return 0;
}
