// The Windows host's file operations: Win32 handles kept as handles, positioned
// ReadFile/WriteFile, FindFirstFile for names. Every file is opened with full sharing at
// the OS level; the sharing mode of an open is a LockFileEx lock on one byte at a fixed
// far offset, as the POSIX half uses flock, so that a process can still read a table it
// holds through another handle and the engine's own locks (at and above 1,000,000,000)
// never meet it.
#include <windows.h>

#include <cstdio>
#include <random>
#include <utility>

#include "platform/host_files.h"
#include "platform/windows/internal.h"

namespace lum {

namespace {

// Far beyond any table and beyond the engine's record locks; Windows locks are
// mandatory, so the byte must hold no data.
constexpr std::uint64_t kModeLockOffset = 0x7FFFFFFF00000000ULL;

// 100-nanosecond ticks from 1601 to 1970, where a FILETIME and the time of FileState part.
constexpr std::int64_t kEpochTicks = 116444736000000000LL;

HANDLE handle_of(HostFiles::Handle h) { return reinterpret_cast<HANDLE>(h); }
HostFiles::Handle from_handle(HANDLE h) { return reinterpret_cast<HostFiles::Handle>(h); }

std::string join(const std::string& base, std::string_view comp) {
  if (base.empty()) return std::string(comp);
  char last = base.back();
  if (last == '/' || last == '\\' || last == ':') return base + std::string(comp);
  return base + "/" + std::string(comp);
}

EntryKind kind_of(DWORD attrs) {
  if (attrs == INVALID_FILE_ATTRIBUTES) return EntryKind::Missing;
  if ((attrs & FILE_ATTRIBUTE_DIRECTORY) != 0) return EntryKind::Directory;
  if ((attrs & FILE_ATTRIBUTE_DEVICE) != 0) return EntryKind::Other;
  return EntryKind::Regular;
}

OVERLAPPED at(std::uint64_t offset) {
  OVERLAPPED o = {};
  o.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  o.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return o;
}

int lock_bytes(HANDLE h, std::uint64_t offset, std::uint64_t length, bool exclusive) {
  OVERLAPPED o = at(offset);
  DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
  if (::LockFileEx(h, flags, 0, static_cast<DWORD>(length & 0xFFFFFFFFu),
                   static_cast<DWORD>(length >> 32), &o)) {
    return kOsOk;
  }
  return map_windows_error(::GetLastError());
}

// Takes the lock that stands for the open's sharing mode; on failure the handle is
// closed and the system's code returned (32 when another opener holds the file).
int lock_mode(HANDLE h, FileShare share) {
  int rc = lock_bytes(h, kModeLockOffset, 1, share == FileShare::Exclusive);
  if (rc != kOsOk) ::CloseHandle(h);
  return rc;
}

// Opens with full sharing; the mode lock decides who may use the file.
HANDLE open_handle(const std::string& path, DWORD access, DWORD disposition, DWORD flags) {
  return ::CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, disposition, flags, nullptr);
}

bool has_wildcard(std::string_view comp) {
  return comp.find_first_of("*?") != std::string_view::npos;
}

// A file with the read-only attribute, which Windows opens for reading only. Checked
// here as well, so that the rule holds where the host would let the owner write anyway
// (wine run by the superuser).
bool read_only_file(const std::string& path) {
  DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         (attributes & FILE_ATTRIBUTE_READONLY);
}

class WindowsFiles final : public HostFiles {
 public:
  // The file system matches names without regard to case itself; FindFirstFile on the
  // plain name gives the spelling on disk.
  Found find_entry(const std::string& dir, std::string_view comp, std::string& out) override {
    if (has_wildcard(comp))
      return kind(dir.empty() ? "." : dir) == EntryKind::Directory ? Found::No : Found::NoDirectory;
    // No file system of the host holds a name longer than 255 characters.
    if (comp.size() > 255) return Found::TooLong;
    WIN32_FIND_DATAA fd;
    HANDLE f = ::FindFirstFileA(join(dir, comp).c_str(), &fd);
    if (f == INVALID_HANDLE_VALUE) {
      DWORD err = ::GetLastError();
      if (err == ERROR_FILENAME_EXCED_RANGE) return Found::TooLong;  // 206, the system's own
      if (err == ERROR_PATH_NOT_FOUND || err == ERROR_DIRECTORY || err == ERROR_INVALID_NAME) {
        return Found::NoDirectory;
      }
      return kind(dir.empty() ? "." : dir) == EntryKind::Directory ? Found::No : Found::NoDirectory;
    }
    ::FindClose(f);
    out = fd.cFileName;
    return Found::Yes;
  }

  EntryKind kind(const std::string& path) override {
    return kind_of(::GetFileAttributesA(path.c_str()));
  }

