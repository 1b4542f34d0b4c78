#include "console/backend.h"

#include <algorithm>
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

// A key from standard input in key mode, from the bytes a terminal sends for it (the
// Windows console's keys arrive as the same bytes).
int read_terminal_key(int timeout_ms) {
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

}  // namespace

// --- memory back end ---

MemoryTerminal::MemoryTerminal(OutputSink sink, int rows, int cols, std::size_t line_buffer)
    : sink_(sink ? std::move(sink) : stdout_sink()),
      rows_(rows),
      cols_(cols),
      line_buffer_(line_buffer),
      shown_(static_cast<size_t>(rows * cols)) {}

MemoryTerminal::~MemoryTerminal() {
  try {
    flush_lines();
  } catch (...) {
    // A sink that fails as the back end goes: nothing more can be done for the lines.
  }
}

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
  lines_ += line;
  lines_.push_back('\n');
  if (lines_.size() >= line_buffer_) flush_lines();
}

void MemoryTerminal::flush_lines() {
  if (lines_.empty()) return;
  sink_(lines_);
  lines_.clear();
}

int MemoryTerminal::read_key(int) {
  flush_lines();
  return kKeyGone;
}

void MemoryTerminal::finish() {
  if (finished_) return;
  flush_lines();
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
  return read_terminal_key(timeout_ms);
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

// --- console screen buffer ---

namespace {

constexpr BufferCell kUnknownCell{0, 0xFF};

bool unknown(BufferCell cell) {
  return cell.ch == kUnknownCell.ch && cell.attr == kUnknownCell.attr;
}

}  // namespace

ConsoleTerminal::ConsoleTerminal(std::unique_ptr<ConsoleBuffer> buffer)
    : buffer_(std::move(buffer)) {
  buffer_->home_window();
  seen_size_ = buffer_->size();
  rows_ = seen_size_.rows > 0 ? seen_size_.rows : 25;
  cols_ = seen_size_.cols > 0 ? seen_size_.cols : 80;
  shown_.assign(static_cast<size_t>(rows_) * static_cast<size_t>(cols_), kUnknownCell);
  if (!buffer_->read(BufferRect{0, 0, rows_, cols_}, shown_.data(), cols_)) {
    shown_.assign(shown_.size(), kUnknownCell);
  }
  if (!buffer_->cursor(start_row_, start_col_) || start_row_ < 0 || start_row_ >= rows_ ||
      start_col_ < 0 || start_col_ >= cols_) {
    start_row_ = 0;
    start_col_ = 0;
  }
  at_row_ = start_row_;
  at_col_ = start_col_;
  interactive_ = enter_key_mode();
}

ConsoleTerminal::~ConsoleTerminal() {
  if (!finished_) restore_once();
  restore_terminal_mode();
}

void ConsoleTerminal::initial_screen(std::vector<Cell>& grid, int& cursor_row,
                                     int& cursor_col) const {
  if (grid.size() != shown_.size()) return;
  for (size_t i = 0; i < shown_.size(); ++i) {
    if (!unknown(shown_[i])) grid[i] = Cell{shown_[i].ch, shown_[i].attr};
  }
  cursor_row = start_row_;
  cursor_col = start_col_;
}

void ConsoleTerminal::write_rows(int top, int bottom, int left, int right) {
  // A buffer made smaller during the run keeps only the cells that still fit.
  if (seen_size_.rows > 0) bottom = std::min(bottom, seen_size_.rows - 1);
  if (seen_size_.cols > 0) right = std::min(right, seen_size_.cols - 1);
  if (bottom < top || right < left) return;
  buffer_->write(
      BufferRect{top, left, bottom - top + 1, right - left + 1},
      &shown_[static_cast<size_t>(top) * static_cast<size_t>(cols_) + static_cast<size_t>(left)],
      cols_);
}

void ConsoleTerminal::show(const std::vector<Cell>& grid, int grid_cols, Rect area, int cursor_row,
                           int cursor_col) {
  if (finished_) return;
  TerminalSize now = buffer_->size();
  bool resized = now.rows > 0 && (now.rows != seen_size_.rows || now.cols != seen_size_.cols);
  if (resized) seen_size_ = now;
  // Rows with changes next to each other go out as one rectangle spanning the changed
  // columns of all of them, so that a cleared screen is a few writes, not one per row.
  int band_top = -1, band_left = 0, band_right = 0;
  int last_row = std::min(area.bottom, rows_ - 1);
  for (int r = std::max(area.top, 0); r <= last_row; ++r) {
    int first = -1, last = -1;
    for (int c = std::max(area.left, 0); c <= area.right && c < cols_; ++c) {
      Cell cell = grid[static_cast<size_t>(r * grid_cols + c)];
      BufferCell& on =
          shown_[static_cast<size_t>(r) * static_cast<size_t>(cols_) + static_cast<size_t>(c)];
      if (cell.ch == on.ch && cell.attr == on.attr) continue;
      on = BufferCell{cell.ch, cell.attr};
      if (first < 0) first = c;
      last = c;
    }
    if (first < 0) {
      if (band_top >= 0 && !resized) write_rows(band_top, r - 1, band_left, band_right);
      band_top = -1;
      continue;
    }
    if (band_top < 0) {
      band_top = r;
      band_left = first;
      band_right = last;
    } else {
      band_left = std::min(band_left, first);
      band_right = std::max(band_right, last);
    }
  }
  if (band_top >= 0 && !resized) write_rows(band_top, last_row, band_left, band_right);
  if (resized) write_rows(0, rows_ - 1, 0, cols_ - 1);
  if (resized || cursor_row != at_row_ || cursor_col != at_col_) {
    if (buffer_->set_cursor(cursor_row, cursor_col)) {
      at_row_ = cursor_row;
      at_col_ = cursor_col;
    } else {
      at_row_ = at_col_ = -1;  // outside a smaller buffer: tried again at the next show
    }
  }
}

void ConsoleTerminal::bell() {
  if (!finished_) buffer_->bell();
}

int ConsoleTerminal::read_key(int timeout_ms) {
  if (!interactive_) return kKeyGone;
  return read_terminal_key(timeout_ms);
}

void ConsoleTerminal::restore_once() {
  if (restored_) return;
  restored_ = true;
  buffer_->restore();
}

void ConsoleTerminal::finish() {
  if (finished_) return;
  finished_ = true;
  restore_once();
  // The cursor goes below the last row with text, where the shell's prompt covers none
  // of it; placing it after the window is put back lets the console bring it into view.
  int last = -1;
  for (int r = 0; r < rows_; ++r) {
    for (int c = 0; c < cols_; ++c) {
      BufferCell cell =
          shown_[static_cast<size_t>(r) * static_cast<size_t>(cols_) + static_cast<size_t>(c)];
      if (cell.ch != ' ' && cell.ch != 0) last = r;
    }
  }
  if (last >= 0 && last + 1 < rows_) {
    buffer_->set_cursor(last + 1, 0);
  } else if (last >= 0) {
    buffer_->set_cursor(rows_ - 1, 0);
    buffer_->new_line();
  }
  restore_terminal_mode();
  interactive_ = false;
}

std::unique_ptr<Terminal> open_terminal() {
  if (auto buffer = open_console_buffer()) {
    return std::make_unique<ConsoleTerminal>(std::move(buffer));
  }
  if (stdout_is_terminal()) return std::make_unique<TtyTerminal>();
  return std::make_unique<MemoryTerminal>();
}

}  // namespace lum
