// libFuzzer target: arbitrary text read as the face list. What it reads must be written
// back as a list that reads as the same choices.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "gfx/face_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace orvo::gfx;
  const std::vector<FaceChoice> choices =
      ParseFaceList(std::string_view(reinterpret_cast<const char*>(data), size));
  const std::vector<FaceChoice> again = ParseFaceList(FormatFaceList(choices));
  if (again.size() != choices.size()) std::abort();
  for (size_t i = 0; i < choices.size(); ++i) {
    const FaceChoice &a = choices[i], &b = again[i];
    if (a.family != b.family || a.bold != b.bold || a.italic != b.italic ||
        a.syntheticBold != b.syntheticBold || a.syntheticItalic != b.syntheticItalic ||
        a.file != b.file || a.file.empty() || a.file.find('/') != std::string::npos)
      std::abort();
  }
  return 0;
}
