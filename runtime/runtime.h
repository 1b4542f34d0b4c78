// The one owner of process-wide state: settings, the installed error handler, the
// call frames with their private memory variables, the quit state and exit code, and
// the services of the layers above (work areas, screen). Start-up creates one; every
// test fixture creates its own. While alive, a Runtime is Runtime::current().
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <source_location>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "runtime/error.h"
#include "runtime/settings.h"
#include "runtime/value.h"

namespace lum {

// Unwinds the whole run after a quit, a break or an interrupt. Only start-up catches it.
class Unwind : public std::exception {
 public:
  enum class Reason { Quit, Interrupt };
  explicit Unwind(Reason r = Reason::Quit) : reason_(r) {}
  Reason reason() const { return reason_; }
  const char* what() const noexcept override { return "run unwound"; }

 private:
  Reason reason_;
};

// One level of the call stack: what "Error at" and "Called from" lines show, and the
// memory variables created by plain assignment while the function runs.
struct Frame {
  std::string procname;
  int line = 0;
  std::string module;
  std::vector<std::pair<std::string, Value>> privates;
};

// Process-wide state of a layer above the core, owned by the runtime.
class Service {
 public:
  virtual ~Service() = default;
};

// Slots for the services; destroyed from the last slot to the first, so the work
// areas close their tables while the screen still exists.
enum class ServiceSlot : int {
  Screen = 0,
  Terminal = 1,
  WorkAreas = 2,
  Frame = 3,
  Imports = 4,  // what the text imports of the run met
  kCount = 5
};

class Runtime {
 public:
  // The handler answers an error with a logical decision or a substitute value.
  using Handler = std::function<Value(ErrorObject&)>;
  // Called before the process ends with an internal error: flush what must reach
  // disk and show the caption and text on the console.
  using InternalErrorHook =
      std::function<void(int code, std::string_view caption, std::string_view text)>;

  Runtime();
  ~Runtime();
  Runtime(const Runtime&) = delete;
  Runtime& operator=(const Runtime&) = delete;

  // REQUIRES: a Runtime is alive. Inline: every name of the program reaches it.
  static Runtime& current() {
    if (current_ == nullptr) no_runtime();
    return *current_;
  }
  static bool exists() { return current_ != nullptr; }

  Settings& settings() { return settings_; }

  // --- errors ---
  void install_handler(Handler h) { handler_ = std::move(h); }
  // Calls the handler and checks its answer against the error's flags; fills the
  // error's PROCNAME/PROCLINE/MODULENAME from the innermost frame. Unknown answers
  // end the process with internal error 9001; no handler, 9002; handlers nested
  // beyond handler_limit_ levels, 9003.
  RaiseAnswer raise(ErrorObject& error);
  int handler_depth() const { return handler_depth_; }

  [[noreturn]] void internal_error(int code);
  void set_internal_error_hook(InternalErrorHook h) { internal_hook_ = std::move(h); }
  static std::string_view internal_error_text(int code);

  // --- call frames and memory variables ---
  void push_frame(std::string procname, std::string module, int line = 0);
  void pop_frame();
  void set_line(int line);
  const std::vector<Frame>& frames() const { return frames_; }
  // The visible memory variable of that name (innermost first), or nullptr. The
  // pointer stays valid, and the answer for that name the same, while
  // memvar_generation() is unchanged.
  Value* find_memvar(std::string_view name);
  // Sets the visible variable of that name, or creates it private to the innermost frame.
  void assign_memvar(std::string_view name, Value v);
  // Changes whenever a variable is created or a call level comes or goes, never
  // repeating a value of any runtime: what a name resolved to is known good while it
  // stays the same.
  std::uint64_t memvar_generation() const { return memvar_generation_; }

  // --- quitting and the exit code ---
  int errorlevel() const { return errorlevel_; }
  void set_errorlevel(int code) { errorlevel_ = code; }
  bool quitting() const { return quitting_; }
  // Marks the quit and unwinds the run. Does not return.
  [[noreturn]] void quit(Unwind::Reason reason = Unwind::Reason::Quit);
  // Marks a quit as under way without unwinding (for the termination path itself).
  void begin_quit() { quitting_ = true; }
  // The first error raised while a quit was under way (answered "break" without the
  // handler), or nullptr: termination reports it when nothing else ended the run badly.
  const ErrorObject* error_while_quitting() const {
    return quit_error_ ? &*quit_error_ : nullptr;
  }

  // --- interrupts ---
  // Async-signal-safe and callable from any thread (a signal handler on POSIX, the
  // console's control thread on Windows): asks the run to end at its next safe point.
  static void request_interrupt() noexcept;
  static bool interrupt_pending() noexcept;
  // Drops a pending request: for work outside a runtime (the undo) that has acted on it.
  static void clear_interrupt() noexcept;
  // At a safe point: when an interrupt is pending, sets exit code 1 and unwinds.
  void poll_interrupt() {
    if (interrupt_flag_.load(std::memory_order_relaxed)) on_interrupt();
  }

  // --- services of the layers above ---
  Service* service(ServiceSlot slot) const { return services_[static_cast<int>(slot)].get(); }
  void set_service(ServiceSlot slot, std::unique_ptr<Service> s);
  template <class T>
  T* service_as(ServiceSlot slot) const {
    return static_cast<T*>(service(slot));
  }
  // Destroys the services now, last slot first (termination calls it before exit).
  void release_services();

 private:
  void on_interrupt();

  [[noreturn]] static void no_runtime();
  void memvars_changed();

  // Lock-free, so setting it is safe inside a signal handler.
  static std::atomic<bool> interrupt_flag_;
  static_assert(std::atomic<bool>::is_always_lock_free);
  static Runtime* current_;

  Runtime* previous_ = nullptr;
  std::uint64_t memvar_generation_ = 0;
  Settings settings_;
  Handler handler_;
  int handler_depth_ = 0;
  int handler_limit_ = 16;
  InternalErrorHook internal_hook_;
  std::vector<Frame> frames_;
  int errorlevel_ = 0;
  bool quitting_ = false;
  std::optional<ErrorObject> quit_error_;
  std::unique_ptr<Service> services_[static_cast<int>(ServiceSlot::kCount)];
};

// The base name of a source file's path ("app/cvcli.cpp" gives "cvcli.cpp").
std::string source_file_name(std::string_view path);

// Pushes a call frame for the life of the scope. The short form names the level after
// the source file the guard stands in (its base name, "cvcli.cpp") and starts it at the
// guard's line, so that every level of the program is named the same way.
class FrameGuard {
 public:
  explicit FrameGuard(std::string procname,
                      std::source_location where = std::source_location::current())
      : FrameGuard(std::move(procname), source_file_name(where.file_name()),
                   static_cast<int>(where.line())) {}
  FrameGuard(std::string procname, std::string module, int line = 0) {
    Runtime::current().push_frame(std::move(procname), std::move(module), line);
  }
  ~FrameGuard() { Runtime::current().pop_frame(); }
  FrameGuard(const FrameGuard&) = delete;
  FrameGuard& operator=(const FrameGuard&) = delete;
};

}  // namespace lum
