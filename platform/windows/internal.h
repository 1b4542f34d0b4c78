// Inside platform/ on Windows: what the Windows half's files share.
#pragma once

#include <string>

namespace lum {

// A Win32 error (GetLastError) as the system's own error number. 2, 3, 5, 32 and 112
// are Windows' own; a lock violation (33) is "in use" (32), a full disk through a
// handle (39) is 112, bad names and directory names are 3.
int map_windows_error(unsigned long err);

// The event through which Process::interrupt() asks process `pid` to stop when the two
// share no console to send Ctrl+Break through (install_stop_signals watches it).
std::string stop_event_name(unsigned long pid);

}  // namespace lum