  int list_dir(const std::string& dir, std::vector<DirEntry>& out) override {
    WIN32_FIND_DATAA fd;
    HANDLE f = ::FindFirstFileA(join(dir, "*").c_str(), &fd);
    if (f == INVALID_HANDLE_VALUE) {
      DWORD err = ::GetLastError();
      return err == ERROR_FILE_NOT_FOUND ? kOsOk : map_windows_error(err);
    }
    do {
      std::string_view n(fd.cFileName);
      if (n == "." || n == "..") continue;
      out.push_back({std::string(n), kind_of(fd.dwFileAttributes)});
    } while (::FindNextFileA(f, &fd));
    ::FindClose(f);
    return kOsOk;
  }

  int identity(const std::string& path, FileId& out) override {
    // No access asked for: a directory, or a file another program holds, still tells.
    HANDLE h = ::CreateFileA(path.empty() ? "." : path.c_str(), 0,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return map_windows_error(::GetLastError());
    int rc = identity(from_handle(h), out);
    ::CloseHandle(h);
    return rc;
  }

  int identity(Handle h, FileId& out) override {
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(handle_of(h), &info)) {
      return map_windows_error(::GetLastError());
    }
    out.volume = info.dwVolumeSerialNumber;
    out.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return kOsOk;
  }

  int open(const std::string& path, FileAccess access, FileShare share, Handle& out) override {
    DWORD rights = GENERIC_READ | (access == FileAccess::ReadWrite ? GENERIC_WRITE : 0);
    if (access == FileAccess::ReadWrite && read_only_file(path)) return kOsAccessDenied;
    HANDLE h = open_handle(path, rights, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    if (h == INVALID_HANDLE_VALUE) return map_windows_error(::GetLastError());
    if (::GetFileType(h) != FILE_TYPE_DISK) {
      ::CloseHandle(h);
      return kOsAccessDenied;
    }
    if (int rc = lock_mode(h, share); rc != kOsOk) return rc;
    out = from_handle(h);
    return kOsOk;
  }

  int create(const std::string& path, FileShare share, Handle& out) override {
    if (read_only_file(path)) return kOsAccessDenied;
    HANDLE h = open_handle(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL);
    if (h == INVALID_HANDLE_VALUE) return map_windows_error(::GetLastError());
    if (::GetFileType(h) != FILE_TYPE_DISK) {  // a pipe or a device is never emptied
      ::CloseHandle(h);
      return kOsAccessDenied;
    }
    if (int rc = lock_mode(h, share); rc != kOsOk) return rc;
    // Emptied only once the lock is ours, so a file another opener holds stays intact.
    if (int rc = truncate(from_handle(h), 0); rc != kOsOk) {
      ::CloseHandle(h);
      return rc;
    }
    out = from_handle(h);
    return kOsOk;
  }

  int create_temporary(std::string_view prefix, Handle& out, std::string& path) override {
    char dir[MAX_PATH + 1];
    DWORD len = ::GetTempPathA(sizeof dir, dir);
    if (len == 0 || len > MAX_PATH) return map_windows_error(::GetLastError());
    std::random_device rd;
    for (int attempt = 0; attempt < 16; ++attempt) {
      std::uint64_t tag = (static_cast<std::uint64_t>(rd()) << 32) ^ rd();
      char name[40];
      std::snprintf(name, sizeof name, "%016llx.tmp", static_cast<unsigned long long>(tag));
      path = std::string(dir, len) + std::string(prefix) + name;
      HANDLE h =
          ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                        CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
      if (h != INVALID_HANDLE_VALUE) {
        out = from_handle(h);
        return kOsOk;
      }
      DWORD err = ::GetLastError();
      if (err != ERROR_FILE_EXISTS && err != ERROR_ALREADY_EXISTS) return map_windows_error(err);
    }
    return kOsAccessDenied;
  }

  int close(Handle h) override {
    return ::CloseHandle(handle_of(h)) ? kOsOk : map_windows_error(::GetLastError());
  }

  IoResult read_at(Handle h, std::uint64_t offset, void* data, std::size_t n) override {
    IoResult res;
    auto* p = static_cast<char*>(data);
    while (res.bytes < n) {
      std::size_t left = n - res.bytes;
      DWORD chunk = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
      OVERLAPPED o = at(offset + res.bytes);
      DWORD got = 0;
      if (!::ReadFile(handle_of(h), p + res.bytes, chunk, &got, &o)) {
        DWORD err = ::GetLastError();
        if (err != ERROR_HANDLE_EOF) res.oscode = map_windows_error(err);
        return res;
      }
      if (got == 0) return res;
      res.bytes += got;
    }
    return res;
  }

  IoResult write_at(Handle h, std::uint64_t offset, const void* data, std::size_t n) override {
    IoResult res;
    const auto* p = static_cast<const char*>(data);
    while (res.bytes < n) {
      std::size_t left = n - res.bytes;
      DWORD chunk = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
      OVERLAPPED o = at(offset + res.bytes);
      DWORD put = 0;
      if (!::WriteFile(handle_of(h), p + res.bytes, chunk, &put, &o)) {
        res.oscode = map_windows_error(::GetLastError());
        return res;
      }
      if (put == 0) {
        res.oscode = kOsDiskFull;
        return res;
      }
      res.bytes += put;
    }
    return res;
  }

  IoResult size(Handle h) override {
    IoResult res;
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(handle_of(h), &size)) {
      res.oscode = map_windows_error(::GetLastError());
    } else {
      res.bytes = static_cast<std::uint64_t>(size.QuadPart);
    }
    return res;
  }

