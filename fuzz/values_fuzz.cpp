// Fuzz target for the value functions: the first byte picks a function, the next
// bytes its number, widths and decimals, the rest its text. Besides never crashing:
//   STR(n, w[, d]) and STRZERO are exactly w characters, and VAL of the text gives n
//   back rounded to the decimals shown whenever the text is not asterisks;
//   a picture without function letters gives a text as long as the picture, and a
//   plain template of 9s (with decimals) gives the number text of that shape (with
//   its point kept among the asterisks of a number that does not fit);
//   a date CTOD reads is valid, DTOC writes it in the length of the format, and under
//   "dd/mm/yyyy" CTOD reads DTOC's text back to the same date (years from 100 on);
//   CONV_HEX names every half-byte but the last with its upper-case digit;
//   VAL of a number text agrees with the correctly rounded value of the text.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/packed.h"
#include "console/picture.h"
#include "fuzz/fuzz_support.h"
#include "values/dates.h"
#include "values/number_text.h"
#include "values/numeric.h"

namespace {

using namespace lum;

// A number of any representation, with its own width and decimals.
Number number_from(fuzz::Input& in) {
  Number n;
  const std::uint8_t kind = in.byte();
  switch (kind % 4) {
    case 0:
      n.repr = NumRepr::Int32;
      n.i = static_cast<std::int32_t>(in.bits(4));
      break;
    case 1:
      n.repr = NumRepr::Int64;
      n.i = static_cast<std::int64_t>(in.bits(8));
      break;
    case 2: {
      n.repr = NumRepr::Double;
      std::uint64_t b = in.bits(8);
      std::memcpy(&n.d, &b, sizeof b);
      break;
    }
    default:
      // A decimal fraction, as the conversions compute them.
      n.repr = NumRepr::Double;
      n.d = static_cast<double>(static_cast<std::int64_t>(in.bits(7)) - (1LL << 55)) /
            std::pow(10.0, kind / 4 % 20);
      break;
  }
  n.width = in.byte();
  n.dec = n.is_integer() ? 0 : static_cast<std::uint8_t>(in.byte() % 24);
  return n;
}

// A width or decimals argument: mostly small, sometimes anything a 16-bit number holds.
int argument_from(fuzz::Input& in) {
  const std::uint8_t b = in.byte();
  if (b < 200) return b % 40 - 4;
  return static_cast<std::int16_t>(in.bits(2));
}

void number_text_properties(fuzz::Input& in) {
  const Number n = number_from(in);
  const std::uint8_t shape = in.byte();
  const int w = argument_from(in);
  const int d = argument_from(in);
  const Value num = Value::number(n);
  const bool with_dec = shape % 2 == 1;
  const Value text =
      with_dec ? STR(num, Value::int32(w), Value::int32(d)) : STR(num, Value::int32(w));
  const Value zero =
      with_dec ? STRZERO(num, Value::int32(w), Value::int32(d)) : STRZERO(num, Value::int32(w));
  fuzz::check(text.is_string() && zero.is_string(), "STR or STRZERO gave no text");
  const std::size_t width = w <= 0 ? 10 : static_cast<std::size_t>(w);
  fuzz::check(text.str().size() == width, "STR(n, w, d) is not w characters");
  fuzz::check(zero.str().size() == width, "STRZERO(n, w, d) is not w characters");
  const std::string& s = text.str();
  if (s.find('*') != std::string::npos) {
    fuzz::check(s.find_first_not_of('*') == std::string::npos, "an overflow is not all asterisks");
    return;
  }
  fuzz::check(std::isfinite(n.as_double()), "a NaN or infinity has digits");
  const int shown = with_dec && d > 0 ? d : 0;
  const double back = val_number(s).as_double();
  const double want = n.as_double();
  // Half a unit of the last decimal shown; the text holds about 16 significant digits,
  // and reading a long one back costs a little more.
  const double slack = 0.5 * std::pow(10.0, -shown) * (1 + 1e-9) + std::fabs(want) * 1e-14;
  fuzz::check(std::fabs(back - want) <= slack, "VAL(STR(n, w, d)) is not n rounded to d");
  fuzz::check(val_number(zero.str()).as_double() == back, "STRZERO's text reads as another number");
}

void picture_properties(fuzz::Input& in) {
  const Number n = number_from(in);
  std::string_view picture = in.rest();
  if (picture.size() > 300) picture = picture.substr(0, 300);
  const std::string out = transform_number(n, picture);
  if (picture.empty() || picture[0] == '@') return;
  fuzz::check(out.size() == picture.size(), "a template's text is not as long as the template");
  // "999" or "999.99": the number text of that shape.
  const std::size_t point = picture.find('.');
  const std::string_view whole = picture.substr(0, point);
  const std::string_view frac =
      point == std::string_view::npos ? std::string_view() : picture.substr(point + 1);
  const bool plain = !whole.empty() && whole.find_first_not_of('9') == std::string_view::npos &&
                     !frac.empty() == (point != std::string_view::npos) &&
                     frac.find_first_not_of('9') == std::string_view::npos;
  if (plain) {
    std::string want =
        number_text(n, static_cast<int>(whole.size()), static_cast<int>(frac.size()));
    // A number that does not fit shows asterisks in the digit positions only.
    if (!frac.empty() && want.find_first_not_of('*') == std::string::npos) want[whole.size()] = '.';
    fuzz::check(out == want, "a template of 9s is not the number text of its shape");
  }
}

void date_properties(fuzz::Input& in) {
  const std::uint8_t mode = in.byte();
  switch (mode % 4) {
    case 0:  // the run's own: century on, then "dd/mm/yyyy"
      cmd::SETCENTURY(Value("on"));
      SET(4, Value("dd/mm/yyyy"));
      break;
    case 1:  // the start values
      break;
    case 2:
      SET(5, Value::int32(static_cast<std::int32_t>(in.bits(2))));  // another epoch
      break;
    default: {
      const std::size_t len = in.byte() % 16;
      std::string format;
      for (std::size_t i = 0; i < len; ++i) format.push_back(static_cast<char>(in.byte()));
      SET(4, Value(format));
      break;
    }
  }
  const Value date = CTOD(Value(std::string(in.rest())));
  fuzz::check(date.is_date(), "CTOD gave no date");
  const std::int32_t day = date.day();
  const Value text = DTOC(date);
  const std::string format = SET(4).str();
  fuzz::check(text.str().size() == std::min<std::size_t>(format.size(), 10),
              "DTOC's text is not as long as the date format");
  if (day == 0) return;
  int y = 0, m = 0, d = 0;
  date_decode(day, y, m, d);
  fuzz::check(date_encode(y, m, d) == day, "CTOD gave a date that is no valid day");
  if (mode % 4 == 0 && y >= 100) {
    fuzz::check(CTOD(text).day() == day, "CTOD does not read DTOC's text back");
  }
}

void hex_properties(fuzz::Input& in) {
  const std::string bytes(in.rest());
  const Value hex = CONV_HEX(Value(bytes));
  fuzz::check(hex.is_string(), "CONV_HEX gave no text");
  const std::string& h = hex.str();
  fuzz::check(h.size() == (bytes.empty() ? 0 : 2 * bytes.size() - 1), "CONV_HEX's length");
  static const char kDigits[] = "0123456789ABCDEF";
  for (std::size_t i = 0; i < h.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[i / 2]);
    fuzz::check(h[i] == kDigits[i % 2 == 0 ? b >> 4 : b & 15],
                "CONV_HEX names a half-byte wrongly");
  }
  fuzz::check(conv_hex(bytes) == h, "the fast CONV_HEX differs from CONV_HEX");
  if (!bytes.empty()) {
    const Value one = FT_BYT2HEX(Value(bytes));
    const auto b = static_cast<unsigned char>(bytes[0]);
    fuzz::check(one.is_string() && one.str() == std::string{kDigits[b >> 4], kDigits[b & 15], 'h'},
                "FT_BYT2HEX is not the first byte's digits and h");
  }
}

