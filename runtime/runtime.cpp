#include "runtime/runtime.h"
#include "platform/text.h"

#include <cstdio>
#include <cstdlib>

namespace lum {

namespace {
// Generations of every runtime come from one counter, so that a name resolved under one
// runtime is never taken as good under another.
std::uint64_t g_memvar_generation = 0;
}  // namespace

std::atomic<bool> Runtime::interrupt_flag_{false};
Runtime* Runtime::current_ = nullptr;

Runtime::Runtime() : previous_(current_) {
  current_ = this;
  frames_.push_back(Frame{"", 0, "", {}});  // the outermost level holds publics
  memvars_changed();
}

Runtime::~Runtime() {
  release_services();
  current_ = previous_;
}

void Runtime::no_runtime() {
  std::fputs("lumconv: no runtime\n", stderr);
  std::abort();
}

void Runtime::memvars_changed() { memvar_generation_ = ++g_memvar_generation; }

RaiseAnswer Runtime::raise(ErrorObject& error) {
  RaiseAnswer answer;
  auto describe = [&] {
    if (error.description.empty())
      error.description = std::string(generic_description(error.gencode));
    for (auto it = frames_.rbegin(); it != frames_.rend(); ++it) {
      if (!it->procname.empty()) {
        error.procname = it->procname;
        error.procline = it->line;
        error.modulename = it->module;
        break;
      }
    }
  };
  if (quitting_) {
    // Break: a quit is already under way. The first such error is kept for termination.
    if (!quit_error_) {
      describe();
      quit_error_ = error;
    }
    return answer;
  }
  if (!handler_) internal_error(9002);
  if (handler_depth_ >= handler_limit_) internal_error(9003);
  describe();
  ++handler_depth_;
  Value result;
  try {
    result = handler_(error);
  } catch (...) {
    --handler_depth_;
    throw;
  }
  --handler_depth_;
  if (quitting_) return answer;
  if (result.is_logical()) {
    if (result.log() && error.can_retry) {
      ++error.tries;
      answer.action = RaiseAnswer::Action::Retry;
      return answer;
    }
    if (!result.log() && error.can_default) {
      answer.action = RaiseAnswer::Action::Default;
      return answer;
    }
  }
  if (error.can_substitute) {
    answer.action = RaiseAnswer::Action::Substitute;
    answer.value = std::move(result);
    return answer;
  }
  internal_error(9001);
}

std::string_view Runtime::internal_error_text(int code) {
  switch (code) {
    case 9001:
      return "Error recovery failure";
    case 9002:
      return "No ERRORBLOCK() for error";
    case 9003:
      return "Too many recursive error handler calls";
    case 9013:
      return "No starting procedure";
    default:
      return "Internal error";
  }
}

void Runtime::internal_error(int code) {
  std::string caption = "Unrecoverable error " + std::to_string(code) + ": ";
  std::string_view text = internal_error_text(code);
  if (internal_hook_) {
    auto hook = std::move(internal_hook_);  // never twice, even if the hook fails again
    hook(code, caption, text);
  }
  std::fprintf(stderr, "\n%s%.*s\n", caption.c_str(), static_cast<int>(text.size()), text.data());
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(1);
}

std::string source_file_name(std::string_view path) {
  std::size_t cut = path.find_last_of("/\\");
  return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

void Runtime::push_frame(std::string procname, std::string module, int line) {
  frames_.push_back(Frame{std::move(procname), line, std::move(module), {}});
  memvars_changed();
}

void Runtime::pop_frame() {
  if (frames_.size() > 1) frames_.pop_back();
  memvars_changed();
}

void Runtime::set_line(int line) { frames_.back().line = line; }

namespace {
bool same_name(std::string_view a, std::string_view b) { return equal_case_blind(a, b); }
}  // namespace

Value* Runtime::find_memvar(std::string_view name) {
  // Names are stored upper case and the program mostly names them so: a plain compare
  // finds them without folding case, which matters once per name per record.
  for (auto f = frames_.rbegin(); f != frames_.rend(); ++f) {
    for (auto& [n, v] : f->privates) {
      if (n == name) return &v;
    }
  }
  for (auto f = frames_.rbegin(); f != frames_.rend(); ++f) {
    for (auto& [n, v] : f->privates) {
      if (same_name(n, name)) return &v;
    }
  }
  return nullptr;
}

void Runtime::assign_memvar(std::string_view name, Value v) {
  if (Value* existing = find_memvar(name)) {
    *existing = std::move(v);
    return;
  }
  frames_.back().privates.emplace_back(ascii_upper(name), std::move(v));
  memvars_changed();
}

void Runtime::quit(Unwind::Reason reason) {
  quitting_ = true;
  throw Unwind(reason);
}

void Runtime::request_interrupt() noexcept { interrupt_flag_.store(true); }

bool Runtime::interrupt_pending() noexcept { return interrupt_flag_.load(); }

void Runtime::clear_interrupt() noexcept { interrupt_flag_.store(false); }

void Runtime::on_interrupt() {
  if (quitting_) return;
  interrupt_flag_.store(false);
  errorlevel_ = 1;
  quit(Unwind::Reason::Interrupt);
}

void Runtime::set_service(ServiceSlot slot, std::unique_ptr<Service> s) {
  services_[static_cast<int>(slot)] = std::move(s);
}

void Runtime::release_services() {
  for (int i = static_cast<int>(ServiceSlot::kCount) - 1; i >= 0; --i) services_[i].reset();
}

}  // namespace lum
