// The terminal back ends: what the memory back end prints at the end of a run, the
// escape sequences the real terminal back end draws with, and the cells the console
// back end writes into a screen buffer (here a fake one).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

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
// or covers it; positioned output appears only in the final screen. The lines are kept
// and go out together, before the final screen.
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
  EXPECT_EQ("", printed);  // kept until the end of the run
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

// The kept lines go out in one piece when they fill the line buffer, when the run waits
// for a key, and when the back end goes without a finish(): every line written before
// the run ends is in the output, however it ends, and a pipe gets a few writes, not one
// per line.
TEST(MemoryTerminal, KeptLinesGoOutWhenTheBufferFillsTheRunWaitsOrTheBackEndGoes) {
  std::vector<std::string> writes;
  auto sink = [&](std::string_view t) { writes.emplace_back(t); };
  {
    MemoryTerminal t(sink, 25, 80, 20);
    t.log_line("one two");     // 8 bytes kept
    t.log_line("three four");  // 19
    EXPECT_TRUE(writes.empty());
    t.log_line("five");  // 24: the buffer is full
    ASSERT_EQ(1u, writes.size());
    EXPECT_EQ("one two\nthree four\nfive\n", writes[0]);
    t.log_line("six");
    EXPECT_EQ(kKeyGone, t.read_key(-1));  // nobody answers, but the lines go out first
    ASSERT_EQ(2u, writes.size());
    EXPECT_EQ("six\n", writes[1]);
    t.log_line("seven");
    t.log_line("eight");
  }
  ASSERT_EQ(3u, writes.size());
  EXPECT_EQ("seven\neight\n", writes[2]);
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

// A console screen buffer in memory that records what the back end asks of it. Its
// size may change under the back end, as an operator resizing the window changes it.
struct FakeConsole {
  FakeConsole(int rows, int cols)
      : size{rows, cols}, cols_stored(cols), cells(static_cast<size_t>(rows * cols)) {}
  BufferCell& at(int r, int c) { return cells[static_cast<size_t>(r * cols_stored + c)]; }
  void put(int r, int c, std::string_view text, std::uint8_t attr) {
    for (char ch : text) at(r, c++) = BufferCell{static_cast<unsigned char>(ch), attr};
  }
  std::string row_text(int r) {
    std::string out;
    for (int c = 0; c < size.cols; ++c) out.push_back(static_cast<char>(at(r, c).ch));
    return out;
  }

  TerminalSize size;
  int cols_stored;
  std::vector<BufferCell> cells;
  int cursor_row = 0, cursor_col = 0;
  std::vector<BufferRect> writes;
  int homes = 0, restores = 0, new_lines = 0;
};

class FakeBuffer : public ConsoleBuffer {
 public:
  explicit FakeBuffer(FakeConsole& console) : c_(console) {}
  TerminalSize size() override { return c_.size; }
  bool read(BufferRect rect, BufferCell* cells, int stride) override {
    for (int r = 0; r < rect.rows; ++r) {
      for (int c = 0; c < rect.cols; ++c)
        cells[r * stride + c] = c_.at(rect.top + r, rect.left + c);
    }
    return true;
  }
  bool write(BufferRect rect, const BufferCell* cells, int stride) override {
    c_.writes.push_back(rect);
    EXPECT_LE(rect.top + rect.rows, c_.size.rows);
    EXPECT_LE(rect.left + rect.cols, c_.size.cols);
    for (int r = 0; r < rect.rows; ++r) {
      for (int c = 0; c < rect.cols; ++c)
        c_.at(rect.top + r, rect.left + c) = cells[r * stride + c];
    }
    return true;
  }
  bool cursor(int& row, int& col) override {
    row = c_.cursor_row;
    col = c_.cursor_col;
    return true;
  }
  bool set_cursor(int row, int col) override {
    if (row >= c_.size.rows || col >= c_.size.cols) return false;
    c_.cursor_row = row;
    c_.cursor_col = col;
    return true;
  }
  void new_line() override { ++c_.new_lines; }
  void bell() override {}
  void home_window() override { ++c_.homes; }
  void restore() override { ++c_.restores; }

 private:
  FakeConsole& c_;
};

class ConsoleDrawing : public ::testing::Test {
 protected:
  ConsoleDrawing() : console_(6, 20) {
    console_.put(1, 0, "C:\\>dir", 0x07);
    console_.put(2, 3, "\xE9", 0x1E);  // a byte of the console's code page, in colour
    console_.cursor_row = 2;
    console_.cursor_col = 5;
  }
  void start() {
    rt_.set_service(ServiceSlot::Terminal,
                    std::make_unique<ConsoleTerminal>(std::make_unique<FakeBuffer>(console_)));
  }
  FakeConsole console_;
  Runtime rt_;
};

TEST_F(ConsoleDrawing, StartsFromTheBuffersContentAndCursorAndWritesNothing) {
  start();
  EXPECT_EQ(1, console_.homes);
  EXPECT_EQ(5, screen().max_row());
  EXPECT_EQ(19, screen().max_col());
  EXPECT_EQ("C:\\>dir", screen().row_text(1).substr(0, 7));
  EXPECT_EQ((Cell{0xE9, 0x1E}), screen().cell(2, 3));
  EXPECT_EQ(2, screen().row());
  EXPECT_EQ(5, screen().col());
  screen().refresh();
  EXPECT_TRUE(console_.writes.empty());
}

TEST_F(ConsoleDrawing, WritesOnlyChangedCellsUnchangedAndPlacesTheCursor) {
  start();
  DEVOUT("Qo", Value(), 2, 15);
  EXPECT_EQ((std::vector<BufferRect>{{2, 15, 1, 2}}), console_.writes);
  EXPECT_EQ(2, console_.cursor_row);
  EXPECT_EQ(17, console_.cursor_col);
  DEVOUT("Qo", Value(), 2, 15);  // the same cells again: only the cursor moves
  EXPECT_EQ(1u, console_.writes.size());
  DEVOUT("\xE9\x01", Value("W+/R"), 0, 0);  // bytes above 127 and control bytes as they are
  EXPECT_EQ(0xE9, console_.at(0, 0).ch);
  EXPECT_EQ(0x01, console_.at(0, 1).ch);
  EXPECT_EQ(0x4F, console_.at(0, 1).attr);
  // Clearing writes one rectangle over the rows that had text, none for the blank ones.
  console_.writes.clear();
  SCROLL();
  EXPECT_EQ((std::vector<BufferRect>{{0, 0, 3, 17}}), console_.writes);
  for (int r = 0; r < 6; ++r) EXPECT_EQ(std::string(20, ' '), console_.row_text(r)) << r;
}

TEST_F(ConsoleDrawing, ABufferResizedDuringTheRunIsDrawnAgainWithinItsSize) {
  start();
  SCROLL();
  DEVOUT("banner", Value(), 1, 2);
  console_.size = TerminalSize{4, 10};
  console_.writes.clear();
  DEVOUT("x", Value(), 5, 19);  // outside the smaller buffer: its cursor cannot go there
  EXPECT_EQ((std::vector<BufferRect>{{0, 0, 4, 10}}), console_.writes);
  EXPECT_EQ("  banner  ", console_.row_text(1));
  EXPECT_EQ(5, screen().max_row());  // the grid keeps its size
  DEVOUT("y", Value(), 0, 0);
  EXPECT_EQ(0, console_.cursor_row);
  EXPECT_EQ(1, console_.cursor_col);
}

TEST(ConsoleTerminal, FinishRestoresTheBufferOnceAndPutsTheCursorBelowTheText) {
  struct Case {
    int text_row;
    int cursor_row;
    int new_lines;  // on the last row the buffer scrolls to give the prompt a line
  } cases[] = {{3, 4, 0}, {5, 5, 1}};
  for (const Case& c : cases) {
    FakeConsole console(6, 20);
    {
      Runtime rt;
      rt.set_service(ServiceSlot::Terminal,
                     std::make_unique<ConsoleTerminal>(std::make_unique<FakeBuffer>(console)));
      SCROLL();
      DEVOUT("banner", Value(), c.text_row, 2);
      SETPOS(0, 0);
      screen().finish();
      screen().finish();
      size_t writes = console.writes.size();
      DEVOUT("late", Value(), 0, 0);
      EXPECT_EQ(writes, console.writes.size());
    }
    EXPECT_EQ(1, console.restores);
    EXPECT_EQ(c.cursor_row, console.cursor_row);
    EXPECT_EQ(0, console.cursor_col);
    EXPECT_EQ(c.new_lines, console.new_lines);
  }
  // A run that ends without finish() (the back end destroyed) restores the buffer too.
  FakeConsole console(6, 20);
  { ConsoleTerminal t(std::make_unique<FakeBuffer>(console)); }
  EXPECT_EQ(1, console.restores);
}

}  // namespace
}  // namespace lum
