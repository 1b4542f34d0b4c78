// Host files: the one way every file of the run is named, opened, read and written.
// Names use "\" or "/" as separators and match without regard to letter case; opens
// are exclusive or shared, enforced with operating-system locks across processes;
// failures are reported as the system's own error numbers (the OsCode values below).
// The same on every host: the name rules (file_names.cpp), File and its fault seam
// (file.cpp), the operations by name (file_ops.cpp) and the listings (file_listing.cpp)
// sit above the host's own calls (posix/, windows/).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lum {

// Operating-system error codes as the system numbers them. Every host reports its
// errors with these numbers (POSIX errno values are mapped onto them), so that a number
// means the same on every host; a host error without one of these meanings is reported
// as the host's own number.
enum OsCode : int {
  kOsOk = 0,
  kOsFileNotFound = 2,
  kOsPathNotFound = 3,
  kOsTooManyOpenFiles = 4,
  kOsAccessDenied = 5,
  kOsNotEnoughMemory = 8,
  kOsNotSameDevice = 17,  // a rename to another drive or file system
  kOsWriteProtected = 19,
  kOsNotReady = 21,  // the device is not ready, or there is no such device
  kOsDataError = 23,
  kOsWriteFault = 29,
  kOsReadFault = 30,
  kOsDeviceFailure = 31,  // a device of the system is not working
  kOsFileInUse = 32,
  kOsTooManyLocks = 36,
  kOsNotSupported = 50,
  kOsNetworkPathNotFound = 53,
  kOsNetworkNameGone = 64,
  kOsFileExists = 80,
  kOsInvalidParameter = 87,
  kOsPipeClosed = 109,
  kOsDiskFull = 112,
  kOsTimedOut = 121,
  kOsDirectoryNotEmpty = 145,
  kOsAlreadyExists = 183,
  kOsNameTooLong = 206,    // a name or path longer than the host allows
  kOsFileTooLarge = 223,
  kOsInterrupted = 995,
  kOsDeviceError = 1117,   // an input/output error of the device
  kOsTooManyLinks = 1142,
  kOsCannotResolve = 1921  // a name the host cannot resolve (symbolic links in a loop)
};

// An operator's plain meaning of an OS code that this layer reports ("file not found",
// "in use by another program", "disk full"), to stand beside the number; the same text
// on every host. A number without a meaning of its own (a host error this layer does
// not map) gives "system error". Never empty.
std::string_view os_code_meaning(int oscode);

// The directory that a leading "\" names (the root of the current drive). Start-up
// sets it from //DRIVE:; until then it is the host's own root ("/" on POSIX; on
// Windows "\", the root of the current drive). While a drive root is set, a drive
// prefix such as "C:" is dropped on every host, so "C:\x" and "\x" both name x under
// it; without one, Windows keeps "C:\x" as its own absolute name.
void set_drive_root(std::string root);
const std::string& drive_root();

// The host path of a name. Every directory component and the last component are
// matched case-blind, component by component: an exact match wins; otherwise the one
// entry that equals the component without regard to case; when several entries differ
// only in case, the smallest in byte order (so "ABC" before "Abc" before "abc").
// `path` is always filled: with the last component spelled as found, or as given when
// it does not exist. oscode: 0 found, 2 the last component is missing, 3 a directory
// on the way is missing or is not a directory.
struct ResolvedName {
  std::string path;
  int oscode = kOsOk;
};
ResolvedName resolve_name(std::string_view name);

// True when the name resolves to an existing regular file.
bool file_exists(std::string_view name);

enum class FileAccess : std::uint8_t { ReadWrite, ReadOnly };
enum class FileShare : std::uint8_t { Exclusive, Shared };

// Result of a transfer: the bytes moved, and the OS code of the failure that stopped
// it early (0 when it stopped only at the end of the file).
struct IoResult {
  std::uint64_t bytes = 0;
  int oscode = kOsOk;
};

