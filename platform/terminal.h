// The host terminal: whether the standard streams are terminals (a Windows console; a
// file, a pipe or NUL is none), the size of the one on standard output, a key mode for
// reading single keys without echo, raw writes, and the stop requests (POSIX signals,
// Windows console control events) that end a run at its next safe point.
#pragma once

#include <functional>
#include <string_view>
#include <thread>
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

// Starts a thread for work that never waits for the operator (hashing what the run's
// thread copies). The stop requests never reach it: POSIX blocks their signals in it,
// so that they reach the run's own thread and wake its wait for a key; Windows
// delivers them on a thread of its own anyway.
std::thread start_worker_thread(std::function<void()> work);

// Test seam: the stop requests of this host (POSIX: SIGINT, SIGQUIT, SIGTERM, SIGHUP;
// Windows: Ctrl+C, Ctrl+Break, closing the console window) and their delivery to this
// process the way the host delivers them (a signal; a call of the control handler on a
// thread of its own). Returns once the installed handler has seen the request.
std::vector<int> host_stop_requests();
void deliver_stop_request(int request);
// Test seam, POSIX: sends the request to the process as a whole, as a terminal or
// another program does, without waiting for it to be handled; and holds the stop
// requests back on the calling thread while `hold` is true (one sent meanwhile waits
// for a thread that takes it). Windows, where the control thread takes them: nothing.
void send_stop_request_to_process(int request);
void hold_stop_requests(bool hold);

}  // namespace lum
