// The host-independent half of the file layer: the name rules (separators, the drive
// root, case-blind look-up, wildcards) and the File object with its fault seam. The
// host's own operations are behind HostFiles (host_files.h).
#include "platform/file.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <system_error>
#include <utility>

#include "platform/host_files.h"
#include "platform/scratch.h"
#include "platform/text.h"

namespace lum {

namespace {

// "" until start-up sets a drive root: a leading separator then means the host's own
// root (host_names().default_root).
std::string g_drive_root;
IoFaultHook g_fault_hook;
// changed_files(), in order, each with its identity where the host gave one.
struct ChangedFile {
  std::string path;
  FileId id;
  bool known = false;
};
std::vector<ChangedFile> g_changed;

bool is_sep(char c) { return c == '\\' || c == '/'; }

unsigned char fold(unsigned char c) {
  return static_cast<unsigned char>(ascii_upper(static_cast<char>(c)));
}

// Host paths are joined with "/", which every host accepts.
std::string join(const std::string& base, std::string_view comp) {
  if (base.empty()) return std::string(comp);
  if (is_sep(base.back()) || base.back() == ':') return base + std::string(comp);
  return base + "/" + std::string(comp);
}

bool is_directory(const std::string& path) {
  return host_files().kind(path.empty() ? std::string(".") : path) == EntryKind::Directory;
}

struct SplitName {
  std::string base;  // "" (working directory), a root, or a drive ("C:", "C:\")
  std::vector<std::string_view> comps;
};

bool drive_prefix(std::string_view name) {
  return name.size() >= 2 && name[1] == ':' && ascii_upper(name[0]) >= 'A' &&
         ascii_upper(name[0]) <= 'Z';
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

// The fault seam's answer for an operation that is not a transfer: the code it fails
// with, kOsOk when it goes on.
int injected_fault(IoOp op, const std::string& path, std::uint64_t offset = 0,
                   std::uint64_t n = 0) {
  if (!g_fault_hook) return kOsOk;
  IoFault fault;
  const std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(n, SIZE_MAX));
  if (!g_fault_hook(op, path, offset, size, fault)) return kOsOk;
  return fault.oscode != kOsOk ? fault.oscode : kOsAccessDenied;
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
  SplitName s = split_name(name);
  if (s.comps.empty()) {
    r.path = s.base;
    r.oscode = s.base.empty() ? kOsFileNotFound : kOsOk;
    return r;
  }
  r.oscode = resolve_dirs(s, s.comps.size() - 1, r.path);
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

bool file_exists(std::string_view name) {
  ResolvedName r = resolve_name(name);
  if (scratch::active()) {
    bool known = false;
    bool seen = scratch::exists(r.path, known);
    if (known) return seen;
  }
  return r.oscode == kOsOk && host_files().kind(r.path) == EntryKind::Regular;
}

File::~File() {
  if (handle_ != HostFiles::kNoHandle) host_files().close(handle_);
}

File::File(File&& other) noexcept
    : handle_(std::exchange(other.handle_, HostFiles::kNoHandle)),
      changed_(other.changed_),
      access_(other.access_),
      share_(other.share_),
      path_(std::move(other.path_)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (handle_ != HostFiles::kNoHandle) host_files().close(handle_);
    handle_ = std::exchange(other.handle_, HostFiles::kNoHandle);
    changed_ = other.changed_;
    access_ = other.access_;
    share_ = other.share_;
    path_ = std::move(other.path_);
  }
  return *this;
}

bool File::is_open() const { return handle_ != HostFiles::kNoHandle; }

void File::note_change() {
  if (changed_) return;
  changed_ = true;
  if (scratch::active()) scratch::note_change(path_);
  ChangedFile c;
  c.path = path_;
  c.known = host_files().identity(handle_, c.id) == kOsOk;
  for (const ChangedFile& o : g_changed) {
    if (o.path == c.path || (o.known && c.known && o.id == c.id)) return;
  }
  g_changed.push_back(std::move(c));
}

std::vector<std::string> changed_files() {
  std::vector<std::string> out;
  for (const ChangedFile& c : g_changed) out.push_back(c.path);
  return out;
}

void forget_changed_files() { g_changed.clear(); }

bool changed_by_run(std::string_view name) {
  ResolvedName r = resolve_name(name);
  if (scratch::active()) return scratch::changed(r);
  FileId id;
  if (r.oscode != kOsOk || host_files().identity(r.path, id) != kOsOk) return false;
  return std::any_of(g_changed.begin(), g_changed.end(),
                     [&](const ChangedFile& c) { return c.known && c.id == id; });
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

int File::open(std::string_view name, FileAccess access, FileShare share) {
  return open_resolved(resolve_name(name), access, share);
}

int File::open_path(std::string_view host_path, FileAccess access, FileShare share) {
  ResolvedName r;
  r.path = std::string(host_path);
  r.oscode = host_files().kind(r.path) == EntryKind::Missing ? kOsFileNotFound : kOsOk;
  return open_resolved(r, access, share);
}

int File::open_resolved(const ResolvedName& r, FileAccess access, FileShare share) {
  if (is_open()) close();
  changed_ = false;
  std::string path = r.path;
  if (scratch::active()) {
    if (int rc = scratch::for_open(r, access, share, path); rc != kOsOk) return rc;
  } else if (r.oscode != kOsOk) {
    return r.oscode;
  }
  if (int rc = injected_fault(IoOp::Open, path); rc != kOsOk) return rc;
  HostFiles::Handle h = HostFiles::kNoHandle;
  if (int rc = host_files().open(path, access, share, h); rc != kOsOk) return rc;
  handle_ = h;
  access_ = access;
  share_ = share;
  path_ = std::move(path);
  return kOsOk;
}

int File::open_original(std::string_view name) {
  if (!scratch::active()) return open(name, FileAccess::ReadOnly, FileShare::Shared);
  if (is_open()) close();
  changed_ = false;
  ResolvedName r = resolve_name(name);
  if (r.oscode != kOsOk) return r.oscode;
  if (int rc = injected_fault(IoOp::Open, r.path); rc != kOsOk) return rc;
  HostFiles::Handle h = HostFiles::kNoHandle;
  if (int rc = host_files().open(r.path, FileAccess::ReadOnly, FileShare::Shared, h); rc != kOsOk) {
    return rc;
  }
  handle_ = h;
  access_ = FileAccess::ReadOnly;
  share_ = FileShare::Shared;
  path_ = std::move(r.path);
  return kOsOk;
}

int File::create(std::string_view name, FileShare share) {
  if (is_open()) close();
  ResolvedName r = resolve_name(name);
  if (r.oscode != kOsOk && r.oscode != kOsFileNotFound) return r.oscode;
  if (scratch::active()) {
    if (int rc = scratch::for_create(r, r.path); rc != kOsOk) return rc;
  }
  if (int rc = injected_fault(IoOp::Create, r.path); rc != kOsOk) return rc;
  HostFiles::Handle h = HostFiles::kNoHandle;
  if (int rc = host_files().create(r.path, share, h); rc != kOsOk) return rc;
  handle_ = h;
  access_ = FileAccess::ReadWrite;
  share_ = share;
  path_ = std::move(r.path);
  changed_ = false;
  note_change();
  return kOsOk;
}

int File::create_temporary(std::string_view prefix) {
  if (is_open()) close();
  if (int rc = injected_fault(IoOp::Temporary, std::string(prefix)); rc != kOsOk) return rc;
  HostFiles::Handle h = HostFiles::kNoHandle;
  std::string path;
  if (int rc = host_files().create_temporary(prefix, h, path); rc != kOsOk) return rc;
  handle_ = h;
  access_ = FileAccess::ReadWrite;
  share_ = FileShare::Exclusive;
  path_ = std::move(path);
  return kOsOk;
}

int File::close() {
  if (!is_open()) return kOsOk;
  int rc = host_files().close(std::exchange(handle_, HostFiles::kNoHandle));
  // A failed close has still let go of the file.
  if (int injected = injected_fault(IoOp::Close, path_); injected != kOsOk) return injected;
  return rc;
}

IoResult File::read_at(std::uint64_t offset, void* data, std::size_t n) {
  IoResult res;
  if (!is_open()) {
    res.oscode = kOsAccessDenied;
    return res;
  }
  IoFault fault;
  bool faulted = g_fault_hook && g_fault_hook(IoOp::Read, path_, offset, n, fault);
  std::size_t want = faulted ? std::min(n, fault.allow) : n;
  res = host_files().read_at(handle_, offset, data, want);
  if (faulted && want < n && res.bytes == want && res.oscode == kOsOk) res.oscode = fault.oscode;
  return res;
}

IoResult File::write_at(std::uint64_t offset, const void* data, std::size_t n) {
  IoResult res;
  if (!is_open() || access_ == FileAccess::ReadOnly) {
    res.oscode = kOsAccessDenied;
    return res;
  }
  IoFault fault;
  bool faulted = g_fault_hook && g_fault_hook(IoOp::Write, path_, offset, n, fault);
  std::size_t want = faulted ? std::min(n, fault.allow) : n;
  if (want > 0) note_change();
  res = host_files().write_at(handle_, offset, data, want);
  if (faulted && want < n && res.bytes == want && res.oscode == kOsOk) res.oscode = fault.oscode;
  return res;
}

IoResult File::size() const {
  if (!is_open()) return IoResult{0, kOsAccessDenied};
  if (int rc = injected_fault(IoOp::Size, path_); rc != kOsOk) return IoResult{0, rc};
  return host_files().size(handle_);
}

int File::truncate(std::uint64_t length) {
  if (!is_open() || access_ == FileAccess::ReadOnly) return kOsAccessDenied;
  if (int rc = injected_fault(IoOp::Truncate, path_, length); rc != kOsOk) return rc;
  note_change();
  return host_files().truncate(handle_, length);
}

int File::commit() {
  if (!is_open()) return kOsAccessDenied;
  if (access_ == FileAccess::ReadOnly) return kOsOk;
  if (int rc = injected_fault(IoOp::Commit, path_); rc != kOsOk) return rc;
  return host_files().commit(handle_);
}

void File::start_writeback(std::uint64_t offset, std::uint64_t length) {
  if (!is_open() || access_ == FileAccess::ReadOnly || length == 0) return;
  host_files().start_writeback(handle_, offset, length);
}

int File::lock_range(std::uint64_t offset, std::uint64_t length, bool exclusive) {
  if (!is_open()) return kOsAccessDenied;
  if (int rc = injected_fault(IoOp::Lock, path_, offset, length); rc != kOsOk) return rc;
  return host_files().lock(handle_, access_ == FileAccess::ReadOnly, offset, length, exclusive);
}

int File::unlock_range(std::uint64_t offset, std::uint64_t length) {
  if (!is_open()) return kOsAccessDenied;
  if (int rc = injected_fault(IoOp::Unlock, path_, offset, length); rc != kOsOk) return rc;
  return host_files().unlock(handle_, offset, length);
}

int delete_file(std::string_view name) {
  ResolvedName r = resolve_name(name);
  if (scratch::active()) return scratch::remove(r);
  if (r.oscode != kOsOk) return r.oscode;
  if (is_directory(r.path)) return kOsAccessDenied;
  if (int rc = injected_fault(IoOp::Delete, r.path); rc != kOsOk) return rc;
  return host_files().remove(r.path);
}

int rename_file(std::string_view from, std::string_view to) {
  ResolvedName src = resolve_name(from);
  ResolvedName dst = resolve_name(to);
  if (scratch::active()) return scratch::rename(src, dst);
  if (src.oscode != kOsOk) return src.oscode;
  // The target must not exist: a rename never replaces another file.
  if (dst.oscode == kOsOk) return kOsAccessDenied;
  if (dst.oscode != kOsFileNotFound) return dst.oscode;
  if (int rc = injected_fault(IoOp::Rename, src.path); rc != kOsOk) return rc;
  return host_files().rename(src.path, dst.path);
}

// The operations below change files where they stand; while the scratch copies are on
// (a dry run) they are refused, as nothing of a dry run may change the operator's files.

int replace_file(std::string_view from, std::string_view to) {
  if (scratch::active()) return kOsAccessDenied;
  ResolvedName src = resolve_name(from);
  ResolvedName dst = resolve_name(to);
  if (src.oscode != kOsOk) return src.oscode;
  if (dst.oscode != kOsOk && dst.oscode != kOsFileNotFound) return dst.oscode;
  if (is_directory(dst.path)) return kOsAccessDenied;
  if (int rc = injected_fault(IoOp::Replace, src.path); rc != kOsOk) return rc;
  return host_files().replace(src.path, dst.path);
}

int file_state(std::string_view name, FileState& out) {
  out = FileState{};
  ResolvedName r = resolve_name(name);
  if (r.oscode == kOsFileNotFound || r.oscode == kOsPathNotFound) return kOsOk;
  if (r.oscode != kOsOk) return r.oscode;
  if (host_files().kind(r.path) != EntryKind::Regular) return kOsOk;
  return host_files().state(r.path, out);
}

int set_file_time(std::string_view name, std::int64_t mtime_ns) {
  if (scratch::active()) return kOsAccessDenied;
  ResolvedName r = resolve_name(name);
  if (r.oscode != kOsOk) return r.oscode;
  if (int rc = injected_fault(IoOp::SetTime, r.path); rc != kOsOk) return rc;
  return host_files().set_mtime(r.path, mtime_ns);
}

int make_directory(std::string_view name) {
  if (scratch::active()) return kOsAccessDenied;
  ResolvedName r = resolve_name(name);
  if (r.oscode == kOsOk) return is_directory(r.path) ? kOsAlreadyExists : kOsAccessDenied;
  if (r.oscode != kOsFileNotFound) return r.oscode;
  if (int rc = injected_fault(IoOp::MakeDirectory, r.path); rc != kOsOk) return rc;
  return host_files().make_dir(r.path);
}

int remove_directory(std::string_view name) {
  if (scratch::active()) return kOsAccessDenied;
  ResolvedName r = resolve_name(name);
  if (r.oscode != kOsOk) return r.oscode;
  if (!is_directory(r.path)) return kOsAccessDenied;
  if (int rc = injected_fault(IoOp::RemoveDirectory, r.path); rc != kOsOk) return rc;
  return host_files().remove_dir(r.path);
}

int commit_directory(std::string_view name) {
  ResolvedName r = resolve_name(name);
  if (r.oscode != kOsOk) return r.oscode;
  if (!is_directory(r.path)) return kOsAccessDenied;
  if (int rc = injected_fault(IoOp::CommitDirectory, r.path); rc != kOsOk) return rc;
  return host_files().commit_dir(r.path);
}

std::vector<std::string> list_directories(std::string_view dir) {
  std::vector<std::string> out;
  ResolvedName r = resolve_name(dir);
  if (r.oscode != kOsOk || !is_directory(r.path)) return out;
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
  SplitName s = split_name(pattern);
  if (s.comps.empty()) return out;
  std::string dir;
  if (resolve_dirs(s, s.comps.size() - 1, dir) != kOsOk) return out;
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

std::string_view os_code_meaning(int oscode) {
  switch (oscode) {
    case kOsOk:
      return "no error";
    case kOsFileNotFound:
      return "file not found";
    case kOsPathNotFound:
      return "path not found";
    case kOsTooManyOpenFiles:
      return "too many open files";
    case kOsAccessDenied:
      return "access denied";
    case kOsNotEnoughMemory:
      return "not enough memory";
    case kOsNotSameDevice:
      return "not the same drive";
    case kOsWriteProtected:
      return "disk write-protected";
    case kOsNotReady:
      return "device not ready";
    case kOsDataError:
      return "data error on the disk";
    case kOsWriteFault:
      return "write fault";
    case kOsReadFault:
      return "read fault";
    case kOsDeviceFailure:
      return "device not working";
    case kOsFileInUse:
      return "in use by another program";
    case kOsTooManyLocks:
      return "too many locks";
    case kOsNotSupported:
      return "not supported";
    case kOsNetworkPathNotFound:
      return "network path not found";
    case kOsNetworkNameGone:
      return "network file no longer available";
    case kOsFileExists:
    case kOsAlreadyExists:
      return "file already exists";
    case kOsInvalidParameter:
      return "invalid request";
    case kOsPipeClosed:
      return "pipe closed";
    case kOsDiskFull:
      return "disk full";
    case kOsTimedOut:
      return "timed out";
    case kOsDirectoryNotEmpty:
      return "directory not empty";
    case kOsNameTooLong:
      return "name too long";
    case kOsFileTooLarge:
      return "file too large";
    case kOsInterrupted:
      return "interrupted";
    case kOsDeviceError:
      return "device input/output error";
    case kOsTooManyLinks:
      return "too many links";
    case kOsCannotResolve:
      return "name cannot be resolved";
    default:
      return "system error";
  }
}

void set_io_fault_hook(IoFaultHook hook) { g_fault_hook = std::move(hook); }

const char* io_op_name(IoOp op) {
  static constexpr const char* kNames[kIoOpCount] = {"read",
                                                     "write",
                                                     "open",
                                                     "create",
                                                     "temporary",
                                                     "size",
                                                     "truncate",
                                                     "commit",
                                                     "lock",
                                                     "unlock",
                                                     "close",
                                                     "delete",
                                                     "rename",
                                                     "replace",
                                                     "set time",
                                                     "make directory",
                                                     "remove directory",
                                                     "commit directory"};
  const auto i = static_cast<std::size_t>(op);
  return i < static_cast<std::size_t>(kIoOpCount) ? kNames[i] : "?";
}

}  // namespace lum
