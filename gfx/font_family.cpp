// The families the text styles ask for, by the names fonts are looked up with.
#include "gfx/font_library.h"

namespace orvo::gfx {

const char* FamilyName(FontFamily family) {
  switch (family) {
    case FAMILY_COURIER:
      return "Courier New";
    case FAMILY_TIMES:
      return "Times New Roman";
    case FAMILY_TAHOMA:
      break;
  }
  return "Tahoma";
}

}  // namespace orvo::gfx
