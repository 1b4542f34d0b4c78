#include "platform/host.h"

#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <unistd.h>

#include "platform/file.h"

namespace lum {

std::string host_name() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

std::string os_description() {
  struct utsname u = {};
  if (::uname(&u) != 0) return "";
  return std::string(u.sysname) + " " + u.release + " " + u.machine;
}

std::uint64_t available_memory_kb() {
  long pages = ::sysconf(_SC_AVPHYS_PAGES);
  long page_size = ::sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return 0;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size) / 1024;
}

std::string current_disk() { return drive_root(); }

std::string current_directory() {
  char buf[4096];
  return ::getcwd(buf, sizeof buf) != nullptr ? std::string(buf) : std::string();
}

std::optional<std::uint64_t> free_disk_bytes() {
  struct statvfs st = {};
  if (::statvfs(".", &st) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(st.f_bavail) * static_cast<std::uint64_t>(st.f_frsize);
}

}  // namespace lum
