// A console's screen buffer as the console back end uses it: cells written and read back
// unchanged (every byte, every attribute), rectangles larger than one console transfer
// or reaching past the buffer's edge, and the cursor. It works on a scratch buffer of
// the process's console, never the visible one. Only Windows has one; under wine a
// process gets a console only on a terminal, so CTest also runs these tests on one
// (ConsoleBuffer.OnATerminal), where LUM_REQUIRE_CONSOLE turns the skip into a failure.
#include "platform/console_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace lum {
namespace {

std::unique_ptr<ConsoleBuffer> scratch_buffer() {
  auto buffer = open_scratch_console_buffer();
  if (buffer == nullptr && std::getenv("LUM_REQUIRE_CONSOLE") != nullptr) {
    ADD_FAILURE() << "no console although one was required";
  }
  return buffer;
}

bool same(BufferCell a, BufferCell b) { return a.ch == b.ch && a.attr == b.attr; }

TEST(ConsoleBuffer, CellsComeBackAsWrittenAcrossTheWholeBuffer) {
  auto buffer = scratch_buffer();
  if (buffer == nullptr)
    GTEST_SKIP() << "this process has no console (none on POSIX; under wine only on a terminal)";
  TerminalSize size = buffer->size();
  ASSERT_GT(size.rows, 0);
  ASSERT_GT(size.cols, 0);
  // Every byte and every attribute, over more cells than one transfer carries.
  std::vector<BufferCell> cells(static_cast<size_t>(size.rows * size.cols));
  for (size_t i = 0; i < cells.size(); ++i) {
    cells[i] = BufferCell{static_cast<unsigned char>(i % 256),
                          static_cast<std::uint8_t>((i / 256 + i) % 256)};
  }
  ASSERT_TRUE(buffer->write(BufferRect{0, 0, size.rows, size.cols}, cells.data(), size.cols));
  std::vector<BufferCell> back(cells.size(), BufferCell{'?', 0});
  ASSERT_TRUE(buffer->read(BufferRect{0, 0, size.rows, size.cols}, back.data(), size.cols));
  size_t differ = 0;
  for (size_t i = 0; i < cells.size(); ++i) differ += same(cells[i], back[i]) ? 0 : 1;
  EXPECT_EQ(0u, differ) << "of " << cells.size() << " cells";

  // A rectangle over the bottom-right corner keeps the cells inside; one above the top
  // left writes from its first cell inside.
  const BufferCell x{'x', 0x1E};
  std::vector<BufferCell> block(15, x);
  EXPECT_TRUE(buffer->write(BufferRect{size.rows - 2, size.cols - 3, 3, 5}, block.data(), 5));
  EXPECT_TRUE(buffer->write(BufferRect{-1, -1, 2, 2}, block.data(), 2));
  std::vector<BufferCell> corner(6);
  ASSERT_TRUE(buffer->read(BufferRect{size.rows - 2, size.cols - 3, 2, 3}, corner.data(), 3));
  EXPECT_TRUE(std::all_of(corner.begin(), corner.end(), [&](BufferCell c) { return same(c, x); }));
  BufferCell first;
  ASSERT_TRUE(buffer->read(BufferRect{0, 0, 1, 1}, &first, 1));
  EXPECT_TRUE(same(x, first));
}

TEST(ConsoleBuffer, CursorMovesInsideTheBufferOnly) {
  auto buffer = scratch_buffer();
  if (buffer == nullptr)
    GTEST_SKIP() << "this process has no console (none on POSIX; under wine only on a terminal)";
  TerminalSize size = buffer->size();
  ASSERT_TRUE(buffer->set_cursor(size.rows - 1, 2));
  int row = -1, col = -1;
  ASSERT_TRUE(buffer->cursor(row, col));
  EXPECT_EQ(size.rows - 1, row);
  EXPECT_EQ(2, col);
  EXPECT_FALSE(buffer->set_cursor(size.rows, 0));
  EXPECT_FALSE(buffer->set_cursor(-1, 0));
  // Moving the window home and back leaves the buffer's size as it was.
  buffer->home_window();
  buffer->restore();
  EXPECT_EQ(size.rows, buffer->size().rows);
  EXPECT_EQ(size.cols, buffer->size().cols);
}

}  // namespace
}  // namespace lum
