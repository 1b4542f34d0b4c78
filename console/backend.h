// The terminal back ends behind the screen grid. A back end shows what the grid holds and
// reads keys for the alert box. Three exist: a console screen buffer written cell by
// cell (Windows, when standard output is a console), a real terminal drawn with escape
// sequences (when standard output is a terminal) and a memory back end of 25 rows and
// 80 columns that writes the completed lines of line output, gathered into blocks, and
// its rows when the run ends (a log, when standard output is neither).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/console_buffer.h"
#include "runtime/runtime.h"

namespace lum {

// One character cell: a byte and a colour attribute (foreground in the low four bits,
// background in the high four; 8 is the bright bit of each).
struct Cell {
  unsigned char ch = ' ';
  std::uint8_t attr = 0x07;
  friend bool operator==(Cell, Cell) = default;
};

// Rows top..bottom and columns left..right, all inclusive.
struct Rect {
  int top = 0;
  int left = 0;
  int bottom = -1;
  int right = -1;
  bool empty() const { return bottom < top || right < left; }
};

// Keys as the alert box sees them: bytes 0..255, the keys below, or the two results of
// a read that got no key.
enum Key : int {
  kKeyNone = -1,  // the wait ran out
  kKeyGone = -2,  // no key can come any more (end of input, a stop signal)
  kKeyLeft = 0x100,
  kKeyRight,
  kKeyUp,
  kKeyDown,
  kKeyHome,
  kKeyEnd,
};

// Where a back end's bytes go; standard output unless a test captures them.
using OutputSink = std::function<void(std::string_view)>;

// A terminal back end. It lives in Runtime slot ServiceSlot::Terminal; the Screen draws
// through it.
class Terminal : public Service {
 public:
  // Grid size the back end offers (at least 1 by 1).
  virtual int rows() const = 0;
  virtual int cols() const = 0;
  // What the terminal showed when the run began, which the Screen starts from: fills
  // `grid` (rows() by cols() cells, blanks on entry) and the cursor (0, 0 on entry).
  // Back ends that cannot read their screen leave both.
  virtual void initial_screen(std::vector<Cell>& grid, int& cursor_row, int& cursor_col) const {
    (void)grid;
    (void)cursor_row;
    (void)cursor_col;
  }
  // Shows `area` of `grid` (rows of `grid_cols` cells) and puts the visible cursor at
  // (cursor_row, cursor_col), which lies inside the grid.
  virtual void show(const std::vector<Cell>& grid, int grid_cols, Rect area, int cursor_row,
                    int cursor_col) = 0;
  virtual void bell() = 0;
  // True when an operator can answer a question on it.
  virtual bool interactive() const = 0;
  // Waits at most timeout_ms (negative: without limit) for a key.
  virtual int read_key(int timeout_ms) = 0;
  // One completed line of line output, exactly as written (no wrapping, no line end).
  // The real terminal has shown it on the grid already and ignores it.
  virtual void log_line(std::string_view line) { (void)line; }
  // Writes what the back end still keeps of line output, before the program writes
  // elsewhere (standard error) what must come after it. Back ends that keep nothing do
  // nothing.
  virtual void flush_lines() {}
  // The end of the run: the memory back end prints its rows, the real terminal leaves
  // what it showed in place and restores its modes. Only the first call acts.
  virtual void finish() = 0;
};

// Keeps the shown grid in memory. Each line of line output is kept when it is complete,
// followed by a line feed, so that a log loses none of them to the scrolling and
// overwriting of the grid. The kept lines go to the sink together, in one piece: when
// they fill the line buffer, when the run waits for a key, at finish() and when the back
// end goes (an end of the run that never reached finish()), so that a reader of a pipe
// gets blocks of lines instead of one write per line, and only a process killed outright
// loses lines. finish() then writes each row with trailing blanks removed, leaves out
// trailing empty rows and ends every line with a line feed, so the output's last rows are
// the final screen.
class MemoryTerminal : public Terminal {
 public:
  // The bytes of lines kept before they go to the sink.
  static constexpr std::size_t kLineBufferBytes = 64 * 1024;

