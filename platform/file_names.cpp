// The name rules: how a name given by the program (either separator, the drive root, a
// drive prefix, any letter case) becomes a host path, and where a host path lies below
// a directory.
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/file.h"
#include "platform/file_internal.h"
#include "platform/host_files.h"
#include "platform/text.h"

namespace lum {

namespace {

// "" until start-up sets a drive root: a leading separator then means the host's own
// root (host_names().default_root).
std::string g_drive_root;

bool is_sep(char c) { return c == '\\' || c == '/'; }

bool drive_prefix(std::string_view name) {
  return name.size() >= 2 && name[1] == ':' && ascii_upper(name[0]) >= 'A' &&
         ascii_upper(name[0]) <= 'Z';
}

}  // namespace

namespace files {

std::string join(const std::string& base, std::string_view comp) {
  if (base.empty()) return std::string(comp);
  if (is_sep(base.back()) || base.back() == ':') return base + std::string(comp);
  return base + "/" + std::string(comp);
}

bool is_directory(const std::string& path) {
  return host_files().kind(path.empty() ? std::string(".") : path) == EntryKind::Directory;
}

// Splits a name on both separators. A leading separator means the drive root. A drive
// prefix such as "C:" is the host's own drive where the host has drives and no drive
// root was set; otherwise it is dropped, so that under a drive root every name stays
// inside it.
SplitName split_name(std::string_view name) {
  SplitName s;
  const HostNames& host = host_names();
  if (drive_prefix(name)) {
    if (host.drive_letters && g_drive_root.empty()) s.base = std::string(name.substr(0, 2));
    name.remove_prefix(2);
  }
  if (!name.empty() && is_sep(name.front())) {
    if (!s.base.empty()) {
      s.base.push_back('/');
    } else {
      s.base = g_drive_root.empty() ? std::string(host.default_root) : g_drive_root;
    }
  }
  std::size_t i = 0;
  while (i < name.size()) {
    while (i < name.size() && is_sep(name[i])) ++i;
    std::size_t j = i;
    while (j < name.size() && !is_sep(name[j])) ++j;
    if (j > i) s.comps.push_back(name.substr(i, j - i));
    i = j;
  }
  return s;
}

// Resolves the directory components of `s` (all but the last); returns the OS code.
int resolve_dirs(const SplitName& s, std::size_t count, std::string& path) {
  path = s.base;
  for (std::size_t k = 0; k < count; ++k) {
    std::string_view comp = s.comps[k];
    if (comp == "." || comp == "..") {
      path = join(path, comp);
      continue;
    }
    std::string found;
    if (Found f = host_files().find_entry(path, comp, found); f != Found::Yes) {
      for (std::size_t r = k; r < s.comps.size(); ++r) path = join(path, s.comps[r]);
      return f == Found::TooLong ? kOsNameTooLong : kOsPathNotFound;
    }
    path = join(path, found);
    if (!is_directory(path)) {
      for (std::size_t r = k + 1; r < s.comps.size(); ++r) path = join(path, s.comps[r]);
      return kOsPathNotFound;
    }
  }
  return kOsOk;
}

}  // namespace files

using files::join;

void set_drive_root(std::string root) {
  if (root == host_names().default_root) root.clear();  // the host's own root
  g_drive_root = std::move(root);
}

const std::string& drive_root() {
  static const std::string host_root = host_names().default_root;
  return g_drive_root.empty() ? host_root : g_drive_root;
}

ResolvedName resolve_name(std::string_view name) {
  ResolvedName r;
  files::SplitName s = files::split_name(name);
  if (s.comps.empty()) {
    r.path = s.base;
    r.oscode = s.base.empty() ? kOsFileNotFound : kOsOk;
    return r;
  }
  r.oscode = files::resolve_dirs(s, s.comps.size() - 1, r.path);
  if (r.oscode != kOsOk) return r;
  std::string_view last = s.comps.back();
  std::string found;
  if (last == "." || last == "..") {
    r.path = join(r.path, last);
    return r;
  }
  switch (host_files().find_entry(r.path, last, found)) {
    case Found::Yes:
      r.path = join(r.path, found);
      break;
    case Found::No:
      r.path = join(r.path, last);
      r.oscode = kOsFileNotFound;
      break;
    case Found::NoDirectory:
      r.path = join(r.path, last);
      r.oscode = kOsPathNotFound;
      break;
    case Found::TooLong:
      r.path = join(r.path, last);
      r.oscode = kOsNameTooLong;
      break;
  }
  return r;
}

std::optional<std::string> path_below(std::string_view host_path, std::string_view dir) {
  namespace fs = std::filesystem;
  FileId want;
  if (host_files().identity(std::string(dir), want) != kOsOk) return std::nullopt;
  std::error_code ec;
  fs::path p = fs::absolute(fs::path(std::string(host_path.empty() ? "." : host_path)), ec);
  if (ec) return std::nullopt;
  p = p.lexically_normal();
  if (!p.has_filename()) p = p.parent_path();  // "dir/" is "dir"
  // Up from the file's directory, one component at a time, until one is `dir`.
  std::vector<std::string> below{p.filename().string()};
  for (fs::path up = p.parent_path();; up = up.parent_path()) {
    FileId id;
    if (host_files().identity(up.string(), id) == kOsOk && id == want) {
      std::string rel;
      for (auto it = below.rbegin(); it != below.rend(); ++it) {
        rel += (rel.empty() ? "" : "/") + *it;
      }
      return rel;
    }
    if (!up.has_relative_path()) return std::nullopt;  // past the root
    below.push_back(up.filename().string());
  }
}

}  // namespace lum
