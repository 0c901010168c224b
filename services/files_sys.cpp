// sys group 0: the program's file and folder requests.
#include <cstring>
#include <utility>

#include "services/files.h"
#include "vm/request.h"
#include "vm/requests.h"
#include "vm/sys.h"

namespace orvo::services {

namespace {

constexpr uint32_t kFailure = 0xFFFFFFFF;

OpenFileState* Descriptor(FileService& fs, uint32_t word) {
  auto it = fs.descriptors.find(static_cast<int32_t>(word));
  return it == fs.descriptors.end() ? nullptr : &it->second;
}

// Hands a listing entry to the program: its name, and the attribute and source words
// where their addresses are not 0. Every address is checked before anything is written.
bool StoreEntry(vm::Machine& m, const ListEntry& e, uint32_t nameAddress, uint32_t attributeAddress,
                uint32_t sourceAddress) {
  const uint32_t nameBytes = static_cast<uint32_t>(e.name.size() + 1);
  uint8_t* name = vm::RequestBytes(m, nameAddress, nameBytes);
  if (!name) return false;
  uint8_t* attribute = nullptr;
  uint8_t* source = nullptr;
  if (attributeAddress && !(attribute = vm::RequestBytes(m, attributeAddress, 4))) return false;
  if (sourceAddress && !(source = vm::RequestBytes(m, sourceAddress, 4))) return false;
  std::memcpy(name, e.name.c_str(), nameBytes);
  if (attribute) vm::Store32(attribute, e.attributes);
  if (source) vm::Store32(source, e.source);
  return true;
}

FileService& Files(vm::Request& r) {
  return vm::ServiceOf<FileService>(r);
}

// Read, write and write base64: a descriptor, a buffer and a count.
template <typename Call>
void BufferRow(vm::Request& r, Call call) {
  OpenFileState* f = Descriptor(Files(r), r.a[0]);
  if (!f || r.a[2] > INT32_MAX) {
    vm::SetResult(r.m, kFailure);
    return;
  }
  uint8_t* buffer = vm::RequestBytes(r.m, r.a[1], r.a[2]);
  if (!buffer) return;
  vm::SetResult(r.m, static_cast<uint32_t>(call(*f, buffer, r.a[2])));
}

void Open(vm::Request& r) {
  std::string_view name;
  if (!vm::RequestString(r.m, r.a[0], name)) return;
  OpenFileState f;
  if (!OpenFile(Files(r), name, r.a[1], f)) {
    vm::SetResult(r.m, kFailure);
    return;
  }
  const int32_t number = f.fd;
  Files(r).descriptors[number] = std::move(f);
  vm::SetResult(r.m, static_cast<uint32_t>(number));
}

void AtEnd(vm::Request& r) {
  const OpenFileState* f = Descriptor(Files(r), r.a[0]);
  vm::SetResult(r.m, f ? static_cast<uint32_t>(EndOfFile(*f)) : kFailure);
}

void Read(vm::Request& r) {
  BufferRow(r, [](const OpenFileState& f, uint8_t* b, uint32_t n) { return ReadFile(f, b, n); });
}

void Write(vm::Request& r) {
  BufferRow(r, [](OpenFileState& f, uint8_t* b, uint32_t n) { return WriteFile(f, b, n); });
}

void Seek(vm::Request& r) {
  const OpenFileState* f = Descriptor(Files(r), r.a[0]);
  int32_t at = f ? SeekFile(*f, static_cast<int32_t>(r.a[1]), static_cast<int32_t>(r.a[2])) : -1;
  vm::SetResult(r.m, static_cast<uint32_t>(at));
}

void Delete(vm::Request& r) {
  std::string_view name;
  if (vm::RequestString(r.m, r.a[0], name)) RemoveFile(Files(r), name);
}

void MakeFolderRow(vm::Request& r) {
  std::string_view name;
  if (vm::RequestString(r.m, r.a[0], name)) vm::SetResult(r.m, MakeFolder(Files(r), name) ? 1 : 0);
}

void RemoveFolderRow(vm::Request& r) {
  std::string_view name;
  if (vm::RequestString(r.m, r.a[0], name)) RemoveFolder(Files(r), name);
}

void Close(vm::Request& r) {
  FileService& fs = Files(r);
  auto it = fs.descriptors.find(static_cast<int32_t>(r.a[0]));
  if (it == fs.descriptors.end()) return;
  CloseFile(fs, it->second);
  fs.descriptors.erase(it);
}

void Size(vm::Request& r) {
  std::string_view name;
  if (vm::RequestString(r.m, r.a[0], name))
    vm::SetResult(r.m, static_cast<uint32_t>(FileSize(Files(r), name)));
}

void Time(vm::Request& r) {
  std::string_view name;
  if (!vm::RequestString(r.m, r.a[0], name)) return;
  const uint64_t t = static_cast<uint64_t>(FileTime(Files(r), name));
  vm::SetResultPair(r.m, static_cast<uint32_t>(t), static_cast<uint32_t>(t >> 32));
}

void ListFirstRow(vm::Request& r) {
  std::string_view name;
  if (!vm::RequestString(r.m, r.a[0], name)) return;
  ListEntry e;
  if (!ListFirst(Files(r), name, e)) {
    vm::SetResult(r.m, kFailure);
    return;
  }
  if (StoreEntry(r.m, e, r.a[1], r.a[2], r.a[3])) vm::SetResult(r.m, 0);
}

void ListNextRow(vm::Request& r) {
  ListEntry e;
  if (!ListNext(Files(r), e)) {
    vm::SetResult(r.m, kFailure);
    return;
  }
  if (StoreEntry(r.m, e, r.a[0], r.a[1], r.a[2])) vm::SetResult(r.m, 0);
}

void Base64(vm::Request& r) {
  BufferRow(r, [](OpenFileState& f, uint8_t* b, uint32_t n) { return WriteBase64(f, b, n); });
}

void Rename(vm::Request& r) {
  std::string_view name, other;
  if (vm::RequestString(r.m, r.a[0], name) && vm::RequestString(r.m, r.a[1], other))
    RenameFile(Files(r), name, other);
}

constexpr vm::ArgCheck BLOCK = vm::ArgCheck::BLOCK;
constexpr vm::RequestRow kRows[] = {
    {0x000, "open", 2, BLOCK, Open},
    {0x001, "at end", 1, BLOCK, AtEnd},
    {0x002, "read", 3, BLOCK, Read},
    {0x003, "write", 3, BLOCK, Write},
    {0x004, "seek", 3, BLOCK, Seek},
    {0x005, "delete", 1, BLOCK, Delete},
    {0x006, "make folder", 1, BLOCK, MakeFolderRow},
    {0x007, "remove folder", 1, BLOCK, RemoveFolderRow},
    {0x008, "close", 1, BLOCK, Close},
    {0x009, "size", 1, BLOCK, Size},
    {0x00A, "time", 1, BLOCK, Time, true},
    {0x00B, "list first", 4, BLOCK, ListFirstRow},
    {0x00C, "list next", 3, BLOCK, ListNextRow},
    {0x00D, "list close", 0, BLOCK, [](vm::Request& r) { ListClose(Files(r)); }},
    {0x00E, "write base64", 3, BLOCK, Base64},
    {0x00F, "rename", 2, BLOCK, Rename},
};

}  // namespace

void AddFileRequests(vm::RequestTable& t, FileService& fs) {
  vm::AddRequests(t, kRows, &fs);
}

}  // namespace orvo::services
