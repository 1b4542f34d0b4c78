// Running another program on Windows: CreateProcess with a command line quoted the way
// the C run-time splits it again, an environment block of our own, standard input from
// NUL, standard output and error through pipes drained by two threads (or into files).
// The interrupt is Ctrl+Break sent to the program's own process group.
#include "platform/process.h"

#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>

#include <algorithm>
#include <cstring>
#include <thread>
#include <utility>

#include "platform/file.h"
#include "platform/text.h"
#include "platform/windows/internal.h"

namespace lum {

namespace {

// One argument as the C run-time's command-line splitter reads it back.
std::string quoted(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  std::string q = "\"";
  std::size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      q.append(backslashes * 2 + 1, '\\');
    } else {
      q.append(backslashes, '\\');
    }
    backslashes = 0;
    q.push_back(c);
  }
  q.append(backslashes * 2, '\\');
  q.push_back('"');
  return q;
}

bool same_name(const std::string& a, const std::string& b) { return equal_case_blind(a, b); }

// The child's environment block: ours, less `unset_env`, with `set_env` added or
// replacing (names compare without regard to case, as Windows has them).
std::string environment_block(const ProcessOptions& o) {
  auto name_of = [](const std::string& entry) {
    // Entries such as "=C:=C:\x" keep their leading "=" in the name.
    return entry.substr(0, entry.find('=', 1));
  };
  std::vector<std::string> env;
  if (char* block = ::GetEnvironmentStringsA()) {
    for (const char* p = block; *p != '\0'; p += std::strlen(p) + 1) {
      std::string entry = p, name = name_of(entry);
      bool drop = false;
      for (const std::string& u : o.unset_env) drop = drop || same_name(u, name);
      if (!drop) env.push_back(std::move(entry));
    }
    ::FreeEnvironmentStringsA(block);
  }
  for (const std::string& s : o.set_env) {
    std::erase_if(env, [&](const std::string& e) { return same_name(name_of(e), name_of(s)); });
    env.push_back(s);
  }
  std::sort(env.begin(), env.end(), [&](const std::string& a, const std::string& b) {
    return _stricmp(name_of(a).c_str(), name_of(b).c_str()) < 0;
  });
  std::string out;
  for (const std::string& e : env) {
    out += e;
    out.push_back('\0');
  }
  out.push_back('\0');
  return out;
}

