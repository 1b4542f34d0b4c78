#include "platform/file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
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

bool file_exists(std::string_view name) {
  ResolvedName r = resolve_name(name);
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

void File::note_change() {
  if (changed_) return;
  changed_ = true;
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
  if (r.oscode != kOsOk) return r.oscode;
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
  if (r.oscode != kOsOk) return r.oscode;
  if (is_directory(r.path)) return kOsAccessDenied;
  return ::unlink(r.path.c_str()) == 0 ? kOsOk : map_errno(errno);
}

int rename_file(std::string_view from, std::string_view to) {
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
  std::sort(out.begin(), out.end());
  return out;
}

void set_io_fault_hook(IoFaultHook hook) { g_fault_hook = std::move(hook); }

}  // namespace lum
