#include "memory_image.h"

#include <memory>

#include "outputs.h"

namespace orvo::velda {

std::vector<uint8_t> ImageFromAnalysis(const Analysis& analysis, int year, int month, int day,
                                       uint32_t buildNumber) {
  if (!analysis.errors.empty() || analysis.stopped || analysis.image.size() < analysis.codeSize)
    return {};
  // The header fields are written by velda's own code, on an assembler holding the image.
  auto a = std::make_unique<Assembler>();
  for (uint32_t i = 0; i < analysis.codeSize; ++i) a->image.Append(analysis.image[i], 1);
  a->codeSize = analysis.codeSize;
  a->zeroSize = analysis.zeroSize;
  a->buildNumber = buildNumber;
  WriteHeaderFields(*a, year, month, day);
  return std::vector<uint8_t>(a->image.data(), a->image.data() + a->codeSize);
}

}  // namespace orvo::velda
