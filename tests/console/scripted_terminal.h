// A terminal back end for tests: the memory grid of MemoryTerminal, an operator who
// presses the scripted keys in order (and is gone when they run out), and a record of
// how often the bell rang.
#pragma once

#include <deque>
#include <functional>
#include <string>

#include "console/backend.h"

namespace lum::testing_support {

class ScriptedTerminal : public MemoryTerminal {
 public:
  explicit ScriptedTerminal(std::deque<int> keys = {}, int rows = 25, int cols = 80)
      : MemoryTerminal([](std::string_view) {}, rows, cols), keys_(std::move(keys)) {}
  bool interactive() const override { return interactive_; }
  int read_key(int) override {
    ++reads_;
    if (on_read) on_read();
    if (keys_.empty()) return kKeyGone;
    int k = keys_.front();
    keys_.pop_front();
    return k;
  }
  void bell() override { ++bells_; }

  bool interactive_ = true;
  std::function<void()> on_read;  // called before each key is handed out
  std::deque<int> keys_;
  int reads_ = 0;
  int bells_ = 0;
};

}  // namespace lum::testing_support
