// The File object: opening, creating and closing a host file, its transfers, size,
// commit and locks, with the access checks and the fault seam asked before the host's
// own call (HostFiles, host_files.h); and the list of the files the run changed.
#include "platform/file.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_internal.h"
#include "platform/host_files.h"
#include "platform/scratch.h"

namespace lum {

namespace {

IoFaultHook g_fault_hook;
// changed_files(), in order, each with its identity where the host gave one.
struct ChangedFile {
  std::string path;
  FileId id;
  bool known = false;
};
std::vector<ChangedFile> g_changed;

}  // namespace

int files::injected_fault(IoOp op, const std::string& path, std::uint64_t offset,
                          std::uint64_t n) {
  if (!g_fault_hook) return kOsOk;
  IoFault fault;
  const std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(n, SIZE_MAX));
  if (!g_fault_hook(op, path, offset, size, fault)) return kOsOk;
  return fault.oscode != kOsOk ? fault.oscode : kOsAccessDenied;
}

using files::injected_fault;

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

IoResult File::copy_from(File& from, std::uint64_t offset, std::size_t n, bool& reading) {
  IoResult res;
  reading = false;
  if (!is_open() || access_ == FileAccess::ReadOnly || !from.is_open()) {
    reading = !from.is_open();
    res.oscode = kOsAccessDenied;
    return res;
  }
  IoFault read_fault, write_fault;
  const bool read_faulted = g_fault_hook && g_fault_hook(IoOp::Read, from.path_, offset, n, read_fault);
  const bool write_faulted =
      g_fault_hook && g_fault_hook(IoOp::Write, path_, offset, n, write_fault);
  std::size_t want = n;
  if (read_faulted) want = std::min(want, read_fault.allow);
  if (write_faulted) want = std::min(want, write_fault.allow);
  if (want > 0) note_change();
  res = host_files().copy_range(from.handle_, handle_, offset, want, reading);
  if (want < n && res.bytes == want && res.oscode == kOsOk) {
    // The injected fault that cut the copy short; a read cut short with no code is the
    // end of the file.
    reading = read_faulted && read_fault.allow == want;
    res.oscode = reading ? read_fault.oscode : write_fault.oscode;
  }
  return res;
}

IoResult HostFiles::copy_range(Handle from, Handle to, std::uint64_t offset, std::size_t n,
                               bool& reading) {
  IoResult res;
  std::vector<char> buf(std::min<std::size_t>(n, std::size_t{1} << 18));
  while (res.bytes < n) {
    const std::size_t chunk = std::min<std::size_t>(buf.size(), n - res.bytes);
    const IoResult r = read_at(from, offset + res.bytes, buf.data(), chunk);
    if (r.oscode != kOsOk) {
      reading = true;
      res.oscode = r.oscode;
      return res;
    }
    if (r.bytes == 0) break;
    const IoResult w = write_at(to, offset + res.bytes, buf.data(), static_cast<std::size_t>(r.bytes));
    res.bytes += w.bytes;
    if (w.oscode != kOsOk || w.bytes != r.bytes) {
      reading = false;
      res.oscode = w.oscode != kOsOk ? w.oscode : kOsDiskFull;
      return res;
    }
    if (r.bytes < chunk) break;  // the end of `from`
  }
  reading = false;
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
