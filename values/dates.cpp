#include "values/dates.h"

#include <cmath>
#include <cstdint>

#include "platform/text.h"
#include "runtime/error.h"
#include "runtime/runtime.h"

namespace lum {

namespace {

constexpr std::int32_t kFirstDay = 1721060;  // 0000-01-01
constexpr std::size_t kMaxFormat = 65535;
constexpr std::size_t kShownFormat = 10;  // DTOC uses at most this much of the format

bool leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int month_days(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && leap(y) ? 29 : kDays[m - 1];
}

// Century on when the first run of Y in the format has four or more letters.
bool century_of(std::string_view format) {
  std::size_t i = 0;
  while (i < format.size() && ascii_upper(format[i]) != 'Y') ++i;
  std::size_t run = 0;
  while (i + run < format.size() && ascii_upper(format[i + run]) == 'Y') ++run;
  return run >= 4;
}

// Writes the run of `n` letters of one date part: `digits` are its last characters
// (two for day and month, four for the year), `letter` fills long runs.
void put_run(std::string& out, std::size_t n, const char* digits, std::size_t count, char letter) {
  const char last = digits[count - 1];
  if (letter == 'Y') {
    if (n <= 4) {
      out.append(digits + (count - n), n);
      return;
    }
  } else if (n == 1) {
    out.push_back(last);
    return;
  } else if (n == 2) {
    out.append(digits, 2);
    return;
  } else if (n <= 4) {
    out.append(n - 1, digits[0]);
    out.push_back(last);
    return;
  }
  out.push_back(last);
  out.append(n - 1, letter);
}

std::int64_t whole(const Number& n) {
  if (n.is_integer()) return n.i;
  if (std::isnan(n.d)) return 0;
  if (n.d > 2e9) return INT64_C(2000000000);
  if (n.d < -2e9) return INT64_C(-2000000000);
  return static_cast<std::int64_t>(n.d);
}

}  // namespace

std::int32_t date_encode(int y, int m, int d) {
  if (y < 0 || y > 9999 || m < 1 || m > 12 || d < 1 || d > month_days(y, m)) return 0;
  const int a = m < 3 ? 1 : 0;
  const int yy = y - a;
  return d + (yy + 4800) * 1461 / 4 + (a * 4404 + m * 367 - 734) / 12 - (yy + 4900) / 100 * 3 / 4 -
         32075;
}

void date_decode(std::int32_t day, int& y, int& m, int& d) {
  if (day < kFirstDay) {
    y = m = d = 0;
    return;
  }
  // 64-bit throughout: 4 * (n + 68569) does not fit 32 bits for the largest days.
  const std::int64_t n = day;
  const std::int64_t b = 4 * (n + 68569) / 146097;
  std::int64_t a = n + 68569 - (146097 * b + 3) / 4;
  const std::int64_t c = 4000 * (a + 1) / 1461001;
  a = a - 1461 * c / 4 + 31;
  const std::int64_t j = 80 * a / 2447;
  d = static_cast<int>(a - 2447 * j / 80);
  const std::int64_t l = j / 11;
  m = static_cast<int>(j + 2 - 12 * l);
  y = static_cast<int>(100 * (b - 49) + c + l);
}

std::int32_t ctod_day(std::string_view text) {
  const Settings& st = Runtime::current().settings();
  int pos_d = 0, pos_m = 0, pos_y = 0, placed = 0;
  for (char ch : st.date_format) {
    char u = ascii_upper(ch);
    if (u == 'D' && pos_d == 0) pos_d = ++placed;
    if (u == 'M' && pos_m == 0) pos_m = ++placed;
    if (u == 'Y' && pos_y == 0) pos_y = ++placed;
  }
  // Values are capped so a long run of digits cannot overflow; any capped value is
  // far outside every valid date anyway.
  constexpr std::int64_t kCap = 1000000000;
  std::int64_t day = 0, month = 0, year = 0;
  bool after_digit = false;
  for (char ch : text) {
    if (ch >= '0' && ch <= '9') {
      std::int64_t* target = pos_d == 1 ? &day : pos_m == 1 ? &month : pos_y == 1 ? &year : nullptr;
      if (target != nullptr) {
        *target = *target * 10 + (ch - '0');
        if (*target > kCap) *target = kCap;
      }
      after_digit = true;
      continue;
    }
    if (day > 0 && month > 0 && year > 0) break;
    if (ch == ' ') continue;
    // A separator after digits moves on to the next field; a run of separators moves
    // only once.
    if (after_digit) {
      --pos_d;
      --pos_m;
      --pos_y;
    }
    after_digit = false;
  }
  if (year >= 0 && year <= 99) {
    const std::int64_t epoch = st.epoch;
    year += epoch / 100 * 100 + (year < epoch % 100 ? 100 : 0);
  }
  if (day > kCap || month > kCap || year > kCap) return 0;
  return date_encode(static_cast<int>(year), static_cast<int>(month), static_cast<int>(day));
}

Value CTOD(const Value& c) {
  if (!c.is_string()) return raise_argument_error(kCtodArgument, "CTOD", Array{c});
  return Value::date(ctod_day(c.str()));
}

std::string dtoc_text(std::int32_t day) {
  char digits[8];
  int y = 0, m = 0, d = 0;
  date_decode(day, y, m, d);
  if (day == 0 || (y == 0 && m == 0 && d == 0)) {
    for (char& c : digits) c = ' ';
  } else {
    y %= 10000;
    digits[0] = static_cast<char>('0' + y / 1000);
    digits[1] = static_cast<char>('0' + y / 100 % 10);
    digits[2] = static_cast<char>('0' + y / 10 % 10);
    digits[3] = static_cast<char>('0' + y % 10);
    digits[4] = static_cast<char>('0' + m / 10);
    digits[5] = static_cast<char>('0' + m % 10);
    digits[6] = static_cast<char>('0' + d / 10);
    digits[7] = static_cast<char>('0' + d % 10);
  }
  std::string_view format = Runtime::current().settings().date_format;
  if (format.size() > kShownFormat) format = format.substr(0, kShownFormat);
  std::string out;
  out.reserve(format.size());
  bool done_d = false, done_m = false, done_y = false;
  std::size_t i = 0;
  while (i < format.size()) {
    const char u = ascii_upper(format[i]);
    std::size_t n = 1;
    while (i + n < format.size() && ascii_upper(format[i + n]) == u) ++n;
    if (u == 'D' && !done_d) {
      put_run(out, n, digits + 6, 2, 'D');
      done_d = true;
    } else if (u == 'M' && !done_m) {
      put_run(out, n, digits + 4, 2, 'M');
      done_m = true;
    } else if (u == 'Y' && !done_y) {
      put_run(out, n, digits, 4, 'Y');
      done_y = true;
    } else {
      out.append(n, u);
    }
    i += n;
  }
  return out;
}

Value DTOC(const Value& d) {
  if (!d.is_date()) return raise_argument_error(kDtocArgument, "DTOC", Array{d});
  return Value::string(dtoc_text(d.day()));
}

Value SET(int n) {
  const Settings& st = Runtime::current().settings();
  switch (n) {
    case kSetExact:
      return Value::logical(st.exact);
    case kSetFixed:
      return Value::logical(st.fixed);
    case kSetDecimals:
      return Value::integer(st.decimals);
    case kSetDateFormat:
      return Value::string(st.date_format);
    case kSetEpoch:
      return Value::integer(st.epoch);
    default:
      return Value();
  }
}

Value SET(int n, const Value& x) {
  Value previous = SET(n);
  Settings& st = Runtime::current().settings();
  switch (n) {
    case kSetExact:
      if (x.is_logical()) st.exact = x.log();
      break;
    case kSetFixed:
      if (x.is_logical()) st.fixed = x.log();
      break;
    case kSetDecimals:
    case kSetEpoch:
      if (x.is_number()) {
        std::int64_t v = whole(x.num());
        if (v < 0) {
          raise_argument_error(kSetArgument, "SET", Array{Value::integer(n), x});
        } else {
          (n == kSetDecimals ? st.decimals : st.epoch) = static_cast<int>(v);
        }
      }
      break;
    case kSetDateFormat:
      if (x.is_string() || x.is_nil()) {
        std::string_view f = x.is_string() ? std::string_view(x.str()) : std::string_view();
        if (f.size() > kMaxFormat) f = f.substr(0, kMaxFormat);
        st.date_format = std::string(f);
        st.century = century_of(st.date_format);
      }
      break;
    default:
      break;
  }
  return previous;
}

Value cmd::SETCENTURY() { return Value::logical(Runtime::current().settings().century); }

Value cmd::SETCENTURY(const Value& x) {
  Settings& st = Runtime::current().settings();
  const bool old = st.century;
  bool now = old;
  if (x.is_logical()) {
    now = x.log();
  } else if (x.is_string()) {
    const std::string& s = x.str();
    if (s.size() >= 2 && ascii_upper(s[0]) == 'O' && ascii_upper(s[1]) == 'N') {
      now = true;
    } else if (s.size() >= 3 && ascii_upper(s[0]) == 'O' && ascii_upper(s[1]) == 'F' &&
               ascii_upper(s[2]) == 'F') {
      now = false;
    }
  }
  if (now != old) {
    std::string f = st.date_format;
    for (char& c : f) c = ascii_upper(c);
    std::size_t ys = f.find('Y');
    std::size_t ye = ys;
    if (ys == std::string::npos) {
      ys = ye = 0;  // no year: one goes in front
    } else {
      while (ye < f.size() && f[ye] == 'Y') ++ye;
    }
    std::string rewritten = f.substr(0, ys);
    rewritten += now ? "YYYY" : "YY";
    rewritten.append(f, ye, std::string::npos);
    st.date_format = std::move(rewritten);
    st.century = now;
  }
  return Value::logical(old);
}

}  // namespace lum
