#include "values/numeric.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <string>

#include "runtime/error.h"
#include "runtime/runtime.h"
#include "values/number_text.h"
#include "values/strings.h"

namespace lum {

namespace {

// Widths and decimals given as arguments are cut to this many characters, so a wild
// argument cannot ask for gigabytes of text.
constexpr int kMaxTextArg = 65535;
// Widths and decimals a number carries are small.
constexpr int kMaxAttr = 99;

int arg_int(const Number& n) {
  double v = n.is_integer() ? static_cast<double>(n.i) : n.d;
  if (std::isnan(v)) return 0;
  if (v > kMaxTextArg) return kMaxTextArg;
  if (v < -kMaxTextArg) return -kMaxTextArg;
  return static_cast<int>(v);  // toward zero
}

int computed_width_double(double v) { return (v > 9999999999.0 || v < -999999999.0) ? 20 : 10; }

// The text of STR steps 1 to 5. `width`/`dec` null when absent.
std::string str_text(const Number& n, const Number* width, const Number* dec, bool fixed) {
  int w = n.width > 90 ? 90 : n.width;
  int d = n.dec;
  if (fixed) d = Runtime::current().settings().decimals;
  if (width != nullptr) {
    w = arg_int(*width);
    if (w <= 0) w = 10;
    d = 0;
  }
  const int requested = w;
  if (dec != nullptr) {
    int v = arg_int(*dec);
    if (v < 0) {
      d = 0;
    } else if (v > 0) {
      d = v;
      w -= v + 1;
    }
  }
  if (w == 0) {
    if (width != nullptr && dec != nullptr && requested == d + 1) {
      return std::string(static_cast<std::size_t>(requested), '*');
    }
    return std::string();
  }
  return number_text(n, w, d);
}

// Shared argument handling of STR and STRZERO: nullopt-like flag `ok` false when an
// argument error has to be raised.
struct StrArgs {
  const Number* width = nullptr;
  const Number* dec = nullptr;
  bool ok = true;
};

StrArgs check_str_args(const Value& n, const Value* width, const Value* dec, bool lenient) {
  StrArgs a;
  if (!n.is_number()) {
    a.ok = false;
    return a;
  }
  if (width != nullptr) {
    if (width->is_number()) {
      a.width = &width->num();
    } else if (!lenient) {
      a.ok = false;
    }
  }
  if (dec != nullptr) {
    if (dec->is_number()) {
      a.dec = &dec->num();
    } else if (!lenient) {
      a.ok = false;
    }
  }
  return a;
}

Value str_impl(const Value& n, const Value* width, const Value* dec, const Value* trim) {
  bool bad_trim = trim != nullptr && !trim->is_logical();
  StrArgs a = check_str_args(n, width, dec, trim != nullptr);
  if (!a.ok || bad_trim) {
    Array args{n};
    if (width != nullptr) args.push_back(*width);
    if (dec != nullptr) args.push_back(*dec);
    if (trim != nullptr) args.push_back(*trim);
    return raise_argument_error(kStrArgument, "STR", std::move(args));
  }
  std::string text = str_text(n.num(), a.width, a.dec, false);
  if (trim != nullptr && trim->log()) {
    std::size_t first = text.find_first_not_of(' ');
    text.erase(0, first == std::string::npos ? text.size() : first);
  }
  return Value::string(std::move(text));
}

Value strzero_impl(const Value& n, const Value* width, const Value* dec) {
  StrArgs a = check_str_args(n, width, dec, false);
  if (!a.ok) {
    Array args{n};
    if (width != nullptr) args.push_back(*width);
    if (dec != nullptr) args.push_back(*dec);
    return raise_argument_error(kStrzeroArgument, "STRZERO", std::move(args));
  }
  std::string text = str_text(n.num(), a.width, a.dec, Runtime::current().settings().fixed);
  std::size_t minus = text.find('-');
  if (minus != std::string::npos) text[minus] = ' ';
  for (char& c : text) {
    if (c != ' ') break;
    c = '0';
  }
  if (minus != std::string::npos) text[0] = '-';
  return Value::string(std::move(text));
}

bool is_space_char(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// 10 to the n-th power; exact up to 10^22.
double pow10(int n) {
  static constexpr double kTable[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                      1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                      1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  if (n >= 0 && n <= 22) return kTable[n];
  return std::pow(10.0, n);
}

Value make_number(const Number& n) { return Value::number(n); }

Value type_error(int subcode, const char* op, const Value& a, const Value& b) {
  return raise_argument_error(subcode, op, Array{a, b});
}

// "+" and "-" on two numbers.
Value add_numbers(const Number& a, const Number& b, bool minus) {
  if (a.is_integer() && b.is_integer()) {
    std::int64_t r = 0;
    bool over = minus ? __builtin_sub_overflow(a.i, b.i, &r) : __builtin_add_overflow(a.i, b.i, &r);
    if (!over) return Value::integer(r);
    double d = minus ? static_cast<double>(a.i) - static_cast<double>(b.i)
                     : static_cast<double>(a.i) + static_cast<double>(b.i);
    return computed_double(d, 0);
  }
  double x = a.as_double(), y = b.as_double();
  return computed_double(minus ? x - y : x + y, a.dec > b.dec ? a.dec : b.dec);
}

std::int32_t move_day(std::int32_t day, std::int64_t by) {
  std::int64_t r = static_cast<std::int64_t>(day) + by;
  if (r > INT32_MAX) r = INT32_MAX;
  if (r < INT32_MIN) r = INT32_MIN;
  return static_cast<std::int32_t>(r);
}

std::int64_t days_of(const Number& n) {
  if (n.is_integer()) return n.i;
  if (!std::isfinite(n.d)) return 0;
  if (n.d > 4e9) return static_cast<std::int64_t>(4e9);
  if (n.d < -4e9) return static_cast<std::int64_t>(-4e9);
  return static_cast<std::int64_t>(n.d);
}

Value zero_divisor(int subcode, const char* op, const Value& a, const Value& b) {
  ErrorObject e = make_error(kErrZeroDivisor, "BASE", subcode, op, kCanSubstitute);
  e.args = Array{a, b};
  RaiseAnswer answer = raise(e);
  if (answer.substituted()) return std::move(answer.value);
  return Value();
}

// The parts of a text VAL reads: its sign, the spans of its integer and decimal digits,
// and the positions it counts as integer places and as decimals.
struct ValText {
  bool negative = false;
  bool point = false;
  std::size_t int_width = 0;  // white space and sign count as integer positions
  std::size_t int_from = 0, int_to = 0;
  std::size_t frac_from = 0, frac_to = 0;
  std::size_t dec_digits = 0, trailing = 0;
  std::size_t digits_from = 0, digits_to = 0;  // the digits and point, for from_chars
};

bool is_digit(char c) { return static_cast<unsigned char>(c - '0') <= 9; }

ValText scan_val_text(std::string_view text) {
  ValText t;
  const std::size_t len = text.size();
  std::size_t i = 0;
  while (i < len && is_space_char(text[i])) ++i;
  if (i < len && text[i] == '-') {
    t.negative = true;
    ++i;
  } else if (i < len && text[i] == '+') {
    ++i;
  }
  t.int_width = i;
  t.digits_from = i;
  // The integer digits, a point and the decimal digits, then whatever stops the number.
  t.int_from = i;
  while (i < len && is_digit(text[i])) ++i;
  t.int_to = i;
  t.int_width += t.int_to - t.int_from;
  t.frac_from = t.frac_to = i;
  if (i < len && text[i] == '.') {
    t.point = true;
    t.frac_from = ++i;
    while (i < len && is_digit(text[i])) ++i;
    t.frac_to = i;
    t.dec_digits = t.frac_to - t.frac_from;
  }
  if (i < len) {
    if (t.point) {
      t.trailing += len - i;
    } else {
      std::size_t next = text.find('.', i);
      if (next == std::string_view::npos) {
        t.int_width += len - i;
      } else {
        t.int_width += next - i;
        t.trailing += len - next - 1;
      }
    }
  }
  t.digits_to = i;
  return t;
}

// The digits, integer and decimal, as one 64-bit integer; false when they go beyond the
// largest 64-bit value, and the number continues as a double.
bool digits_as_integer(std::string_view text, const ValText& t, std::int64_t& ivalue) {
  ivalue = 0;
  bool as_double = false;
  auto accumulate = [&](std::size_t from, std::size_t to) {
    for (std::size_t k = from; k < to; ++k) {
      const int digit = text[k] - '0';
      if (!as_double && (ivalue > INT64_MAX / 10 || (ivalue == INT64_MAX / 10 && digit > 7))) {
        as_double = true;
      }
      if (!as_double) ivalue = ivalue * 10 + digit;
    }
  };
  if ((t.int_to - t.int_from) + t.dec_digits <= 18) {
    // Eighteen digits never overflow 64 bits.
    for (std::size_t k = t.int_from; k < t.int_to; ++k) ivalue = ivalue * 10 + (text[k] - '0');
    for (std::size_t k = t.frac_from; k < t.frac_to; ++k) ivalue = ivalue * 10 + (text[k] - '0');
  } else {
    accumulate(t.int_from, t.int_to);
    accumulate(t.frac_from, t.frac_to);
  }
  return !as_double;
}

// The magnitude of a text with a point or too many digits for 64 bits, as a double.
double digits_as_double(std::string_view text, const ValText& t, std::int64_t ivalue,
                        bool fits) {
  if (fits && t.dec_digits <= 22 && ivalue <= (std::int64_t{1} << 53)) {
    // Both operands exact: the quotient is the correctly rounded value of the text.
    return static_cast<double>(ivalue) / pow10(static_cast<int>(t.dec_digits));
  }
  // Digits beyond what a double or a power of ten holds exactly: the digits are read
  // in one go, so a long text does not gather rounding errors (or overflow to
  // infinity and divide by infinity).
  double v = 0;
  const char* first = text.data() + t.digits_from;
  const char* last = text.data() + t.digits_to;
  const std::from_chars_result r = std::from_chars(first, last, v, std::chars_format::fixed);
  if (r.ec == std::errc::result_out_of_range) {
    // Too large, or too small: some whole digit other than 0 tells which.
    const std::string_view whole(first, static_cast<std::size_t>(last - first));
    const std::size_t nonzero = whole.substr(0, whole.find('.')).find_first_not_of('0');
    v = nonzero != std::string_view::npos ? HUGE_VAL : 0.0;
  } else if (r.ec != std::errc()) {
    v = 0;  // no digits at all ("." alone)
  }
  return v;
}

// The display width VAL gives the number read from a text of `len` bytes.
std::size_t val_width(const Number& n, const ValText& t, std::size_t len) {
  const std::size_t decimals = t.dec_digits + t.trailing;
  if (t.int_width > 10) {
    return n.is_integer() ? Value::integer(n.i).num().width : computed_width_double(n.d);
  }
  if (decimals == 0) return len;
  if (t.int_width == 0) return 1;
  if (t.negative && t.int_width == 1 && n.as_double() != 0) return 2;
  return t.int_width;
}

}  // namespace

Value STR(const Value& n) { return str_impl(n, nullptr, nullptr, nullptr); }
Value STR(const Value& n, const Value& width) { return str_impl(n, &width, nullptr, nullptr); }
Value STR(const Value& n, const Value& width, const Value& dec) {
  return str_impl(n, &width, &dec, nullptr);
}
Value STR(const Value& n, const Value& width, const Value& dec, const Value& trim) {
  return str_impl(n, &width, &dec, &trim);
}

Value STRZERO(const Value& n) { return strzero_impl(n, nullptr, nullptr); }
Value STRZERO(const Value& n, const Value& width) { return strzero_impl(n, &width, nullptr); }
Value STRZERO(const Value& n, const Value& width, const Value& dec) {
  return strzero_impl(n, &width, &dec);
}

Number val_number(std::string_view text) {
  const ValText t = scan_val_text(text);
  std::int64_t ivalue = 0;
  const bool fits = digits_as_integer(text, t, ivalue);

  Number n;
  if (t.point || !fits) {
    const double v = digits_as_double(text, t, ivalue, fits);
    n.repr = NumRepr::Double;
    n.d = t.negative ? -v : v;
  } else {
    // A negative value never overflows here: the magnitude is at most the largest
    // 64-bit value.
    n.i = t.negative ? -ivalue : ivalue;
    n.repr = (n.i >= INT32_MIN && n.i <= INT32_MAX) ? NumRepr::Int32 : NumRepr::Int64;
  }
  const std::size_t width = val_width(n, t, text.size());
  const std::size_t decimals = t.dec_digits + t.trailing;
  n.width = static_cast<std::uint8_t>(width > kMaxAttr ? kMaxAttr : width);
  // Decimals belong to the double representation only.
  n.dec = n.is_integer() ? 0 : static_cast<std::uint8_t>(decimals > kMaxAttr ? kMaxAttr : decimals);
  return n;
}

Value VAL(const Value& c) {
  if (!c.is_string()) return raise_argument_error(kValArgument, "VAL", Array{c});
  return make_number(val_number(c.str()));
}

Value INT(const Value& n) {
  if (!n.is_number()) return raise_argument_error(kIntArgument, "INT", Array{n});
  const Number& x = n.num();
  if (x.is_integer()) return n;
  // One ulp up first, so a value just under a whole number (2.9999999999999996)
  // reaches it.
  return Value::dbl(std::trunc(x.d * 1.0000000000000002), x.width, 0);
}

Value computed_double(double v, int dec) {
  return Value::dbl(v, computed_width_double(v), dec > kMaxAttr ? kMaxAttr : dec);
}

Value add(const Value& a, const Value& b) {
  if (a.is_number() && b.is_number()) return add_numbers(a.num(), b.num(), false);
  if (a.is_string() && b.is_string()) return concat(a, b);
  if (a.is_date() && b.is_number()) return Value::date(move_day(a.day(), days_of(b.num())));
  if (a.is_number() && b.is_date()) return Value::date(move_day(b.day(), days_of(a.num())));
  return type_error(kPlusArgument, "+", a, b);
}

Value subtract(const Value& a, const Value& b) {
  if (a.is_number() && b.is_number()) return add_numbers(a.num(), b.num(), true);
  if (a.is_date() && b.is_number()) return Value::date(move_day(a.day(), -days_of(b.num())));
  if (a.is_date() && b.is_date()) {
    return Value::integer(static_cast<std::int64_t>(a.day()) - b.day());
  }
  return type_error(kMinusArgument, "-", a, b);
}

Value divide(const Value& a, const Value& b) {
  if (!a.is_number() || !b.is_number()) return type_error(kDivideArgument, "/", a, b);
  double divisor = b.num().as_double();
  if (divisor == 0) return zero_divisor(kDivideByZero, "/", a, b);
  return computed_double(a.num().as_double() / divisor, Runtime::current().settings().decimals);
}

Value modulo(const Value& a, const Value& b) {
  if (!a.is_number() || !b.is_number()) return type_error(kModuloArgument, "%", a, b);
  const Number& x = a.num();
  const Number& y = b.num();
  if (y.as_double() == 0) return zero_divisor(kModuloByZero, "%", a, b);
  if (x.is_integer() && y.is_integer()) {
    // INT64_MIN % -1 overflows in the machine instruction; its remainder is 0.
    if (y.i == -1) return Value::integer(0);
    return Value::integer(x.i % y.i);
  }
  return computed_double(std::fmod(x.as_double(), y.as_double()), x.dec > y.dec ? x.dec : y.dec);
}

void increment(Value& v) {
  if (v.is_number()) {
    const Number& n = v.num();
    switch (n.repr) {
      case NumRepr::Int32:
        if (n.i < INT32_MAX) {
          std::int64_t r = n.i + 1;
          v = Value::int32(static_cast<std::int32_t>(r), r < -999999999 ? 20 : 10);
        } else {
          v = Value::integer(n.i + 1);
        }
        return;
      case NumRepr::Int64:
        if (n.i < INT64_MAX) {
          v = Value::integer(n.i + 1);
        } else {
          v = computed_double(static_cast<double>(n.i) + 1.0, 0);
        }
        return;
      case NumRepr::Double:
        v = computed_double(n.d + 1.0, n.dec);
        return;
    }
  }
  if (v.is_date()) {
    v = Value::date(move_day(v.day(), 1));
    return;
  }
  v = raise_argument_error(kIncrementArgument, "++", Array{v});
}

Value add_constant(const Value& v, int k) {
  if (v.is_number()) {
    const Number& n = v.num();
    if (n.is_integer()) {
      std::int64_t r = 0;
      if (!__builtin_add_overflow(n.i, static_cast<std::int64_t>(k), &r)) {
        return Value::integer(r);
      }
      return computed_double(static_cast<double>(n.i) + k, 0);
    }
    return computed_double(n.d + k, n.dec);
  }
  if (v.is_date()) return Value::date(move_day(v.day(), k));
  return type_error(kPlusArgument, "+", v, Value::integer(k));
}

}  // namespace lum
