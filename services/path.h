// Relative file names of the program turned into paths inside one of its two folders.
//
// "/" and "\" both separate components. A component that does not exist as written is
// looked up in its folder without regard to ASCII case, the way the program's names were
// always matched; components that exist nowhere keep the case they were written in. A
// name that would climb out of its folder ("..", an absolute path, a drive letter) is
// treated as not found.
#pragma once

#include <string>
#include <string_view>

namespace orvo::services {

// True when the name stays inside whatever folder it is resolved against.
bool NameStaysInside(std::string_view name);

// folder (ending in '/') + the name's components, each matched case-insensitively where
// it does not exist as written. False when the name is refused or the path would be
// longer than the platform allows.
bool ResolvePath(std::string_view name, const std::string& folder, std::string& out);

// Windows wildcard matching of one name: "*" any run of characters, "?" one character,
// ASCII letters without regard to case; a trailing ".*" also matches a name without an
// extension, so "*.*" matches every name.
bool WildcardMatch(std::string_view pattern, std::string_view name);

// ASCII-only case-insensitive comparison, the one the listing and lookups use.
bool EqualNoCase(std::string_view a, std::string_view b);
int CompareNoCase(std::string_view a, std::string_view b);

// The folder part of a resolved path (up to and including the last '/'), and the rest.
std::string_view ParentOf(std::string_view path);
std::string_view LastComponent(std::string_view path);

}  // namespace orvo::services
