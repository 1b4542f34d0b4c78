// The POSIX host's file operations: descriptors, pread/pwrite, readdir for names. The
// sharing mode of an open is two locks on its open file description: a flock, which
// programs that use flock meet, and an open-file-description record lock on every
// offset below kEngineLocks (a write lock for an exclusive open, a read lock for a
// shared one), which conflicts with the fcntl/lockf record locks of every other
// process and opener. The engine's own byte-range locks are taken on the same
// description at kEngineLocks + their offset, so that they never merge with the
// sharing lock: a record unlock leaves no hole in it, and two shared openers, each
// holding a read lock below kEngineLocks, can still lock different records.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "platform/host_files.h"
#include "platform/text.h"

namespace lum {

namespace {

static_assert(sizeof(off_t) >= 8, "byte-range locks far beyond the data need a 64-bit off_t");

// Where the engine's byte-range locks begin: far beyond any data and beyond the far
// offsets at which programs lock records (1,000,000,000 and up), yet within off_t.
constexpr std::uint64_t kEngineLocks = std::uint64_t{1} << 62;

// The errno values of the file calls made here, as the system's own error numbers, so
// that a number means the same on every host (EIO is no "access denied" 5, EPIPE no
// "in use" 32). Any other value cannot come from these calls; it is passed on as it is.
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
    case EBUSY:
    case ETXTBSY:
    case EDEADLK:
      return kOsFileInUse;
    case ENOSPC:
    case EDQUOT:
      return kOsDiskFull;
    case ENAMETOOLONG:
      return kOsNameTooLong;
    case ELOOP:
      return kOsCannotResolve;
    case EMFILE:
    case ENFILE:
      return kOsTooManyOpenFiles;
    case ENOMEM:
      return kOsNotEnoughMemory;
    case EXDEV:
      return kOsNotSameDevice;
    case ENODEV:
    case ENXIO:
      return kOsNotReady;
    case ENOLCK:
      return kOsTooManyLocks;
    case EOPNOTSUPP:
      return kOsNotSupported;
    case ESTALE:
    case EHOSTDOWN:
    case EHOSTUNREACH:
    case ENETDOWN:
    case ENETUNREACH:
    case ECONNRESET:
      return kOsNetworkNameGone;
    case EEXIST:
      return kOsFileExists;
    case EINVAL:
    case EFAULT:
    case ESPIPE:
      return kOsInvalidParameter;
    case EPIPE:
      return kOsPipeClosed;
    case ETIMEDOUT:
      return kOsTimedOut;
    case ENOTEMPTY:
      return kOsDirectoryNotEmpty;
    case EFBIG:
    case EOVERFLOW:
      return kOsFileTooLarge;
    case EINTR:
      return kOsInterrupted;
    case EIO:
      return kOsDeviceError;
    case EMLINK:
      return kOsTooManyLinks;
    default:
      return err;
  }
}

int fd_of(HostFiles::Handle h) { return static_cast<int>(h); }

std::string dir_for(const std::string& base) { return base.empty() ? std::string(".") : base; }

std::string join(const std::string& base, std::string_view comp) {
  if (base.empty()) return std::string(comp);
  if (base.back() == '/') return base + std::string(comp);
  return base + "/" + std::string(comp);
}

bool same_blind(std::string_view a, std::string_view b) { return equal_case_blind(a, b); }

EntryKind kind_of(const struct stat& st) {
  if (S_ISREG(st.st_mode)) return EntryKind::Regular;
  if (S_ISDIR(st.st_mode)) return EntryKind::Directory;
  return EntryKind::Other;
}

#ifdef F_OFD_SETLK
constexpr bool kDescriptionLocks = true;
constexpr int kSetLock = F_OFD_SETLK;  // owned by the open file description
#else
// Without open-file-description locks only classic ones, which belong to the process:
// closing any descriptor of the file would drop them all. The sharing mode then rests
// on flock alone.
constexpr bool kDescriptionLocks = false;
constexpr int kSetLock = F_SETLK;
#endif

