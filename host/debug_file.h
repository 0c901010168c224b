// Finding the debug file (main.ovd) beside the main.ove that was loaded, and the
// source view built from it when it belongs to that image.
#pragma once

#include <string>

#include "vm/source_view.h"

namespace orvo::host {

// The view for the image at imagePath. A debug file that is missing gives a view of
// addresses and disassembly only, silently; one that cannot be read, is damaged or
// belongs to another build gives the same, with a one-line note saying why.
vm::SourceView LoadSourceView(const std::string& imagePath, std::string& note);

}  // namespace orvo::host