  explicit MemoryTerminal(OutputSink sink = {}, int rows = 25, int cols = 80,
                          std::size_t line_buffer = kLineBufferBytes);
  // Writes the lines still kept.
  ~MemoryTerminal() override;
  int rows() const override { return rows_; }
  int cols() const override { return cols_; }
  void show(const std::vector<Cell>& grid, int grid_cols, Rect area, int cursor_row,
            int cursor_col) override;
  void bell() override {}
  bool interactive() const override { return false; }
  // Nobody answers; the lines kept so far go out first, as before every wait.
  int read_key(int) override;
  void log_line(std::string_view line) override;
  void finish() override;
  // The text finish() writes.
  std::string text() const;
  // Writes the lines kept so far.
  void flush_lines() override;

 private:
  OutputSink sink_;
  int rows_;
  int cols_;
  std::size_t line_buffer_;
  std::string lines_;  // completed lines not yet written
  std::vector<Cell> shown_;
  bool finished_ = false;
};

// Draws on the terminal of standard output with escape sequences, only the cells that
// changed. Keys are read from standard input in a key mode without echo, taken at
// construction and given back at finish() or destruction. Bytes outside printable ASCII
// show as "?" (the grid keeps them).
class TtyTerminal : public Terminal {
 public:
  // rows/cols 0: the terminal's size (25 by 80 when it reports none).
  explicit TtyTerminal(OutputSink sink = {}, int rows = 0, int cols = 0);
  ~TtyTerminal() override;
  int rows() const override { return rows_; }
  int cols() const override { return cols_; }
  void show(const std::vector<Cell>& grid, int grid_cols, Rect area, int cursor_row,
            int cursor_col) override;
  void bell() override;
  bool interactive() const override { return interactive_; }
  int read_key(int timeout_ms) override;
  void finish() override;

 private:
  void emit(std::string_view bytes);

  OutputSink sink_;
  int rows_;
  int cols_;
  bool interactive_ = false;
  std::vector<Cell> shown_;
  int shown_attr_ = -1;
  // Where the terminal's cursor stands after our last bytes; -1 when not known (at the
  // start, and after a write into the last column, where terminals differ).
  int at_row_ = -1;
  int at_col_ = -1;
  bool finished_ = false;
};

// Draws on a console screen buffer (platform/console_buffer.h) cell by cell. The grid
// is the whole buffer as large as it is at the start (it may exceed the visible
// window), whose window is moved to the top-left corner; the Screen starts from the
// buffer's content and cursor, so nothing changes on the console until the run writes.
// show() writes only what changed, one rectangle per band of consecutive changed rows.
// Bytes go to the cells unchanged: the console shows those above 127 in its output code
// page (the OEM code page the exports were written in, unless the operator chose
// another) and control bytes as its glyphs for them. When the buffer is resized during
// the run the grid keeps its size and the next show() draws all of it again, cut to the
// buffer (the console may have moved its content). Keys are read as TtyTerminal reads
// them. finish() puts back the buffer size and window found at the start, leaves the
// content and puts the cursor on the row below the last one with text.
class ConsoleTerminal : public Terminal {
 public:
  // REQUIRES: buffer != nullptr.
  explicit ConsoleTerminal(std::unique_ptr<ConsoleBuffer> buffer);
  ~ConsoleTerminal() override;
  int rows() const override { return rows_; }
  int cols() const override { return cols_; }
  void initial_screen(std::vector<Cell>& grid, int& cursor_row, int& cursor_col) const override;
  void show(const std::vector<Cell>& grid, int grid_cols, Rect area, int cursor_row,
            int cursor_col) override;
  void bell() override;
  bool interactive() const override { return interactive_; }
  int read_key(int timeout_ms) override;
  void finish() override;

 private:
  void write_rows(int top, int bottom, int left, int right);
  void restore_once();

  std::unique_ptr<ConsoleBuffer> buffer_;
  int rows_ = 0;
  int cols_ = 0;
  // The buffer's size at the last show(), to notice a resize.
  TerminalSize seen_size_;
  bool interactive_ = false;
  // The cells on the console as this back end knows them; where the buffer could not
  // be read, a cell no grid holds (byte 0, attribute 0xFF), so that it is drawn.
  std::vector<BufferCell> shown_;
  int start_row_ = 0;
  int start_col_ = 0;
  int at_row_ = -1;  // the console's cursor; -1 when not known
  int at_col_ = -1;
  bool finished_ = false;
  bool restored_ = false;
};

// The back end for this process: the console buffer when standard output is a console
// (Windows), else the real terminal when standard output is one, else the memory back
// end.
std::unique_ptr<Terminal> open_terminal();

}  // namespace lum
