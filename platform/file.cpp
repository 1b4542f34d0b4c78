#include "platform/file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <utility>

namespace lum {

namespace {

std::string g_drive_root = "/";
IoFaultHook g_fault_hook;
std::vector<std::string> g_changed;  // changed_files(), in order

bool is_sep(char c) { return c == '\\' || c == '/'; }

unsigned char fold(unsigned char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c;
}

bool same_blind(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (fold(static_cast<unsigned char>(a[i])) != fold(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// The host's errno as the system's own error number.
int map_errno(int err) {
  switch (err) {
    case 0:
      return kOsOk;
    case ENOENT:
      return kOsFileNotFound;
    case ENOTDIR:
      return kOsPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case EBADF:
      return kOsAccessDenied;
    case EWOULDBLOCK:
      return kOsFileInUse;
    case ENOSPC:
    case EDQUOT:
      return kOsDiskFull;
    default:
      return err;
  }
}

std::string join(const std::string& base, std::string_view comp) {
  if (base.empty()) return std::string(comp);
  if (base.back() == '/') return base + std::string(comp);
  return base + "/" + std::string(comp);
}

// The directory to list for `base` ("" is the working directory).
std::string dir_for(const std::string& base) { return base.empty() ? std::string(".") : base; }

enum class Found { Yes, No, NoDirectory };

// Finds `comp` in directory `base`: the exact spelling first, else the smallest
// case-blind match in byte order. On success `out` holds the spelling on disk.
Found find_entry(const std::string& base, std::string_view comp, std::string& out) {
  struct stat st;
  std::string exact = join(base, comp);
  if (::lstat(exact.c_str(), &st) == 0) {
    out = std::string(comp);
    return Found::Yes;
  }
  DIR* dir = ::opendir(dir_for(base).c_str());
  if (dir == nullptr) return errno == ENOENT || errno == ENOTDIR ? Found::NoDirectory : Found::No;
  bool any = false;
  std::string best;
  while (dirent* e = ::readdir(dir)) {
    std::string_view n(e->d_name);
    if (!same_blind(n, comp)) continue;
    if (!any || n < best) best = std::string(n);
    any = true;
  }
  ::closedir(dir);
  if (!any) return Found::No;
  out = std::move(best);
  return Found::Yes;
}

bool is_directory(const std::string& path) {
  struct stat st;
  return ::stat(dir_for(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

struct SplitName {
  std::string base;  // "" (working directory) or the drive root
  std::vector<std::string_view> comps;
};

// Splits a name on both separators. A drive prefix such as "C:" is dropped: this host
// has one drive, whose root is drive_root().
SplitName split_name(std::string_view name) {
  SplitName s;
  if (name.size() >= 2 && name[1] == ':' &&
      ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'))) {
    name.remove_prefix(2);
  }
  if (!name.empty() && is_sep(name.front())) s.base = g_drive_root;
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
    if (find_entry(path, comp, found) != Found::Yes) {
      for (std::size_t r = k; r < s.comps.size(); ++r) path = join(path, s.comps[r]);
      return kOsPathNotFound;
    }
    path = join(path, found);
    if (!is_directory(path)) {
      for (std::size_t r = k + 1; r < s.comps.size(); ++r) path = join(path, s.comps[r]);
      return kOsPathNotFound;
    }
  }
  return kOsOk;
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

int lock_cmd() {
#ifdef F_OFD_SETLK
  return F_OFD_SETLK;  // owned by the open file, so closing another handle keeps it
#else
  return F_SETLK;
#endif
}

}  // namespace

void set_drive_root(std::string root) {
  if (root.empty()) root.push_back('/');
  g_drive_root = std::move(root);
}

const std::string& drive_root() { return g_drive_root; }

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
  switch (find_entry(r.path, last, found)) {
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
  }
  return r;
}

namespace {

// Takes the whole-file lock that stands for the open's sharing mode; on failure the
// descriptor is closed and the system's code returned (32 when another opener holds it).
int lock_whole_file(int fd, FileShare share) {
  int rc;
  do {
    rc = ::flock(fd, (share == FileShare::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) return kOsOk;
  int err = errno;
  ::close(fd);
  return err == EWOULDBLOCK ? kOsFileInUse : map_errno(err);
}

}  // namespace

// --- scratch copies ---
//
// While on, every use of a file that would change it or lock it exclusively works on a
// private copy below the scratch directory: files/<absolute host path>. An entry per
// operator's file (keyed by its absolute host path, folded to upper case, so names
// that differ only in case meet) holds the copy, whether the operator's file existed,
// whether the copy has changed, and whether the run deleted or renamed it away.

namespace {

struct ScratchEntry {
  std::string path;  // the operator's file, absolute
  std::string copy;  // its copy, absolute
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

std::string folded(std::string s) {
  for (char& c : s) c = static_cast<char>(fold(static_cast<unsigned char>(c)));
  return s;
}

ScratchEntry* scratch_entry(const std::string& host_path) {
  const std::string key = folded(absolute_normal(host_path));
  for (ScratchEntry& e : g_entries) {
    if (folded(e.path) == key) return &e;
  }
  return nullptr;
}

ScratchEntry& add_scratch_entry(const std::string& host_path, bool existed) {
  ScratchEntry e;
  e.path = absolute_normal(host_path);
  e.copy = g_scratch + "/files" + (e.path.starts_with('/') ? "" : "/") + e.path;
  e.existed = existed;
  g_entries.push_back(std::move(e));
  return g_entries.back();
}

int make_parent(const std::string& copy) {
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(copy).parent_path(), ec);
  return ec ? map_errno(ec.value()) : kOsOk;
}

// What the operator's file allows a run that would change it: not held exclusively by
// another opener (tested with a shared lock, so that it is never locked exclusively
// here) and, when it is to be written, writable by this process. `fd` is left open on
// success, with the shared lock held.
int may_change(const std::string& path, bool writes, int& fd) {
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return map_errno(errno);
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return kOsAccessDenied;
  }
  if (int rc = lock_whole_file(fd, FileShare::Shared); rc != kOsOk) return rc;  // closes fd
  if (writes && ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) {
    int err = map_errno(errno);
    ::close(fd);
    return err;
  }
  return kOsOk;
}

// Copies the open file `from` to a new file `to`.
int copy_file(int from, const std::string& to) {
  if (int rc = make_parent(to); rc != kOsOk) return rc;
  int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (out < 0) return map_errno(errno);
  std::vector<char> buf(256 * 1024);
  int rc = kOsOk;
  for (off_t at = 0;;) {
    ssize_t got = ::pread(from, buf.data(), buf.size(), at);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got < 0) rc = map_errno(errno);
      break;
    }
    for (ssize_t put = 0; put < got;) {
      ssize_t w = ::write(out, buf.data() + put, static_cast<std::size_t>(got - put));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        rc = w < 0 ? map_errno(errno) : kOsDiskFull;
        break;
      }
      put += w;
    }
    if (rc != kOsOk) break;
    at += got;
  }
  if (::close(out) != 0 && rc == kOsOk) rc = map_errno(errno);
  return rc;
}

// The copy an open uses, in `copy` ("" to use the operator's file, which is then only
// read). `needs_copy`: the open writes or locks exclusively.
int scratch_for_open(const ResolvedName& r, bool needs_copy, bool writes, std::string& copy) {
  copy.clear();
  if (ScratchEntry* e = scratch_entry(r.path)) {
    if (e->gone) return kOsFileNotFound;
    copy = e->copy;
    return kOsOk;
  }
  if (r.oscode != kOsOk || !needs_copy) return r.oscode;
  int fd = -1;
  if (int rc = may_change(r.path, writes, fd); rc != kOsOk) return rc;
  ScratchEntry& e = add_scratch_entry(r.path, true);
  int rc = copy_file(fd, e.copy);
  ::close(fd);
  if (rc != kOsOk) {
    g_entries.pop_back();
    return rc;
  }
  copy = e.copy;
  return kOsOk;
}

// The copy a create makes (the name's directory exists, `r` found it or not).
int scratch_for_create(const ResolvedName& r, std::string& copy) {
  ScratchEntry* e = scratch_entry(r.path);
  if (e == nullptr) {
    if (r.oscode == kOsOk) {
      int fd = -1;
      if (int rc = may_change(r.path, true, fd); rc != kOsOk) return rc;
      ::close(fd);
    } else {
      // A new file needs a directory this process may write.
      std::string dir = std::filesystem::path(r.path).parent_path().string();
      if (::faccessat(AT_FDCWD, dir.empty() ? "." : dir.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        return map_errno(errno);
      }
    }
    e = &add_scratch_entry(r.path, r.oscode == kOsOk);
  }
  if (int rc = make_parent(e->copy); rc != kOsOk) return rc;
  e->gone = false;
  mark_changed(*e);
  copy = e->copy;
  return kOsOk;
}

// Marks the copy of a changed file.
void note_scratch_change(const std::string& path) {
  for (ScratchEntry& e : g_entries) {
    if (e.copy == path) mark_changed(e);
  }
}

bool regular_file(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::string make_temp_directory(std::string_view prefix) {
  std::error_code ec;
  std::filesystem::path base = std::filesystem::temp_directory_path(ec);
  if (ec) base = "/tmp";
  std::string pattern = (base / (std::string(prefix) + "XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) return {};
  return pattern;
}

bool begin_scratch(const std::string& dir) {
  if (dir.empty() || !is_directory(dir)) return false;
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

bool file_exists(std::string_view name) {
  ResolvedName r = resolve_name(name);
  if (scratch_active()) {
    if (const ScratchEntry* e = scratch_entry(r.path)) return !e->gone && regular_file(e->copy);
  }
  struct stat st;
  return r.oscode == kOsOk && ::stat(r.path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

File::~File() {
  if (fd_ >= 0) ::close(fd_);
}

File::File(File&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      changed_(other.changed_),
      access_(other.access_),
      share_(other.share_),
      path_(std::move(other.path_)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    changed_ = other.changed_;
    access_ = other.access_;
    share_ = other.share_;
    path_ = std::move(other.path_);
  }
  return *this;
}

void File::note_change() {
  if (changed_) return;
  changed_ = true;
  if (scratch_active()) note_scratch_change(path_);
  if (std::find(g_changed.begin(), g_changed.end(), path_) == g_changed.end()) {
    g_changed.push_back(path_);
  }
}

std::vector<std::string> changed_files() { return g_changed; }

void forget_changed_files() { g_changed.clear(); }

int File::open(std::string_view name, FileAccess access, FileShare share) {
  if (fd_ >= 0) close();
  changed_ = false;
  ResolvedName r = resolve_name(name);
  if (scratch_active()) {
    // Only a shared read of a file without a copy reads the operator's file itself.
    const bool reads_only = access == FileAccess::ReadOnly && share == FileShare::Shared;
    std::string copy;
    int rc = scratch_for_open(r, !reads_only, access == FileAccess::ReadWrite, copy);
    if (rc != kOsOk) return rc;
    if (!copy.empty()) return open_path(copy, access, share);
  }
  if (r.oscode != kOsOk) return r.oscode;
  return open_path(r.path, access, share);
}

int File::open_path(const std::string& path, FileAccess access, FileShare share) {
  ResolvedName r{path, kOsOk};
  int flags = (access == FileAccess::ReadOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC;
  int fd;
  do {
    fd = ::open(r.path.c_str(), flags);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return map_errno(errno);
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return kOsAccessDenied;
  }
  // A whole-file lock is the open's sharing mode: exclusive conflicts with every other
  // holder, shared only with an exclusive one.
  if (int rc = lock_whole_file(fd, share); rc != kOsOk) return rc;
  fd_ = fd;
  access_ = access;
  share_ = share;
  path_ = std::move(r.path);
  return kOsOk;
}

int File::create(std::string_view name, FileShare share) {
  if (fd_ >= 0) close();
  ResolvedName r = resolve_name(name);
  if (r.oscode != kOsOk && r.oscode != kOsFileNotFound) return r.oscode;
  if (scratch_active()) {
    std::string copy;
    if (int rc = scratch_for_create(r, copy); rc != kOsOk) return rc;
    if (!copy.empty()) r.path = copy;
  }
  int fd;
  do {
    fd = ::open(r.path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return map_errno(errno);
  if (int rc = lock_whole_file(fd, share); rc != kOsOk) return rc;
  // Emptied only once the lock is ours, so a file another opener holds stays intact.
  if (::ftruncate(fd, 0) != 0) {
    int err = errno;
    ::close(fd);
    return map_errno(err);
  }
  fd_ = fd;
  access_ = FileAccess::ReadWrite;
  share_ = share;
  path_ = std::move(r.path);
  changed_ = false;
  note_change();
  return kOsOk;
}

int File::close() {
  if (fd_ < 0) return kOsOk;
  int rc = ::close(std::exchange(fd_, -1));
  return rc == 0 ? kOsOk : map_errno(errno);
}

IoResult File::read_at(std::uint64_t offset, void* data, std::size_t n) {
  IoResult res;
  if (fd_ < 0) {
    res.oscode = kOsAccessDenied;
    return res;
  }
  std::size_t want = n;
  IoFault fault;
  bool faulted = g_fault_hook && g_fault_hook(IoOp::Read, path_, offset, n, fault);
  if (faulted) want = std::min(n, fault.allow);
  auto* p = static_cast<char*>(data);
  while (res.bytes < want) {
    ssize_t got =
        ::pread(fd_, p + res.bytes, want - res.bytes, static_cast<off_t>(offset + res.bytes));
    if (got < 0) {
      if (errno == EINTR) continue;
      res.oscode = map_errno(errno);
      return res;
    }
    if (got == 0) return res;
    res.bytes += static_cast<std::uint64_t>(got);
  }
  if (faulted && want < n) res.oscode = fault.oscode;
  return res;
}

IoResult File::write_at(std::uint64_t offset, const void* data, std::size_t n) {
  IoResult res;
  if (fd_ < 0 || access_ == FileAccess::ReadOnly) {
    res.oscode = kOsAccessDenied;
    return res;
  }
  std::size_t want = n;
  IoFault fault;
  bool faulted = g_fault_hook && g_fault_hook(IoOp::Write, path_, offset, n, fault);
  if (faulted) want = std::min(n, fault.allow);
  const auto* p = static_cast<const char*>(data);
  if (want > 0) note_change();
  while (res.bytes < want) {
    ssize_t put =
        ::pwrite(fd_, p + res.bytes, want - res.bytes, static_cast<off_t>(offset + res.bytes));
    if (put < 0) {
      if (errno == EINTR) continue;
      res.oscode = map_errno(errno);
      return res;
    }
    if (put == 0) {
      res.oscode = kOsDiskFull;
      return res;
    }
    res.bytes += static_cast<std::uint64_t>(put);
  }
  if (faulted && want < n) res.oscode = fault.oscode;
  return res;
}

IoResult File::size() const {
  IoResult res;
  struct stat st;
  if (fd_ < 0) {
    res.oscode = kOsAccessDenied;
  } else if (::fstat(fd_, &st) != 0) {
    res.oscode = map_errno(errno);
  } else {
    res.bytes = static_cast<std::uint64_t>(st.st_size);
  }
  return res;
}

int File::truncate(std::uint64_t length) {
  if (fd_ < 0 || access_ == FileAccess::ReadOnly) return kOsAccessDenied;
  note_change();
  int rc;
  do {
    rc = ::ftruncate(fd_, static_cast<off_t>(length));
  } while (rc != 0 && errno == EINTR);
  return rc == 0 ? kOsOk : map_errno(errno);
}

int File::commit() {
  if (fd_ < 0) return kOsAccessDenied;
  if (access_ == FileAccess::ReadOnly) return kOsOk;
  return ::fsync(fd_) == 0 ? kOsOk : map_errno(errno);
}

int File::lock_range(std::uint64_t offset, std::uint64_t length, bool exclusive) {
  if (fd_ < 0) return kOsAccessDenied;
  struct flock fl = {};
  // A read-only handle cannot hold a write lock on this host; it takes a read lock.
  fl.l_type = (exclusive && access_ == FileAccess::ReadWrite) ? F_WRLCK : F_RDLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(length);
  if (::fcntl(fd_, lock_cmd(), &fl) == 0) return kOsOk;
  return (errno == EAGAIN || errno == EACCES) ? kOsFileInUse : map_errno(errno);
}

int File::unlock_range(std::uint64_t offset, std::uint64_t length) {
  if (fd_ < 0) return kOsAccessDenied;
  struct flock fl = {};
  fl.l_type = F_UNLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(length);
  return ::fcntl(fd_, lock_cmd(), &fl) == 0 ? kOsOk : map_errno(errno);
}

int delete_file(std::string_view name) {
  ResolvedName r = resolve_name(name);
  if (scratch_active()) {
    ScratchEntry* e = scratch_entry(r.path);
    if (e == nullptr) {
      if (r.oscode != kOsOk) return r.oscode;
      if (is_directory(r.path)) return kOsAccessDenied;
      // The real delete needs the directory's write permission, not the file's.
      std::string dir = std::filesystem::path(r.path).parent_path().string();
      if (::faccessat(AT_FDCWD, dir.empty() ? "." : dir.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        return map_errno(errno);
      }
      e = &add_scratch_entry(r.path, true);
    } else if (e->gone) {
      return kOsFileNotFound;
    }
    ::unlink(e->copy.c_str());
    e->gone = true;
    mark_changed(*e);
    return kOsOk;
  }
  if (r.oscode != kOsOk) return r.oscode;
  if (is_directory(r.path)) return kOsAccessDenied;
  return ::unlink(r.path.c_str()) == 0 ? kOsOk : map_errno(errno);
}

int rename_file(std::string_view from, std::string_view to) {
  if (scratch_active()) {
    // The source as its copy (made now when there is none), the target as a new copy.
    ResolvedName src = resolve_name(from), dst = resolve_name(to);
    const ScratchEntry* target = scratch_entry(dst.path);
    if (target != nullptr ? !target->gone : dst.oscode == kOsOk) return kOsAccessDenied;
    if (target == nullptr && dst.oscode != kOsFileNotFound) return dst.oscode;
    std::string from_copy, to_copy;
    if (int rc = scratch_for_open(src, true, false, from_copy); rc != kOsOk) return rc;
    if (int rc = scratch_for_create(dst, to_copy); rc != kOsOk) return rc;
    if (::rename(from_copy.c_str(), to_copy.c_str()) != 0) return map_errno(errno);
    ScratchEntry* source = scratch_entry(src.path);
    source->gone = true;
    mark_changed(*source);
    return kOsOk;
  }
  ResolvedName src = resolve_name(from);
  if (src.oscode != kOsOk) return src.oscode;
  ResolvedName dst = resolve_name(to);
  // The target must not exist: a rename never replaces another file.
  if (dst.oscode == kOsOk) return kOsAccessDenied;
  if (dst.oscode != kOsFileNotFound) return dst.oscode;
  return ::rename(src.path.c_str(), dst.path.c_str()) == 0 ? kOsOk : map_errno(errno);
}

std::vector<std::string> list_files(std::string_view pattern) {
  std::vector<std::string> out;
  SplitName s = split_name(pattern);
  if (s.comps.empty()) return out;
  std::string dir;
  if (resolve_dirs(s, s.comps.size() - 1, dir) != kOsOk) return out;
  std::string_view pat = s.comps.back();
  bool all = (pat == "*.*");  // "*.*" also names files without an extension
  DIR* d = ::opendir(dir_for(dir).c_str());
  if (d == nullptr) return out;
  while (dirent* e = ::readdir(d)) {
    std::string_view n(e->d_name);
    if (n == "." || n == "..") continue;
    if (!all && !wild_match(pat, n)) continue;
    struct stat st;
    std::string full = join(dir, n);
    if (::stat(full.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    out.emplace_back(n);
  }
  ::closedir(d);
  if (scratch_active()) {
    // The run's own view of the directory: without what it deleted or renamed away,
    // with what it created.
    const std::string here = folded(absolute_normal(dir_for(dir)));
    for (const ScratchEntry& e : g_entries) {
      std::filesystem::path p(e.path);
      if (folded(p.parent_path().generic_string()) != here) continue;
      const std::string n = p.filename().string();
      std::erase_if(out, [&](const std::string& o) { return same_blind(o, n); });
      if (!e.gone && (all || wild_match(pat, n)) && regular_file(e.copy)) out.push_back(n);
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

void set_io_fault_hook(IoFaultHook hook) { g_fault_hook = std::move(hook); }

}  // namespace lum
