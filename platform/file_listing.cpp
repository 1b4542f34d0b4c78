// Directory listings: the subdirectories of a directory, and the files that match a
// wildcard pattern ("*" and "?", case-blind), as the run sees them.
#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/file.h"
#include "platform/file_internal.h"
#include "platform/host_files.h"
#include "platform/scratch.h"
#include "platform/text.h"

namespace lum {

namespace {

unsigned char fold(unsigned char c) {
  return static_cast<unsigned char>(ascii_upper(static_cast<char>(c)));
}

bool wild_match(std::string_view pat, std::string_view name) {
  // Iterative matcher with one back-tracking point for the last "*".
  std::size_t p = 0, n = 0, star = std::string_view::npos, mark = 0;
  while (n < name.size()) {
    if (p < pat.size() && pat[p] == '*') {
      star = p++;
      mark = n;
    } else if (p < pat.size() && (pat[p] == '?' || fold(static_cast<unsigned char>(pat[p])) ==
                                                       fold(static_cast<unsigned char>(name[n])))) {
      ++p;
      ++n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pat.size() && pat[p] == '*') ++p;
  return p == pat.size();
}

}  // namespace

std::vector<std::string> list_directories(std::string_view dir) {
  std::vector<std::string> out;
  ResolvedName r = resolve_name(dir);
  if (r.oscode != kOsOk || !files::is_directory(r.path)) return out;
  std::vector<DirEntry> entries;
  if (host_files().list_dir(r.path, entries) != kOsOk) return out;
  for (DirEntry& e : entries) {
    if (e.kind == EntryKind::Directory) out.push_back(std::move(e.name));
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<std::string> list_files(std::string_view pattern) {
  std::vector<std::string> out;
  files::SplitName s = files::split_name(pattern);
  if (s.comps.empty()) return out;
  std::string dir;
  if (files::resolve_dirs(s, s.comps.size() - 1, dir) != kOsOk) return out;
  std::string_view pat = s.comps.back();
  bool all = (pat == "*.*");  // "*.*" also names files without an extension
  std::vector<DirEntry> entries;
  if (host_files().list_dir(dir.empty() ? std::string(".") : dir, entries) != kOsOk) return out;
  for (DirEntry& e : entries) {
    if (e.kind != EntryKind::Regular) continue;
    if (!all && !wild_match(pat, e.name)) continue;
    out.push_back(std::move(e.name));
  }
  if (scratch::active()) {
    scratch::adjust_listing(
        dir, [&](std::string_view n) { return all || wild_match(pat, n); }, out);
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace lum
