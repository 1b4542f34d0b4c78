// POSIX terminals are byte streams drawn with escape sequences: no cell buffer to open.
#include "platform/console_buffer.h"

namespace lum {

std::unique_ptr<ConsoleBuffer> open_console_buffer() { return nullptr; }

std::unique_ptr<ConsoleBuffer> open_scratch_console_buffer() { return nullptr; }

}  // namespace lum
