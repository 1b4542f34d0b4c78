// The Windows console as the terminal layer sees it: console modes instead of termios,
// console input records turned into the bytes a terminal would send, and console
// control events (Ctrl+C, Ctrl+Break, closing the window, log-off, shutdown) instead of
// stop signals.
#include "platform/terminal.h"

#include "platform/windows/internal.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace lum {

namespace {

HANDLE std_in() { return ::GetStdHandle(STD_INPUT_HANDLE); }
HANDLE std_out() { return ::GetStdHandle(STD_OUTPUT_HANDLE); }

// A console, not a file, a pipe or NUL (which _isatty takes for a terminal).
bool is_console(HANDLE h) {
  DWORD mode;
  return h != nullptr && h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &mode) != 0;
}

DWORD g_saved_mode = 0;
std::atomic<bool> g_mode_taken{false};
bool g_atexit_registered = false;

// The output mode found before the escape sequences were switched on.
DWORD g_saved_out_mode = 0;
std::atomic<bool> g_out_mode_taken{false};

void restore_output_mode() {
  if (g_out_mode_taken.exchange(false)) ::SetConsoleMode(std_out(), g_saved_out_mode);
}

void restore_at_exit() {
  restore_terminal_mode();
  restore_output_mode();
}

// The terminal back end draws with escape sequences: a console shows them once asked
// to (Windows 10 on); the mode it had comes back at exit.
void take_escape_sequences(HANDLE out) {
  if (g_out_mode_taken) return;
  DWORD mode;
  if (!::GetConsoleMode(out, &mode)) return;
  if (!::SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) return;
  g_saved_out_mode = mode;
  g_out_mode_taken = true;
  if (!g_atexit_registered) {
    g_atexit_registered = true;
    std::atexit(restore_at_exit);
  }
}

// Bytes of a key already read from the console but not yet handed out (the escape
// sequences of the cursor keys).
std::string g_pending;

// The bytes a terminal sends for a key; "" for keys that send none.
std::string key_bytes(const KEY_EVENT_RECORD& k) {
  switch (k.wVirtualKeyCode) {
    case VK_UP:
      return "\x1b[A";
    case VK_DOWN:
      return "\x1b[B";
    case VK_RIGHT:
      return "\x1b[C";
    case VK_LEFT:
      return "\x1b[D";
    case VK_HOME:
      return "\x1b[H";
    case VK_END:
      return "\x1b[F";
    case VK_TAB:
      return (k.dwControlKeyState & SHIFT_PRESSED) != 0 ? "\x1b[Z" : "\t";
    default:
      break;
  }
  char ch = k.uChar.AsciiChar;
  return ch != 0 ? std::string(1, ch) : std::string();
}

std::atomic<void (*)(int)> g_stop_handler{nullptr};
// A control event arrived since the last look: a wait for a key ends, as a signal ends
// poll() on POSIX.
std::atomic<bool> g_stop_seen{false};
// Requests the handler has seen, for deliver_stop_request().
std::atomic<int> g_seen_count{0};
// Set once the run has closed its tables (install_stop_signals(nullptr)); the control
// thread of a close event waits for it, since Windows ends the process as soon as the
// handler returns.
HANDLE g_run_closed = nullptr;

HANDLE g_stop_event = nullptr;
std::thread g_stop_watcher;

BOOL WINAPI on_control(DWORD event);

// Turns a signalled stop event into the console's Ctrl+Break, until the run is closed.
void watch_stop_event() {
  HANDLE both[2] = {g_stop_event, g_run_closed};
  while (::WaitForMultipleObjects(2, both, FALSE, INFINITE) == WAIT_OBJECT_0) {
    on_control(CTRL_BREAK_EVENT);
  }
}

BOOL WINAPI on_control(DWORD event) {
  void (*handler)(int) = g_stop_handler.load();
  if (handler == nullptr) return FALSE;
  handler(static_cast<int>(event));
  g_stop_seen = true;
  ++g_seen_count;
  switch (event) {
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      if (g_run_closed != nullptr) ::WaitForSingleObject(g_run_closed, INFINITE);
      break;
    default:
      break;
  }
  return TRUE;
}

}  // namespace

std::string stop_event_name(unsigned long pid) {
  return "Local\\lumconv-stop-" + std::to_string(pid);
}

void prepare_standard_streams() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

bool stdin_is_terminal() { return is_console(std_in()); }

bool stdout_is_terminal() { return is_console(std_out()); }

TerminalSize terminal_size() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!::GetConsoleScreenBufferInfo(std_out(), &info)) return {};
  return TerminalSize{info.dwSize.Y, info.dwSize.X};
}

