// A runtime whose screen is drawn on a scripted memory terminal of 25 rows and 80
// columns, for tests of the console and of what the frame shows on it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "console/screen.h"
#include "runtime/runtime.h"
#include "tests/console/scripted_terminal.h"

namespace lum::testing_support {

class ConsoleTest : public ::testing::Test {
 protected:
  ConsoleTest() {
    auto t = std::make_unique<ScriptedTerminal>();
    term_ = t.get();
    rt_.set_service(ServiceSlot::Terminal, std::move(t));
  }
  // Row r without its trailing blanks.
  static std::string row(int r) {
    std::string s = screen().row_text(r);
    s.erase(s.find_last_not_of(' ') + 1);
    return s;
  }
  static std::pair<int, int> cursor() { return {screen().row(), screen().col()}; }

  Runtime rt_;
  ScriptedTerminal* term_;
};

}  // namespace lum::testing_support
