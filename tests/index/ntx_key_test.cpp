// Key forms, key classification, search keys and key comparison.
#include "index/ntx_key.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/runtime.h"
#include "values/dates.h"

namespace lum {
namespace {

std::string key_of(const Value& v, int k, int dec) {
  std::string out(static_cast<std::size_t>(k), '?');
  EXPECT_TRUE(make_key(v, k, dec, reinterpret_cast<std::uint8_t*>(out.data())));
  return out;
}

TEST(NtxKey, NumericKeyText) {
  Runtime rt;
  struct Case {
    Value v;
    int k, dec;
    std::string key;
  } cases[] = {
      {Value::int32(-5, 5), 5, 0, ",,,,'"},
      {Value::int32(0, 5), 5, 0, "00000"},
      {Value::int32(5, 5), 5, 0, "00005"},
      {Value::int32(12345, 5), 5, 0, "12345"},
      {Value::int32(-999, 5), 5, 0, ",,###"},
      {Value::int32(-100, 5), 5, 0, ",,+,,"},
      {Value::dbl(12.5, 3, 2), 6, 2, "012.50"},
      // -12.5: "-12.50" -> "012.50" -> each digit d becomes 92 - d.
      {Value::dbl(-12.5, 3, 2), 6, 2, std::string{44, 43, 42, '.', 39, 44}},
      {Value::int32(123456, 5), 5, 0, "*****"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.key, key_of(c.v, c.k, c.dec)) << c.key;
  }
}

TEST(NtxKey, NumericKeysSortInNumericOrder) {
  Runtime rt;
  const double values[] = {-99999, -1000, -999.5, -100, -99.99, -5,  -1,    -0.01,
                           0,      0.01,  1,      5,    99.99,  100, 999.5, 99999};
  std::string prev;
  for (double d : values) {
    std::string k = key_of(Value::dbl(d, 6, 2), 9, 2);
    if (!prev.empty()) {
      EXPECT_LT(prev, k) << d;
    }
    prev = k;
  }
}

TEST(NtxKey, CharacterDateAndLogicalKeys) {
  Runtime rt;
  EXPECT_EQ("AB   ", key_of(Value("AB"), 5, 0));
  EXPECT_EQ("ABCDE", key_of(Value("ABCDEFGH"), 5, 0));
  EXPECT_EQ("20240229", key_of(Value::date(date_encode(2024, 2, 29)), 8, 0));
  EXPECT_EQ("00010101", key_of(Value::date(date_encode(1, 1, 1)), 8, 0));
  EXPECT_EQ("        ", key_of(Value::date(0), 8, 0));
  EXPECT_EQ("T", key_of(Value::logical(true), 1, 0));
  EXPECT_EQ("F", key_of(Value::logical(false), 1, 0));
  std::uint8_t out[4];
  EXPECT_FALSE(make_key(Value(), 4, 0, out));
}

TEST(NtxKey, Classification) {
  struct Case {
    Value v;
    KeyClass cls;
    KeyType type;
    int size, dec;
  } cases[] = {
      {Value("abcde"), KeyClass::Ok, KeyType::Character, 5, 0},
      {Value(std::string(300, 'x')), KeyClass::Ok, KeyType::Character, 256, 0},
      {Value(""), KeyClass::ZeroWidth, KeyType::Character, 0, 0},
      {Value::int32(0, 5), KeyClass::Ok, KeyType::Numeric, 5, 0},
      {Value::dbl(0, 7, 2), KeyClass::Ok, KeyType::Numeric, 10, 2},
      {Value::date(0), KeyClass::Ok, KeyType::Date, 8, 0},
      {Value::logical(false), KeyClass::Ok, KeyType::Logical, 1, 0},
      {Value(), KeyClass::BadType, KeyType::Character, 0, 0},
  };
  for (const Case& c : cases) {
    KeyShape s;
    ASSERT_EQ(c.cls, classify_key(c.v, s));
    if (c.cls != KeyClass::Ok) continue;
    EXPECT_EQ(c.type, s.type);
    EXPECT_EQ(c.size, s.size);
    EXPECT_EQ(c.dec, s.dec);
  }
}

TEST(NtxKey, SearchKeys) {
  Runtime rt;
  struct Case {
    Value v;
    std::string bytes;
    int len;
  } cases[] = {
      {Value("123"), "123       ", 3},
      {Value(""), "          ", 0},
      {Value("ABCDEFGHIJKL"), "ABCDEFGHIJ", 10},
      {Value("ABCDEFGHIJ"), "ABCDEFGHIJ", 10},
      {Value::int32(-5, 10), ",,,,,,,,,'", 10},
      {Value::date(date_encode(1999, 12, 31)), "19991231  ", 10},
      {Value::logical(true), std::string("T\0\0\0\0\0\0\0\0\0", 10), 10},
      {Value(), std::string(10, '\0'), 10},
  };
  for (const Case& c : cases) {
    SearchKey s = make_search_key(c.v, 10, 0, false);
    EXPECT_EQ(c.bytes, s.bytes);
    EXPECT_EQ(c.len, s.len) << c.bytes;
    EXPECT_FALSE(s.last);
  }
}

TEST(NtxKey, Comparison) {
  struct Case {
    std::string a, b;
    bool exact;
    int result;
  } cases[] = {
      {"abc", "abd", true, -1}, {"abd", "abc", false, 1},  {"ab", "abc", true, -1},
      {"abc", "ab", true, 1},   {"ab", "abc", false, 0},   {"", "abc", false, 0},
      {"", "", true, 0},        {"\x80", "\x7f", true, 1},  // unsigned bytes
      {"abc", "abc", true, 0},
  };
  for (const Case& c : cases) {
    int r = compare_keys(reinterpret_cast<const std::uint8_t*>(c.a.data()), c.a.size(),
                         reinterpret_cast<const std::uint8_t*>(c.b.data()), c.b.size(), c.exact);
    EXPECT_EQ(c.result, r) << c.a << " vs " << c.b;
  }
}

}  // namespace
}  // namespace lum
