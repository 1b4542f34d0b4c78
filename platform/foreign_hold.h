// Another program's hold on a file, as the tests of sharing take one to show how the
// run's own opens meet it: on POSIX a classic fcntl record lock (the kind file servers
// for Windows clients and other programs on the host take), on Windows an open with
// share modes that keep others out. Each kind exists on one host only; on the other it
// gives kOsNotSupported. Move-only; the hold ends when released or destroyed.
#pragma once

#include <cstdint>
#include <string>

namespace lum {

class ForeignHold {
 public:
  ForeignHold() = default;
  ~ForeignHold() { release(); }
  ForeignHold(const ForeignHold&) = delete;
  ForeignHold& operator=(const ForeignHold&) = delete;

  // POSIX: a classic fcntl record lock of this process on `length` bytes from `start`
  // (0: to the end of the file and beyond), for writing or for reading. Never waits.
  // 0, or kOsFileInUse when another holder's lock is in the way.
  int lock_range(const std::string& host_path, bool write, std::uint64_t start,
                 std::uint64_t length);
  // Windows: an open for reading whose share modes let others read but not write
  // (deny_all: not even read). 0, or kOsFileInUse when another opener is in the way.
  int open_sharing(const std::string& host_path, bool deny_all);
  void release();

 private:
  std::intptr_t handle_ = -1;
};

}  // namespace lum
