#include "console/screen.h"

#include <algorithm>
#include <memory>

namespace lum {

namespace {

int colour_number(std::string_view letters) {
  bool b = false, g = false, r = false, w = false, n = false;
  for (char ch : letters) {
    switch (ch) {
      case 'B':
      case 'b':
        b = true;
        break;
      case 'G':
      case 'g':
        g = true;
        break;
      case 'R':
      case 'r':
        r = true;
        break;
      case 'W':
      case 'w':
        w = true;
        break;
      case 'N':
      case 'n':
        n = true;
        break;
      case ' ':
        break;
      default:
        return -1;
    }
  }
  if (w) return 7;
  if (n && !(b || g || r)) return 0;
  return (b ? 1 : 0) | (g ? 2 : 0) | (r ? 4 : 0);
}

// One half of "fg/bg" without its bright marks: the colour number.
bool read_half(std::string_view half, int& colour) {
  std::string letters;
  for (char ch : half) {
    if (ch != '+' && ch != '*') letters.push_back(ch);
  }
  if (letters.find_first_not_of(' ') == std::string::npos) {
    colour = 0;
    return true;
  }
  colour = colour_number(letters);
  return colour >= 0;
}

}  // namespace

std::uint8_t color_attribute(std::string_view color) {
  std::string_view entry = color.substr(0, color.find(','));
  if (entry.find_first_not_of(' ') == std::string_view::npos) return 0x07;
  size_t slash = entry.find('/');
  std::string_view fg_text = entry.substr(0, slash);
  std::string_view bg_text = slash == std::string_view::npos ? "" : entry.substr(slash + 1);
  int fg = 0, bg = 0;
  if (!read_half(fg_text, fg) || !read_half(bg_text, bg)) return 0x07;
  // A "+" anywhere in the entry brightens the foreground, a "*" the background.
  bool fg_bright = entry.find('+') != std::string_view::npos;
  bool bg_bright = entry.find('*') != std::string_view::npos;
  return static_cast<std::uint8_t>(fg | (fg_bright ? 0x08 : 0) | (bg << 4) |
                                   (bg_bright ? 0x80 : 0));
}

Screen::Screen(Terminal* terminal)
    : terminal_(terminal),
      rows_(std::max(1, terminal->rows())),
      cols_(std::max(1, terminal->cols())),
      grid_(static_cast<size_t>(rows_ * cols_)) {
  terminal->initial_screen(grid_, row_, col_);
}

void Screen::set_cursor(int row, int col) {
  row_ = row;
  col_ = col;
}

void Screen::touch(int top, int left, int bottom, int right) {
  if (dirty_.empty()) {
    dirty_ = Rect{top, left, bottom, right};
    return;
  }
  dirty_.top = std::min(dirty_.top, top);
  dirty_.left = std::min(dirty_.left, left);
  dirty_.bottom = std::max(dirty_.bottom, bottom);
  dirty_.right = std::max(dirty_.right, right);
}

void Screen::put_text(int row, int col, std::string_view bytes, std::uint8_t attr) {
  if (row < 0 || row >= rows_) return;
  long first = std::max<long>(col, 0);
  long last =
      std::min<long>(static_cast<long>(col) + static_cast<long>(bytes.size()) - 1, cols_ - 1);
  if (first > last) return;
  for (long c = first; c <= last; ++c) {
    at(row, static_cast<int>(c)) = Cell{static_cast<unsigned char>(bytes[c - col]), attr};
  }
  touch(row, static_cast<int>(first), row, static_cast<int>(last));
}

void Screen::scroll(Rect area, int vert, int horiz, std::uint8_t attr) {
  if (area.empty()) return;
  const Cell blank{' ', attr};
  int height = area.bottom - area.top + 1, width = area.right - area.left + 1;
  std::vector<Cell> moved(static_cast<size_t>(height * width), blank);
  if (vert != 0 || horiz != 0) {
    for (int r = 0; r < height; ++r) {
      for (int c = 0; c < width; ++c) {
        long sr = static_cast<long>(r) + vert, sc = static_cast<long>(c) + horiz;
        if (sr >= 0 && sr < height && sc >= 0 && sc < width) {
          moved[static_cast<size_t>(r * width + c)] =
              cell(area.top + static_cast<int>(sr), area.left + static_cast<int>(sc));
        }
      }
    }
  }
  for (int r = 0; r < height; ++r) {
    for (int c = 0; c < width; ++c) {
      at(area.top + r, area.left + c) = moved[static_cast<size_t>(r * width + c)];
    }
  }
  touch(area.top, area.left, area.bottom, area.right);
}

void Screen::scroll_up_one() { scroll(Rect{0, 0, rows_ - 1, cols_ - 1}, 1, 0, color_); }

void Screen::write_line(std::string_view bytes) {
  constexpr size_t kRunLimit = 512;
  int r = std::clamp(row_, 0, rows_ - 1);
  int c = std::clamp(col_, 0, cols_ - 1);
  int run_row = r, run_col = c;
  size_t run_start = 0, run_len = 0;
  auto flush = [&] {
    if (run_len > 0) put_text(run_row, run_col, bytes.substr(run_start, run_len), color_);
    run_len = 0;
    row_ = r;
    col_ = c;
    refresh();
  };
  auto next_line = [&] {
    c = 0;
    if (++r > rows_ - 1) {
      scroll_up_one();
      r = rows_ - 1;
    }
  };
  for (size_t i = 0; i < bytes.size(); ++i) {
    unsigned char b = static_cast<unsigned char>(bytes[i]);
    if (b == 7 || b == 8 || b == 10 || b == 13) {
      flush();
      switch (b) {
        case 7:
          bell();
          break;
        case 8:
          if (c > 0) {
            --c;
          } else if (r > 0) {
            --r;
            c = cols_ - 1;
          }
          put_text(r, c, " ", color_);
          break;
        case 10:
          next_line();
          break;
        case 13:
          c = 0;
          if (i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            ++i;
            next_line();
          }
          break;
      }
      run_row = r;
      run_col = c;
      run_start = i + 1;
      continue;
    }
    if (run_len == 0) {
      run_start = i;
      run_row = r;
      run_col = c;
    }
    ++run_len;
    if (++c > cols_ - 1 || run_len == kRunLimit) {
      bool wrap = c > cols_ - 1;
      flush();
      if (wrap) next_line();
    }
  }
  flush();
}

void Screen::refresh() {
  int r = std::clamp(row_, 0, rows_ - 1), c = std::clamp(col_, 0, cols_ - 1);
  terminal_->show(grid_, cols_, dirty_, r, c);
  dirty_ = Rect{};
}

void Screen::bell() { terminal_->bell(); }

std::string Screen::row_text(int row) const {
  std::string out;
  for (int c = 0; c < cols_; ++c) out.push_back(static_cast<char>(cell(row, c).ch));
  return out;
}

void Screen::begin_logged_line() {
  if (line_logged_) terminal_->log_line(logged_);
  logged_.clear();
  line_logged_ = true;
}

void Screen::log_text(std::string_view text) {
  logged_ += text;
  line_logged_ = true;
}

void Screen::finish() {
  refresh();
  if (line_logged_) terminal_->log_line(logged_);
  line_logged_ = false;
  terminal_->finish();
}

Screen& screen() {
  Runtime& rt = Runtime::current();
  if (auto* s = rt.service_as<Screen>(ServiceSlot::Screen)) return *s;
  if (rt.service(ServiceSlot::Terminal) == nullptr) {
    rt.set_service(ServiceSlot::Terminal, std::make_unique<MemoryTerminal>());
  }
  auto* terminal = rt.service_as<Terminal>(ServiceSlot::Terminal);
  auto s = std::make_unique<Screen>(terminal);
  s->set_color(color_attribute(rt.settings().color));
  Screen* raw = s.get();
  rt.set_service(ServiceSlot::Screen, std::move(s));
  return *raw;
}

}  // namespace lum
