// A recording error handler for tests: keeps every error it is given and answers as a
// careful operator would — retry while retries are wanted, else default when allowed,
// else a substitute NIL when allowed, else it ends the run (the answer "break"): by
// starting a quit, as the frame does, or by throwing HandlerBreak (so a test can go on).
#pragma once

#include <vector>

#include "runtime/error.h"
#include "runtime/runtime.h"

namespace lum::test {

struct HandlerBreak {};

class ErrorRecorder {
 public:
  enum class OnBreak { Quit, Throw };

  // Installs itself on `rt`. `retries` retry answers are given first (to errors that
  // allow them).
  explicit ErrorRecorder(Runtime& rt, int retries = 0, OnBreak on_break = OnBreak::Quit)
      : rt_(rt), retries_(retries), on_break_(on_break) {
    rt.install_handler([this](ErrorObject& e) { return answer(e); });
  }

  const std::vector<ErrorObject>& errors() const { return errors_; }
  bool empty() const { return errors_.empty(); }
  std::size_t size() const { return errors_.size(); }
  const ErrorObject& last() const { return errors_.back(); }
  void clear() { errors_.clear(); }
  void set_retries(int n) { retries_ = n; }

 private:
  Value answer(ErrorObject& e) {
    errors_.push_back(e);
    if (e.can_retry && retries_ > 0) {
      --retries_;
      return Value::logical(true);
    }
    if (e.can_default) return Value::logical(false);
    if (e.can_substitute) return Value();
    if (on_break_ == OnBreak::Throw) throw HandlerBreak{};
    rt_.begin_quit();  // the frame would end the run here
    return Value::logical(false);
  }

  Runtime& rt_;
  int retries_;
  OnBreak on_break_;
  std::vector<ErrorObject> errors_;
};

}  // namespace lum::test
