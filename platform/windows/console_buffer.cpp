// A Windows console screen buffer: GetConsoleScreenBufferInfo for its size, window and
// cursor, ReadConsoleOutputA and WriteConsoleOutputA for its cells (whose bytes the
// console shows in its output code page, and whose attribute bits are the grid's own),
// SetConsoleScreenBufferSize and SetConsoleWindowInfo to put back what was found.
#include "platform/console_buffer.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <vector>

namespace lum {

namespace {

// The cells of one ReadConsoleOutputA or WriteConsoleOutputA: the console refuses
// transfers much above 64 KB (a CHAR_INFO is four bytes).
constexpr int kMaxCells = 8000;

// Cuts `rect` to coordinates a console can name (0 .. SHRT_MAX) and moves `first` on to
// the cell that is then its top-left; false when nothing is left.
template <typename CellPtr>
bool clip(BufferRect& rect, CellPtr& first, int stride) {
  if (rect.top < 0) {
    first += static_cast<long>(-rect.top) * stride;
    rect.rows += rect.top;
    rect.top = 0;
  }
  if (rect.left < 0) {
    first += -rect.left;
    rect.cols += rect.left;
    rect.left = 0;
  }
  rect.rows = std::min(rect.rows, SHRT_MAX + 1 - std::min(rect.top, SHRT_MAX + 1));
  rect.cols = std::min(rect.cols, SHRT_MAX + 1 - std::min(rect.left, SHRT_MAX + 1));
  return rect.rows > 0 && rect.cols > 0;
}

// Calls `step(part, offset)` for pieces of `rect` of at most kMaxCells cells each;
// `offset` is the piece's first cell counted in the caller's rows of `stride` cells.
template <typename Step>
bool in_pieces(BufferRect rect, int stride, Step step) {
  int piece_cols = std::min(rect.cols, kMaxCells);
  int piece_rows = std::max(1, kMaxCells / piece_cols);
  bool ok = true;
  for (int r = 0; r < rect.rows; r += piece_rows) {
    for (int c = 0; c < rect.cols; c += piece_cols) {
      BufferRect part{rect.top + r, rect.left + c, std::min(piece_rows, rect.rows - r),
                      std::min(piece_cols, rect.cols - c)};
      ok = step(part, static_cast<long>(r) * stride + c) && ok;
    }
  }
  return ok;
}

SMALL_RECT region_of(BufferRect part) {
  return SMALL_RECT{static_cast<SHORT>(part.left), static_cast<SHORT>(part.top),
                    static_cast<SHORT>(part.left + part.cols - 1),
                    static_cast<SHORT>(part.top + part.rows - 1)};
}

class WindowsConsoleBuffer : public ConsoleBuffer {
 public:
  WindowsConsoleBuffer(HANDLE handle, bool owned, const CONSOLE_SCREEN_BUFFER_INFO& found)
      : handle_(handle), owned_(owned), found_size_(found.dwSize), found_window_(found.srWindow) {}
  ~WindowsConsoleBuffer() override {
    if (owned_) ::CloseHandle(handle_);
  }

  TerminalSize size() override {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!::GetConsoleScreenBufferInfo(handle_, &info)) return {};
    return TerminalSize{info.dwSize.Y, info.dwSize.X};
  }

  bool read(BufferRect rect, BufferCell* cells, int stride) override {
    if (!clip(rect, cells, stride)) return true;
    std::vector<CHAR_INFO> got;
    return in_pieces(rect, stride, [&](BufferRect part, long offset) {
      got.assign(static_cast<size_t>(part.rows * part.cols), CHAR_INFO{});
      SMALL_RECT region = region_of(part);
      if (!::ReadConsoleOutputA(handle_, got.data(),
                                COORD{static_cast<SHORT>(part.cols), static_cast<SHORT>(part.rows)},
                                COORD{0, 0}, &region)) {
        return false;
      }
      // The console cuts the region at the buffer's edge and says what it read.
      for (int r = 0; r <= region.Bottom - region.Top; ++r) {
        for (int c = 0; c <= region.Right - region.Left; ++c) {
          const CHAR_INFO& from = got[static_cast<size_t>(r * part.cols + c)];
          cells[offset + static_cast<long>(r) * stride + c] =
              BufferCell{static_cast<unsigned char>(from.Char.AsciiChar),
                         static_cast<std::uint8_t>(from.Attributes & 0xFF)};
        }
      }
      return true;
    });
  }

