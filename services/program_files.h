// The read-only program folder behind the overlay: the installed game folder on disk, or
// the game's archive. Names are relative, "/" or "\" separated, matched without regard
// to ASCII case; a name that would climb out ("..", absolute, a drive letter) is absent.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orvo::services {

struct ProgramEntry {
  bool folder = false;
  bool writable = false;  // the user may change it in place (never inside an archive)
  int64_t size = 0;
  int64_t mtime = 0;  // seconds since 1970
};

struct ProgramListing {
  std::string name;
  ProgramEntry entry;
};

class ProgramFiles {
 public:
  virtual ~ProgramFiles() = default;
  // The entry of a name; false when there is none.
  virtual bool Find(std::string_view name, ProgramEntry& out) const = 0;
  // A read-only descriptor of a regular file positioned at its start, or -1.
  virtual int Open(std::string_view name) const = 0;
  // The names directly inside a folder ("" for the top), in no particular order.
  virtual bool List(std::string_view folder, std::vector<ProgramListing>& out) const = 0;
  // A regular file as a path on disk, for libraries that only open paths; "" when none.
  virtual std::string PathOf(std::string_view name) const = 0;
  // Removes the installed file where that is possible (a folder on disk).
  virtual void Remove(std::string_view name) const = 0;
};

// The installed game folder on disk; folder ends in '/'.
class FolderFiles final : public ProgramFiles {
 public:
  explicit FolderFiles(std::string folder) : folder_(std::move(folder)) {}
  bool Find(std::string_view name, ProgramEntry& out) const override;
  int Open(std::string_view name) const override;
  bool List(std::string_view folder, std::vector<ProgramListing>& out) const override;
  std::string PathOf(std::string_view name) const override;
  void Remove(std::string_view name) const override;

 private:
  std::string folder_;
};

}  // namespace orvo::services
