#include "console/output.h"

#include <algorithm>
#include <cmath>

#include "console/screen.h"
#include "runtime/runtime.h"
#include "values/dates.h"
#include "values/number_text.h"

namespace lum {

namespace {

// A numeric argument as an int, saturated; nullopt for other kinds.
std::optional<int> as_int(const Value& v) {
  if (!v.is_number()) return std::nullopt;
  double d = v.num().as_double();
  if (std::isnan(d)) return 0;
  d = std::trunc(std::clamp(d, -2147483647.0, 2147483647.0));
  return static_cast<int>(d);
}

}  // namespace

std::optional<std::string> screen_text(const Value& x, bool dotted_logical) {
  switch (x.kind()) {
    case Kind::String:
      return x.str();
    case Kind::Number:
      return number_text(x.num());
    case Kind::Date:
      return dtoc_text(x.day());
    case Kind::Logical:
      if (dotted_logical) return std::string(x.log() ? ".T." : ".F.");
      return std::string(x.log() ? "T" : "F");
    case Kind::Nil:
      return std::string("NIL");
    default:
      return std::nullopt;
  }
}

void SCROLL(const Value& top, const Value& left, const Value& bottom, const Value& right,
            const Value& vert, const Value& horiz) {
  Screen& s = screen();
  int max_row = s.max_row(), max_col = s.max_col();
  Rect area;
  area.top = std::clamp(as_int(top).value_or(0), 0, max_row);
  area.left = std::clamp(as_int(left).value_or(0), 0, max_col);
  area.bottom = std::min(as_int(bottom).value_or(max_row), max_row);
  area.right = std::min(as_int(right).value_or(max_col), max_col);
  if (area.bottom < area.top || area.right < area.left) return;
  s.scroll(area, as_int(vert).value_or(0), as_int(horiz).value_or(0), s.color());
  s.refresh();
}

void SETPOS(const Value& row, const Value& col) {
  std::optional<int> r = as_int(row), c = as_int(col);
  if (!r || !c) return;
  set_position(*r, *c);
}

void set_position(int row, int col) {
  Screen& s = screen();
  s.set_cursor(row, col);
  s.refresh();
}

// The printer is never the device of this run (no printer file is ever opened), so the
// device position is always the screen cursor.
void DEVPOS(const Value& row, const Value& col) { SETPOS(row, col); }

void DEVOUT(const Value& x, const Value& color, const Value& row, const Value& col) {
  if (row.is_number() && col.is_number()) DEVPOS(row, col);
  std::optional<std::string> saved;
  if (color.is_string()) saved = SETCOLOR(color);
  if (std::optional<std::string> text = screen_text(x, false)) devout_text(*text);
  if (saved) SETCOLOR(Value::string(*saved));
}

void devout_text(std::string_view text) {
  Screen& s = screen();
  s.put_text(s.row(), s.col(), text, s.color());
  long next = static_cast<long>(s.col()) + static_cast<long>(text.size());
  s.set_cursor(s.row(), static_cast<int>(std::min<long>(next, 2147483647L)));
  s.refresh();
}

void QQOUT(std::span<const Value> args) {
  if (!Runtime::current().settings().console) return;
  Screen& s = screen();
  for (size_t i = 0; i < args.size(); ++i) {
    if (i > 0) {
      s.write_line(" ");
      s.log_text(" ");
    }
    if (std::optional<std::string> text = screen_text(args[i], true)) {
      s.write_line(*text);
      s.log_text(*text);
    }
  }
}

void QOUT(std::span<const Value> args) {
  if (!Runtime::current().settings().console) return;
  Screen& s = screen();
  s.write_line("\r\n");
  s.begin_logged_line();
  QQOUT(args);
}

void cmd::SETFORMAT(const Value& format) { screen().set_format(format); }

bool screen_format_active() { return !screen().format().is_nil(); }

std::string SETCOLOR() { return Runtime::current().settings().color; }

std::string SETCOLOR(const Value& color) {
  Settings& set = Runtime::current().settings();
  std::string old = set.color;
  if (color.is_string()) {
    set.color = color.str();
    screen().set_color(color_attribute(set.color));
  }
  return old;
}

}  // namespace lum
