#include "runtime/frame/files.h"

#include <string>
#include <vector>

#include "platform/file.h"
#include "runtime/runtime.h"

namespace lum {

namespace {

bool is_sep(char c) { return c == '\\' || c == '/'; }

std::vector<std::string> search_dirs(const Settings& s) {
  std::vector<std::string> dirs = {s.default_dir};
  std::string part;
  for (char c : s.path + ";") {
    if (c == ';' || c == ',') {
      if (!part.empty()) dirs.push_back(part);
      part.clear();
    } else {
      part.push_back(c);
    }
  }
  return dirs;
}

// Looks in one place. Returns true when a regular file matches; sets `stop` when a
// directory of that exact name ends the search.
bool look(const std::string& pattern, bool wild, bool& stop) {
  if (!list_files(pattern).empty()) return true;
  if (!wild && resolve_name(pattern).oscode == kOsOk) stop = true;  // a directory
  return false;
}

}  // namespace

bool FILE(std::string_view name) {
  if (name.empty() || is_sep(name.back())) return false;
  const bool wild = name.find_first_of("*?") != std::string_view::npos;
  bool stop = false;
  if (name.find_first_of("\\/") != std::string_view::npos)
    return look(std::string(name), wild, stop);
  for (const std::string& dir : search_dirs(Runtime::current().settings())) {
    std::string pattern = dir.empty()          ? std::string(name)
                          : is_sep(dir.back()) ? dir + std::string(name)
                                               : dir + "\\" + std::string(name);
    if (look(pattern, wild, stop)) return true;
    if (stop) return false;
  }
  return false;
}

bool FILE(const Value& name) { return name.is_string() && FILE(std::string_view(name.str())); }

}  // namespace lum