bool enter_key_mode() {
  if (!stdin_is_terminal()) return false;
  if (g_mode_taken) return true;
  DWORD mode;
  if (!::GetConsoleMode(std_in(), &mode)) return false;
  g_saved_mode = mode;
  // Single keys without echo; Ctrl+C stays a control event.
  DWORD keys =
      (mode & ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT)) | ENABLE_PROCESSED_INPUT;
  if (!::SetConsoleMode(std_in(), keys)) return false;
  g_mode_taken = true;
  if (!g_atexit_registered) {
    g_atexit_registered = true;
    std::atexit(restore_at_exit);
  }
  return true;
}

void restore_terminal_mode() noexcept {
  if (!g_mode_taken.exchange(false)) return;
  ::SetConsoleMode(std_in(), g_saved_mode);
}

bool write_stdout(std::string_view bytes) {
  HANDLE out = std_out();
  if (is_console(out)) take_escape_sequences(out);
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    DWORD chunk = left > 0x10000 ? 0x10000 : static_cast<DWORD>(left);
    DWORD put = 0;
    if (!::WriteFile(out, p, chunk, &put, nullptr) || put == 0) return false;
    p += put;
    left -= put;
  }
  return true;
}

int read_stdin_byte(int timeout_ms) {
  if (!g_pending.empty()) {
    unsigned char b = static_cast<unsigned char>(g_pending.front());
    g_pending.erase(0, 1);
    return b;
  }
  HANDLE in = std_in();
  if (!is_console(in)) {
    // Input from a file or a pipe: a plain read, without a time limit.
    unsigned char b = 0;
    DWORD got = 0;
    return ::ReadFile(in, &b, 1, &got, nullptr) && got == 1 ? b : kReadEnd;
  }
  ULONGLONG deadline = timeout_ms < 0 ? 0 : ::GetTickCount64() + static_cast<ULONGLONG>(timeout_ms);
  for (;;) {
    DWORD wait = INFINITE;
    if (timeout_ms >= 0) {
      ULONGLONG now = ::GetTickCount64();
      if (now >= deadline) return kReadTimeout;
      wait = static_cast<DWORD>(deadline - now);
    }
    // A stop request wakes the wait within a moment, as a signal interrupts poll().
    DWORD slice = wait > 100 ? 100 : wait;
    DWORD w = ::WaitForSingleObject(in, slice);
    if (w == WAIT_FAILED) return kReadEnd;
    if (w == WAIT_TIMEOUT) {
      if (g_stop_seen.exchange(false)) return kReadInterrupted;
      continue;
    }
    INPUT_RECORD rec;
    DWORD got = 0;
    if (!::ReadConsoleInputA(in, &rec, 1, &got)) return kReadEnd;
    if (got == 0 || rec.EventType != KEY_EVENT || !rec.Event.KeyEvent.bKeyDown) continue;
    std::string bytes = key_bytes(rec.Event.KeyEvent);
    if (bytes.empty()) continue;
    g_pending = bytes.substr(1);
    return static_cast<unsigned char>(bytes.front());
  }
}

std::vector<int> host_stop_requests() { return {CTRL_C_EVENT, CTRL_BREAK_EVENT, CTRL_CLOSE_EVENT}; }

void deliver_stop_request(int request) {
  // Windows runs the handler on a thread it creates for the event; so does this.
  int before = g_seen_count.load();
  std::thread([request] { on_control(static_cast<DWORD>(request)); }).detach();
  while (g_seen_count.load() == before && g_stop_handler.load() != nullptr) ::Sleep(1);
}

std::thread start_worker_thread(std::function<void()> work) { return std::thread(std::move(work)); }

void send_stop_request_to_process(int) {}
void hold_stop_requests(bool) {}

void install_stop_signals(void (*handler)(int)) {
  if (handler != nullptr) {
    if (g_run_closed == nullptr) g_run_closed = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ::ResetEvent(g_run_closed);
    g_stop_handler = handler;
    ::SetConsoleCtrlHandler(on_control, TRUE);
    if (g_stop_event == nullptr) {
      g_stop_event =
          ::CreateEventA(nullptr, FALSE, FALSE, stop_event_name(::GetCurrentProcessId()).c_str());
    }
    if (g_stop_event != nullptr && !g_stop_watcher.joinable()) {
      g_stop_watcher = std::thread(watch_stop_event);
    }
  } else {
    ::SetConsoleCtrlHandler(on_control, FALSE);
    g_stop_handler = nullptr;
    if (g_run_closed != nullptr) ::SetEvent(g_run_closed);
    if (g_stop_watcher.joinable() && g_stop_watcher.get_id() != std::this_thread::get_id()) {
      g_stop_watcher.join();
    }
  }
}

}  // namespace lum
