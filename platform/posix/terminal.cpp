#include "platform/terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace lum {

namespace {

struct termios g_saved_mode;
volatile sig_atomic_t g_mode_taken = 0;
bool g_atexit_registered = false;

void restore_at_exit() { restore_terminal_mode(); }

}  // namespace

// POSIX streams never translate line ends. A standard descriptor the program was started
// without (a shell's >&-) would be taken by the next file the program opens, and what
// the program writes to the stream would land in that file: it is opened on the null
// device first.
void prepare_standard_streams() {
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    int null_fd = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (null_fd >= 0 && null_fd != fd) {
      ::dup2(null_fd, fd);
      ::close(null_fd);
    }
  }
}

bool stdin_is_terminal() { return ::isatty(STDIN_FILENO) == 1; }

bool stdout_is_terminal() { return ::isatty(STDOUT_FILENO) == 1; }

TerminalSize terminal_size() {
  struct winsize ws = {};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) != 0) return {};
  return TerminalSize{ws.ws_row, ws.ws_col};
}

bool enter_key_mode() {
  if (!stdin_is_terminal()) return false;
  if (g_mode_taken != 0) return true;
  struct termios mode;
  if (::tcgetattr(STDIN_FILENO, &mode) != 0) return false;
  g_saved_mode = mode;
  mode.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  mode.c_cc[VMIN] = 1;
  mode.c_cc[VTIME] = 0;
  if (::tcsetattr(STDIN_FILENO, TCSANOW, &mode) != 0) return false;
  g_mode_taken = 1;
  if (!g_atexit_registered) {
    g_atexit_registered = true;
    std::atexit(restore_at_exit);
  }
  return true;
}

void restore_terminal_mode() noexcept {
  if (g_mode_taken == 0) return;
  g_mode_taken = 0;
  ::tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_mode);
}

bool write_stdout(std::string_view bytes) {
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = ::write(STDOUT_FILENO, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

int read_stdin_byte(int timeout_ms) {
  struct pollfd pfd = {STDIN_FILENO, POLLIN, 0};
  int ready = ::poll(&pfd, 1, timeout_ms < 0 ? -1 : timeout_ms);
  if (ready < 0) return errno == EINTR ? kReadInterrupted : kReadEnd;
  if (ready == 0) return kReadTimeout;
  unsigned char b = 0;
  ssize_t n = ::read(STDIN_FILENO, &b, 1);
  if (n == 1) return b;
  if (n < 0 && errno == EINTR) return kReadInterrupted;
  return kReadEnd;
}

// The interrupt and quit keys (Ctrl+C, Ctrl+\), a request to end, and a terminal that
// has gone: each would otherwise end the process between two writes of a table.
std::vector<int> host_stop_requests() { return {SIGINT, SIGQUIT, SIGTERM, SIGHUP}; }

void deliver_stop_request(int request) { ::raise(request); }  // handled before it returns

namespace {
sigset_t stop_signals() {
  sigset_t stops;
  sigemptyset(&stops);
  for (int sig : host_stop_requests()) sigaddset(&stops, sig);
  return stops;
}
}  // namespace

void send_stop_request_to_process(int request) { ::kill(::getpid(), request); }

void hold_stop_requests(bool hold) {
  const sigset_t stops = stop_signals();
  ::pthread_sigmask(hold ? SIG_BLOCK : SIG_UNBLOCK, &stops, nullptr);
}

std::thread start_worker_thread(std::function<void()> work) {
  const sigset_t stops = stop_signals();
  sigset_t before;
  ::pthread_sigmask(SIG_BLOCK, &stops, &before);
  // The new thread starts with the mask of this one.
  struct Restore {
    sigset_t& mask;
    ~Restore() { ::pthread_sigmask(SIG_SETMASK, &mask, nullptr); }
  } restore{before};
  return std::thread(std::move(work));
}

void install_stop_signals(void (*handler)(int)) {
  struct sigaction sa = {};
  sa.sa_handler = handler != nullptr ? handler : SIG_DFL;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: a wait for a key must wake up
  for (int sig : host_stop_requests()) ::sigaction(sig, &sa, nullptr);
  // A write past the file-size limit must fail with an error the run can report and
  // recover its tables from, not kill the process. So must a write to a pipe whose
  // reader has gone (the operator quit the pager the output went into): the lines are
  // lost, the run and its tables are not.
  for (int sig : {SIGXFSZ, SIGPIPE}) ::signal(sig, handler != nullptr ? SIG_IGN : SIG_DFL);
}

}  // namespace lum
