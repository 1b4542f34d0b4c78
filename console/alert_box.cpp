#include "console/alert_box.h"
#include "platform/text.h"

#include <algorithm>
#include <chrono>

namespace lum {

namespace {

struct Layout {
  Rect frame;
  int options_row = 0;
  std::vector<int> option_cols;
};

Layout lay_out(const Screen& s, const AlertBox& box) {
  int options_width = 0;
  for (const std::string& o : box.options) options_width += static_cast<int>(o.size()) + 4;
  int inner = options_width;
  for (const std::string& l : box.lines) inner = std::max(inner, static_cast<int>(l.size()));
  int cols = s.max_col() + 1, rows = s.max_row() + 1;
  inner = std::min(inner + 2, std::max(1, cols - 2));
  int height = std::min(static_cast<int>(box.lines.size()) + 4, rows);
  Layout l;
  l.frame.top = (rows - height) / 2;
  l.frame.bottom = l.frame.top + height - 1;
  l.frame.left = (cols - inner - 2) / 2;
  if (l.frame.left < 0) l.frame.left = 0;
  l.frame.right = std::min(l.frame.left + inner + 1, cols - 1);
  l.options_row = l.frame.bottom - 1;
  int col = l.frame.left + 1 + std::max(0, (inner - options_width) / 2);
  for (const std::string& o : box.options) {
    l.option_cols.push_back(col + 1);
    col += static_cast<int>(o.size()) + 4;
  }
  return l;
}

void draw(Screen& s, const AlertBox& box, const Layout& l, size_t chosen) {
  int width = l.frame.right - l.frame.left + 1;
  std::string edge = "+" + std::string(static_cast<size_t>(std::max(0, width - 2)), '-') + "+";
  s.put_text(l.frame.top, l.frame.left, edge, box.box_attr);
  s.put_text(l.frame.bottom, l.frame.left, edge, box.box_attr);
  for (int r = l.frame.top + 1; r < l.frame.bottom; ++r) {
    std::string row = "|" + std::string(static_cast<size_t>(std::max(0, width - 2)), ' ') + "|";
    s.put_text(r, l.frame.left, row, box.box_attr);
  }
  for (size_t i = 0; i < box.lines.size(); ++i) {
    int r = l.frame.top + 1 + static_cast<int>(i);
    if (r >= l.options_row) break;
    const std::string& line = box.lines[i];
    int room = width - 2;
    std::string shown = line.substr(0, static_cast<size_t>(std::max(0, room)));
    int col = l.frame.left + 1 + std::max(0, (room - static_cast<int>(shown.size())) / 2);
    s.put_text(r, col, shown, box.box_attr);
  }
  for (size_t i = 0; i < box.options.size(); ++i) {
    std::string text = " " + box.options[i] + " ";
    int limit = l.frame.right - l.option_cols[i];
    if (limit <= 0) break;
    s.put_text(l.options_row, l.option_cols[i], text.substr(0, static_cast<size_t>(limit)),
               i == chosen ? box.hi_attr : box.box_attr);
  }
  s.set_cursor(l.options_row, l.option_cols[chosen] + 1);
  s.refresh();
}

}  // namespace

int run_alert_box(Screen& s, const AlertBox& box) {
  if (box.options.empty()) return kAlertNoChoice;
  Layout l = lay_out(s, box);
  // Keep what the box covers, and the cursor, to put back afterwards.
  std::vector<Cell> under;
  for (int r = l.frame.top; r <= l.frame.bottom; ++r) {
    for (int c = l.frame.left; c <= l.frame.right; ++c) under.push_back(s.cell(r, c));
  }
  int old_row = s.row(), old_col = s.col();

  using Clock = std::chrono::steady_clock;
  const bool timed = box.delay_seconds >= 0;
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(box.delay_seconds);
  size_t chosen = 0;
  int result = kAlertNoChoice;
  for (bool done = false; !done;) {
    draw(s, box, l, chosen);
    int wait = -1;
    if (timed) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      wait = static_cast<int>(std::max<long long>(0, left.count()));
    }
    int key = s.terminal().read_key(wait);
    const size_t n = box.options.size();
    switch (key) {
      case kKeyNone:
        done = true;
        break;  // the delay ran out
      case kKeyGone:
        result = kAlertUnanswerable;
        done = true;
        break;
      case 27:
        done = true;
        break;
      case 13:
      case 10:
      case ' ':
        result = static_cast<int>(chosen) + 1;
        done = true;
        break;
      case kKeyRight:
      case kKeyDown:
      case 9:
        chosen = (chosen + 1) % n;
        break;
      case kKeyLeft:
      case kKeyUp:
        chosen = (chosen + n - 1) % n;
        break;
      case kKeyHome:
        chosen = 0;
        break;
      case kKeyEnd:
        chosen = n - 1;
        break;
      default:
        if (key > 0 && key < 256) {
          for (size_t i = 0; i < n; ++i) {
            if (!box.options[i].empty() &&
                ascii_upper(box.options[i][0]) == ascii_upper(static_cast<char>(key))) {
              result = static_cast<int>(i) + 1;
              done = true;
              break;
            }
          }
        }
        break;
    }
  }
  size_t k = 0;
  for (int r = l.frame.top; r <= l.frame.bottom; ++r) {
    for (int c = l.frame.left; c <= l.frame.right; ++c, ++k) {
      s.put_text(r, c, std::string(1, static_cast<char>(under[k].ch)), under[k].attr);
    }
  }
  s.set_cursor(old_row, old_col);
  s.refresh();
  return result;
}

}  // namespace lum
