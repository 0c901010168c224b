#include "vm/tier_settings.h"

#include <cstdlib>
#include <string_view>

namespace orvo::vm {

TierSettings TierSettingsFromEnvironment() {
  TierSettings s;
  const char* off = std::getenv("ORVO_NO_JIT");
  if (off && *off && std::string_view(off) != "0") s.enabled = false;
  if (const char* threshold = std::getenv("ORVO_JIT_THRESHOLD"); threshold && *threshold) {
    char* end = nullptr;
    const unsigned long n = std::strtoul(threshold, &end, 10);
    if (*end == '\0' && n < 0xFFFF) s.threshold = static_cast<uint32_t>(n);
  }
  return s;
}

}  // namespace orvo::vm
