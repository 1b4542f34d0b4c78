// An error handler for tests that records every error object it receives and answers
// each with a preset value (NIL unless told otherwise).
#pragma once

#include <vector>

#include "runtime/error.h"
#include "runtime/runtime.h"

namespace lum::testing {

class RecordingHandler {
 public:
  explicit RecordingHandler(Runtime& rt) {
    rt.install_handler([this](ErrorObject& e) {
      errors_.push_back(e);
      return answer_;
    });
  }
  void answer_with(Value v) { answer_ = std::move(v); }
  const std::vector<ErrorObject>& errors() const { return errors_; }
  void clear() { errors_.clear(); }

 private:
  std::vector<ErrorObject> errors_;
  Value answer_;
};

}  // namespace lum::testing