HANDLE inheritable_file(const std::string& name, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  return ::CreateFileA(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// A file for the child's output, or a pipe whose read end we keep (not inherited), or
// close at once: a reader that has gone; child nullptr for an output the child has not.
bool output_target(const std::string& file, ProcessOptions::Output kind, HANDLE& child,
                   HANDLE& ours) {
  child = ours = nullptr;
  if (kind == ProcessOptions::Output::kClosed) return true;
  const bool reader_gone = kind == ProcessOptions::Output::kReaderGone;
  if (!file.empty() && !reader_gone) {
    child = inheritable_file(file, GENERIC_WRITE, CREATE_ALWAYS);
    return child != INVALID_HANDLE_VALUE;
  }
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  if (!::CreatePipe(&ours, &child, &sa, 0)) return false;
  ::SetHandleInformation(ours, HANDLE_FLAG_INHERIT, 0);
  if (reader_gone) {
    ::CloseHandle(ours);
    ours = nullptr;
  }
  return true;
}

void close_handle(HANDLE& h) {
  if (h != nullptr && h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  h = nullptr;
}

std::string last_error_text(DWORD err) {
  char buf[256] = {};
  DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             err, 0, buf, sizeof buf, nullptr);
  while (n > 0 && (buf[n - 1] == '\n' || buf[n - 1] == '\r' || buf[n - 1] == ' ')) --n;
  return "error " + std::to_string(err) + (n > 0 ? ": " + std::string(buf, n) : std::string());
}

}  // namespace

// The Windows state behind the handle-sized members: the process handle lives in pid_
// (as an integer), the two read ends in out_fd_/err_fd_ are indexes into `readers`.
struct ProcessPipes {
  HANDLE process = nullptr;
  DWORD id = 0;
  HANDLE read[2] = {nullptr, nullptr};
  std::thread readers[2];
  // What the readers collect; here, not in the Process, which may move meanwhile.
  std::string collected[2];
};

namespace {
ProcessPipes* pipes_of(std::intptr_t pid) { return reinterpret_cast<ProcessPipes*>(pid); }
}  // namespace

Process::~Process() { release(); }

void Process::release() {
  if (pid_ > 0) {
    ProcessPipes* p = pipes_of(pid_);
    ::TerminateProcess(p->process, 1);
    ::WaitForSingleObject(p->process, INFINITE);
    drain();
    close_handle(p->process);
    delete p;
    pid_ = -1;
  }
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

// Windows has no superuser that permissions do not bind: a test's own permissions apply.
std::optional<HostUser> unprivileged_user() { return std::nullopt; }

int give_to_user(const std::string&, const HostUser&) { return kOsAccessDenied; }

bool Process::start(const std::string& program, const std::vector<std::string>& args,
                    const ProcessOptions& options) {
  outcome_ = ProcessOutcome();
  if (options.max_file_size > 0) {
    outcome_.out = "cannot start " + program + ": this host has no limit on the size of files";
    return false;
  }
  if (options.run_as) {
    outcome_.out = "cannot start " + program + ": this host has no user ids to run as";
    return false;
  }
  std::string command = quoted(program);
  for (const std::string& a : args) command += " " + quoted(a);
  std::string env = environment_block(options);

  auto* p = new ProcessPipes;
  HANDLE child_out = nullptr, child_err = nullptr;
  HANDLE child_in = inheritable_file("NUL", GENERIC_READ, OPEN_EXISTING);
  if (child_in == INVALID_HANDLE_VALUE ||
      !output_target(options.stdout_file, options.stdout_kind, child_out, p->read[0]) ||
      !output_target(options.stderr_file, ProcessOptions::Output::kNormal, child_err, p->read[1])) {
    outcome_.out = "cannot prepare the outputs: " + last_error_text(::GetLastError());
    close_handle(child_in);
    close_handle(child_out);
    close_handle(child_err);
    close_handle(p->read[0]);
    close_handle(p->read[1]);
    delete p;
    return false;
  }
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = child_in;
  si.hStdOutput = child_out;
  si.hStdError = child_err;
  PROCESS_INFORMATION pi = {};
  BOOL ok = ::CreateProcessA(program.c_str(), command.data(), nullptr, nullptr, TRUE,
                             CREATE_NEW_PROCESS_GROUP, env.data(),
                             options.cwd.empty() ? nullptr : options.cwd.c_str(), &si, &pi);
  DWORD err = ::GetLastError();
  close_handle(child_in);
  close_handle(child_out);
  close_handle(child_err);
  if (!ok) {
    outcome_.out = "cannot start " + program + ": " + last_error_text(err);
    close_handle(p->read[0]);
    close_handle(p->read[1]);
    delete p;
    return false;
  }
  ::CloseHandle(pi.hThread);
  p->process = pi.hProcess;
  p->id = pi.dwProcessId;
  for (int i = 0; i < 2; ++i) {
    if (p->read[i] == nullptr) continue;
    p->readers[i] = std::thread([h = p->read[i], sink = &p->collected[i]] {
      char buf[65536];
      DWORD got = 0;
      while (::ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) sink->append(buf, got);
    });
  }
  pid_ = reinterpret_cast<std::intptr_t>(p);
  out_fd_ = p->read[0] != nullptr ? 0 : -1;
  err_fd_ = p->read[1] != nullptr ? 1 : -1;
  outcome_.started = true;
  return true;
}

void Process::interrupt() {
  if (pid_ <= 0) return;
  ProcessPipes* p = pipes_of(pid_);
  // Ctrl+Break to its process group reaches it through a console the two share; the
  // stop event reaches a lumconv run without one (under wine there is no console).
  bool sent = ::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, p->id) != 0;
  if (HANDLE ev = ::OpenEventA(EVENT_MODIFY_STATE, FALSE, stop_event_name(p->id).c_str())) {
    sent = ::SetEvent(ev) != 0 || sent;
    ::CloseHandle(ev);
  }
  // Neither way: it does not catch the interrupt, and ends as the console ends it.
  if (!sent) ::TerminateProcess(p->process, kInterruptedExitCode);
}

void Process::drain() {
  if (pid_ <= 0) return;
  ProcessPipes* p = pipes_of(pid_);
  for (int i = 0; i < 2; ++i) {
    if (p->readers[i].joinable()) p->readers[i].join();
    close_handle(p->read[i]);
  }
  outcome_.out += std::move(p->collected[0]);
  outcome_.err += std::move(p->collected[1]);
  out_fd_ = err_fd_ = -1;
}

ProcessOutcome Process::wait() {
  if (pid_ <= 0) return std::move(outcome_);
  ProcessPipes* p = pipes_of(pid_);
  ::WaitForSingleObject(p->process, INFINITE);
  drain();
  DWORD code = 1;
  ::GetExitCodeProcess(p->process, &code);
  outcome_.exit_code = static_cast<int>(code);
  PROCESS_MEMORY_COUNTERS memory = {};
  memory.cb = sizeof memory;
  if (::K32GetProcessMemoryInfo(p->process, &memory, sizeof memory)) {
    outcome_.peak_memory_bytes = memory.PeakWorkingSetSize;
  }
  close_handle(p->process);
  delete p;
  pid_ = -1;
  return std::move(outcome_);
}

ProcessOutcome run_process(const std::string& program, const std::vector<std::string>& args,
                           const ProcessOptions& options) {
  Process p;
  p.start(program, args, options);
  return p.wait();
}

}  // namespace lum