void val_properties(fuzz::Input& in) {
  const std::string text(in.rest());
  const Number n = val_number(text);
  // The number the text begins with, as a plain decimal: blanks, a sign, digits and at
  // most one point.
  std::size_t i = 0;
  while (i < text.size() && text[i] != 0 && std::strchr(" \t\n\v\f\r", text[i]) != nullptr) ++i;
  std::string plain;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) plain.push_back(text[i++]);
  bool point = false;
  std::size_t digits = 0;
  for (; i < text.size(); ++i) {
    if (text[i] >= '0' && text[i] <= '9') {
      ++digits;
    } else if (text[i] == '.' && !point) {
      point = true;
    } else {
      break;
    }
    plain.push_back(text[i]);
  }
  if (digits == 0) {
    fuzz::check(n.as_double() == 0, "VAL of a text without digits is not 0");
    return;
  }
  const double want = std::strtod(plain.c_str(), nullptr);
  const double got = n.as_double();
  fuzz::check(std::isfinite(got) || !std::isfinite(want), "VAL of a number text is not finite");
  fuzz::check(got == want || std::fabs(got - want) <= std::fabs(want) * 1e-14,
              "VAL does not read the number its text begins with");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Run run({});  // no value function raises on arguments of the right kinds
  fuzz::Input in(data, size);
  switch (in.byte() % 5) {
    case 0:
      number_text_properties(in);
      break;
    case 1:
      picture_properties(in);
      break;
    case 2:
      date_properties(in);
      break;
    case 3:
      hex_properties(in);
      break;
    default:
      val_properties(in);
      break;
  }
  return 0;
}
