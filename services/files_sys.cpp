// sys group 0: the program's file and folder requests.
#include <cstring>
#include <utility>

#include "services/files.h"
#include "vm/request.h"
#include "vm/sys.h"

namespace orvo::services {

namespace {

constexpr uint32_t kFailure = 0xFFFFFFFF;

// Argument words of each row.
constexpr uint32_t kArgCount[16] = {2, 1, 3, 3, 3, 1, 1, 1, 1, 1, 1, 4, 3, 0, 3, 2};

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

// Rows 2, 3 and 14: a descriptor, a buffer and a count.
template <typename Call>
void BufferRow(FileService& fs, vm::Machine& m, const uint32_t* a, Call call) {
  OpenFileState* f = Descriptor(fs, a[0]);
  if (!f || a[2] > INT32_MAX) {
    vm::SetResult(m, kFailure);
    return;
  }
  uint8_t* buffer = vm::RequestBytes(m, a[1], a[2]);
  if (!buffer) return;
  vm::SetResult(m, static_cast<uint32_t>(call(*f, buffer, a[2])));
}

}  // namespace

void FilesSys(FileService& fs, vm::Machine& m, uint32_t row, uint32_t args) {
  if (row >= 16) {
    vm::UnknownSys(m);
    return;
  }
  uint32_t a[4] = {};
  if (!vm::RequestWords(m, args, kArgCount[row], a)) return;
  std::string_view name, other;
  switch (row) {
    case SYS_FOPEN: {
      if (!vm::RequestString(m, a[0], name)) return;
      OpenFileState f;
      if (!OpenFile(fs, name, a[1], f)) {
        vm::SetResult(m, kFailure);
        return;
      }
      const int32_t number = f.fd;
      fs.descriptors[number] = std::move(f);
      vm::SetResult(m, static_cast<uint32_t>(number));
      return;
    }
    case SYS_FEOF: {
      const OpenFileState* f = Descriptor(fs, a[0]);
      vm::SetResult(m, f ? static_cast<uint32_t>(EndOfFile(*f)) : kFailure);
      return;
    }
    case SYS_FREAD:
      BufferRow(fs, m, a,
                [](const OpenFileState& f, uint8_t* b, uint32_t n) { return ReadFile(f, b, n); });
      return;
    case SYS_FWRITE:
      BufferRow(fs, m, a,
                [](OpenFileState& f, uint8_t* b, uint32_t n) { return WriteFile(f, b, n); });
      return;
    case SYS_FSEEK: {
      const OpenFileState* f = Descriptor(fs, a[0]);
      int32_t at = f ? SeekFile(*f, static_cast<int32_t>(a[1]), static_cast<int32_t>(a[2])) : -1;
      vm::SetResult(m, static_cast<uint32_t>(at));
      return;
    }
    case SYS_FDELETE:
      if (vm::RequestString(m, a[0], name)) RemoveFile(fs, name);
      return;
    case SYS_MKDIR:
      if (vm::RequestString(m, a[0], name)) vm::SetResult(m, MakeFolder(fs, name) ? 1 : 0);
      return;
    case SYS_RMDIR:
      if (vm::RequestString(m, a[0], name)) RemoveFolder(fs, name);
      return;
    case SYS_FCLOSE: {
      auto it = fs.descriptors.find(static_cast<int32_t>(a[0]));
      if (it == fs.descriptors.end()) return;
      CloseFile(fs, it->second);
      fs.descriptors.erase(it);
      return;
    }
    case SYS_FSIZE:
      if (vm::RequestString(m, a[0], name))
        vm::SetResult(m, static_cast<uint32_t>(FileSize(fs, name)));
      return;
    case SYS_FTIME: {
      if (!vm::RequestString(m, a[0], name)) return;
      const uint64_t t = static_cast<uint64_t>(FileTime(fs, name));
      vm::SetResultPair(m, static_cast<uint32_t>(t), static_cast<uint32_t>(t >> 32));
      return;
    }
    case SYS_FINDFIRST: {
      if (!vm::RequestString(m, a[0], name)) return;
      ListEntry e;
      if (!ListFirst(fs, name, e)) {
        vm::SetResult(m, kFailure);
        return;
      }
      if (StoreEntry(m, e, a[1], a[2], a[3])) vm::SetResult(m, 0);
      return;
    }
    case SYS_FINDNEXT: {
      ListEntry e;
      if (!ListNext(fs, e)) {
        vm::SetResult(m, kFailure);
        return;
      }
      if (StoreEntry(m, e, a[0], a[1], a[2])) vm::SetResult(m, 0);
      return;
    }
    case SYS_FINDCLOSE:
      ListClose(fs);
      return;
    case SYS_FBASE64:
      BufferRow(fs, m, a,
                [](OpenFileState& f, uint8_t* b, uint32_t n) { return WriteBase64(f, b, n); });
      return;
    case SYS_FRENAME:
      if (vm::RequestString(m, a[0], name) && vm::RequestString(m, a[1], other))
        RenameFile(fs, name, other);
      return;
    default:
      return;
  }
}

}  // namespace orvo::services
