// Another program's hold on a file, Windows: an open with share modes that keep others
// out.
#include "platform/foreign_hold.h"

#include <windows.h>

#include "platform/file.h"
#include "platform/windows/internal.h"

namespace lum {

int ForeignHold::lock_range(const std::string&, bool, std::uint64_t, std::uint64_t) {
  return kOsNotSupported;
}

int ForeignHold::open_sharing(const std::string& host_path, bool deny_all) {
  release();
  HANDLE h = ::CreateFileA(host_path.c_str(), GENERIC_READ, deny_all ? 0 : FILE_SHARE_READ,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return map_windows_error(::GetLastError());
  handle_ = reinterpret_cast<std::intptr_t>(h);
  return kOsOk;
}

void ForeignHold::release() {
  if (handle_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
}

}  // namespace lum
