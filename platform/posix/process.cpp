#include "platform/process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

extern char** environ;

namespace lum {

namespace {

// The child's side between fork and exec: only async-signal-safe calls.
[[noreturn]] void exec_child(const char* program, char* const argv[], char* const envp[],
                             const char* cwd, int out_fd, int err_fd, std::uint64_t max_size,
                             const HostUser* run_as, int report_fd) {
  int null_fd = ::open("/dev/null", O_RDONLY);
  // The identity is dropped before the directory is entered, so that the program's own
  // permissions decide whether it may go there, as for an operator.
  const bool dropped = run_as == nullptr || (::setgroups(0, nullptr) == 0 &&
                                             ::setgid(static_cast<gid_t>(run_as->gid)) == 0 &&
                                             ::setuid(static_cast<uid_t>(run_as->uid)) == 0);
  if (null_fd < 0 || !dropped || ::dup2(null_fd, STDIN_FILENO) < 0 ||
      (out_fd >= 0 && ::dup2(out_fd, STDOUT_FILENO) < 0) || ::dup2(err_fd, STDERR_FILENO) < 0 ||
      (cwd[0] != '\0' && ::chdir(cwd) != 0)) {
    int e = errno;
    (void)!::write(report_fd, &e, sizeof e);
    ::_exit(127);
  }
  if (out_fd < 0) ::close(STDOUT_FILENO);  // started without standard output
  if (max_size > 0) {
    struct rlimit lim = {static_cast<rlim_t>(max_size), static_cast<rlim_t>(max_size)};
    ::setrlimit(RLIMIT_FSIZE, &lim);
  }
  // The child starts with the default action of every signal the test runner may have
  // changed, as a program started from a shell does.
  for (int sig : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ}) ::signal(sig, SIG_DFL);
  ::execve(program, argv, envp);
  int e = errno;
  (void)!::write(report_fd, &e, sizeof e);
  ::_exit(127);
}

std::vector<std::string> child_environment(const ProcessOptions& o) {
  auto name_of = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry = *e, name = name_of(entry);
    bool drop = false;
    for (const std::string& u : o.unset_env) drop = drop || u == name;
    if (!drop) env.push_back(std::move(entry));
  }
  for (const std::string& s : o.set_env) {  // a later entry replaces an earlier one
    std::erase_if(env, [&](const std::string& e) { return name_of(e) == name_of(s); });
    env.push_back(s);
  }
  return env;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
  std::vector<char*> p;
  for (std::string& t : texts) p.push_back(t.data());
  p.push_back(nullptr);
  return p;
}

void close_fd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// A file to write the child's output into, or a pipe whose read end we keep (or close
// at once: a reader that has gone); child_fd -1 for an output the child has not open.
bool output_target(const std::string& file, ProcessOptions::Output kind, int& child_fd,
                   int& our_fd) {
  child_fd = our_fd = -1;
  if (kind == ProcessOptions::Output::kClosed) return true;
  const bool reader_gone = kind == ProcessOptions::Output::kReaderGone;
  if (!file.empty() && !reader_gone) {
    child_fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    return child_fd >= 0;
  }
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  our_fd = fds[0];
  child_fd = fds[1];
  if (reader_gone) close_fd(our_fd);
  return true;
}

}  // namespace

std::optional<HostUser> unprivileged_user() {
  if (::geteuid() != 0) return std::nullopt;
  HostUser u{65534, 65534};
  if (const passwd* pw = ::getpwnam("nobody")) {
    u.uid = static_cast<long>(pw->pw_uid);
    u.gid = static_cast<long>(pw->pw_gid);
  }
  return u;
}

