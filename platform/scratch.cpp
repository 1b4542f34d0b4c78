// Scratch copies for a dry run: while they are on, every use of a file that would change
// it or lock it exclusively works on a private copy below the scratch directory,
// files/<absolute host path>. An entry per operator's file holds the copy, whether the
// operator's file existed, whether the copy has changed, and whether the run deleted or
// renamed it away. Entries are found by what the file is on the host, so that every
// name that reaches it meets the same entry: an existing file by its identity (device
// and inode, volume and file index), a file that does not exist (one the run creates)
// by its directory's identity and its name folded to upper case, as names match.
#include "platform/scratch.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <random>
#include <system_error>
#include <utility>

#include "platform/host_files.h"
#include "platform/text.h"

namespace lum {

namespace {

struct Key {
  FileId id;         // the file's, or for a file that does not exist its directory's
  std::string name;  // "" for an existing file, else its name folded to upper case
  bool operator==(const Key&) const = default;
};

struct ScratchEntry {
  std::string path;  // the operator's file, absolute
  std::string copy;  // its copy, absolute
  std::optional<Key> key;
  std::optional<FileId> dir;  // its directory's identity
  bool existed = false;
  bool changed = false;
  bool gone = false;               // deleted or renamed away: the name no longer exists for the run
  std::uint64_t first_change = 0;  // the order of its first change, from 1; 0: none yet
};

std::string g_scratch;  // the scratch directory; "" when the copies are off
std::vector<ScratchEntry> g_entries;
std::uint64_t g_changes = 0;  // entries changed so far

void mark_changed(ScratchEntry& e) {
  e.changed = true;
  if (e.first_change == 0) e.first_change = ++g_changes;
}

std::string absolute_normal(const std::string& path) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(path.empty() ? "." : path, ec);
  std::string s = (ec ? std::filesystem::path(path) : p).lexically_normal().generic_string();
  if (s.size() > 1 && s.back() == '/') s.pop_back();  // "dir/." is "dir", as a parent shows it
  return s;
}

std::string folded(std::string s) { return ascii_upper(std::move(s)); }

// The directory part of a path, its separators as given: under wine a path from the
// root that is all "/" names a Unix path, not one on the current drive.
std::string parent_of(const std::string& path) {
  return std::filesystem::path(path).parent_path().string();
}

std::optional<FileId> identity_of(const std::string& path) {
  FileId id;
  if (host_files().identity(path, id) != kOsOk) return std::nullopt;
  return id;
}

std::optional<FileId> directory_of(const std::string& host_path) {
  const std::string dir = parent_of(absolute_normal(host_path));
  return identity_of(dir.empty() ? "." : dir);
}

// The key of the file a host path names; none when neither it nor its directory exists.
std::optional<Key> key_of(const std::string& host_path) {
  if (std::optional<FileId> id = identity_of(host_path)) return Key{*id, ""};
  if (std::optional<FileId> dir = directory_of(host_path)) {
    return Key{*dir, folded(std::filesystem::path(absolute_normal(host_path)).filename().string())};
  }
  return std::nullopt;
}

ScratchEntry* entry_of(const std::string& host_path) {
  const std::optional<Key> key = key_of(host_path);
  if (!key) return nullptr;
  for (ScratchEntry& e : g_entries) {
    if (e.key == key) return &e;
  }
  return nullptr;
}

ScratchEntry& add_entry(const std::string& host_path, bool existed) {
  ScratchEntry e;
  e.path = absolute_normal(host_path);
  e.key = key_of(host_path);
  e.dir = directory_of(host_path);
  // A drive's colon cannot stand inside a path: "C:/x" is copied to files/C/x.
  std::string below = e.path;
  std::erase(below, ':');
  e.copy = g_scratch + "/files" + (below.starts_with('/') ? "" : "/") + below;
  e.existed = existed;
  g_entries.push_back(std::move(e));
  return g_entries.back();
}

int make_parent(const std::string& copy) {
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(copy).parent_path(), ec);
  return ec ? kOsAccessDenied : kOsOk;
}

