// Number pictures: function letters, template characters, separators and overflow, and
// DEVOUTPICT at the counters' positions.
#include <gtest/gtest.h>

#include "console/output.h"
#include "console/picture.h"
#include "tests/console/console_fixture.h"
#include "tests/support/function_cases.h"

namespace lum {
namespace {

struct Case {
  const char* picture;
  Value value;
  const char* expected;
};

Value num(double v, int width, int dec) { return Value::dbl(v, width, dec); }

TEST(Transform, CounterPicture) {
  Runtime rt;
  const Case cases[] = {
      {"@E 999,999", -1234, " -1.234"}, {"@E 999,999", -123, "   -123"},
      {"@e 999,999", 1000, "  1.000"},  {"999,999", 1234, "  1,234"},
      {"9,999", -12, "  -12"},          {"99,999", -1, "    -1"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, TRANSFORM(c.value, c.picture)) << c.picture << " " << c.expected;
  }
  for (const test::CounterCase& c : test::kCounterCases) {
    EXPECT_EQ(c.want, TRANSFORM(Value::integer(c.value), "@E 999,999")) << c.value;
  }
}

TEST(Transform, DecimalsAndFunctionLetters) {
  Runtime rt;
  const Case cases[] = {
      {"@E 9,999.99", num(1234.5, 4, 1), "1.234,50"},
      {"@E 999,999.99", num(-1234.5, 5, 1), " -1.234,50"},
      {"9.99", num(0.5, 1, 1), "0.50"},
      {"999", num(2.5, 1, 1), "  3"},
      // Function letters only: the number's own width and decimals.
      {"@E", num(1234.56, 10, 2), "      1234,56"},
      {"@E", Value::int32(10), "        10"},
      // A leading point: no "0" before it, and the walk steps over the digits' point.
      {".99", num(0.5, 1, 1), ".50"},
      {".99", num(0.05, 1, 2), ".05"},
      {"@E .99", num(0.5, 1, 1), ",50"},
      {".99", num(1.5, 1, 1), ".**"},  // a value of 1 or more needs the dropped position
      {"@Z 999", 0, "   "},
      {"@Z 999", 5, "  5"},
      {"@Z 9.99", num(0.0, 1, 2), "    "},
      {"@0 99999", 123, "00123"},
      {"@L 99999", -123, "-0123"},
      {"@C 999", 5, "  5 CR"},
      {"@C 999", -5, " -5"},
      {"@C 999", 0, "  0"},
      {"@X 9,999", -1234, "1,234 DB"},
      {"@X 999", 5, "  5"},
      {"@( 999", -5, " (5)"},
      {"@( 999", -123, "***)"},
      {"@( 999", 5, "  5"},
      {"@S3 99999", 12345, "123"},
      {"@S9 999", 5, "  5"},
      {"@EZ 999,999", 0, "       "},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, TRANSFORM(c.value, c.picture)) << c.picture << " " << c.expected;
  }
}

TEST(Transform, TemplateCharacters) {
  Runtime rt;
  const Case cases[] = {
      {"***,**9", 123, "****123"},  // "*" also stands in for the separator after it
      {"$$$,$$9", 123, "$$$ 123"},
      {"$$$,$$9", 1234, "$$1,234"},
      {"99-99", 1234, "12-34"},
      {"#####", 42, "   42"},
      {"R$ 9,999", 1234, "R$ 1,234"},
      {",999", 12, ", 12"},  // a separator before any digit position is copied
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, TRANSFORM(c.value, c.picture)) << c.picture << " " << c.expected;
  }
}

TEST(Transform, OtherKindsShowTheirPlainText) {
  Runtime rt;
  EXPECT_EQ("abc", TRANSFORM(Value("abc"), "@!"));
  EXPECT_EQ("T", TRANSFORM(Value::logical(true), ""));
  EXPECT_EQ("", TRANSFORM(Value::array({}), "999"));
}

using DevOutPict = testing_support::ConsoleTest;

TEST_F(DevOutPict, CounterOverwritesItsOwnPosition) {
  DEVOUT("Produtos:", Value(), 10, 10);
  DEVPOS(10, 20);
  DEVOUTPICT(999, "@E 999,999");
  EXPECT_EQ(std::string(10, ' ') + "Produtos:     999", row(10));
  DEVPOS(10, 20);
  DEVOUTPICT(1000, "@E 999,999");
  EXPECT_EQ(std::string(10, ' ') + "Produtos:   1.000", row(10));
  EXPECT_EQ(std::make_pair(10, 27), cursor());
}

// The counters' own display shows what the picture call shows, at every count and
// beyond the counts it builds itself.
TEST_F(DevOutPict, CounterDisplayMatchesThePicture) {
  const Value values[] = {0,       1,    9,     10,    999,     1000, 9999, 10000, 99999, 100000,
                          999999, 1000000, -5, -1234, Value::integer(5000000000LL),
                          Value::dbl(12.5, 10, 1)};
  for (const Value& v : values) {
    DEVPOS(1, 20);
    DEVOUTPICT(v, "@E 999,999");
    const auto want_cursor = cursor();
    DEVPOS(2, 20);
    devout_count(v.num());
    EXPECT_EQ(row(1), row(2)) << v.num().as_double();
    EXPECT_EQ(want_cursor.second, cursor().second);
  }
}

TEST_F(DevOutPict, ColourAndPositionArguments) {
  DEVOUTPICT(5, "999", "W+/R", 2, 3);
  EXPECT_EQ("     5", row(2));
  EXPECT_EQ(0x4F, screen().cell(2, 5).attr);
  EXPECT_EQ("W/N,N/W,N/N,N/N,N/W", SETCOLOR());
  DEVOUTPICT(Value::array({}), "999", Value(), 3, 0);  // other kinds write nothing
  EXPECT_EQ("", row(3));
  EXPECT_EQ(std::make_pair(2, 6), cursor());
}

}  // namespace
}  // namespace lum
