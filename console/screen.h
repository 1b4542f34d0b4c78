// The screen as the run sees it: a grid of cells rows 0..MaxRow by columns 0..MaxCol, a
// cursor that may stand outside it, and the current colour. Every change is shown
// through the terminal back end at the next refresh. One Screen per process, in Runtime
// slot ServiceSlot::Screen.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "console/backend.h"
#include "runtime/runtime.h"
#include "runtime/value.h"

namespace lum {

// The attribute of the first entry of a colour text ("W/N,N/W" gives white on black;
// "W+/R" bright white on red). Letters N B G BG R RB GR W (any case, either order of a
// pair); "+" brightens the foreground, "*" the background. A missing half is black; an
// empty or unreadable entry gives white on black.
std::uint8_t color_attribute(std::string_view color);

class Screen : public Service {
 public:
  // Starts from what the terminal showed (Terminal::initial_screen).
  // REQUIRES: terminal outlives the Screen (slot Terminal is released after this one's
  // users, and the Screen never touches it in its destructor).
  explicit Screen(Terminal* terminal);

  int max_row() const { return rows_ - 1; }
  int max_col() const { return cols_ - 1; }
  int row() const { return row_; }
  int col() const { return col_; }
  // Moves the cursor; any values, also outside the grid.
  void set_cursor(int row, int col);
  std::uint8_t color() const { return color_; }
  void set_color(std::uint8_t attr) { color_ = attr; }

  // Stores bytes into one row from a column on, dropping cells outside the grid.
  void put_text(int row, int col, std::string_view bytes, std::uint8_t attr);
  // Moves the rectangle's content up by `vert` rows (down when negative) and left by
  // `horiz` columns (right when negative), filling freed cells with blanks of `attr`;
  // both 0 clears it. REQUIRES: the rectangle lies inside the grid.
  void scroll(Rect area, int vert, int horiz, std::uint8_t attr);
  // Writes bytes as line output: control bytes act, text wraps at the right edge and
  // scrolls the screen at the bottom.
  void write_line(std::string_view bytes);
  // The lines of line output as written, for the back end's log: a new line begins
  // (QOUT), completing the one before; text continues the current line (QQOUT). The
  // last line is completed by finish().
  void begin_logged_line();
  void log_text(std::string_view text);

  // Shows what changed since the last refresh.
  void refresh();
  void bell();

  Cell cell(int row, int col) const { return grid_[static_cast<size_t>(row * cols_ + col)]; }
  // The bytes of one row, blanks included.
  std::string row_text(int row) const;
  Terminal& terminal() { return *terminal_; }
  // The active screen format (__SETFORMAT); NIL when none.
  const Value& format() const { return format_; }
  void set_format(Value f) { format_ = std::move(f); }

  // Shows what is pending and hands the end of the run to the back end.
  void finish();

 private:
  void touch(int top, int left, int bottom, int right);
  Cell& at(int row, int col) { return grid_[static_cast<size_t>(row * cols_ + col)]; }
  void scroll_up_one();

  Terminal* terminal_;
  int rows_;
  int cols_;
  std::vector<Cell> grid_;
  int row_ = 0;
  int col_ = 0;
  std::uint8_t color_ = 0x07;
  Rect dirty_;
  std::string logged_;        // the line of line output being written
  bool line_logged_ = false;  // logged_ holds a line not yet handed to the back end
  Value format_;
};

// The process's screen; created on first use with the back end of open_terminal()
// when start-up has not installed one.
Screen& screen();

}  // namespace lum
