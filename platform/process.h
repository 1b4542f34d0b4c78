// Running another program: started with its arguments passed as they are (no shell), in
// a chosen working directory and environment, standard input from nothing, its standard
// output and error captured; then waited for, or stopped as an operator's interrupt key
// would. For the tools and tests that drive the built programs as an operator does.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lum {

// A user of the host by its numeric identities (POSIX user and group ids).
struct HostUser {
  long uid = -1;
  long gid = -1;
};

// When this process runs as the superuser, the unprivileged user a test can start a
// program as, so that file permissions apply to it as they apply to an operator: the
// host's "nobody" (65534 when the host names none). nullopt when this process is not
// the superuser (its own permissions already apply) or the host has no such notion.
std::optional<HostUser> unprivileged_user();

// Gives `path` and, for a directory, everything below it to `user` (POSIX chown). The
// OS code of the first failure, 0 on success.
int give_to_user(const std::string& path, const HostUser& user);

struct ProcessOptions {
  std::string cwd;                     // "" keeps the current directory
  std::vector<std::string> unset_env;  // names removed from the inherited environment
  std::vector<std::string> set_env;    // "NAME=value", added or replacing
  // Files that receive standard output and error; "" captures them into the outcome.
  std::string stdout_file, stderr_file;
  // What standard output is when it is not captured or a file, for the tests of a run
  // whose output cannot be written (stdout_file is then not used).
  enum class Output {
    kNormal,      // stdout_file, or captured
    kReaderGone,  // a pipe whose reading end is closed before the program starts, as
                  // when the program an operator piped the output into has ended
    kClosed,      // not open at all, as after a shell's >&-
  };
  Output stdout_kind = Output::kNormal;
  // Largest file the program may write, in bytes (a host limit; 0: none). Hosts without
  // such a limit refuse to start the program.
  std::uint64_t max_file_size = 0;
  // POSIX only: the program runs as this user, with its group and no supplementary
  // groups, dropped to before the program starts (this process must be the superuser).
  // Hosts without user ids refuse to start the program.
  std::optional<HostUser> run_as;
};

// Windows' exit code of a program ended by Ctrl+C or Ctrl+Break (STATUS_CONTROL_C_EXIT).
inline constexpr int kInterruptedExitCode = static_cast<int>(0xC000013AU);

struct ProcessOutcome {
  bool started = false;  // false: the program could not be started (`out` says why)
  int exit_code = -1;    // the code it exited with; -1 when a signal ended it
  int signal = 0;        // the signal that ended it, 0 for a normal exit
  std::string out, err;  // captured standard output and error
  // The largest resident memory the program reached, in bytes; 0 where the host does
  // not tell.
  std::uint64_t peak_memory_bytes = 0;
};

// A started program. Move-only; the destructor kills and reaps a program still running.
class Process {
 public:
  Process() = default;
  ~Process();
  Process(Process&& other) noexcept;
  Process& operator=(Process&& other) noexcept;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // Starts `program` with `args` (without the program's own name). False when it could
  // not be started.
  bool start(const std::string& program, const std::vector<std::string>& args,
             const ProcessOptions& options = {});
  bool running() const { return pid_ > 0; }
  // Sends the interrupt that the operator's interrupt key sends (POSIX: SIGINT;
  // Windows: Ctrl+Break to the program's process group, and to a lumconv run without a
  // console in common its stop event). A Windows program that catches neither ends
  // with kInterruptedExitCode, as the console's own Ctrl+Break ends it.
  void interrupt();
  // Waits for the end and collects what it wrote. After a failed start: started false
  // and the reason in `out`.
  ProcessOutcome wait();

 private:
  void release();
  void drain();

  // The running program as the host knows it (POSIX: its pid; Windows: the state that
  // holds its handle and output readers); -1 when none runs.
  std::intptr_t pid_ = -1;
  int out_fd_ = -1, err_fd_ = -1;
  ProcessOutcome outcome_;
};

// Starts the program and waits for it.
ProcessOutcome run_process(const std::string& program, const std::vector<std::string>& args,
                           const ProcessOptions& options = {});

}  // namespace lum