// What the operator's file allows a run that would change it: not held exclusively by
// another opener (tested with a shared open, so that it is never held exclusively
// here) and, when it is to be written, writable by this process. `h` stays open on
// success.
int may_change(const std::string& path, bool writes, HostFiles::Handle& h) {
  HostFiles& host = host_files();
  if (int rc = host.open(path, FileAccess::ReadOnly, FileShare::Shared, h); rc != kOsOk) return rc;
  if (writes) {
    if (int rc = host.may_write(path); rc != kOsOk) {
      host.close(h);
      return rc;
    }
  }
  return kOsOk;
}

// Copies the open file `from` to a new file `to`.
int copy_file(HostFiles::Handle from, const std::string& to) {
  if (int rc = make_parent(to); rc != kOsOk) return rc;
  HostFiles& host = host_files();
  HostFiles::Handle out = HostFiles::kNoHandle;
  if (int rc = host.create(to, FileShare::Exclusive, out); rc != kOsOk) return rc;
  std::vector<char> buf(256 * 1024);
  int rc = kOsOk;
  for (std::uint64_t at = 0;;) {
    IoResult got = host.read_at(from, at, buf.data(), buf.size());
    if (got.bytes > 0) {
      IoResult put = host.write_at(out, at, buf.data(), got.bytes);
      if (put.bytes < got.bytes) {
        rc = put.oscode != kOsOk ? put.oscode : kOsDiskFull;
        break;
      }
      at += got.bytes;
    }
    if (got.oscode != kOsOk) rc = got.oscode;
    if (got.bytes < buf.size() || rc != kOsOk) break;
  }
  if (int closed = host.close(out); closed != kOsOk && rc == kOsOk) rc = closed;
  return rc;
}

bool regular_copy(const std::string& copy) { return host_files().kind(copy) == EntryKind::Regular; }

}  // namespace

std::string make_temp_directory(std::string_view prefix) {
  std::error_code ec;
  std::filesystem::path base = std::filesystem::temp_directory_path(ec);
  if (ec) return {};
  std::random_device rd;
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name(prefix);
    for (int k = 0; k < 10; ++k) name.push_back(kLetters[rd() % (sizeof kLetters - 1)]);
    std::filesystem::path dir = base / name;
    if (std::filesystem::create_directory(dir, ec)) return dir.string();
    if (ec && ec != std::errc::file_exists) return {};
  }
  return {};
}

bool begin_scratch(const std::string& dir) {
  if (dir.empty() || host_files().kind(dir) != EntryKind::Directory) return false;
  g_scratch = absolute_normal(dir);
  g_entries.clear();
  g_changes = 0;
  return true;
}

void end_scratch() {
  g_scratch.clear();
  g_entries.clear();
}

bool scratch_active() { return !g_scratch.empty(); }

std::vector<ScratchFile> scratch_files() {
  std::vector<const ScratchEntry*> order;
  for (const ScratchEntry& e : g_entries) order.push_back(&e);
  // Changed files in the order of their first change, as a real run's account lists
  // them; then the others.
  std::stable_sort(order.begin(), order.end(), [](const ScratchEntry* a, const ScratchEntry* b) {
    return (a->first_change ? a->first_change : UINT64_MAX) <
           (b->first_change ? b->first_change : UINT64_MAX);
  });
  std::vector<ScratchFile> out;
  for (const ScratchEntry* e : order) {
    out.push_back(ScratchFile{e->path, e->copy, e->existed, e->changed || e->gone, e->gone});
  }
  return out;
}