// One fcntl lock (type F_RDLCK, F_WRLCK or F_UNLCK) on the description of `fd`; never
// waits. 32 when another holder's lock is in the way.
int set_lock(int fd, short type, std::uint64_t offset, std::uint64_t length) {
  struct flock fl = {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(length);
  int rc;
  do {
    rc = ::fcntl(fd, kSetLock, &fl);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) return kOsOk;
  return (errno == EAGAIN || errno == EACCES) ? kOsFileInUse : map_errno(errno);
}

// Takes the locks that stand for the open's sharing mode (see the top of this file): an
// exclusive open conflicts with every other holder, a shared one only with an
// exclusive holder or a write lock. A descriptor open for reading only cannot hold a
// write lock; an exclusive one holds a read lock there instead. On failure the
// descriptor is closed and the system's code returned (32 when another holds the file).
int lock_whole_file(int fd, FileShare share, bool writable) {
  int rc;
  do {
    rc = ::flock(fd, (share == FileShare::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  int os = kOsOk;
  if (rc != 0) {
    os = errno == EWOULDBLOCK ? kOsFileInUse : map_errno(errno);
  } else if (kDescriptionLocks) {
    os = set_lock(fd, share == FileShare::Exclusive && writable ? F_WRLCK : F_RDLCK, 0,
                  kEngineLocks);
    // A file system without record locks leaves the sharing mode to the flock.
    if (os != kOsOk && os != kOsFileInUse &&
        (errno == EINVAL || errno == EOPNOTSUPP || errno == ENOSYS)) {
      os = kOsOk;
    }
  }
  if (os != kOsOk) ::close(fd);
  return os;
}

FileId id_of(const struct stat& st) {
  return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

// Opens `path` with `flags` and keeps the descriptor only for a regular file. The open
// does not wait (a pipe without a writer would block it for good), and a pipe or
// device is refused: reading one as a table or a text file could wait or never end.
// Returns the descriptor, or -1 with the system's code in `oscode`.
int open_regular(const std::string& path, int flags, int& oscode) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    oscode = map_errno(errno);
    return -1;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    oscode = kOsAccessDenied;
    return -1;
  }
  int fl = ::fcntl(fd, F_GETFL);
  if (fl >= 0) ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
  oscode = kOsOk;
  return fd;
}

class PosixFiles final : public HostFiles {
 public:
  // The exact spelling first, else the smallest case-blind match in byte order (a
  // case-sensitive file system may hold several).
  Found find_entry(const std::string& dir, std::string_view comp, std::string& out) override {
    struct stat st;
    std::string exact = join(dir, comp);
    if (::lstat(exact.c_str(), &st) == 0) {
      out = std::string(comp);
      return Found::Yes;
    }
    if (errno == ENAMETOOLONG) return Found::TooLong;  // no entry of the directory can match
    DIR* d = ::opendir(dir_for(dir).c_str());
    if (d == nullptr) return errno == ENOENT || errno == ENOTDIR ? Found::NoDirectory : Found::No;
    bool any = false;
    std::string best;
    while (dirent* e = ::readdir(d)) {
      std::string_view n(e->d_name);
      if (!same_blind(n, comp)) continue;
      if (!any || n < best) best = std::string(n);
      any = true;
    }
    ::closedir(d);
    if (!any) return Found::No;
    out = std::move(best);
    return Found::Yes;
  }

  EntryKind kind(const std::string& path) override {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return EntryKind::Missing;
    return kind_of(st);
  }

  int list_dir(const std::string& dir, std::vector<DirEntry>& out) override {
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) return map_errno(errno);
    while (dirent* e = ::readdir(d)) {
      std::string_view n(e->d_name);
      if (n == "." || n == "..") continue;
      struct stat st;
      std::string full = join(dir, n);
      out.push_back(
          {std::string(n), ::stat(full.c_str(), &st) == 0 ? kind_of(st) : EntryKind::Missing});
    }
    ::closedir(d);
    return kOsOk;
  }

  int identity(const std::string& path, FileId& out) override {
    struct stat st;
    if (::stat(dir_for(path).c_str(), &st) != 0) return map_errno(errno);
    out = id_of(st);
    return kOsOk;
  }

  int identity(Handle h, FileId& out) override {
    struct stat st;
    if (::fstat(fd_of(h), &st) != 0) return map_errno(errno);
    out = id_of(st);
    return kOsOk;
  }

  int open(const std::string& path, FileAccess access, FileShare share, Handle& out) override {
    int os = kOsOk;
    bool writable = access == FileAccess::ReadWrite;
    int fd = -1;
    if (!writable && share == FileShare::Exclusive) {
      // Only a descriptor open for writing holds the write lock that keeps every other
      // program out; File still never writes through it. Where this process may not
      // write the file, the open for reading holds a read lock instead.
      fd = open_regular(path, O_RDWR, os);
      writable = fd >= 0;
    }
    if (fd < 0) fd = open_regular(path, writable ? O_RDWR : O_RDONLY, os);
    if (fd < 0) return os;
    if (int rc = lock_whole_file(fd, share, writable); rc != kOsOk) return rc;
    out = fd;
    return kOsOk;
  }

  int create(const std::string& path, FileShare share, Handle& out) override {
    int os = kOsOk;
    int fd = open_regular(path, O_RDWR | O_CREAT, os);
    if (fd < 0) return os;
    if (int rc = lock_whole_file(fd, share, true); rc != kOsOk) return rc;
    // Emptied only once the lock is ours, so a file another opener holds stays intact.
    if (::ftruncate(fd, 0) != 0) {
      int err = errno;
      ::close(fd);
      return map_errno(err);
    }
    out = fd;
    return kOsOk;
  }

  int create_temporary(std::string_view prefix, Handle& out, std::string& path) override {
    const char* dir = std::getenv("TMPDIR");
    path = std::string(dir != nullptr && dir[0] != '\0' ? dir : "/tmp");
    path = join(path, std::string(prefix) + "XXXXXX");
    int fd = ::mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0) return map_errno(errno);
    // Unlinked at once: the file lives exactly as long as the descriptor.
    ::unlink(path.c_str());
    if (int rc = lock_whole_file(fd, FileShare::Exclusive, true); rc != kOsOk) return rc;
    out = fd;
    return kOsOk;
  }

  int close(Handle h) override { return ::close(fd_of(h)) == 0 ? kOsOk : map_errno(errno); }

  IoResult read_at(Handle h, std::uint64_t offset, void* data, std::size_t n) override {
    IoResult res;
    auto* p = static_cast<char*>(data);
    while (res.bytes < n) {
      ssize_t got =
          ::pread(fd_of(h), p + res.bytes, n - res.bytes, static_cast<off_t>(offset + res.bytes));
      if (got < 0) {
        if (errno == EINTR) continue;
        res.oscode = map_errno(errno);
        return res;
      }
      if (got == 0) return res;
      res.bytes += static_cast<std::uint64_t>(got);
    }
    return res;
  }

  IoResult write_at(Handle h, std::uint64_t offset, const void* data, std::size_t n) override {
    IoResult res;
    const auto* p = static_cast<const char*>(data);
    while (res.bytes < n) {
      ssize_t put =
          ::pwrite(fd_of(h), p + res.bytes, n - res.bytes, static_cast<off_t>(offset + res.bytes));
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
    return res;
  }

  IoResult size(Handle h) override {
    IoResult res;
    struct stat st;
    if (::fstat(fd_of(h), &st) != 0) {
      res.oscode = map_errno(errno);
    } else {
      res.bytes = static_cast<std::uint64_t>(st.st_size);
    }
    return res;
  }

  int truncate(Handle h, std::uint64_t length) override {
    int rc;
    do {
      rc = ::ftruncate(fd_of(h), static_cast<off_t>(length));
    } while (rc != 0 && errno == EINTR);
    return rc == 0 ? kOsOk : map_errno(errno);
  }

  int commit(Handle h) override { return ::fsync(fd_of(h)) == 0 ? kOsOk : map_errno(errno); }

  IoResult copy_range(Handle from, Handle to, std::uint64_t offset, std::size_t n,
                      bool& reading) override {
    IoResult res;
#ifdef __linux__
    // Inside the kernel; what it cannot copy so (another kind of file system, an error
    // that must be told as a read or a write) goes through the buffer from there.
    bool at_end = false;
    while (res.bytes < n && !at_end) {
      loff_t in = static_cast<loff_t>(offset + res.bytes), out = in;
      const ssize_t got =
          ::copy_file_range(fd_of(from), &in, fd_of(to), &out, n - res.bytes, 0);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) break;
      at_end = got == 0;
      res.bytes += static_cast<std::uint64_t>(got);
    }
#else
    const bool at_end = false;
#endif
    if (res.bytes == n || at_end) {
      reading = false;
      return res;
    }
    IoResult rest = HostFiles::copy_range(from, to, offset + res.bytes,
                                          n - static_cast<std::size_t>(res.bytes), reading);
    rest.bytes += res.bytes;
    return rest;
  }

  void start_writeback(Handle h, std::uint64_t offset, std::uint64_t length) override {
#ifdef __linux__
    (void)::sync_file_range(fd_of(h), static_cast<off64_t>(offset), static_cast<off64_t>(length),
                            SYNC_FILE_RANGE_WRITE);
#else
    (void)h;
    (void)offset;
    (void)length;
#endif
  }

  int lock(Handle h, bool read_only, std::uint64_t offset, std::uint64_t length,
           bool exclusive) override {
    if (offset >= kEngineLocks || length > kEngineLocks - offset) return kOsInvalidParameter;
    // A read-only descriptor cannot hold a write lock on this host; it takes a read lock.
    return set_lock(fd_of(h), (exclusive && !read_only) ? F_WRLCK : F_RDLCK, kEngineLocks + offset,
                    length);
  }

  int unlock(Handle h, std::uint64_t offset, std::uint64_t length) override {
    if (offset >= kEngineLocks || length > kEngineLocks - offset) return kOsInvalidParameter;
    return set_lock(fd_of(h), F_UNLCK, kEngineLocks + offset, length);
  }

  int may_write(const std::string& path) override {
    const int mode = kind(path) == EntryKind::Directory ? W_OK | X_OK : W_OK;
    return ::faccessat(AT_FDCWD, path.c_str(), mode, AT_EACCESS) == 0 ? kOsOk : map_errno(errno);
  }

  int remove(const std::string& path) override {
    return ::unlink(path.c_str()) == 0 ? kOsOk : map_errno(errno);
  }

  int rename(const std::string& from, const std::string& to) override {
    return ::rename(from.c_str(), to.c_str()) == 0 ? kOsOk : map_errno(errno);
  }

  // rename(2) replaces an existing target in one step.
  int replace(const std::string& from, const std::string& to) override {
    return ::rename(from.c_str(), to.c_str()) == 0 ? kOsOk : map_errno(errno);
  }

  int state(const std::string& path, FileState& out) override {
    out = FileState{};
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
      return errno == ENOENT || errno == ENOTDIR ? kOsOk : map_errno(errno);
    }
    if (!S_ISREG(st.st_mode)) return kOsOk;
    out.exists = true;
    out.size = static_cast<std::uint64_t>(st.st_size);
    out.mtime_ns = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return kOsOk;
  }

  int set_mtime(const std::string& path, std::int64_t mtime_ns) override {
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;  // the access time stays
    times[1].tv_sec = static_cast<time_t>(mtime_ns / 1000000000);
    times[1].tv_nsec = static_cast<long>(mtime_ns % 1000000000);
    if (times[1].tv_nsec < 0) {
      times[1].tv_nsec += 1000000000;
      --times[1].tv_sec;
    }
    return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0 ? kOsOk : map_errno(errno);
  }

  int make_dir(const std::string& path) override {
    if (::mkdir(path.c_str(), 0777) == 0) return kOsOk;
    return errno == EEXIST ? kOsAlreadyExists : map_errno(errno);
  }

  int remove_dir(const std::string& path) override {
    return ::rmdir(path.c_str()) == 0 ? kOsOk : map_errno(errno);
  }

  int commit_dir(const std::string& path) override {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return map_errno(errno);
    const int rc = ::fsync(fd) == 0 ? kOsOk : map_errno(errno);
    ::close(fd);
    return rc;
  }
};

}  // namespace

int os_code_of_host_error(long err) { return map_errno(static_cast<int>(err)); }

HostFiles& host_files() {
  static PosixFiles files;
  return files;
}

const HostNames& host_names() {
  static const HostNames names{"/", false};
  return names;
}

}  // namespace lum
