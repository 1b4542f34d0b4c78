// The host machine as the error log describes it: its name, its operating system and
// the memory still free. Texts only; nothing here fails.
#pragma once

#include <cstdint>
#include <string>

namespace lum {

// The machine's network name; "" when the host gives none.
std::string host_name();
// The operating system's name, release and machine ("Linux 6.1.0 x86_64").
std::string os_description();
// Physical memory not in use, in kilobytes; 0 when unknown.
std::uint64_t available_memory_kb();

}  // namespace lum
