// The number text routine: integer and double paths, rounding with its look-ahead,
// the 16-significant-digit limit, sign placement and asterisk overflow.
#include "values/number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>

#include "runtime/runtime.h"

namespace lum {
namespace {

Number dbl(double v, int width = 10, int dec = 0) {
  Number n;
  n.repr = NumRepr::Double;
  n.d = v;
  n.width = static_cast<std::uint8_t>(width);
  n.dec = static_cast<std::uint8_t>(dec);
  return n;
}

Number integer(std::int64_t v, NumRepr repr = NumRepr::Int32) {
  Number n;
  n.repr = repr;
  n.i = v;
  return n;
}

struct Case {
  Number n;
  int width;
  int dec;
  const char* expected;
};

TEST(NumberText, IntegerRepresentations) {
  const Case cases[] = {
      {integer(123), 5, 0, "  123"},
      {integer(0), 3, 0, "  0"},
      {integer(-1), 2, 0, "-1"},
      {integer(-10), 2, 0, "**"},  // the sign needs a position of its own
      {integer(-12345), 5, 0, "*****"},
      {integer(123456), 5, 0, "*****"},
      {integer(12345), 5, 0, "12345"},
      {integer(7), 4, 2, "   7.00"},
      {integer(-7), 2, 1, "-7.0"},
      {integer(INT64_MIN, NumRepr::Int64), 20, 0, "-9223372036854775808"},
      {integer(INT64_MIN, NumRepr::Int64), 19, 0, "*******************"},
      {integer(INT64_MAX, NumRepr::Int64), 19, 0, "9223372036854775807"},
      {integer(5), 0, 2, "***"},  // no integer position at all
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, number_text(c.n, c.width, c.dec))
        << c.n.i << " " << c.width << "," << c.dec;
  }
}

TEST(NumberText, DoublesRoundAndPlaceTheSign) {
  const Case cases[] = {
      {dbl(9.6), 3, 0, " 10"},
      {dbl(99.6), 2, 0, "**"},  // the carry runs past the first position
      {dbl(0.5), 3, 0, "  1"},
      {dbl(0.4), 3, 0, "  0"},
      {dbl(-0.4), 3, 0, "  0"},  // no sign on an all-zero text
      {dbl(-0.5), 3, 0, " -1"},  // the carry makes the first significant digit
      {dbl(-0.5), 2, 0, "-1"},
      {dbl(-0.5), 1, 0, "*"},
      {dbl(-0.05), 3, 1, " -0.1"},
      {dbl(-0.001), 3, 2, "  0.00"},
      {dbl(-0.25), 3, 2, " -0.25"},
      {dbl(-0.25), 1, 2, "****"},  // "-0.25" needs a position left of the "0"
      {dbl(2.5, 10, 1), 10, 1, "         2.5"},
      {dbl(8.995), 2, 2, " 9.00"},  // 8.99499999... rounds up by the look-ahead
      {dbl(1.005), 2, 2, " 1.01"},
      {dbl(0.125), 1, 2, "0.13"},
      {dbl(-1234.5678), 6, 2, " -1234.57"},
      {dbl(99.996), 2, 2, "*****"},
      {dbl(99.996), 3, 2, "100.00"},
      {dbl(0.96), 1, 1, "1.0"},
      {dbl(-0.96), 2, 1, "-1.0"},
      {dbl(-0.96), 1, 1, "***"},
      {dbl(123456.0), 5, 0, "*****"},
      {dbl(-0.0), 3, 1, "  0.0"},
      {dbl(1e15), 16, 0, "1000000000000000"},
      {dbl(0.1 + 0.2), 1, 18, "0.300000000000000000"},  // 16 significant digits at most
      {dbl(1234567890.123456789), 14, 10, "    1234567890.1234570000"},
      {dbl(12345678901234567890.0), 25, 0, "     12345678901234570000"},
      {dbl(std::numeric_limits<double>::infinity()), 5, 0, "*****"},
      {dbl(-std::numeric_limits<double>::infinity()), 3, 1, "*****"},
      {dbl(std::nan("")), 4, 0, "****"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, number_text(c.n, c.width, c.dec))
        << c.n.d << " " << c.width << "," << c.dec;
  }
}

TEST(NumberText, OwnWidthAndDecimals) {
  EXPECT_EQ("         2.5", number_text(dbl(2.5, 10, 1)));
  EXPECT_EQ("       525", number_text(integer(525)));
  std::string out = "x";
  append_number_text(out, dbl(3.14159, 3, 2), 3, 2);
  EXPECT_EQ("x  3.14", out);
  char buf[8];
  number_text(integer(42), 4, 0, buf);
  EXPECT_EQ("  42", std::string(buf, 4));
}

TEST(NumberText, WholeDoublesShowLikeIntegers) {
  std::mt19937_64 rng(99);
  for (int k = 0; k < 200000; ++k) {
    int digits = 1 + k % 15;
    std::int64_t limit = 1;
    for (int j = 0; j < digits; ++j) limit *= 10;
    std::int64_t v = static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(limit));
    if (k % 7 == 0) v = limit - 1 - (k % 3);  // runs of nines
    if (k % 2 == 1) v = -v;
    int w = 17, d = k % 4;
    ASSERT_EQ(number_text(integer(v, NumRepr::Int64), w, d),
              number_text(dbl(static_cast<double>(v)), w, d))
        << v;
  }
}

TEST(NumberText, TextLengthIsAlwaysTheRequestedOne) {
  std::mt19937_64 rng(20240611);
  std::uniform_int_distribution<int> exponent(-40, 40);
  std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
  std::uniform_int_distribution<int> width(1, 40);
  std::uniform_int_distribution<int> dec(0, 20);
  std::uniform_int_distribution<std::uint64_t> bits;
  for (int k = 0; k < 200000; ++k) {
    double v;
    switch (k % 4) {
      case 0:
        v = mantissa(rng) * std::pow(10.0, exponent(rng));
        break;
      case 1: {
        std::uint64_t b = bits(rng);  // any bit pattern: subnormals, huge values, NaNs
        std::memcpy(&v, &b, sizeof v);
        break;
      }
      case 2:
        v = std::round(mantissa(rng) * 1000) / 100;
        break;  // exact halves and more
      default:
        v = (k % 3 == 0) ? std::numeric_limits<double>::infinity() : std::nan("");
        break;
    }
    int w = width(rng), d = dec(rng);
    std::string text = number_text(dbl(v), w, d);
    ASSERT_EQ(number_text_size(w, d), text.size()) << v << " " << w << "," << d;
    bool stars = text.find_first_not_of('*') == std::string::npos;
    if (!stars) {
      // A readable text: only spaces, then an optional "-", digits and one point.
      EXPECT_EQ(std::string::npos, text.find('*')) << text;
      if (d > 0) {
        EXPECT_EQ('.', text[text.size() - static_cast<std::size_t>(d) - 1]) << text;
      }
    }
  }
}

}  // namespace
}  // namespace lum
