// FILE: whether a file matching a name, wildcards allowed, exists. Names match without
// regard to letter case; directories never match.
#pragma once

#include <string_view>

#include "runtime/value.h"

namespace lum {

// A name with a directory part is looked for only there; a bare name in the default
// directory (the working directory when that setting is empty) and then in each
// directory of the search path (separated by ";" or ","). "*" and "?" match any run and
// one character. A name ending in "\" never matches; without wildcards, a directory of
// that name makes the result false.
bool FILE(std::string_view name);
inline bool FILE(const char* name) { return FILE(std::string_view(name)); }
// FILE(cName) for any value: false for a non-string.
bool FILE(const Value& name);

}  // namespace lum