  int truncate(Handle h, std::uint64_t length) override {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(length);
    if (!::SetFilePointerEx(handle_of(h), to, nullptr, FILE_BEGIN) ||
        !::SetEndOfFile(handle_of(h))) {
      return map_windows_error(::GetLastError());
    }
    return kOsOk;
  }

  int commit(Handle h) override {
    return ::FlushFileBuffers(handle_of(h)) ? kOsOk : map_windows_error(::GetLastError());
  }

  // Windows writes back on its own schedule; there is no hint to give it.
  void start_writeback(Handle, std::uint64_t, std::uint64_t) override {}

  int lock(Handle h, bool read_only, std::uint64_t offset, std::uint64_t length,
           bool exclusive) override {
    // As on POSIX, where a read-only descriptor can hold only a read lock.
    return lock_bytes(handle_of(h), offset, length, exclusive && !read_only);
  }

  int unlock(Handle h, std::uint64_t offset, std::uint64_t length) override {
    OVERLAPPED o = at(offset);
    if (::UnlockFileEx(handle_of(h), 0, static_cast<DWORD>(length & 0xFFFFFFFFu),
                       static_cast<DWORD>(length >> 32), &o)) {
      return kOsOk;
    }
    return map_windows_error(::GetLastError());
  }

  int may_write(const std::string& path) override {
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return map_windows_error(::GetLastError());
    // A directory's read-only attribute does not keep files from being made in it.
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return kOsOk;
    return (attributes & FILE_ATTRIBUTE_READONLY) ? kOsAccessDenied : kOsOk;
  }

  int remove(const std::string& path) override {
    return ::DeleteFileA(path.c_str()) ? kOsOk : map_windows_error(::GetLastError());
  }

  int rename(const std::string& from, const std::string& to) override {
    return ::MoveFileExA(from.c_str(), to.c_str(), 0) ? kOsOk : map_windows_error(::GetLastError());
  }

  // Every file is open with FILE_SHARE_DELETE, so an open file can be replaced; the
  // write-through returns only once the move is on the disk.
  int replace(const std::string& from, const std::string& to) override {
    return ::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? kOsOk
               : map_windows_error(::GetLastError());
  }

  int state(const std::string& path, FileState& out) override {
    out = FileState{};
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
      const DWORD err = ::GetLastError();
      return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND ? kOsOk
                                                                          : map_windows_error(err);
    }
    if (kind_of(data.dwFileAttributes) != EntryKind::Regular) return kOsOk;
    out.exists = true;
    out.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    const std::uint64_t ticks =
        (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
        data.ftLastWriteTime.dwLowDateTime;
    out.mtime_ns = (static_cast<std::int64_t>(ticks) - kEpochTicks) * 100;
    return kOsOk;
  }

  int set_mtime(const std::string& path, std::int64_t mtime_ns) override {
    HANDLE h = ::CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return map_windows_error(::GetLastError());
    const std::uint64_t ticks = static_cast<std::uint64_t>(mtime_ns / 100 + kEpochTicks);
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    const int rc = ::SetFileTime(h, nullptr, nullptr, &ft) ? kOsOk
                                                          : map_windows_error(::GetLastError());
    ::CloseHandle(h);
    return rc;
  }

  int make_dir(const std::string& path) override {
    return ::CreateDirectoryA(path.c_str(), nullptr) ? kOsOk : map_windows_error(::GetLastError());
  }

  int remove_dir(const std::string& path) override {
    return ::RemoveDirectoryA(path.c_str()) ? kOsOk : map_windows_error(::GetLastError());
  }

  // The file system keeps a directory's entries by itself (the moves are written
  // through): nothing to force.
  int commit_dir(const std::string&) override { return kOsOk; }
};

}  // namespace

int map_windows_error(unsigned long err) {
  switch (err) {
    case ERROR_SUCCESS:
      return kOsOk;
    case ERROR_LOCK_VIOLATION:  // 33: a range another opener holds
      return kOsFileInUse;
    case ERROR_HANDLE_DISK_FULL:  // 39
      return kOsDiskFull;
    case ERROR_OUTOFMEMORY:  // 14
      return kOsNotEnoughMemory;
    case ERROR_INVALID_NAME:
    case ERROR_DIRECTORY:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_DRIVE:
      return kOsPathNotFound;
    default:
      return static_cast<int>(err);  // 2, 3, 5, 32, 112 and the rest are the system's own
  }
}

int os_code_of_host_error(long err) { return map_windows_error(static_cast<unsigned long>(err)); }

HostFiles& host_files() {
  static WindowsFiles files;
  return files;
}

const HostNames& host_names() {
  static const HostNames names{"\\", true};
  return names;
}

}  // namespace lum
