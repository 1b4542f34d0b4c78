// The two terminal back ends: what the memory back end prints at the end of a run, and
// the escape sequences the real terminal back end draws with.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "console/backend.h"
#include "console/output.h"
#include "console/screen.h"
#include "runtime/runtime.h"

namespace lum {
namespace {

TEST(MemoryTerminal, PrintsRowsWithoutTrailingBlanksOrEmptyRowsOnce) {
  Runtime rt;
  std::string printed;
  int calls = 0;
  rt.set_service(ServiceSlot::Terminal, std::make_unique<MemoryTerminal>([&](std::string_view t) {
                   printed += t;
                   ++calls;
                 }));
  DEVOUT("Qo", Value(), 2, 15);
  DEVOUT("end  ", Value(), 4, 0);
  DEVOUT("x", Value(), 4, 79);
  screen().finish();
  screen().finish();
  EXPECT_EQ("\n\n               Qo\n\nend" + std::string(76, ' ') + "x\n", printed);
  EXPECT_EQ(1, calls);
}

TEST(MemoryTerminal, BlankScreenPrintsNothing) {
  Runtime rt;
  std::string printed = "unset";
  MemoryTerminal t([&](std::string_view s) { printed = s; });
  t.finish();
  EXPECT_EQ("unset", printed);
  EXPECT_EQ(24, t.rows() - 1);
  EXPECT_EQ(79, t.cols() - 1);
}

// Line output reaches the log as whole lines, each when the next one begins (or at the
// end), exactly as written: no wrapping at the screen width, however the grid scrolls
// or covers it; positioned output appears only in the final screen.
TEST(MemoryTerminal, LogsEveryLineOfLineOutputBeforeTheFinalScreen) {
  Runtime rt;
  std::string printed;
  rt.set_service(ServiceSlot::Terminal,
                 std::make_unique<MemoryTerminal>([&](std::string_view t) { printed += t; }));
  const std::string wide(100, 'w');
  QQOUT("before any line");
  DEVOUT("label", Value(), 0, 0);
  QOUT(Value::int32(5));
  QOUT("Fornecedor nao encontrado", "00042");
  QQOUT(" and", Value::logical(true));
  DEVPOS(0, 0);  // the next line starts on row 1 and covers the one written there
  QOUT(wide);
  QOUT();
  EXPECT_EQ("before any line\n         5\nFornecedor nao encontrado 00042 and .T.\n" + wide + "\n",
            printed);
  screen().finish();
  const std::string log =
      "before any line\n         5\nFornecedor nao encontrado 00042 and .T.\n" + wide + "\n\n";
  // On the grid the label covers the first line, and the wide line wraps over the third.
  EXPECT_EQ(log + "labele any line\n" + wide.substr(0, 80) + "\n" + wide.substr(80) +
                "trado 00042 and .T.\n",
            printed);
  Runtime::current().settings().console = false;
  QOUT("not shown");
  EXPECT_EQ(std::string::npos, printed.find("not shown"));
}

class TtyDrawing : public ::testing::Test {
 protected:
  TtyDrawing() {
    auto t = std::make_unique<TtyTerminal>([this](std::string_view s) { out_ += s; }, 6, 20);
    rt_.set_service(ServiceSlot::Terminal, std::move(t));
  }
  Runtime rt_;
  std::string out_;
};

TEST_F(TtyDrawing, DrawsOnlyWhatChangedAtItsPosition) {
  EXPECT_EQ(5, screen().max_row());
  EXPECT_EQ(19, screen().max_col());
  SCROLL();  // the first clear draws every cell, whatever the terminal showed
  EXPECT_NE(std::string::npos, out_.find("\x1b[1;1H\x1b[0;37;40m" + std::string(20, ' ')));
  EXPECT_NE(std::string::npos, out_.find("\x1b[6;1H" + std::string(20, ' ')));
  out_.clear();
  DEVOUT("Qo", Value(), 2, 15);
  EXPECT_EQ("\x1b[3;16HQo", out_);
  out_.clear();
  DEVOUT("Qo", Value(), 2, 15);  // the same cells again: only the cursor moves
  EXPECT_EQ("\x1b[3;16H\x1b[3;18H", out_);
  out_.clear();
  DEVOUT("A\x01", Value("W+/R"), 0, 0);  // colour changes; a control byte shows as "?"
  EXPECT_EQ("\x1b[1;1H\x1b[0;97;41mA?", out_);
  EXPECT_EQ(0x01, screen().cell(0, 1).ch);
}

TEST_F(TtyDrawing, FinishLeavesTheScreenAndMovesBelowTheLastText) {
  SCROLL();
  DEVOUT("banner", Value(), 3, 2);
  SETPOS(0, 0);
  out_.clear();
  screen().finish();
  EXPECT_EQ("\x1b[0m\x1b[5;1H", out_);
  out_.clear();
  screen().finish();  // only once
  DEVOUT("late", Value(), 0, 0);
  EXPECT_EQ("", out_);
}

TEST_F(TtyDrawing, FinishOnAFullScreenScrollsOneLine) {
  SCROLL();
  DEVOUT("last", Value(), 5, 16);  // into the last column: the cursor is placed again
  EXPECT_TRUE(out_.ends_with("\x1b[6;17Hlast\x1b[6;20H")) << out_;
  out_.clear();
  screen().finish();
  EXPECT_EQ("\x1b[0m\x1b[6;1H\r\n", out_);
}

TEST(TtyTerminal, WithoutATerminalOnStandardInputNobodyAnswers) {
  // The tests run with standard input that is no terminal (ctest, CI).
  TtyTerminal t([](std::string_view) {}, 25, 80);
  if (t.interactive()) GTEST_SKIP() << "standard input is a terminal";
  EXPECT_EQ(kKeyGone, t.read_key(0));
}

}  // namespace
}  // namespace lum
