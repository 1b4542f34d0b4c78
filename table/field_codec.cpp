#include "table/field_codec.h"

#include <cmath>
#include <cstring>
#include <string_view>

#include "values/dates.h"
#include "values/number_text.h"
#include "values/numeric.h"

namespace lum {

namespace {

std::int64_t get_signed_le(const std::uint8_t* p, std::uint32_t len) {
  std::uint64_t v = 0;
  for (std::uint32_t i = 0; i < len; ++i) v |= static_cast<std::uint64_t>(p[i]) << (8 * i);
  if (len < 8 && (v & (std::uint64_t{1} << (8 * len - 1))) != 0) {
    v |= ~std::uint64_t{0} << (8 * len);  // sign extension
  }
  return static_cast<std::int64_t>(v);
}

void put_le(std::uint8_t* p, std::uint64_t v, std::uint32_t len) {
  for (std::uint32_t i = 0; i < len; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

double get_double_le(const std::uint8_t* p) {
  std::uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) bits |= static_cast<std::uint64_t>(p[i]) << (8 * i);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

void put_digits(std::uint8_t* p, int v, int n) {
  for (int i = n - 1; i >= 0; --i, v /= 10) p[i] = static_cast<std::uint8_t>('0' + v % 10);
}

double pow10(int n) {
  double r = 1;
  for (int i = 0; i < n; ++i) r *= 10;
  return r;
}

Value integer_value(std::int64_t v, int width) {
  if (v >= INT32_MIN && v <= INT32_MAX) return Value::int32(static_cast<std::int32_t>(v), width);
  return Value::int64(v, width);
}

// N and F fields: the text read like VAL, with the field's width and decimals.
Value numeric_text_value(const dbf::Field& f, const std::uint8_t* src) {
  Number n = val_number(std::string_view(reinterpret_cast<const char*>(src), f.len));
  if (f.dec > 0) {
    int width = static_cast<int>(f.len) - f.dec - 1;
    return Value::dbl(n.as_double(), width > 0 ? width : 0, f.dec);
  }
  int width = static_cast<int>(f.len);
  if (n.is_integer()) return integer_value(n.i, width);
  // A text with a fraction or beyond 64 bits keeps its value with no decimals shown.
  return Value::dbl(n.d, width, 0);
}

Value date_text_value(const std::uint8_t* src) {
  int parts[3] = {0, 0, 0};
  const int widths[3] = {4, 2, 2};
  int at = 0;
  for (int k = 0; k < 3; ++k) {
    for (int i = 0; i < widths[k]; ++i, ++at) {
      std::uint8_t c = src[at];
      if (c < '0' || c > '9') return Value::date(0);  // blanks or junk: the empty date
      parts[k] = parts[k] * 10 + (c - '0');
    }
  }
  return Value::date(date_encode(parts[0], parts[1], parts[2]));
}

PutResult put_number(const dbf::Field& f, const Number& n, std::uint8_t* dest) {
  switch (f.type) {
    case 'N':
    case 'F': {
      if (f.len == 0) return PutResult::Ok;
      char* out = reinterpret_cast<char*>(dest);
      // STR(value, length, decimals): the integer part gets what the point and the
      // decimals leave of the length, so the text is always exactly the field's length.
      int width = f.dec > 0 ? static_cast<int>(f.len) - f.dec - 1 : static_cast<int>(f.len);
      number_text(n, width, f.dec, out);
      if (out[0] == '*') {
        std::memset(out, '*', f.len);
        return PutResult::WidthError;
      }
      return PutResult::Ok;
    }
    case 'I': {
      double scaled = n.is_integer() && f.dec == 0 ? static_cast<double>(n.i)
                                                   : std::round(n.as_double() * pow10(f.dec));
      std::int64_t v = n.is_integer() && f.dec == 0 ? n.i : 0;
      if (!(n.is_integer() && f.dec == 0)) {
        if (!std::isfinite(scaled) || scaled >= 9.2e18 || scaled <= -9.2e18) {
          return PutResult::WidthError;
        }
        v = static_cast<std::int64_t>(scaled);
      }
      if (f.len < 8) {
        std::int64_t lim = std::int64_t{1} << (8 * f.len - 1);
        if (v >= lim || v < -lim) return PutResult::WidthError;
      }
      put_le(dest, static_cast<std::uint64_t>(v), f.len);
      return PutResult::Ok;
    }
    case 'B':
      if (f.memo_ref) return PutResult::TypeError;
      [[fallthrough]];
    case '8':
    case 'O': {
      double d = n.as_double();
      std::uint64_t bits;
      std::memcpy(&bits, &d, sizeof bits);
      put_le(dest, bits, 8);
      return PutResult::Ok;
    }
    default:
      return PutResult::TypeError;
  }
}

}  // namespace

Value decode_field(const dbf::Field& f, const std::uint8_t* src) {
  switch (f.type) {
    case 'C':
      return Value::string(std::string(reinterpret_cast<const char*>(src), f.len));
    case 'N':
    case 'F':
      return numeric_text_value(f, src);
    case 'D':
      if (f.len == 8) return date_text_value(src);
      return Value::date(static_cast<std::int32_t>(get_signed_le(src, f.len)));
    case 'L': {
      char c = static_cast<char>(src[0]);
      return Value::logical(c == 'T' || c == 't' || c == 'Y' || c == 'y');
    }
    case 'I':
    case '2':
    case '4':
    case '+': {
      std::int64_t v = get_signed_le(src, f.len);
      int width = f.len == 8 ? 20 : 10;
      if (f.dec > 0) return Value::dbl(static_cast<double>(v) / pow10(f.dec), width, f.dec);
      return integer_value(v, width);
    }
    case '8':
    case 'O':
    case 'B':
      return Value::dbl(get_double_le(src), 20, f.dec);
    case 'Y': {
      // Currency: an integer count of ten-thousandths.
      std::int64_t v = get_signed_le(src, f.len);
      return Value::dbl(static_cast<double>(v) / 10000.0, 20, 4);
    }
    case 'T':
      if (f.len == 4) return integer_value(get_signed_le(src, 4), 10);  // milliseconds
      [[fallthrough]];
    case '@':
      // Date and time: the day number in the first four bytes; the value model has no
      // time of day, so the date part is what a read gives.
      return Value::date(static_cast<std::int32_t>(get_signed_le(src, 4)));
    case '=':
    case '^':
      return integer_value(get_signed_le(src, 8), 20);
    default:
      // V, Q, 0 and the like: the raw bytes.
      return Value::string(std::string(reinterpret_cast<const char*>(src), f.len));
  }
}

void decode_field(const dbf::Field& f, const std::uint8_t* src, Value& out) {
  if (f.type == 'C') {
    out.set_string(std::string_view(reinterpret_cast<const char*>(src), f.len));
  } else {
    out = decode_field(f, src);
  }
}

PutResult encode_field(const dbf::Field& f, const Value& v, std::uint8_t* dest) {
  switch (v.kind()) {
    case Kind::String: {
      if (f.type != 'C') return PutResult::TypeError;
      const std::string& s = v.str();
      std::size_t n = s.size() < f.len ? s.size() : f.len;
      std::memcpy(dest, s.data(), n);
      std::memset(dest + n, ' ', f.len - n);
      return PutResult::Ok;
    }
    case Kind::Date: {
      if (f.type != 'D') return PutResult::TypeError;
      if (f.len != 8) {
        put_le(dest, static_cast<std::uint64_t>(static_cast<std::int64_t>(v.day())), f.len);
        return PutResult::Ok;
      }
      int y = 0, m = 0, d = 0;
      if (v.day() != 0) date_decode(v.day(), y, m, d);
      if (v.day() == 0 || y <= 0) {
        std::memset(dest, ' ', 8);
        return PutResult::Ok;
      }
      put_digits(dest, y, 4);
      put_digits(dest + 4, m, 2);
      put_digits(dest + 6, d, 2);
      return PutResult::Ok;
    }
    case Kind::Number:
      return put_number(f, v.num(), dest);
    case Kind::Logical:
      if (f.type != 'L') return PutResult::TypeError;
      dest[0] = v.log() ? 'T' : 'F';
      return PutResult::Ok;
    default:
      return PutResult::TypeError;
  }
}

}  // namespace lum
