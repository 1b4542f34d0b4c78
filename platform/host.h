// The host machine as the error log describes it: its name, its operating system, the
// memory still free, the current disk and directory and the space free on it. Texts
// and numbers only; nothing here fails.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace lum {

// The machine's network name; "" when the host gives none.
std::string host_name();
// The operating system's name, release and machine ("Linux 6.1.0 x86_64",
// "Windows 10.0.19045 x86_64").
std::string os_description();
// Physical memory not in use, in kilobytes; 0 when unknown.
std::uint64_t available_memory_kb();
// The disk that a leading "\" names: the drive root when one is set, else the host's
// own ("/" on POSIX; the working directory's drive, "C:", on Windows).
std::string current_disk();
// The working directory as the host spells it; "" when unknown.
std::string current_directory();
// Bytes free to this process on the disk of the working directory; none when unknown.
std::optional<std::uint64_t> free_disk_bytes();

}  // namespace lum
