// Where the run finds a file by name: the places a bare name is looked for (the default
// directory, then the search path), used alike by a table open and by FILE; and FILE
// itself, whether a file matching a name, wildcards allowed, exists. Names match without
// regard to letter case; directories never match.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "runtime/value.h"

namespace lum {

// The names to try for `name`, in order. A name with a directory part ("\", "/" or ":")
// is looked for only there: the one candidate is the name itself. A bare name is looked
// for in the default directory (the working directory when that setting is empty), then
// in each directory of the search path: entries separated by ";" or ",", blanks around
// an entry dropped, empty entries skipped; a "\" joins directory and name unless the
// directory already ends in "\", "/" or ":".
std::vector<std::string> search_candidates(std::string_view name);
// The name a table open uses: the first of the candidates that exists as a file; when
// none does, the first candidate, so that the error names it.
std::string find_table_file(std::string_view name);

// A name with a directory part looked for only there; a bare name in each place of
// search_candidates. "*" and "?" match any run and one character. A name ending in "\"
// never matches; without wildcards, a directory of that name ends the search (false).
bool FILE(std::string_view name);
inline bool FILE(const char* name) { return FILE(std::string_view(name)); }
// FILE(cName) for any value: false for a non-string.
bool FILE(const Value& name);

}  // namespace lum
