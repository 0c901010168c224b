#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <cstdio>

#include "pack/pack.h"

namespace orvo::pack {

namespace {

constexpr zip_uint8_t kUnixHost = 3;
constexpr zip_uint32_t kFileMode = S_IFREG | 0644;

bool Fail(zip_t* z, const std::string& temporary, std::string& problem, const std::string& why) {
  problem = why;
  if (z) zip_discard(z);
  unlink(temporary.c_str());
  return false;
}

}  // namespace

bool WriteArchive(const std::string& path, const std::vector<PackFile>& files,
                  const services::Manifest& manifest, std::string& problem) {
  const std::string temporary = path + ".part";
  int code = 0;
  zip_t* z = zip_open(temporary.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
  if (!z) {
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    problem = temporary + ": " + zip_error_strerror(&error);
    zip_error_fini(&error);
    return false;
  }
  const std::string text = services::WriteManifest(manifest);
  auto add = [&](zip_source_t* source, const std::string& name) {
    if (!source) return false;
    const zip_int64_t index = zip_file_add(z, name.c_str(), source, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
      zip_source_free(source);
      return false;
    }
    // What the runtime hands to libraries by path is stored as it is, so taking it out
    // at run time is a plain copy.
    const bool stored = name.rfind(kFontFolder, 0) == 0 || name.rfind(kSoundFontFolder, 0) == 0;
    if (stored && zip_set_file_compression(z, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0) != 0)
      return false;
    // Marked as plain files, so no reader takes them for links or folders.
    return zip_file_set_external_attributes(z, static_cast<zip_uint64_t>(index), 0, kUnixHost,
                                            kFileMode << 16) == 0;
  };
  if (!add(zip_source_buffer(z, text.data(), text.size(), 0), services::kManifestName))
    return Fail(z, temporary, problem, std::string("the manifest: ") + zip_strerror(z));
  for (const PackFile& f : files)
    if (!add(f.source.empty() ? zip_source_buffer(z, f.text.data(), f.text.size(), 0)
                              : zip_source_file(z, f.source.c_str(), 0, -1),
             f.name))
      return Fail(z, temporary, problem, (f.source.empty() ? f.name : f.source) + ": " +
                                             zip_strerror(z));
  if (zip_close(z) != 0) return Fail(z, temporary, problem, path + ": " + zip_strerror(z));
  if (std::rename(temporary.c_str(), path.c_str()) != 0)
    return Fail(nullptr, temporary, problem, path + ": cannot be written");
  return true;
}

}  // namespace orvo::pack
