#include "tests/support/undo_snapshots.h"

#include <stdexcept>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#endif

namespace lum::test {

namespace fs = std::filesystem;

namespace {

// Gives `to` the modification time of `from`, to the host's own precision. The
// toolchain's std::filesystem for Windows reads and sets times to the second only,
// while the program keeps (and an undo compares) the host's 100 ns.
void copy_time(const fs::path& from, const fs::path& to) {
#ifdef _WIN32
  constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  FILETIME t{};
  HANDLE a = ::CreateFileW(from.c_str(), FILE_READ_ATTRIBUTES, kShare, nullptr, OPEN_EXISTING,
                           0, nullptr);
  const bool read = a != INVALID_HANDLE_VALUE && ::GetFileTime(a, nullptr, nullptr, &t);
  if (a != INVALID_HANDLE_VALUE) ::CloseHandle(a);
  HANDLE b = read ? ::CreateFileW(to.c_str(), FILE_WRITE_ATTRIBUTES, kShare, nullptr,
                                  OPEN_EXISTING, 0, nullptr)
                  : INVALID_HANDLE_VALUE;
  const bool set = b != INVALID_HANDLE_VALUE && ::SetFileTime(b, nullptr, nullptr, &t);
  if (b != INVALID_HANDLE_VALUE) ::CloseHandle(b);
  if (!set) throw std::runtime_error("cannot copy the time of " + from.string());
#else
  fs::last_write_time(to, fs::last_write_time(from));
#endif
}

}  // namespace

Snapshots snapshots_in(const fs::path& dir) {
  Snapshots s;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir / kUndoFolder, ec)) {
    if (e.is_directory()) ++(fs::exists(e.path() / "manifest.txt") ? s.whole : s.partial);
  }
  return s;
}

void copy_tree(const fs::path& from, const fs::path& to) {
  fs::copy(from, to, fs::copy_options::recursive);
  for (const auto& e : fs::recursive_directory_iterator(from)) {
    if (e.is_regular_file()) copy_time(e.path(), to / fs::relative(e.path(), from));
  }
}

}  // namespace lum::test
