// The settings store: one in-memory copy of a file of checksummed sections of
// key = value lines, with the program's requests to find, read, change and save it
// (sys group 8).
//
// File form of a section: "[", a 10-character checksum field ("0x" and 8 upper-case hex
// digits as written here), "=", the name, "]", CR LF, then value lines. In memory the
// checksum field holds the section's length (bytes 1-4, little-endian) and a mark that is
// 1 when the stored checksum was wrong (byte 5); sections are walked by their lengths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace orvo::vm {
struct Machine;
struct RequestTable;
}  // namespace orvo::vm

namespace orvo::services {

struct FileService;

enum SettingsRow : uint32_t {
  SET_LOAD = 0,            // file name
  SET_SAVE = 1,            // file name
  SET_FREE = 2,            //
  SET_FIND_SECTION = 3,    // name
  SET_FIND_KEY = 4,        // key
  SET_READ_NUMBER = 5,     // address of a word
  SET_READ_STRING = 6,     // destination, size
  SET_ADD_SECTION = 7,     // name
  SET_SET_LINE = 8,        // key, text
  SET_DELETE_SECTION = 9,  //
  SET_DELETE_KEY = 10,     // key
  SET_NEXT_SECTION = 11,   // destination, size
  SET_CLEAR = 12,          //
  SET_AT_LINE_END = 13,    //
  SET_ADD_NUMBER = 14,     // key, value, form
  SET_ADD_STRING = 15,     // key, text
  SET_READ_LINE = 16,      // destination, size
};

// Offsets of a section header's fields.
inline constexpr size_t SECTION_LENGTH = 1;
inline constexpr size_t SECTION_MARK = 5;
inline constexpr size_t SECTION_FIELD = 10;  // bytes 1-10: checksum in the file
inline constexpr size_t SECTION_NAME = 12;
// Spare room every growth of the buffer reserves beyond what an insertion needs.
inline constexpr size_t SETTINGS_SPARE = 2048;

struct SettingsStore {
  static constexpr size_t NONE = ~size_t{0};
  // The sections and a terminating zero byte; no buffer: no store.
  std::unique_ptr<uint8_t[]> buffer;
  size_t used = 0;      // bytes in use, the terminating zero included
  size_t capacity = 0;  // bytes in the buffer
  // The section the requests work on (its "[", or the terminating zero after a failed
  // search), and the read/write position inside it; NONE when there is none.
  size_t section = NONE;
  size_t cursor = NONE;
};

// Checksum of a section whose checksum field holds zero bytes: the sum of its
// little-endian 32-bit words, plus the remaining bytes shifted in one by one, each
// sign-extended (so a byte of 0x80 or more sets all the higher bits).
uint32_t SectionChecksum(const uint8_t* section, size_t length);

// A number at p: "0x" hex, a leading "0" octal, else decimal, accumulating modulo 2^32.
// found is false (and nothing is consumed) when p holds no digit.
uint32_t ParseNumber(const uint8_t*& p, bool& found);

// Loads the store from a file's bytes (as row 0 does after reading the file): true when
// there were more than 9 bytes, else the store is made empty. False with no buffer only
// when memory ran out.
bool LoadSettingsBytes(SettingsStore& s, std::string_view bytes);
// The bytes a save writes: every section with its fresh checksum.
std::string SettingsFileImage(SettingsStore& s);

// Rows 0 and 1 outside the VM (used by the rows themselves).
bool LoadSettings(SettingsStore& s, FileService& fs, std::string_view name);
bool SaveSettings(SettingsStore& s, FileService& fs, std::string_view name);

// What the group's requests work on: the store, and the files it is loaded from and saved to.
struct SettingsRequests {
  SettingsStore& store;
  FileService& files;
};

// Adds the group's rows to the request table. Every VM address is checked: a bad one stops
// the program in order.
void AddSettingsRequests(vm::RequestTable& t, SettingsRequests& service);

}  // namespace orvo::services
