#include "table/files.h"

#include "platform/file.h"
#include "runtime/runtime.h"

namespace lum {

namespace {

bool is_sep(char c) { return c == '\\' || c == '/'; }

bool has_directory(std::string_view name) {
  return name.find_first_of("\\/:") != std::string_view::npos;
}

std::string join_dir(std::string_view dir, std::string_view name) {
  std::string s(dir);
  if (!s.empty() && !is_sep(s.back()) && s.back() != ':') s += '\\';
  s += name;
  return s;
}

std::string_view trim_blanks(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// Looks in one place. Returns true when a regular file matches; sets `stop` when a
// directory of that exact name ends the search.
bool look(const std::string& pattern, bool wild, bool& stop) {
  if (!list_files(pattern).empty()) return true;
  if (!wild && resolve_name(pattern).oscode == kOsOk) stop = true;  // a directory
  return false;
}

}  // namespace

std::vector<std::string> search_candidates(std::string_view name) {
  if (has_directory(name)) return {std::string(name)};
  const Settings& s = Runtime::current().settings();
  std::vector<std::string> out;
  out.push_back(s.default_dir.empty() ? std::string(name) : join_dir(s.default_dir, name));
  std::string_view path = s.path;
  while (!path.empty()) {
    std::size_t cut = path.find_first_of(";,");
    std::string_view dir = trim_blanks(path.substr(0, cut));
    path = cut == std::string_view::npos ? std::string_view() : path.substr(cut + 1);
    if (!dir.empty()) out.push_back(join_dir(dir, name));
  }
  return out;
}

std::string find_table_file(std::string_view name) {
  std::vector<std::string> candidates = search_candidates(name);
  for (const std::string& c : candidates) {
    if (file_exists(c)) return c;
  }
  return candidates.front();
}

bool FILE(std::string_view name) {
  if (name.empty() || is_sep(name.back())) return false;
  const bool wild = name.find_first_of("*?") != std::string_view::npos;
  bool stop = false;
  for (const std::string& pattern : search_candidates(name)) {
    if (look(pattern, wild, stop)) return true;
    if (stop) return false;
  }
  return false;
}

bool FILE(const Value& name) { return name.is_string() && FILE(std::string_view(name.str())); }

}  // namespace lum