  bool write(BufferRect rect, const BufferCell* cells, int stride) override {
    if (!clip(rect, cells, stride)) return true;
    std::vector<CHAR_INFO> put;
    return in_pieces(rect, stride, [&](BufferRect part, long offset) {
      put.resize(static_cast<size_t>(part.rows * part.cols));
      for (int r = 0; r < part.rows; ++r) {
        for (int c = 0; c < part.cols; ++c) {
          BufferCell from = cells[offset + static_cast<long>(r) * stride + c];
          CHAR_INFO& to = put[static_cast<size_t>(r * part.cols + c)];
          to.Char.AsciiChar = static_cast<CHAR>(from.ch);
          to.Attributes = from.attr;
        }
      }
      SMALL_RECT region = region_of(part);
      return ::WriteConsoleOutputA(
                 handle_, put.data(),
                 COORD{static_cast<SHORT>(part.cols), static_cast<SHORT>(part.rows)}, COORD{0, 0},
                 &region) != 0;
    });
  }

  bool cursor(int& row, int& col) override {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!::GetConsoleScreenBufferInfo(handle_, &info)) return false;
    row = info.dwCursorPosition.Y;
    col = info.dwCursorPosition.X;
    return true;
  }

  bool set_cursor(int row, int col) override {
    if (row < 0 || col < 0 || row > SHRT_MAX || col > SHRT_MAX) return false;
    return ::SetConsoleCursorPosition(handle_,
                                      COORD{static_cast<SHORT>(col), static_cast<SHORT>(row)}) != 0;
  }

  void new_line() override {
    DWORD put = 0;
    ::WriteConsoleA(handle_, "\r\n", 2, &put, nullptr);
  }

  void bell() override { ::Beep(800, 100); }

  void home_window() override {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!::GetConsoleScreenBufferInfo(handle_, &info)) return;
    SMALL_RECT home{0, 0, static_cast<SHORT>(info.srWindow.Right - info.srWindow.Left),
                    static_cast<SHORT>(info.srWindow.Bottom - info.srWindow.Top)};
    ::SetConsoleWindowInfo(handle_, TRUE, &home);
  }

  void restore() override {
    // The window must fit the buffer at every step: into the present buffer first, then
    // the buffer back to its size (which held that window), then the window once more
    // in case the first step did not fit.
    ::SetConsoleWindowInfo(handle_, TRUE, &found_window_);
    ::SetConsoleScreenBufferSize(handle_, found_size_);
    ::SetConsoleWindowInfo(handle_, TRUE, &found_window_);
  }

 private:
  HANDLE handle_;
  bool owned_;
  COORD found_size_;
  SMALL_RECT found_window_;
};

}  // namespace

std::unique_ptr<ConsoleBuffer> open_console_buffer() {
  // The handle of standard output, so that output sent elsewhere (a file, a pipe, NUL,
  // none of which answers as a console) is never drawn on.
  HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (out == nullptr || out == INVALID_HANDLE_VALUE || !::GetConsoleScreenBufferInfo(out, &info)) {
    return nullptr;
  }
  if (info.dwSize.X <= 0 || info.dwSize.Y <= 0) return nullptr;
  return std::make_unique<WindowsConsoleBuffer>(out, false, info);
}

std::unique_ptr<ConsoleBuffer> open_scratch_console_buffer() {
  HANDLE h =
      ::CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, CONSOLE_TEXTMODE_BUFFER, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!::GetConsoleScreenBufferInfo(h, &info)) {
    ::CloseHandle(h);
    return nullptr;
  }
  return std::make_unique<WindowsConsoleBuffer>(h, true, info);
}

}  // namespace lum
