// A game archive (zip) as the read-only program folder. The whole archive is checked when
// it is opened: an entry that would land outside it (an absolute name, ".."), a link, an
// encrypted entry, two names that differ only in case, more entries, deeper folders or
// larger declared sizes than a game needs refuse the archive with a reason, so nothing of
// a damaged or hostile archive is ever read. An entry is read whole and must come out
// exactly as large as declared and with its checksum.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "services/program_files.h"

struct zip;
struct zip_source;
struct zip_error;

namespace orvo::services {
struct ZipLibrary;
}

namespace orvo::services {

struct ArchiveLimits {
  uint64_t entries = 20000;
  uint64_t entrySize = uint64_t{256} << 20;  // declared, uncompressed
  uint64_t totalSize = uint64_t{1} << 30;    // the sum of the declared sizes
  size_t depth = 16;                         // components of a name
  size_t nameLength = 1024;
};

class ArchiveFiles final : public ProgramFiles {
 public:
  // The archive stored in [offset, offset + length) of the file at path; length -1 runs
  // to the end of the file. Null, with the reason in problem, when it cannot be used.
  static std::unique_ptr<ArchiveFiles> Open(const std::string& path, uint64_t offset,
                                            int64_t length, std::string& problem,
                                            const ArchiveLimits& limits = {});
  // The same over bytes in memory, which must outlive the result.
  static std::unique_ptr<ArchiveFiles> FromBytes(const void* data, size_t size,
                                                 std::string& problem,
                                                 const ArchiveLimits& limits = {});
  ~ArchiveFiles() override;

  bool Find(std::string_view name, ProgramEntry& out) const override;
  int Open(std::string_view name) const override;
  bool List(std::string_view folder, std::vector<ProgramListing>& out) const override;
  // Extracted once into a private folder that goes away with the archive.
  std::string PathOf(std::string_view name) const override;
  void Remove(std::string_view) const override {}

  // A whole regular file; false when there is none or it does not read back intact.
  bool Read(std::string_view name, std::string& out) const;
  // The names of the regular files, as stored.
  std::vector<std::string> FileNames() const;

 private:
  struct Item {
    std::string name;  // as stored, without a trailing '/'
    bool folder = false;
    int64_t index = -1;  // in the archive; -1 for a folder only implied by its files
    uint64_t size = 0;
    int64_t mtime = 0;
  };
  ArchiveFiles() = default;
  // Takes the source over, whether or not the archive opens.
  static std::unique_ptr<ArchiveFiles> FromSource(const ZipLibrary& zip, zip_source* source,
                                                  zip_error* error, std::string& problem,
                                                  const ArchiveLimits& limits);
  bool Index(const ArchiveLimits& limits, std::string& problem);
  const Item* Lookup(std::string_view name) const;

  const ZipLibrary* zip_ = nullptr;
  zip* archive_ = nullptr;
  std::map<std::string, Item> items_;  // by lower-case name
  mutable std::string extracted_;      // the private folder, once made
  mutable std::map<std::string, std::string> paths_;
};

// The name folded for lookups: separators made '/', "." and empty components dropped,
// ASCII lower case; "" for the top. False for a name that would leave the archive.
bool ArchiveKey(std::string_view name, std::string& key);

}  // namespace orvo::services
