// Inside platform/ only: the host's own file operations beneath File and the name
// rules of file.h. One implementation per host (posix/files.cpp, windows/files.cpp),
// chosen by the build. Paths here are host paths that the name rules have already resolved;
// every result is the system's own error number (OsCode). Nothing here calls the fault
// hook or checks the access mode: File does both, the same way on every host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"

namespace lum {

// What a host path names; links are followed.
enum class EntryKind : std::uint8_t { Missing, Regular, Directory, Other };

struct DirEntry {
  std::string name;  // as spelled on disk
  EntryKind kind = EntryKind::Other;
};

// What a file or directory is on the host, whatever name reached it: POSIX device and
// inode number, Windows volume serial number and file index. Two names reach the same
// file exactly when their identities are equal.
struct FileId {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  bool operator==(const FileId&) const = default;
};

// How an entry of a directory was looked for (TooLong: the name is longer than the host
// allows, so that no entry can match).
enum class Found : std::uint8_t { Yes, No, NoDirectory, TooLong };

class HostFiles {
 public:
  // An open host file: a descriptor or a handle, kNoHandle for none.
  using Handle = std::intptr_t;
  static constexpr Handle kNoHandle = -1;

  virtual ~HostFiles() = default;

  // Finds `comp` in directory `dir` ("" is the working directory) as the host's names
  // match it without regard to case; `out` gets the spelling on disk.
  virtual Found find_entry(const std::string& dir, std::string_view comp, std::string& out) = 0;
  virtual EntryKind kind(const std::string& path) = 0;
  // The entries of a directory (without "." and ".."), in no particular order.
  virtual int list_dir(const std::string& dir, std::vector<DirEntry>& out) = 0;
  // The identity of the file or directory a host path names ("" is the working
  // directory; links are followed), or of an open file.
  virtual int identity(const std::string& path, FileId& out) = 0;
  virtual int identity(Handle h, FileId& out) = 0;

  // Opens an existing regular file and takes the lock that stands for `share` (see
  // File::open). A directory gives kOsAccessDenied.
  virtual int open(const std::string& path, FileAccess access, FileShare share, Handle& out) = 0;
  // Opens or creates the file for reading and writing, takes the lock of `share`, and
  // only then empties it.
  virtual int create(const std::string& path, FileShare share, Handle& out) = 0;
  // Creates a new file in the host's temporary directory, named `prefix` and a unique
  // tag, that disappears when it is closed (also when the process dies).
  virtual int create_temporary(std::string_view prefix, Handle& out, std::string& path) = 0;
  virtual int close(Handle h) = 0;

  virtual IoResult read_at(Handle h, std::uint64_t offset, void* data, std::size_t n) = 0;
  virtual IoResult write_at(Handle h, std::uint64_t offset, const void* data, std::size_t n) = 0;
  virtual IoResult size(Handle h) = 0;
  virtual int truncate(Handle h, std::uint64_t length) = 0;
  virtual int commit(Handle h) = 0;
  // Copies up to n bytes at `offset` of `from` to the same offset of `to`; fewer only
  // at the end of `from` or on an error, and then `reading` tells whether reading
  // `from` failed (else writing `to` did). This implementation goes through a buffer
  // with read_at and write_at; a host that can copy between files inside itself does.
  virtual IoResult copy_range(Handle from, Handle to, std::uint64_t offset, std::size_t n,
                              bool& reading);
  // A hint to start writing the range to the disk now (File::start_writeback).
  virtual void start_writeback(Handle h, std::uint64_t offset, std::uint64_t length) = 0;
  // Never blocks; a range another opener holds gives kOsFileInUse. `exclusive` on a
  // read-only handle takes a shared lock, on every host. These locks never meet the
  // lock that stands for the open's sharing mode: a record unlock leaves it whole.
  virtual int lock(Handle h, bool read_only, std::uint64_t offset, std::uint64_t length,
                   bool exclusive) = 0;
  virtual int unlock(Handle h, std::uint64_t offset, std::uint64_t length) = 0;

  // Whether this process may write the file `path` names, or create and delete entries
  // in the directory it names (permissions, a read-only attribute): kOsOk, else the
  // system's code. Nothing is opened or changed.
  virtual int may_write(const std::string& path) = 0;

  virtual int remove(const std::string& path) = 0;
  // Renames; the caller has made sure that `to` does not exist.
  virtual int rename(const std::string& from, const std::string& to) = 0;
  // Renames over an existing file in one step: afterwards `to` is the old file or the
  // new one, whole, whatever happens to the process.
  virtual int replace(const std::string& from, const std::string& to) = 0;

  // The size and modification time of a regular file; exists false when there is none.
  virtual int state(const std::string& path, FileState& out) = 0;
  // Sets a regular file's modification time (nanoseconds since 1970, UTC; a host keeps
  // what its clock can hold).
  virtual int set_mtime(const std::string& path, std::int64_t mtime_ns) = 0;
  virtual int make_dir(const std::string& path) = 0;
  // Removes an empty directory.
  virtual int remove_dir(const std::string& path) = 0;
  // Forces the directory's entries (files made, renamed or removed in it) to the disk.
  virtual int commit_dir(const std::string& path) = 0;
};

// The host's own error number (errno, GetLastError()) as the system's (OsCode and the
// other numbers os_code_meaning knows). A number the host does not map is passed on
// as it is.
int os_code_of_host_error(long err);

// The operations of this host.
HostFiles& host_files();

// Name conventions of this host, for the name rules (file_names.cpp).
struct HostNames {
  // What a leading separator means when no drive root was set ("/" on POSIX, "\" on
  // Windows: the root of the current drive).
  const char* default_root;
  // True where "C:" names a drive of the host: without a drive root set, the prefix is
  // then kept and the name is the host's own; with one set, it is dropped, as on hosts
  // without drives.
  bool drive_letters;
};
const HostNames& host_names();

}  // namespace lum
