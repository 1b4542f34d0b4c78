// The string functions: trimming, cutting, searching, indexing and their argument
// errors with the error objects the handler sees.
#include "values/strings.h"

#include <gtest/gtest.h>

#include <string>

#include "recording_handler.h"
#include "runtime/runtime.h"

namespace lum {
namespace {

using testing::RecordingHandler;

class StringsTest : public ::testing::Test {
 protected:
  Runtime rt_;
  RecordingHandler handler_{rt_};
};

std::string S(const Value& v) { return v.is_string() ? v.str() : "<not a string>"; }

TEST_F(StringsTest, Alltrim) {
  struct Case {
    std::string in;
    Value all_white;
    std::string expected;
  };
  const Case cases[] = {
      {"\tA ", Value(), "A"},
      {"A\t", Value(), "A\t"},
      {"A\t", Value::logical(true), "A"},
      {"A\t", Value::logical(false), "A\t"},
      {" \r\n\tA B \n\r", Value::logical(true), "A B"},
      {"   ", Value(), ""},
      {"", Value(), ""},
      {"A \n", Value(), "A \n"},
      {std::string("\0A\0", 3), Value(), std::string("\0A\0", 3)},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, S(ALLTRIM(c.in, c.all_white)));
  EXPECT_EQ("x", S(ALLTRIM("  x  ")));
  EXPECT_EQ(0, LEN(ALLTRIM("      ")).num().i);  // the conversions' blank-field test
}

TEST_F(StringsTest, SubstrLeftRight) {
  EXPECT_EQ("DEF", S(SUBSTR("ABCDEF", -3)));
  EXPECT_EQ("", S(SUBSTR("ABC", 2, -1)));
  EXPECT_EQ("BCD", S(SUBSTR("ABCDEF", 2, 3)));
  EXPECT_EQ("EF", S(SUBSTR("ABCDEF", 5, 14)));
  EXPECT_EQ("AB", S(SUBSTR("ABC", 0, 2)));
  EXPECT_EQ("", S(SUBSTR("ABC", 4)));
  EXPECT_EQ("", S(SUBSTR("ABC", 1, 0)));
  EXPECT_EQ("ABCDEF", S(SUBSTR("ABCDEF", -10)));
  EXPECT_EQ("EF", S(SUBSTR("ABCDEF", -2, 5)));
  EXPECT_EQ("BCDEF", S(SUBSTR("ABCDEF", Value::dbl(2.9, 10, 1))));
  EXPECT_EQ("BC", S(SUBSTR("ABCDEF", 2, Value::dbl(2.7, 10, 1))));
  EXPECT_EQ("", S(SUBSTR("ABC", 5, Value())));  // start past the end: count not looked at
  EXPECT_EQ("ABCDE", S(LEFT("ABCDE", 8)));
  EXPECT_EQ("ABC", S(LEFT("ABCDE", 3)));
  EXPECT_EQ("", S(LEFT("ABCDE", 0)));
  EXPECT_EQ("CDE", S(RIGHT("ABCDE", 3)));
  EXPECT_EQ("ABCDE", S(RIGHT("ABCDE", 5)));
  EXPECT_EQ("", S(RIGHT("ABCDE", 0)));
  EXPECT_EQ("", S(RIGHT(12345, 3)));  // RIGHT never fails
  EXPECT_TRUE(handler_.errors().empty());
}

TEST_F(StringsTest, AtLenSpaceAscValtype) {
  EXPECT_EQ(0, AT("", "ABC").num().i);
  EXPECT_EQ(2, AT("AA", "AAA", 2).num().i);
  EXPECT_EQ(11, AT("/", "12.345.678/0001-90").num().i);
  EXPECT_EQ(0, AT("-", "123").num().i);
  EXPECT_EQ(3, AT("ABD", "ABABD").num().i);  // restart after a partial match
  EXPECT_EQ(0, AT("C", "ABCDEF", 1, 2).num().i);
  EXPECT_EQ(3, AT("C", "ABCDEF", 1, 3).num().i);
  EXPECT_EQ(6, AT("F", "ABCDEF", -1).num().i);
  EXPECT_EQ(1, AT("A", "ABA", 1, -2).num().i);
  EXPECT_EQ(0, AT("ABCD", "ABC").num().i);
  EXPECT_EQ(0, AT("A", "ABC", 4).num().i);
  EXPECT_EQ(10, AT("A", "BA").num().width);
  EXPECT_EQ(3, LEN("abc").num().i);
  EXPECT_EQ(NumRepr::Int32, LEN("abc").num().repr);
  EXPECT_EQ(10, LEN("abc").num().width);
  EXPECT_EQ(2, LEN(Value::array({1, 2})).num().i);
  EXPECT_EQ("   ", S(SPACE(3)));
  EXPECT_EQ("  ", S(SPACE(Value::dbl(2.7, 10, 1))));
  EXPECT_EQ("", S(SPACE(-1)));
  EXPECT_EQ(65, ASC("AB").num().i);
  EXPECT_EQ(0, ASC("").num().i);
  EXPECT_EQ(255, ASC("\xFF").num().i);
  struct KindCase {
    Value v;
    const char* letter;
  };
  const KindCase kinds[] = {{Value(), "U"}, {Value::logical(true), "L"}, {"x", "C"},
                            {1, "N"},       {Value::date(1), "D"},       {Value::array({}), "A"}};
  for (const KindCase& k : kinds) EXPECT_EQ(k.letter, S(VALTYPE(k.v)));
  EXPECT_TRUE(handler_.errors().empty());
}

TEST_F(StringsTest, ConcatAndIndex) {
  EXPECT_EQ(std::string("AB\0C", 4), S(concat("AB", std::string("\0C", 2))));
  EXPECT_EQ("", S(concat("", "")));
  const Value digits = "0123456789ABCDEF";
  struct Case {
    int n;
    const char* expected;
  };
  const Case cases[] = {{1, "0"}, {16, "F"}, {17, ""}, {0, "0"}, {-1, "F"}, {-16, "0"}, {-20, "0"}};
  for (const Case& c : cases) EXPECT_EQ(c.expected, S(index_char(digits, c.n))) << c.n;
  EXPECT_EQ("B", S(index_char("ABC", Value::dbl(2.9, 10, 1))));
  EXPECT_TRUE(index_char("", -1).is_nil());
  EXPECT_EQ("", S(index_char("", 1)));
  EXPECT_TRUE(handler_.errors().empty());
}

TEST_F(StringsTest, ArgumentErrors) {
  struct Case {
    Value (*call)();
    int subcode;
    const char* operation;
    std::size_t nargs;
  };
  const Case cases[] = {
      {[] { return ALLTRIM(5); }, 2022, "ALLTRIM", 1},
      {[] { return ALLTRIM(5, Value::logical(true)); }, 2022, "ALLTRIM", 2},
      {[] { return SUBSTR(5, 1); }, 1110, "SUBSTR", 2},
      {[] { return SUBSTR("ABC", "1"); }, 1110, "SUBSTR", 2},
      {[] { return SUBSTR("ABC", 2, Value()); }, 1110, "SUBSTR", 3},
      {[] { return LEFT(12345, 3); }, 1124, "LEFT", 2},
      {[] { return AT(1, "A", 1, 2); }, 1108, "AT", 2},
      {[] { return AT("A", Value()); }, 1108, "AT", 2},
      {[] { return LEN(5); }, 1111, "LEN", 1},
      {[] { return SPACE("3"); }, 1105, "SPACE", 1},
      {[] { return ASC(65); }, 1107, "ASC", 1},
  };
  handler_.answer_with(Value::string("subst"));
  for (const Case& c : cases) {
    handler_.clear();
    Value r = c.call();
    ASSERT_EQ(1u, handler_.errors().size()) << c.operation;
    const ErrorObject& e = handler_.errors()[0];
    EXPECT_EQ(1, e.gencode);
    EXPECT_EQ("Argument error", e.description);
    EXPECT_EQ("BASE", e.subsystem);
    EXPECT_EQ(c.subcode, e.subcode);
    EXPECT_EQ(c.operation, e.operation);
    ASSERT_TRUE(e.args.has_value());
    EXPECT_EQ(c.nargs, e.args->size()) << c.operation;
    EXPECT_EQ("subst", S(r));
  }
  handler_.clear();
  LEFT(12345, 3);
  const Array& args = *handler_.errors()[0].args;
  EXPECT_EQ(12345, args[0].num().i);
  EXPECT_EQ(3, args[1].num().i);
}

}  // namespace
}  // namespace lum
