// The comparison operators: numbers by value, the "=" prefix rule on strings and the
// exact-comparison setting, NIL in "=" and "!=", mixed kinds and their errors.
#include <gtest/gtest.h>

#include "recording_handler.h"
#include "runtime/runtime.h"
#include "tests/support/function_cases.h"
#include "values/numeric.h"
#include "values/strings.h"

namespace lum {
namespace {

using testing::RecordingHandler;

class CompareTest : public ::testing::Test {
 protected:
  Runtime rt_;
  RecordingHandler handler_{rt_};
};

TEST_F(CompareTest, StringCompareRoutine) {
  struct Case {
    const char* a;
    const char* b;
    bool exact;
    int expected;
  };
  const Case cases[] = {
      {"0000000000000", "00000000000", false, 0},  // the left text begins with the right
      {"0000000000000", "00000000000", true, 1},
      {"", "0", false, -1},
      {"ABC", "", false, 0},  // an empty right operand equals anything
      {"", "", false, 0},
      {"", "", true, 0},
      {"", "A", true, -1},
      {"A", "", true, 1},
      {"UE", "U", false, 0},
      {"U", "UE", false, -1},
      {"AB ", "AB", false, 0},
      {"AB", "AB ", false, -1},
      {"ABC", "ABD", false, -1},
      {"ABD", "ABC", true, 1},
      {"\xE9", "z", false, 1},  // unsigned bytes: 0xE9 sorts after "z"
      {"a", "B", false, 1},     // no case folding
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, string_compare(c.a, c.b, c.exact)) << c.a << "|" << c.b;
  }
  EXPECT_EQ(0, string_compare(std::string_view("A\0B", 3), std::string_view("A\0B", 3), true));
  EXPECT_EQ(-1, string_compare(std::string_view("A\0A", 3), std::string_view("A\0B", 3), true));
}

TEST_F(CompareTest, StringOperatorsWithTheSettingOff) {
  for (const test::PrefixEqualsCase& c : test::kPrefixEqualsCases) {
    EXPECT_EQ(c.want, compare_eq(c.a, c.b)) << c.a << "=" << c.b;
  }
  EXPECT_FALSE(compare_ne("UE", "U"));
  EXPECT_TRUE(compare_ne("U", "UE"));
  EXPECT_FALSE(compare_exact("AB ", "AB"));
  EXPECT_TRUE(compare_exact("AB", "AB"));
  EXPECT_TRUE(compare_lt("AB", "AC"));
  EXPECT_TRUE(compare_le("ABC", "AB"));  // equal by the prefix rule
  EXPECT_FALSE(compare_gt("ABC", "AB"));
  EXPECT_TRUE(compare_ge("ABC", "AB"));
  EXPECT_TRUE(compare_lt("AB", "ABC"));
  EXPECT_TRUE(handler_.errors().empty());
}

TEST_F(CompareTest, ExactSettingDropsTrailingSpaces) {
  rt_.settings().exact = true;
  EXPECT_TRUE(compare_eq("AB ", "AB"));
  EXPECT_TRUE(compare_eq("AB", "AB "));
  EXPECT_FALSE(compare_exact("AB ", "AB"));
  EXPECT_FALSE(compare_exact("AB", "AB "));
  EXPECT_FALSE(compare_eq("ABC", "AB"));  // now a prefix is not enough
  EXPECT_FALSE(compare_eq("ABC", ""));
  EXPECT_TRUE(compare_ne("UE", "U"));
  EXPECT_TRUE(compare_gt("ABC", "AB"));
  EXPECT_EQ(1, string_compare("AB  X", "AB", false));
  EXPECT_EQ(0, string_compare("   ", "", false));
}

TEST_F(CompareTest, NumbersDatesLogicals) {
  EXPECT_TRUE(compare_eq(VAL("1.0"), 1));
  EXPECT_TRUE(compare_exact(VAL("1.0"), 1));
  Value sum = add(Value::dbl(0.1, 10, 1), Value::dbl(0.2, 10, 1));
  EXPECT_FALSE(compare_eq(sum, Value::dbl(0.3, 10, 1)));  // doubles compare exactly
  EXPECT_TRUE(compare_gt(sum, Value::dbl(0.3, 10, 1)));
  // 2^53 + 1 differs from 2^53 only as 64-bit integers.
  Value a = Value::int64(9007199254740993LL, 20), b = Value::int64(9007199254740992LL, 20);
  EXPECT_TRUE(compare_gt(a, b));
  EXPECT_TRUE(compare_ne(a, b));
  EXPECT_TRUE(compare_lt(-5, 3));
  EXPECT_TRUE(compare_le(3, 3));
  EXPECT_TRUE(compare_ge(Value::dbl(3.5, 10, 1), 3));
  EXPECT_TRUE(compare_lt(Value::date(2451545), Value::date(2451546)));
  EXPECT_TRUE(compare_eq(Value::date(2451545), 2451545));
  EXPECT_TRUE(compare_gt(Value::logical(true), Value::logical(false)));
  EXPECT_TRUE(compare_eq(Value::logical(false), Value::logical(false)));
  EXPECT_TRUE(compare_eq("A", 65));  // a one-byte string is its byte value
  EXPECT_TRUE(compare_lt(64, "A"));
  EXPECT_TRUE(handler_.errors().empty());
}

TEST_F(CompareTest, NilEqualsOnlyNil) {
  EXPECT_TRUE(compare_eq(Value(), Value()));
  EXPECT_FALSE(compare_eq(Value(), 0));
  EXPECT_FALSE(compare_eq("", Value()));
  EXPECT_TRUE(compare_ne("U", Value()));
  EXPECT_FALSE(compare_ne(Value(), Value()));
  EXPECT_TRUE(compare_exact(Value(), Value()));
  EXPECT_TRUE(handler_.errors().empty());
}

TEST_F(CompareTest, IncomparableKindsRaiseTheOperatorsError) {
  struct Case {
    bool (*op)(const Value&, const Value&);
    Value a, b;
    int subcode;
    const char* operation;
  };
  const Case cases[] = {
      {compare_eq, "AB", 1, 1071, "="},
      {compare_exact, "A", Value(), 1070, "=="},
      {compare_ne, "AB", 1, 1072, "<>"},
      {compare_lt, Value::logical(true), 1, 1073, "<"},
      {compare_le, Value(), Value(), 1074, "<="},
      {compare_gt, Value::date(5), "A", 1075, ">"},
      {compare_ge, 1, Value::logical(false), 1076, ">="},
  };
  for (const Case& c : cases) {
    handler_.clear();
    handler_.answer_with(Value());
    EXPECT_FALSE(c.op(c.a, c.b)) << c.operation;
    ASSERT_EQ(1u, handler_.errors().size()) << c.operation;
    const ErrorObject& e = handler_.errors()[0];
    EXPECT_EQ(1, e.gencode);
    EXPECT_EQ("BASE", e.subsystem);
    EXPECT_EQ(c.subcode, e.subcode);
    EXPECT_EQ(c.operation, e.operation);
    ASSERT_TRUE(e.args.has_value());
    EXPECT_EQ(2u, e.args->size());
    // A logical substitute is the answer; anything else counts as false.
    handler_.answer_with(Value::logical(true));
    EXPECT_TRUE(c.op(c.a, c.b)) << c.operation;
    handler_.answer_with(Value::integer(1));
    EXPECT_FALSE(c.op(c.a, c.b)) << c.operation;
  }
}

}  // namespace
}  // namespace lum
