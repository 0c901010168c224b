// The debug file reader on arbitrary bytes: whatever it accepts must then answer every
// question the runtime asks of it without reading outside what it holds.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "vm/debug_info.h"
#include "vm/source_view.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace orvo::vm;
  DebugInfo read;
  std::string problem;
  if (!ReadDebugInfo(std::string_view(reinterpret_cast<const char*>(data), size), read, problem))
    return 0;
  const SourceView view(std::move(read));
  const DebugInfo& info = *view.info();
  for (const DebugLine& l : info.lines) {
    view.Name(l.address);
    view.Name(l.address + l.length);
    view.CallSite(l.address + l.length);
    uint32_t at = 0;
    if (l.file < info.files.size()) info.AddressOfLine(info.files[l.file], l.line, at);
  }
  for (const DebugLabel& l : info.labels) {
    view.Name(l.value - 1);
    view.LabelOffset(l.end);
    view.Resolve(l.name, problem);
    view.Resolve(std::string(info.ShortFileName(l.file)) + ":" + std::to_string(l.line), problem);
  }
  return 0;
}
