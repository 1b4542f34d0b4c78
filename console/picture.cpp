#include "console/picture.h"

#include <cstdint>
#include <optional>

#include "console/output.h"
#include "platform/text.h"
#include "runtime/runtime.h"
#include "values/number_text.h"

namespace lum {

namespace {

struct Picture {
  bool exchange = false;     // E
  bool blank_zero = false;   // Z
  bool zero_fill = false;    // 0 or L
  bool credit = false;       // C
  bool debit = false;        // X
  bool parentheses = false;  // ( or )
  int cut = 0;               // S n
  std::string_view tmpl;
};

Picture parse_picture(std::string_view pic) {
  Picture p;
  p.tmpl = pic;
  if (pic.empty() || pic[0] != '@') return p;
  size_t i = 1;
  while (i < pic.size() && pic[i] != ' ' && pic[i] != '\t') {
    const char ch = ascii_upper(pic[i++]);
    switch (ch) {
      case 'E':
        p.exchange = true;
        break;
      case 'Z':
        p.blank_zero = true;
        break;
      case '0':
      case 'L':
        p.zero_fill = true;
        break;
      case 'C':
        p.credit = true;
        break;
      case 'X':
        p.debit = true;
        break;
      case '(':
      case ')':
        p.parentheses = true;
        break;
      case 'S': {
        int n = 0;
        while (i < pic.size() && pic[i] >= '0' && pic[i] <= '9') {
          if (n < 100000) n = n * 10 + (pic[i] - '0');
          ++i;
        }
        p.cut = n;
        break;
      }
      default:
        break;  // B, D, R, ! shape strings and dates, not numbers
    }
  }
  if (i < pic.size()) ++i;  // the blank that ends the function letters
  p.tmpl = pic.substr(i);
  return p;
}

bool is_digit_position(char ch) { return ch == '9' || ch == '#' || ch == '$' || ch == '*'; }

Number absolute(const Number& n) {
  Number m = n;
  if (m.is_integer()) {
    if (m.i < 0 && m.i != INT64_MIN) m.i = -m.i;
  } else if (m.d < 0) {
    m.d = -m.d;
  }
  return m;
}

// The number text of total length `width` (point and decimals inside it).
std::string digits_text(const Number& n, int width, int dec) {
  return dec > 0 ? number_text(n, width - dec - 1, dec) : number_text(n, width, 0);
}

// Leading blanks become "0"; a minus sign behind them moves to the front, so -1234 in six
// positions reads "-01234" rather than "0-1234".
void fill_zeros(std::string& digits) {
  size_t first = digits.find_first_not_of(' ');
  if (first == std::string::npos) first = digits.size();
  bool negative = first < digits.size() && digits[first] == '-';
  for (size_t i = 0; i < first; ++i) digits[i] = '0';
  if (negative && first > 0) {
    digits[first] = '0';
    digits[0] = '-';
  }
}

// Where the digits of the template's number go: the digit positions before and after
// its first point.
struct Positions {
  int before = 0, after = 0;
  size_t point_at = std::string_view::npos;
  bool any() const { return before + after > 0; }
};

Positions digit_positions(std::string_view tmpl) {
  Positions pos;
  for (size_t t = 0; t < tmpl.size(); ++t) {
    if (tmpl[t] == '.' && pos.point_at == std::string_view::npos) {
      pos.point_at = t;
    } else if (is_digit_position(tmpl[t])) {
      (pos.point_at == std::string_view::npos ? pos.before : pos.after) += 1;
    }
  }
  return pos;
}

// The number's text as the template's positions hold it (the number's own text when
// the template has none), zero-filled when the picture asks.
std::string picture_digits(const Picture& p, const Positions& pos, const Number& shown) {
  std::string digits;
  if (!pos.any()) {
    digits = number_text(shown);
  } else {
    const int dec = pos.point_at == std::string_view::npos ? 0 : (pos.after > 0 ? pos.after : 1);
    int width = pos.point_at == std::string_view::npos ? pos.before : pos.before + 1 + dec;
    if (dec >= 1 && dec == width - 1) {
      // A template such as ".99": format one integer position more and drop it, so that
      // a value below 1 shows no leading "0". A value that needs that position does not
      // fit.
      digits = digits_text(shown, width + 1, dec);
      char dropped = digits[0];
      digits.erase(0, 1);
      if (dropped != ' ' && dropped != '0') digits.assign(digits.size(), '*');
    } else {
      digits = digits_text(shown, width, dec);
    }
  }
  if (p.zero_fill) fill_zeros(digits);
  return digits;
}

// The digits laid into the template: its digit positions take them in turn, its other
// characters stand as they are, but for the point and the thousands commas.
std::string lay_into_template(const Picture& p, const Positions& pos, const std::string& digits) {
  std::string out;
  if (p.tmpl.empty()) {
    out = digits;
    if (p.exchange) {
      for (char& ch : out) {
        if (ch == '.') ch = ',';
      }
    }
    return out;
  }
  size_t k = 0;
  bool after_position = false;
  auto digit_at = [&](size_t i) { return i < digits.size() ? digits[i] : ' '; };
  for (size_t t = 0; t < p.tmpl.size(); ++t) {
    char ch = p.tmpl[t];
    if (ch == '9' || ch == '#') {
      out.push_back(digit_at(k++));
      after_position = true;
    } else if (ch == '$' || ch == '*') {
      char d = digit_at(k++);
      out.push_back(d != ' ' ? d : ch);
      after_position = true;
    } else if (ch == '.' && pos.any() && (after_position || t == pos.point_at)) {
      // The decimal point, also when it leads the template (".99"): the digits text
      // holds its point there too, so the walk steps over it.
      out.push_back(p.exchange ? ',' : '.');
      ++k;
    } else if (ch == ',' && after_position) {
      char prev_digit = k > 0 ? digit_at(k - 1) : ' ';
      if (prev_digit >= '0' && prev_digit <= '9') {
        out.push_back(p.exchange ? '.' : ',');
      } else if (!out.empty() && out.back() == '*') {
        out.push_back('*');
      } else if (!out.empty() && out.back() == '-') {
        out.back() = ' ';
        out.push_back('-');
      } else {
        out.push_back(' ');
      }
    } else {
      out.push_back(ch);
    }
  }
  return out;
}

// The picture's marks around the laid-out number: parentheses, CR, DB, blank when
// zero, and the cut to the template's length.
void add_marks(const Picture& p, double value, std::string& out) {
  const bool negative = value < 0;
  if (p.parentheses && negative) {
    size_t first = out.find_first_not_of(' ');
    if (first != std::string::npos && first > 0) {
      out[first - 1] = '(';
    } else {
      // No room for the opening parenthesis: the number does not fit.
      for (char& ch : out) {
        if ((ch >= '0' && ch <= '9') || ch == '.' || ch == ',') ch = '*';
      }
    }
    out.push_back(')');
  }
  if (p.credit && value > 0) out += " CR";
  if (p.debit && negative) out += " DB";
  if (p.blank_zero && value == 0) out.assign(out.size(), ' ');
  if (p.cut > 0 && static_cast<size_t>(p.cut) < out.size()) out.resize(static_cast<size_t>(p.cut));
}

}  // namespace

std::string transform_number(const Number& n, std::string_view picture) {
  const Picture p = parse_picture(picture);
  const double value = n.as_double();
  const Positions pos = digit_positions(p.tmpl);
  Number shown = n;
  if (value < 0 && (p.parentheses || p.debit)) shown = absolute(n);
  std::string out = lay_into_template(p, pos, picture_digits(p, pos, shown));
  add_marks(p, value, out);
  return out;
}

std::string TRANSFORM(const Value& x, std::string_view picture) {
  if (x.is_number()) return transform_number(x.num(), picture);
  if (x.is_array()) return "";
  return screen_text(x, false).value_or("");
}

void DEVOUTPICT(const Value& x, const Value& picture, const Value& color, const Value& row,
                const Value& col) {
  std::string saved = SETCOLOR();
  switch (x.kind()) {
    case Kind::String:
    case Kind::Number:
    case Kind::Date:
    case Kind::Logical: {
      std::string_view pic = picture.is_string() ? std::string_view(picture.str()) : "";
      DEVOUT(Value::string(TRANSFORM(x, pic)), color, row, col);
      break;
    }
    default:
      break;
  }
  // Colours change only through SETCOLOR, which keeps the screen's colour with the
  // setting: when the setting is as it was, so is the screen, and nothing is restored.
  if (!saved.empty() && Runtime::current().settings().color != saved) {
    SETCOLOR(Value::string(saved));
  }
}

void devout_count(const Number& n) {
  if (!n.is_integer() || n.i < 0 || n.i > 999999) {
    DEVOUTPICT(Value::number(n), Value::string("@E 999,999"));
    return;
  }
  // The digits text STR(n, 6) laid into "999,999": the separator shows as "." when a
  // digit stands left of it, else as a blank.
  char digits[6];
  number_text(n, 6, 0, digits);
  const char text[7] = {digits[0], digits[1], digits[2], digits[2] == ' ' ? ' ' : '.',
                        digits[3], digits[4], digits[5]};
  devout_text(std::string_view(text, sizeof text));
}

}  // namespace lum
