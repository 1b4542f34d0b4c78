// Inside platform/ on Windows: a Win32 error (GetLastError) as the system's own error
// number. 2, 3, 5, 32 and 112 are Windows' own; a lock violation (33) is "in use" (32),
// a full disk through a handle (39) is 112, bad names and directory names are 3.
#pragma once

namespace lum {

int map_windows_error(unsigned long err);

}  // namespace lum