namespace scratch {

bool active() { return scratch_active(); }

int for_open(const ResolvedName& r, FileAccess access, FileShare share, std::string& use) {
  use = r.path;
  if (ScratchEntry* e = entry_of(r.path)) {
    if (e->gone) return kOsFileNotFound;
    use = e->copy;
    return kOsOk;
  }
  // Only a shared read of a file without a copy reads the operator's file itself.
  const bool reads_only = access == FileAccess::ReadOnly && share == FileShare::Shared;
  if (r.oscode != kOsOk || reads_only) return r.oscode;
  HostFiles::Handle h = HostFiles::kNoHandle;
  if (int rc = may_change(r.path, access == FileAccess::ReadWrite, h); rc != kOsOk) return rc;
  ScratchEntry& e = add_entry(r.path, true);
  int rc = copy_file(h, e.copy);
  host_files().close(h);
  if (rc != kOsOk) {
    g_entries.pop_back();
    return rc;
  }
  use = e.copy;
  return kOsOk;
}

int for_create(const ResolvedName& r, std::string& use) {
  ScratchEntry* e = entry_of(r.path);
  if (e == nullptr) {
    if (r.oscode == kOsOk) {
      HostFiles::Handle h = HostFiles::kNoHandle;
      if (int rc = may_change(r.path, true, h); rc != kOsOk) return rc;
      host_files().close(h);
    } else {
      // A new file needs a directory this process may write.
      std::string dir = parent_of(r.path);
      if (int rc = host_files().may_write(dir.empty() ? "." : dir); rc != kOsOk) return rc;
    }
    e = &add_entry(r.path, r.oscode == kOsOk);
  }
  if (int rc = make_parent(e->copy); rc != kOsOk) return rc;
  e->gone = false;
  mark_changed(*e);
  use = e->copy;
  return kOsOk;
}

bool changed(const ResolvedName& r) {
  const ScratchEntry* e = entry_of(r.path);
  return e != nullptr && (e->changed || e->gone);
}

void note_change(const std::string& path) {
  for (ScratchEntry& e : g_entries) {
    if (e.copy == path) mark_changed(e);
  }
}

bool exists(const std::string& path, bool& known) {
  const ScratchEntry* e = entry_of(path);
  known = e != nullptr;
  return known && !e->gone && regular_copy(e->copy);
}

int remove(const ResolvedName& r) {
  ScratchEntry* e = entry_of(r.path);
  if (e == nullptr) {
    if (r.oscode != kOsOk) return r.oscode;
    if (host_files().kind(r.path) == EntryKind::Directory) return kOsAccessDenied;
    // The real delete needs the directory's write permission, not the file's.
    std::string dir = parent_of(r.path);
    if (int rc = host_files().may_write(dir.empty() ? "." : dir); rc != kOsOk) return rc;
    e = &add_entry(r.path, true);
  } else if (e->gone) {
    return kOsFileNotFound;
  }
  if (regular_copy(e->copy)) host_files().remove(e->copy);
  e->gone = true;
  mark_changed(*e);
  return kOsOk;
}

int rename(const ResolvedName& src, const ResolvedName& dst) {
  // The source as its copy (made now when there is none), the target as a new copy.
  const ScratchEntry* target = entry_of(dst.path);
  if (target != nullptr ? !target->gone : dst.oscode == kOsOk) return kOsAccessDenied;
  if (target == nullptr && dst.oscode != kOsFileNotFound) return dst.oscode;
  std::string from_copy, to_copy;
  if (int rc = for_open(src, FileAccess::ReadOnly, FileShare::Exclusive, from_copy); rc != kOsOk) {
    return rc;
  }
  if (int rc = for_create(dst, to_copy); rc != kOsOk) return rc;
  if (int rc = host_files().rename(from_copy, to_copy); rc != kOsOk) return rc;
  ScratchEntry* source = entry_of(src.path);
  source->gone = true;
  mark_changed(*source);
  return kOsOk;
}

void adjust_listing(const std::string& dir, const std::function<bool(std::string_view)>& matches,
                    std::vector<std::string>& names) {
  const std::optional<FileId> here = identity_of(dir.empty() ? "." : dir);
  if (!here) return;
  for (const ScratchEntry& e : g_entries) {
    if (e.dir != here) continue;
    const std::string n = std::filesystem::path(e.path).filename().string();
    std::erase_if(names, [&](const std::string& o) { return folded(o) == folded(n); });
    if (!e.gone && matches(n) && regular_copy(e.copy)) names.push_back(n);
  }
}

}  // namespace scratch

}  // namespace lum
