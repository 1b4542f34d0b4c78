// The host terminal: whether the standard streams are terminals (a Windows console; a
// file, a pipe or NUL is none), the size of the one on standard output, a key mode for
// reading single keys without echo, raw writes, and the stop requests (POSIX signals,
// Windows console control events) that end a run at its next safe point.
#pragma once

#include <string_view>
#include <vector>

namespace lum {

// Makes standard input, output and error carry bytes unchanged, with no line-end
// translation (Windows' text mode would write "\n" as "\r\n"), so that a program's
// output is the same bytes on every host, and makes each of them safe to use when the
// program was started without it: no file the program opens later can take its place
// (POSIX: a closed one is opened on the null device). Every program calls it first.
void prepare_standard_streams();

bool stdin_is_terminal();
bool stdout_is_terminal();

// Rows and columns of the terminal on standard output; 0 and 0 when unknown.
struct TerminalSize {
  int rows = 0;
  int cols = 0;
};
TerminalSize terminal_size();

// Switches the terminal on standard input to single keys without echo (the interrupt
// keys still raise their signals) and remembers the mode it found, which
// restore_terminal_mode() puts back; it is also put back at process exit. False when
// standard input is no terminal.
bool enter_key_mode();
// Puts back the mode found by enter_key_mode(); does nothing when none was taken.
// Async-signal-safe.
void restore_terminal_mode() noexcept;

// Writes all bytes to standard output, retrying short and interrupted writes; false when
// the output is gone.
bool write_stdout(std::string_view bytes);

// Reads one byte from standard input, waiting at most timeout_ms (a negative timeout
// waits without limit). Results: 0..255 the byte; kReadTimeout; kReadInterrupted when a
// signal arrived while waiting; kReadEnd at end of input or on an error.
inline constexpr int kReadTimeout = -1;
inline constexpr int kReadInterrupted = -2;
inline constexpr int kReadEnd = -3;
int read_stdin_byte(int timeout_ms);

// Routes the stop requests to `handler` (nullptr: back to their default actions).
// POSIX: SIGINT, SIGQUIT, SIGTERM and SIGHUP; blocking reads are not restarted, so a
// wait for a key sees the signal; while a handler is installed, SIGXFSZ and SIGPIPE are
// ignored, so a write beyond the file-size limit, or to a pipe nobody reads any more,
// fails with an error instead of ending the process.
// Windows: Ctrl+C, Ctrl+Break, closing the console window, log-off and shutdown; the
// handler runs on the console's control thread, and for the last three that thread
// then waits until install_stop_signals(nullptr) says the run has closed its tables,
// because Windows ends the process as soon as it returns.
// REQUIRES: handler is async-signal-safe and may run on another thread.
void install_stop_signals(void (*handler)(int));

// Test seam: the stop requests of this host (POSIX: SIGINT, SIGQUIT, SIGTERM, SIGHUP;
// Windows: Ctrl+C, Ctrl+Break, closing the console window) and their delivery to this
// process the way the host delivers them (a signal; a call of the control handler on a
// thread of its own). Returns once the installed handler has seen the request.
std::vector<int> host_stop_requests();
void deliver_stop_request(int request);

}  // namespace lum
