#include "console/backend.h"

#include <cstdio>

#include "platform/terminal.h"

namespace lum {

namespace {

OutputSink stdout_sink() {
  return [](std::string_view bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fflush(stdout);
  };
}

void copy_area(std::vector<Cell>& to, int to_cols, int to_rows, const std::vector<Cell>& grid,
               int grid_cols, Rect area) {
  for (int r = area.top; r <= area.bottom && r < to_rows; ++r) {
    for (int c = area.left; c <= area.right && c < to_cols; ++c) {
      to[static_cast<size_t>(r * to_cols + c)] = grid[static_cast<size_t>(r * grid_cols + c)];
    }
  }
}

// The colour numbers of the attribute (blue is 1, red 4) against the terminal's (red 1,
// blue 4).
constexpr int kAnsiColour[8] = {0, 4, 2, 6, 1, 5, 3, 7};

std::string sgr(std::uint8_t attr) {
  int fg = attr & 0x07, bg = (attr >> 4) & 0x07;
  bool fg_bright = (attr & 0x08) != 0, bg_bright = (attr & 0x80) != 0;
  return "\x1b[0;" + std::to_string((fg_bright ? 90 : 30) + kAnsiColour[fg]) + ";" +
         std::to_string((bg_bright ? 100 : 40) + kAnsiColour[bg]) + "m";
}

std::string move_to(int row, int col) {
  return "\x1b[" + std::to_string(row + 1) + ";" + std::to_string(col + 1) + "H";
}

}  // namespace

// --- memory back end ---

MemoryTerminal::MemoryTerminal(OutputSink sink, int rows, int cols)
    : sink_(sink ? std::move(sink) : stdout_sink()),
      rows_(rows),
      cols_(cols),
      shown_(static_cast<size_t>(rows * cols)) {}

void MemoryTerminal::show(const std::vector<Cell>& grid, int grid_cols, Rect area, int, int) {
  copy_area(shown_, cols_, rows_, grid, grid_cols, area);
}

std::string MemoryTerminal::text() const {
  std::string out;
  size_t kept = 0;  // length of `out` up to the last row with text
  for (int r = 0; r < rows_; ++r) {
    int end = cols_;
    while (end > 0 && shown_[static_cast<size_t>(r * cols_ + end - 1)].ch == ' ') --end;
    for (int c = 0; c < end; ++c) out.push_back(static_cast<char>(shown_[r * cols_ + c].ch));
    out.push_back('\n');
    if (end > 0) kept = out.size();
  }
  out.resize(kept);
  return out;
}

void MemoryTerminal::log_line(std::string_view line) {
  if (finished_) return;
  std::string text(line);
  text.push_back('\n');
  sink_(text);
}

void MemoryTerminal::finish() {
  if (finished_) return;
  finished_ = true;
  std::string t = text();
  if (!t.empty()) sink_(t);
}

// --- real terminal ---

TtyTerminal::TtyTerminal(OutputSink sink, int rows, int cols)
    : sink_(sink ? std::move(sink) : OutputSink([](std::string_view b) { write_stdout(b); })) {
  if (rows <= 0 || cols <= 0) {
    TerminalSize size = terminal_size();
    rows = size.rows > 0 ? size.rows : 25;
    cols = size.cols > 0 ? size.cols : 80;
  }
  rows_ = rows;
  cols_ = cols;
  // An attribute no grid cell carries: the first show() draws every cell it is given,
  // whatever the terminal showed before the run.
  shown_.assign(static_cast<size_t>(rows_ * cols_), Cell{0, 0xFF});
  interactive_ = enter_key_mode();
}

TtyTerminal::~TtyTerminal() { restore_terminal_mode(); }

void TtyTerminal::emit(std::string_view bytes) {
  if (!bytes.empty()) sink_(bytes);
}

void TtyTerminal::show(const std::vector<Cell>& grid, int grid_cols, Rect area, int cursor_row,
                       int cursor_col) {
  if (finished_) return;
  std::string out;
  for (int r = area.top; r <= area.bottom && r < rows_; ++r) {
    int first = -1, last = -1;
    for (int c = area.left; c <= area.right && c < cols_; ++c) {
      if (!(grid[static_cast<size_t>(r * grid_cols + c)] == shown_[r * cols_ + c])) {
        if (first < 0) first = c;
        last = c;
      }
    }
    if (first < 0) continue;
    if (r != at_row_ || first != at_col_) out += move_to(r, first);
    for (int c = first; c <= last; ++c) {
      Cell cell = grid[static_cast<size_t>(r * grid_cols + c)];
      if (cell.attr != shown_attr_) {
        out += sgr(cell.attr);
        shown_attr_ = cell.attr;
      }
      out.push_back(cell.ch >= 0x20 && cell.ch < 0x7F ? static_cast<char>(cell.ch) : '?');
      shown_[static_cast<size_t>(r * cols_ + c)] = cell;
    }
    at_row_ = r;
    at_col_ = last + 1 < cols_ ? last + 1 : -1;
    if (at_col_ < 0) at_row_ = -1;
  }
  if (cursor_row != at_row_ || cursor_col != at_col_) {
    out += move_to(cursor_row, cursor_col);
    at_row_ = cursor_row;
    at_col_ = cursor_col;
  }
  emit(out);
}

void TtyTerminal::bell() {
  if (!finished_) emit("\a");
}

int TtyTerminal::read_key(int timeout_ms) {
  if (!interactive_) return kKeyGone;
  int b = read_stdin_byte(timeout_ms);
  if (b == kReadTimeout) return kKeyNone;
  if (b < 0) return kKeyGone;
  if (b != 0x1B) return b;
  // An escape byte alone is the Escape key; the keys that send sequences follow it
  // within a moment. Sequences not known here are read whole and ignored (key 0).
  int b2 = read_stdin_byte(30);
  if (b2 != '[' && b2 != 'O') return 0x1B;
  int final_byte = read_stdin_byte(30);
  while (b2 == '[' && final_byte >= 0x20 && final_byte < 0x40) final_byte = read_stdin_byte(30);
  switch (final_byte) {
    case 'A':
      return kKeyUp;
    case 'B':
      return kKeyDown;
    case 'C':
      return kKeyRight;
    case 'D':
      return kKeyLeft;
    case 'H':
      return kKeyHome;
    case 'F':
      return kKeyEnd;
    case 'Z':
      return kKeyLeft;  // Shift+Tab
    default:
      return 0;
  }
}

void TtyTerminal::finish() {
  if (finished_) return;
  finished_ = true;
  // Leave what the run showed in place and put the terminal's cursor on the line below
  // the last one with text, so the shell's prompt does not cover it.
  int last = -1;
  for (int r = 0; r < rows_; ++r) {
    for (int c = 0; c < cols_; ++c) {
      Cell cell = shown_[static_cast<size_t>(r * cols_ + c)];
      if (cell.attr != 0xFF && cell.ch != ' ') last = r;
    }
  }
  std::string out = "\x1b[0m";
  if (last >= 0) {
    if (last + 1 < rows_) {
      out += move_to(last + 1, 0);
    } else {
      out += move_to(rows_ - 1, 0) + "\r\n";
    }
  }
  emit(out);
  restore_terminal_mode();
  interactive_ = false;
}

std::unique_ptr<Terminal> open_terminal() {
  if (stdout_is_terminal()) return std::make_unique<TtyTerminal>();
  return std::make_unique<MemoryTerminal>();
}

}  // namespace lum
