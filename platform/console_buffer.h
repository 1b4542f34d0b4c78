// The screen buffer of a console addressed by character cells, as a Windows console
// offers it: its size, its content and cursor, rectangles of cells written and read,
// and the size and window it had when it was opened put back at the end. Only Windows
// has one; elsewhere the terminal is a stream of bytes (platform/terminal.h) and
// open_console_buffer() answers nullptr.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/terminal.h"

namespace lum {

// One cell of the buffer: a byte, shown in the console's output code page, and a
// colour attribute (foreground in the low four bits, background in the high four; 8 is
// the bright bit of each).
struct BufferCell {
  unsigned char ch = ' ';
  std::uint8_t attr = 0x07;
};

// A rectangle of `rows` by `cols` cells whose top-left cell is (top, left).
struct BufferRect {
  int top = 0;
  int left = 0;
  int rows = 0;
  int cols = 0;
  friend bool operator==(BufferRect, BufferRect) = default;
};

class ConsoleBuffer {
 public:
  virtual ~ConsoleBuffer() = default;
  // Rows and columns of the buffer now (it may be resized while it is open); 0 and 0
  // when the console does not answer.
  virtual TerminalSize size() = 0;
  // Reads the cells of `rect` into `cells`, row after row, `stride` cells apart.
  // False when the console refuses; cells outside the buffer are left as they are.
  virtual bool read(BufferRect rect, BufferCell* cells, int stride) = 0;
  // Writes the cells of `rect` from `cells`, row after row, `stride` cells apart; cells
  // outside the buffer are dropped. False when the console refuses.
  virtual bool write(BufferRect rect, const BufferCell* cells, int stride) = 0;
  // The cursor's position; false when the console does not answer.
  virtual bool cursor(int& row, int& col) = 0;
  // Moves the cursor; the console scrolls its window to show it. False outside the
  // buffer.
  virtual bool set_cursor(int row, int col) = 0;
  // Moves the cursor to the start of the next row, scrolling the buffer up by one row
  // when it stands on the last one, as a line end written to the console does.
  virtual void new_line() = 0;
  virtual void bell() = 0;
  // Moves the window (the visible part) to the buffer's top-left corner, keeping its
  // size.
  virtual void home_window() = 0;
  // Puts back the buffer size and the window found when the buffer was opened.
  virtual void restore() = 0;
};

// The screen buffer of the console on standard output; nullptr when standard output is
// no console (a file, a pipe, NUL) or the host has no console buffers.
std::unique_ptr<ConsoleBuffer> open_console_buffer();

// Test seam: a new screen buffer of this process's console, never made the visible one
// and closed with the object; nullptr when the process has no console.
std::unique_ptr<ConsoleBuffer> open_scratch_console_buffer();

}  // namespace lum