// An open host file. Move-only; a default-constructed or closed File is empty and
// every operation on it fails with kOsAccessDenied. The destructor closes without
// committing and never throws.
class File {
 public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Opens an existing file. Exclusive denies every other opener (in this or any other
  // process) and is refused while anyone holds the file; shared denies nobody but an
  // exclusive opener. A file held by another opener gives kOsFileInUse. Only a regular
  // file opens: a directory, pipe or device gives kOsAccessDenied, without waiting for
  // a pipe's other end. Returns the OS code, 0 on success.
  int open(std::string_view name, FileAccess access, FileShare share);
  // Opens for reading (shared) the operator's own file that the name stands for,
  // passing by its scratch copy while the copies are on: the file as it was before the
  // dry run, which never writes it. Otherwise the same as open(name, ReadOnly, Shared).
  int open_original(std::string_view name);
  // Opens the file at a host path as path(), changed_files() and scratch_files() give
  // it: the path is used as it is, without the name rules (no drive root, no case-blind
  // look-up); otherwise as open.
  int open_path(std::string_view host_path, FileAccess access, FileShare share);
  // Creates the file, or empties an existing one, for reading and writing. An existing
  // file that matches case-blind keeps its spelling; else the name is used as given.
  // An existing directory, pipe or device gives kOsAccessDenied.
  int create(std::string_view name, FileShare share);
  // Creates a new, empty file in the host's temporary directory (which may be on
  // another drive), named `prefix` and a unique tag, for reading and writing and held
  // exclusively. It disappears when closed, also when the process dies; path() names it.
  int create_temporary(std::string_view prefix);
  // Closes the file (no commit). Returns the OS code of the close.
  int close();

  bool is_open() const;
  bool read_only() const { return access_ == FileAccess::ReadOnly; }
  bool shared() const { return share_ == FileShare::Shared; }
  // The host path that was opened.
  const std::string& path() const { return path_; }

  // Reads up to n bytes at offset; fewer only at the end of the file or on an error.
  IoResult read_at(std::uint64_t offset, void* data, std::size_t n);
  // Writes n bytes at offset; fewer only on an error (kOsDiskFull when the disk is full).
  IoResult write_at(std::uint64_t offset, const void* data, std::size_t n);
  // Copies up to n bytes at `offset` of `from` to the same offset of this file, inside
  // the host where it can (the bytes need not pass through this process). Fewer only at
  // the end of `from` or on an error; `reading` then tells whether reading `from` failed
  // (else writing this file did). The fault seam sees a read of `from` and a write of
  // this file.
  IoResult copy_from(File& from, std::uint64_t offset, std::size_t n, bool& reading);
  // The file's size in bytes (in `bytes`).
  IoResult size() const;
  // Sets the end of the file at `length`, cutting or zero-extending it.
  int truncate(std::uint64_t length);
  // Forces written data to the disk.
  int commit();
  // Asks the host to start writing the range to the disk now, without waiting for it,
  // so that a later commit finds most of it there. Only a hint: nothing is reported,
  // and hosts without such a request do nothing.
  void start_writeback(std::uint64_t offset, std::uint64_t length);

  // Byte-range locks for shared use; they never block. exclusive=false takes a read
  // lock. A range held by another opener gives kOsFileInUse.
  int lock_range(std::uint64_t offset, std::uint64_t length, bool exclusive);
  int unlock_range(std::uint64_t offset, std::uint64_t length);

 private:
  // Adds this file to changed_files() the first time it changes.
  void note_change();
  int open_resolved(const ResolvedName& r, FileAccess access, FileShare share);

  std::intptr_t handle_ = -1;  // the host's descriptor or handle
  bool changed_ = false;
  FileAccess access_ = FileAccess::ReadOnly;
  FileShare share_ = FileShare::Shared;
  std::string path_;
};

// The files this process has changed through File since it started (or since
// forget_changed_files()), by host path as opened, in the order first changed: created,
// written to, or cut or extended; a file reached through several names is listed once.
// What a run's account to the operator lists.
std::vector<std::string> changed_files();
void forget_changed_files();

// Whether the run changed the file that `name` names (resolved as File::open resolves
// it): among changed_files(), or, while the scratch copies are on, a file whose copy
// the run wrote, created, emptied, deleted or renamed away. Files are compared by what
// they are on the host (POSIX device and inode, Windows volume and file index), never
// by how their names are spelled: every name that reaches the same file (letter case,
// "\" or "/", a drive letter in either case, a drive root given in another form, a
// relative name, a symbolic link) gives the same answer.
bool changed_by_run(std::string_view name);

// The part of the host path `host_path` below the directory `dir` (a host path; "" is
// the working directory): its components after the one that is `dir`, joined with
// "/", as spelled in `host_path`; nullopt when it does not lie below `dir`. Directories
// are compared by what they are on the host, as changed_by_run compares files, so
// every spelling of `dir` and of the path gives the same answer; the file itself need
// not exist.
std::optional<std::string> path_below(std::string_view host_path, std::string_view dir);

// Deletes a file / renames a file; both resolve names like File::open. OS code result.
int delete_file(std::string_view name);
int rename_file(std::string_view from, std::string_view to);
// Renames `from` over `to`, which may exist, in one step: whatever happens to the
// process, `to` is afterwards the old file or the new one, whole.
int replace_file(std::string_view from, std::string_view to);

// A regular file's size and last modification time (nanoseconds since 1970, UTC), or
// that there is none.
struct FileState {
  bool exists = false;
  std::uint64_t size = 0;
  std::int64_t mtime_ns = 0;
};
// The state of the file a name reaches (exists false when none: not an error). OS code.
int file_state(std::string_view name, FileState& out);
// Sets a file's modification time, to what the host's clock can hold of it.
int set_file_time(std::string_view name, std::int64_t mtime_ns);

// Makes a directory; kOsAlreadyExists when it is there already (as a directory), so that
// of two processes making the same one only one succeeds. The parent must exist.
int make_directory(std::string_view name);
// Removes an empty directory.
int remove_directory(std::string_view name);
// Forces a directory's entries to the disk, so that files made, renamed or removed in
// it stay so after a power cut (hosts that keep them so by themselves do nothing).
int commit_directory(std::string_view name);
// The subdirectories of a directory, as spelled on disk, sorted in byte order; none for
// an unknown directory.
std::vector<std::string> list_directories(std::string_view dir);

// Regular files of the directory part of `pattern` whose name part matches its last
// component case-blind, with "*" for any run and "?" for one character ("*.*" names
// every file, with or without an extension). The names come back as spelled on disk,
// sorted in byte order; an unknown directory gives none.
std::vector<std::string> list_files(std::string_view pattern);

// --- scratch copies, for a dry run ---
// While they are on, no file is opened for writing, locked exclusively, created,
// emptied, deleted or renamed: each such use works on a private copy of the file below
// the scratch directory instead — copied there (under a shared lock, which fails with
// 32 while another opener holds the file exclusively) at its first open for writing or
// exclusive use, made there by a create, marked gone by a delete or rename — and every
// later use of the name, listings and existence tests included, sees the copy. A use
// that would fail on the file itself fails alike: a file this process may not write,
// or a new file in a directory it may not write, gives 5. A shared read of a file
// without a copy reads the file where it is.
// begin_scratch is false when `dir` is not a directory. REQUIRES: `dir` is empty and no
// File is open.
bool begin_scratch(const std::string& dir);
// Makes a new, empty directory with a name of its own in the host's directory for
// temporary files: `prefix` followed by random characters. Its host
// path, "" when none could be made.
std::string make_temp_directory(std::string_view prefix);
// Back to the files themselves; the copies stay on disk until the directory is removed.
void end_scratch();
bool scratch_active();

// A file the scratch copies stand in for.
struct ScratchFile {
  std::string path;      // the file, absolute host path (it need not exist)
  std::string copy;      // its copy, absolute host path
  bool existed = false;  // the file existed when the copy was made (else it was created)
  bool changed = false;  // the copy was written, created, emptied or deleted
  bool gone = false;     // deleted or renamed away
};
// The files with copies: the changed ones in the order they first changed, then the
// others in the order their copies were made.
std::vector<ScratchFile> scratch_files();

// Test seam: when a hook is set, it is asked before every operation of this file layer
// that reaches the host (File's opens, creates, transfers, size, truncate, commit,
// locks and close, delete_file and rename_file; name look-ups and listings are not
// asked). Returning true makes the operation fail: a read or write is cut to
// `fault.allow` bytes and reports `fault.oscode` (0: a short transfer without an error);
// every other operation is not made and returns `fault.oscode` (kOsAccessDenied when 0),
// except close, which still closes and then reports it. `path` is the host path (for a
// rename its source; for an open or create the path resolved for it); `offset` and `n`
// are the transfer's, the length for truncate, the range for the locks, else 0. Only
// tests set it.
enum class IoOp : std::uint8_t {
  Read,
  Write,
  Open,
  Create,
  Temporary,  // File::create_temporary
  Size,
  Truncate,
  Commit,
  Lock,
  Unlock,
  Close,
  Delete,
  Rename,
  Replace,
  SetTime,
  MakeDirectory,
  RemoveDirectory,
  CommitDirectory
};
inline constexpr int kIoOpCount = 18;
// The operation's name ("read", "create", ...), for test reports.
const char* io_op_name(IoOp op);
struct IoFault {
  std::size_t allow = 0;
  int oscode = kOsOk;
};
using IoFaultHook = std::function<bool(IoOp op, const std::string& path, std::uint64_t offset,
                                       std::size_t n, IoFault& fault)>;
void set_io_fault_hook(IoFaultHook hook);

}  // namespace lum
