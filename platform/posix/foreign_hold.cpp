// Another program's hold on a file, POSIX: a classic fcntl record lock.
#include "platform/foreign_hold.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file.h"
#include "platform/host_files.h"

namespace lum {

int ForeignHold::lock_range(const std::string& host_path, bool write, std::uint64_t start,
                            std::uint64_t length) {
  release();
  const int fd = ::open(host_path.c_str(), (write ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  if (fd < 0) return os_code_of_host_error(errno);
  struct flock fl = {};
  fl.l_type = write ? F_WRLCK : F_RDLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(start);
  fl.l_len = static_cast<off_t>(length);
  if (::fcntl(fd, F_SETLK, &fl) != 0) {
    const int err = errno;
    ::close(fd);
    return err == EAGAIN || err == EACCES ? kOsFileInUse : os_code_of_host_error(err);
  }
  handle_ = fd;
  return kOsOk;
}

int ForeignHold::open_sharing(const std::string&, bool) { return kOsNotSupported; }

void ForeignHold::release() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
  handle_ = -1;
}

}  // namespace lum
