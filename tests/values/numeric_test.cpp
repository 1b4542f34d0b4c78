// STR, STRZERO, VAL, INT and the arithmetic operators: texts, widths, decimals and
// representations of results, and the argument errors with their substitutes.
#include "values/numeric.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>

#include "recording_handler.h"
#include "runtime/runtime.h"
#include "tests/support/function_cases.h"
#include "values/number_text.h"
#include "values/strings.h"

namespace lum {
namespace {

using testing::RecordingHandler;

Value dbl(double v, int width = 10, int dec = 0) { return Value::dbl(v, width, dec); }

class NumericTest : public ::testing::Test {
 protected:
  Runtime rt_;
  RecordingHandler handler_{rt_};
};

TEST_F(NumericTest, StrTexts) {
  struct Case {
    std::vector<Value> args;
    const char* expected;
  };
  const Case cases[] = {
      {{VAL("00123"), 5}, "  123"},
      {{dbl(2.5, 10, 1)}, "         2.5"},
      {{dbl(-0.5, 10, 1), 3}, " -1"},
      {{dbl(1.5, 10, 1), 2, 1}, "**"},  // width equals decimals + 1
      {{dbl(1.5, 10, 1), 10, 9}, "**********"},
      {{42, 0}, "        42"},  // width 0 means 10
      {{42, -3}, "        42"},
      {{dbl(3.14159, 10, 5), 8, 2}, "    3.14"},
      {{dbl(3.14159, 10, 5), 8, 0}, "       3"},  // decimals 0 keeps d = 0 after a width
      {{dbl(3.14159, 10, 5), 8, -2}, "       3"},
      {{dbl(1.5, 10, 1), 2, 3}, "**"},  // no room left for the integer part
      {{7}, "         7"},
      {{1000000000}, " 1000000000"},  // a ten-digit constant has width 11
      {{Value::constant(-1000000000)}, "         -1000000000"},
      {{dbl(1234.5, 12, 1), dbl(6.9)}, "  1235"},  // a double width counts its whole part
      {{dbl(123.456, 3, 3), Value(), Value(), Value::logical(true)}, "123.456"},
      {{12, 6, Value(), Value::logical(true)}, "12"},
      {{12, "x", "y", Value::logical(false)}, "        12"},  // four arguments: ignored
      {{dbl(-0.25, 10, 2), 5, 2, Value::logical(true)}, "-0.25"},
  };
  for (const Case& c : cases) {
    Value r;
    switch (c.args.size()) {
      case 1:
        r = STR(c.args[0]);
        break;
      case 2:
        r = STR(c.args[0], c.args[1]);
        break;
      case 3:
        r = STR(c.args[0], c.args[1], c.args[2]);
        break;
      default:
        r = STR(c.args[0], c.args[1], c.args[2], c.args[3]);
        break;
    }
    ASSERT_TRUE(r.is_string());
    EXPECT_EQ(c.expected, r.str());
  }
  EXPECT_TRUE(handler_.errors().empty());
}

// The cases the independent oracle is held to as well.
TEST_F(NumericTest, SharedStrValCases) {
  for (const test::StrCase& c : test::kStrCases) {
    Value v = c.scale == 0
                  ? Value::integer(c.mantissa)
                  : dbl(static_cast<double>(c.mantissa) / std::pow(10.0, c.scale), 10, c.scale);
    EXPECT_EQ(c.str, STR(v, c.width).str()) << c.mantissa << "e-" << c.scale;
    EXPECT_EQ(c.strzero, STRZERO(v, c.width).str()) << c.mantissa << "e-" << c.scale;
  }
  for (const test::ValCase& c : test::kValCases) {
    Value v = VAL(c.text);
    ASSERT_TRUE(v.is_number()) << c.text;
    const Number& n = v.num();
    EXPECT_EQ(static_cast<double>(c.mantissa) / std::pow(10.0, c.scale), n.as_double()) << c.text;
    EXPECT_EQ(c.is_integer, n.is_integer()) << c.text;
    EXPECT_EQ(c.width, n.width) << c.text;
    EXPECT_EQ(c.dec, n.dec) << c.text;
  }
  EXPECT_TRUE(handler_.errors().empty());
}

TEST_F(NumericTest, StrOfANumberWithoutWidthIsEmpty) {
  // VAL("") has width 0; its text under its own width is empty.
  EXPECT_EQ("", STR(VAL("")).str());
  EXPECT_EQ("         0", STR(VAL(""), 10).str());
}

TEST_F(NumericTest, StrZeroTexts) {
  EXPECT_EQ("0000000042", STRZERO(42).str());
  EXPECT_EQ("-0001.50", STRZERO(dbl(-1.5, 10, 1), 8, 2).str());
  EXPECT_EQ("-0.25", STRZERO(dbl(-0.25, 10, 2), 5, 2).str());
  EXPECT_TRUE(handler_.errors().empty());
}

TEST_F(NumericTest, StrZeroTakesTheFixedDecimals) {
  rt_.settings().fixed = true;
  rt_.settings().decimals = 3;
  EXPECT_EQ("0000000002.500", STRZERO(dbl(2.5, 10, 1)).str());
  EXPECT_EQ("         2.5", STR(dbl(2.5, 10, 1)).str());  // STR ignores the setting
}

TEST_F(NumericTest, StrArgumentErrors) {
  struct Case {
    std::vector<Value> args;
    int subcode;
    const char* operation;
  };
  const Case cases[] = {
      {{"12"}, 1099, "STR"},
      {{12, "5"}, 1099, "STR"},
      {{12, 5, Value()}, 1099, "STR"},
      {{12, 5, 2, 1}, 1099, "STR"},
      {{Value::date(2451545), 5, 2, Value::logical(true)}, 1099, "STR"},
  };
  handler_.answer_with(Value::string("sub"));
  for (const Case& c : cases) {
    handler_.clear();
    Value r;
    switch (c.args.size()) {
      case 1:
        r = STR(c.args[0]);
        break;
      case 2:
        r = STR(c.args[0], c.args[1]);
        break;
      case 3:
        r = STR(c.args[0], c.args[1], c.args[2]);
        break;
      default:
        r = STR(c.args[0], c.args[1], c.args[2], c.args[3]);
        break;
    }
    ASSERT_EQ(1u, handler_.errors().size());
    const ErrorObject& e = handler_.errors()[0];
    EXPECT_EQ(1, e.gencode);
    EXPECT_EQ("Argument error", e.description);
    EXPECT_EQ("BASE", e.subsystem);
    EXPECT_EQ(c.subcode, e.subcode);
    EXPECT_EQ(c.operation, e.operation);
    ASSERT_TRUE(e.args.has_value());
    EXPECT_EQ(c.args.size(), e.args->size());
    EXPECT_TRUE(e.can_substitute);
    EXPECT_EQ("sub", r.str());
  }
  handler_.clear();
  STRZERO(12, "x");
  ASSERT_EQ(1u, handler_.errors().size());
  EXPECT_EQ(9999, handler_.errors()[0].subcode);
  EXPECT_EQ("STRZERO", handler_.errors()[0].operation);
}

TEST_F(NumericTest, StrHasTheRequestedWidthForAnyDouble) {
  std::mt19937_64 rng(77);
  std::uniform_int_distribution<int> exponent(-30, 30);
  std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
  std::uniform_int_distribution<int> width(1, 30);
  std::uniform_int_distribution<std::uint64_t> bits;
  for (int k = 0; k < 100000; ++k) {
    double v = mantissa(rng) * std::pow(10.0, exponent(rng));
    if (k % 5 == 1) {
      std::uint64_t b = bits(rng);
      std::memcpy(&v, &b, sizeof v);
    }
    if (k % 50 == 2) v = std::nan("");
    if (k % 50 == 3) v = -std::numeric_limits<double>::infinity();
    int w = width(rng);
    int d = std::uniform_int_distribution<int>(0, w + 2)(rng);
    Value text = STR(dbl(v, 10, 2), w, d);
    ASSERT_EQ(static_cast<std::size_t>(w), text.str().size()) << v << " " << w << "," << d;
  }
}

TEST_F(NumericTest, ValOfStrGivesTheRoundedNumber) {
  std::mt19937_64 rng(4242);
  std::uniform_int_distribution<int> exponent(-8, 14);
  std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
  int readable = 0;
  for (int k = 0; k < 100000; ++k) {
    double v = mantissa(rng) * std::pow(10.0, exponent(rng));
    int w = std::uniform_int_distribution<int>(1, 24)(rng);
    int d = std::uniform_int_distribution<int>(0, 8)(rng);
    std::string text = STR(dbl(v, 10, 2), w, d).str();
    if (text.empty() || text.find('*') != std::string::npos) continue;
    ++readable;
    Value back = VAL(text);
    double got = back.num().as_double();
    // Half a unit of the last shown decimal, plus what the 16-digit limit may drop.
    double allowed = 0.5 * std::pow(10.0, -d) * (1 + 1e-9) + std::fabs(v) * 1e-15;
    ASSERT_LE(std::fabs(got - v), allowed) << v << " " << w << "," << d << " '" << text << "'";
    // Exactly n rounded to d decimals where the value is far from a rounding tie.
    double scaled = v * std::pow(10.0, d);
    double dist = std::fabs(scaled - std::floor(scaled) - 0.5);
    if (std::fabs(scaled) < 1e12 && dist > 1e-3) {
      double expected = std::round(scaled) / std::pow(10.0, d);
      EXPECT_EQ(expected, got) << v << " " << w << "," << d << " '" << text << "'";
    }
  }
  EXPECT_GT(readable, 30000);
}

// Texts with more digits than a 64-bit integer or an exact power of ten holds: the
// value is the text's correctly rounded number, never the NaN of infinity divided by
// infinity, nor the drift of adding digit by digit.
TEST_F(NumericTest, ValOfALongTextIsTheNumberItSpells) {
  const std::string texts[] = {
      "1." + std::string(400, '0'),        "0." + std::string(300, '0') + "1",
      "-123456789012345678901234567890.5", "1" + std::string(30, '0'),
      "0.1234567890123456789012345",       "9" + std::string(400, '9'),
      "0." + std::string(400, '0') + "5",
  };
  for (const std::string& t : texts) {
    EXPECT_EQ(std::strtod(t.c_str(), nullptr), VAL(t).num().as_double()) << t.substr(0, 40);
  }
  // Found by fuzzing: a tiny number shown with 566 decimals read back as NaN.
  const std::uint64_t bits = 0x303030040A303004;
  double tiny;
  std::memcpy(&tiny, &bits, sizeof tiny);
  const std::string text = STR(dbl(tiny, 10, 2), 14228, 566).str();
  ASSERT_EQ(14228u, text.size());
  EXPECT_NEAR(tiny, VAL(text).num().as_double(), std::fabs(tiny) * 1e-15);
}

TEST_F(NumericTest, ValReadsValueWidthAndDecimals) {
  struct Case {
    const char* text;
    double value;
    bool is_integer;
    int width;
    int dec;
  };
  const Case cases[] = {
      {"   1.5", 1.5, false, 4, 1},
      {"12345678901", 12345678901.0, true, 20, 0},
      {"00000000001", 1, true, 10, 0},
      {"+7", 7, true, 2, 0},
      {"-5", -5, true, 2, 0},
      {"1.", 1, false, 2, 0},
      {"\t\r\n\v\f9", 9, true, 6, 0},
      {"-0.50", -0.5, false, 2, 2},
      {"-1.5", -1.5, false, 2, 1},
      {"12.5 kg", 12.5, false, 2, 4},  // the unit counts as trailing decimals
      {"9223372036854775807", 9223372036854775807.0, true, 20, 0},
      {"9223372036854775808", 9223372036854775808.0, false, 20, 0},  // past 64 bits
      {"0000000000000", 0, true, 10, 0},
  };
  for (const Case& c : cases) {
    Value v = VAL(c.text);
    ASSERT_TRUE(v.is_number()) << c.text;
    const Number& n = v.num();
    EXPECT_EQ(c.value, n.as_double()) << c.text;
    EXPECT_EQ(c.is_integer, n.is_integer()) << c.text;
    EXPECT_EQ(c.width, n.width) << c.text;
    EXPECT_EQ(c.dec, n.dec) << c.text;
  }
  EXPECT_EQ("123.45", number_text(VAL("123.45").num()));
  EXPECT_EQ("-0.5", number_text(VAL("-.5").num()));
  EXPECT_EQ(INT64_MAX, VAL("9223372036854775807").num().i);
  EXPECT_EQ(NumRepr::Int64, VAL("12345678901").num().repr);
  EXPECT_TRUE(handler_.errors().empty());

  handler_.answer_with(Value::integer(-1));
  Value r = VAL(5);
  ASSERT_EQ(1u, handler_.errors().size());
  EXPECT_EQ(1098, handler_.errors()[0].subcode);
  EXPECT_EQ("VAL", handler_.errors()[0].operation);
  EXPECT_EQ(-1, r.num().i);
}

TEST_F(NumericTest, IntTruncatesTowardZero) {
  Value three = INT(dbl(2.9999999999999996, 10, 16));
  EXPECT_EQ(3.0, three.num().d);
  EXPECT_EQ(NumRepr::Double, three.num().repr);
  EXPECT_EQ(10, three.num().width);
  EXPECT_EQ(0, three.num().dec);
  EXPECT_EQ(-7.0, INT(dbl(-7.5, 4, 1)).num().d);
  EXPECT_EQ(4, INT(dbl(-7.5, 4, 1)).num().width);
  EXPECT_EQ(2.0, INT(dbl(2.9, 10, 1)).num().d);
  Value big = Value::int64(INT64_MAX, 20);
  EXPECT_EQ(INT64_MAX, INT(big).num().i);
  EXPECT_EQ(NumRepr::Int64, INT(big).num().repr);
  EXPECT_TRUE(handler_.errors().empty());
  INT("5");
  ASSERT_EQ(1u, handler_.errors().size());
  EXPECT_EQ(1090, handler_.errors()[0].subcode);
  EXPECT_EQ("INT", handler_.errors()[0].operation);
}

void ExpectNumber(const Value& v, NumRepr repr, double value, int width, int dec) {
  ASSERT_TRUE(v.is_number());
  EXPECT_EQ(repr, v.num().repr);
  EXPECT_EQ(value, v.num().as_double());
  EXPECT_EQ(width, v.num().width);
  EXPECT_EQ(dec, v.num().dec);
}

TEST_F(NumericTest, ArithmeticWidthsAndRepresentations) {
  ExpectNumber(add(5, 7), NumRepr::Int32, 12, 10, 0);
  ExpectNumber(subtract(5, 7), NumRepr::Int32, -2, 10, 0);
  ExpectNumber(add(999999999, 1), NumRepr::Int32, 1000000000, 20, 0);
  ExpectNumber(add(Value::int32(2000000000), Value::int32(2000000000)), NumRepr::Int64, 4e9, 10, 0);
  ExpectNumber(add(Value::int64(9000000000, 10), Value::int64(9000000000, 10)), NumRepr::Int64,
               18e9, 20, 0);
  ExpectNumber(add(Value::int64(INT64_MAX, 20), 1), NumRepr::Double, 9223372036854775808.0, 20, 0);
  ExpectNumber(add(dbl(1.5, 10, 1), dbl(2.25, 10, 2)), NumRepr::Double, 3.75, 10, 2);
  ExpectNumber(add(1, VAL("0.5")), NumRepr::Double, 1.5, 10, 1);
  ExpectNumber(subtract(dbl(1e10, 10, 0), dbl(-1, 10, 0)), NumRepr::Double, 1e10 + 1, 20, 0);
  ExpectNumber(subtract(dbl(-1e9, 10, 0), dbl(0.5, 10, 1)), NumRepr::Double, -1e9 - 0.5, 20, 1);
  ExpectNumber(divide(ASC("A"), 16), NumRepr::Double, 4.0625, 10, 2);
  ExpectNumber(divide(32, 16), NumRepr::Double, 2.0, 10, 2);  // a whole quotient stays double
  EXPECT_EQ("         2.00", number_text(divide(32, 16).num()));
  ExpectNumber(modulo(-7, 3), NumRepr::Int32, -1, 10, 0);
  ExpectNumber(modulo(7, -3), NumRepr::Int32, 1, 10, 0);
  ExpectNumber(modulo(Value::int64(INT64_MIN, 20), -1), NumRepr::Int32, 0, 10, 0);
  ExpectNumber(modulo(dbl(7.5, 10, 1), 2), NumRepr::Double, 1.5, 10, 1);
  ExpectNumber(add_constant(41, 1), NumRepr::Int32, 42, 10, 0);
  ExpectNumber(add_constant(Value::int32(INT32_MAX), 1), NumRepr::Int64, 2147483648.0, 10, 0);
  ExpectNumber(add_constant(dbl(2.5, 3, 1), -1), NumRepr::Double, 1.5, 10, 1);
  EXPECT_EQ(2451546, add_constant(Value::date(2451545), 1).day());
  EXPECT_EQ(2451544, subtract(Value::date(2451545), 1).day());
  EXPECT_EQ(2451550, add(5, Value::date(2451545)).day());
  ExpectNumber(subtract(Value::date(2451545), Value::date(2451540)), NumRepr::Int32, 5, 10, 0);
  EXPECT_EQ("AB", add("A", "B").str());
  rt_.settings().decimals = 4;
  ExpectNumber(divide(1, 4), NumRepr::Double, 0.25, 10, 4);
  EXPECT_TRUE(handler_.errors().empty());
}

TEST_F(NumericTest, CounterIncrement) {
  Value counter = 0;
  for (int k = 0; k < 3; ++k) increment(counter);
  ExpectNumber(counter, NumRepr::Int32, 3, 10, 0);
  EXPECT_EQ("         3", STR(counter).str());

  Value v = Value::int32(999999999);
  increment(v);
  ExpectNumber(v, NumRepr::Int32, 1000000000, 10, 0);  // "++" keeps width 10 upwards
  v = Value::int32(-1000000001, 20);
  increment(v);
  ExpectNumber(v, NumRepr::Int32, -1000000000, 20, 0);
  v = Value::int32(INT32_MAX);
  increment(v);
  ExpectNumber(v, NumRepr::Int64, 2147483648.0, 10, 0);
  v = Value::int64(INT64_MAX, 20);
  increment(v);
  ExpectNumber(v, NumRepr::Double, 9223372036854775808.0, 20, 0);
  v = dbl(1.25, 4, 2);
  increment(v);
  ExpectNumber(v, NumRepr::Double, 2.25, 10, 2);
  v = Value::date(2451545);
  increment(v);
  EXPECT_EQ(2451546, v.day());
  EXPECT_TRUE(handler_.errors().empty());

  handler_.answer_with(Value::integer(9));
  v = Value::string("A");
  increment(v);
  ASSERT_EQ(1u, handler_.errors().size());
  EXPECT_EQ(1086, handler_.errors()[0].subcode);
  EXPECT_EQ("++", handler_.errors()[0].operation);
  EXPECT_EQ(9, v.num().i);
}

TEST_F(NumericTest, ArithmeticErrors) {
  struct Case {
    Value (*op)(const Value&, const Value&);
    Value a, b;
    int gencode;
    int subcode;
    const char* operation;
  };
  const Case cases[] = {
      {add, "A", 1, 1, 1081, "+"},
      {add, Value::logical(true), 1, 1, 1081, "+"},
      {add, Value::date(1), Value::date(1), 1, 1081, "+"},
      {subtract, "A", "B", 1, 1082, "-"},
      {divide, "A", 1, 1, 1084, "/"},
      {modulo, 1, Value(), 1, 1085, "%"},
      {divide, 1, 0, 5, 1340, "/"},
      {divide, 1, dbl(0.0, 10, 2), 5, 1340, "/"},
      {modulo, 5, 0, 5, 1341, "%"},
  };
  handler_.answer_with(Value::integer(77));
  for (const Case& c : cases) {
    handler_.clear();
    Value r = c.op(c.a, c.b);
    ASSERT_EQ(1u, handler_.errors().size()) << c.operation;
    const ErrorObject& e = handler_.errors()[0];
    EXPECT_EQ(c.gencode, e.gencode);
    EXPECT_EQ("BASE", e.subsystem);
    EXPECT_EQ(c.subcode, e.subcode);
    EXPECT_EQ(c.operation, e.operation);
    ASSERT_TRUE(e.args.has_value());
    EXPECT_EQ(2u, e.args->size());
    EXPECT_EQ(77, r.num().i);
  }
  handler_.clear();
  add_constant("x", 1);
  ASSERT_EQ(1u, handler_.errors().size());
  EXPECT_EQ(1081, handler_.errors()[0].subcode);
}

}  // namespace
}  // namespace lum
