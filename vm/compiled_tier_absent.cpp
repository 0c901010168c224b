// The build without the compiling tier (ORVO_JIT off, or a host that is not x86-64):
// every run stays in the interpreter.
#include "vm/compiled_tier.h"
#include "vm/machine.h"

namespace orvo::vm {

bool RunCompiled(Machine&) {
  return false;
}

uint64_t TranslatedEntries(const Machine&) {
  return 0;
}

void DropTranslations(Translations*) {}

}  // namespace orvo::vm