int give_to_user(const std::string& path, const HostUser& user) {
  auto own = [&](const std::string& p) {
    return ::lchown(p.c_str(), static_cast<uid_t>(user.uid), static_cast<gid_t>(user.gid)) == 0
               ? 0
               : errno;
  };
  if (int rc = own(path); rc != 0) return rc;
  std::error_code ec;
  if (!std::filesystem::is_directory(path, ec)) return 0;
  for (auto it = std::filesystem::recursive_directory_iterator(path, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (int rc = own(it->path().string()); rc != 0) return rc;
  }
  return ec ? ec.value() : 0;
}

Process::~Process() { release(); }

void Process::release() {
  if (pid_ > 0) {
    ::kill(static_cast<pid_t>(pid_), SIGKILL);
    ::waitpid(static_cast<pid_t>(pid_), nullptr, 0);
    pid_ = -1;
  }
  close_fd(out_fd_);
  close_fd(err_fd_);
}

Process::Process(Process&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      out_fd_(std::exchange(other.out_fd_, -1)),
      err_fd_(std::exchange(other.err_fd_, -1)),
      outcome_(std::move(other.outcome_)) {}

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    release();
    pid_ = std::exchange(other.pid_, -1);
    out_fd_ = std::exchange(other.out_fd_, -1);
    err_fd_ = std::exchange(other.err_fd_, -1);
    outcome_ = std::move(other.outcome_);
  }
  return *this;
}

bool Process::start(const std::string& program, const std::vector<std::string>& args,
                    const ProcessOptions& options) {
  outcome_ = ProcessOutcome();
  std::vector<std::string> argv_text = {program};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<std::string> env_text = child_environment(options);
  std::vector<char*> argv = pointers(argv_text), envp = pointers(env_text);

  int child_out = -1, child_err = -1, report[2] = {-1, -1};
  if (!output_target(options.stdout_file, options.stdout_kind, child_out, out_fd_) ||
      !output_target(options.stderr_file, ProcessOptions::Output::kNormal, child_err, err_fd_) ||
      ::pipe2(report, O_CLOEXEC) != 0) {
    outcome_.out = std::string("cannot prepare the outputs: ") + std::strerror(errno);
    close_fd(child_out);
    close_fd(child_err);
    close_fd(out_fd_);
    close_fd(err_fd_);
    return false;
  }
  pid_t pid = ::fork();
  if (pid == 0) {
    exec_child(program.c_str(), argv.data(), envp.data(), options.cwd.c_str(), child_out, child_err,
               options.max_file_size, options.run_as ? &*options.run_as : nullptr, report[1]);
  }
  close_fd(child_out);
  close_fd(child_err);
  close_fd(report[1]);
  int child_errno = 0;
  ssize_t got = pid > 0 ? ::read(report[0], &child_errno, sizeof child_errno) : 0;
  close_fd(report[0]);
  if (pid < 0 || got > 0) {
    outcome_.out = "cannot start " + program + ": " + std::strerror(pid < 0 ? errno : child_errno);
    if (pid > 0) ::waitpid(pid, nullptr, 0);
    close_fd(out_fd_);
    close_fd(err_fd_);
    return false;
  }
  pid_ = pid;
  outcome_.started = true;
  return true;
}

void Process::interrupt() {
  if (pid_ > 0) ::kill(static_cast<pid_t>(pid_), SIGINT);
}

void Process::drain() {
  struct pollfd fds[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
  std::string* sinks[2] = {&outcome_.out, &outcome_.err};
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    int n = ::poll(fds, 2, -1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buf[65536];
      ssize_t r = ::read(fds[i].fd, buf, sizeof buf);
      if (r > 0) {
        sinks[i]->append(buf, static_cast<std::size_t>(r));
      } else if (r == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
      }
    }
  }
  out_fd_ = err_fd_ = -1;
}

ProcessOutcome Process::wait() {
  if (pid_ <= 0) return std::move(outcome_);
  drain();
  int status = 0;
  struct rusage usage = {};
  while (::wait4(static_cast<pid_t>(pid_), &status, 0, &usage) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  outcome_.peak_memory_bytes = static_cast<std::uint64_t>(usage.ru_maxrss) * 1024;  // KiB here
  if (WIFEXITED(status)) {
    outcome_.exit_code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    outcome_.signal = WTERMSIG(status);
  }
  return std::move(outcome_);
}

ProcessOutcome run_process(const std::string& program, const std::vector<std::string>& args,
                           const ProcessOptions& options) {
  Process p;
  p.start(program, args, options);
  return p.wait();
}

}  // namespace lum
