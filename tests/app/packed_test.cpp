// Packed-field decoding: FT_BYT2HEX and CONV_HEX against worked-out byte runs, packed
// numbers built the way the old system wrote them, and the raw bytes that the text
// import hands over unchanged.
#include "app/packed.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "runtime/runtime.h"
#include "tests/support/function_cases.h"
#include "tools/sample/packed.h"

namespace lum {
namespace {

using sample::pack_decimal;

std::string bytes(std::initializer_list<int> b) {
  std::string s;
  for (int x : b) s.push_back(static_cast<char>(x));
  return s;
}

class PackedTest : public ::testing::Test {
 protected:
  PackedTest() {
    rt_.install_handler([this](ErrorObject& e) {
      errors_.push_back(e);
      return substitute_;
    });
  }
  Runtime rt_;
  std::vector<ErrorObject> errors_;
  Value substitute_;  // NIL: the handler supplies no value
};

TEST_F(PackedTest, ByteToHexGivesTwoUpperCaseDigitsAndH) {
  struct Case {
    const char* name;
    Value in;
    const char* want;  // nullptr: NIL
  };
  const Case cases[] = {
      {"5C", Value::string(bytes({0x5C})), "5Ch"},
      {"zero byte", Value::string(bytes({0x00})), "00h"},
      {"255", Value::string(bytes({0xFF})), "FFh"},
      {"171 upper case", Value::string(bytes({0xAB})), "ABh"},
      {"end-of-file mark", Value::string(bytes({0x1A})), "1Ah"},
      {"blank", Value::string(" "), "20h"},
      {"first character only", Value::string("AZ"), "41h"},
      {"empty text reads as code 0", Value::string(""), "00h"},
      {"number", Value::int32(65), nullptr},
      {"NIL", Value(), nullptr},
      {"logical", Value::logical(true), nullptr},
      {"date", Value::date(2451545), nullptr},
      {"array", Value::array({Value::string("A")}), nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Value got = FT_BYT2HEX(c.in);
    if (c.want == nullptr) {
      EXPECT_TRUE(got.is_nil());
    } else {
      ASSERT_TRUE(got.is_string());
      EXPECT_EQ(c.want, got.str());
    }
  }
  EXPECT_TRUE(errors_.empty());
}

TEST_F(PackedTest, ConvHexKeepsEveryHalfByteButTheLast) {
  for (const test::ConvHexCase& c : test::kConvHexCases) {
    SCOPED_TRACE(c.name);
    std::string in(c.bytes);
    Value got = CONV_HEX(Value::string(in));
    ASSERT_TRUE(got.is_string());
    EXPECT_EQ(c.want, got.str());
    EXPECT_EQ(c.want, conv_hex(in));
    if (!in.empty()) {
      EXPECT_EQ(2 * in.size() - 1, got.str().size());
    }
  }
  EXPECT_TRUE(errors_.empty());
}

TEST_F(PackedTest, PackedNumbersDecodeToTheirDigitsWhateverTheSign) {
  struct Case {
    const char* digits;
    std::size_t width;  // bytes of the field
    const char* want;   // CONV_HEX of the field
  };
  const Case cases[] = {
      {"12345", 3, "12345"},
      {"1234", 3, "01234"},  // even count: a leading filler digit
      {"7", 1, "7"},
      {"0", 1, "0"},
      {"12345678901", 7, "0012345678901"},  // an identity number in 7 bytes
      {"12345678901234", 8, "012345678901234"},
      {"00000000", 5, "000000000"},
  };
  for (const Case& c : cases) {
    for (char sign : {'C', 'D', 'F'}) {
      SCOPED_TRACE(std::string(c.digits) + " " + sign);
      std::string field = pack_decimal(c.digits, sign, c.width);
      ASSERT_EQ(c.width, field.size());
      EXPECT_EQ(c.want, conv_hex(field));
    }
  }
}

TEST_F(PackedTest, EncoderWritesTheBytesOfTheOldSystem) {
  struct Case {
    const char* digits;
    char sign;
    std::size_t width;  // 0: natural width
    std::string want;
  };
  const Case cases[] = {
      {"12345", 'C', 0, bytes({0x12, 0x34, 0x5C})},
      {"12345", 'D', 0, bytes({0x12, 0x34, 0x5D})},
      {"1234", 'F', 0, bytes({0x01, 0x23, 0x4F})},
      {"", 'C', 0, bytes({0x0C})},
      {"12345678", 'F', 5, bytes({0x01, 0x23, 0x45, 0x67, 0x8F})},
      {"5", 'C', 3, bytes({0x00, 0x00, 0x5C})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.digits);
    EXPECT_EQ(c.want, c.width == 0 ? pack_decimal(c.digits, c.sign)
                                   : pack_decimal(c.digits, c.sign, c.width));
  }
  EXPECT_THROW(pack_decimal("123", 'C', 1), std::invalid_argument);
  EXPECT_THROW(pack_decimal("12a", 'C'), std::invalid_argument);
  EXPECT_THROW(pack_decimal("1", 'B'), std::invalid_argument);
}

// The slices the conversions take out of the digits rely on these positions.
TEST_F(PackedTest, SlicesFollowTheHalfBytePositions) {
  // A postal code in the last 5 bytes of a wider field: RIGHT(field, 5), then the last
  // 8 digits drop the leading filler.
  std::string field = "XX" + pack_decimal("12345678", 'F', 5);
  std::string digits = conv_hex(field.substr(field.size() - 5));
  EXPECT_EQ("012345678", digits);
  EXPECT_EQ("12345678", digits.substr(digits.size() - 8));

  // Several packed numbers in a row: each inner sign stays as a letter right after
  // its number's digits; only the last half-byte of all is dropped.
  std::string run =
      pack_decimal("1234", 'C', 3) + pack_decimal("567", 'D', 2) + pack_decimal("20240131", 'F', 5);
  EXPECT_EQ("01234C567D020240131", conv_hex(run));
}

TEST_F(PackedTest, NonTextArgumentTakesTheErrorsOfTheStepsItCalls) {
  // A number has no length: LEN raises its argument error; with no substitute the
  // loop condition cannot be compared either, and the result is the empty text.
  Value got = CONV_HEX(Value::int32(12));
  ASSERT_TRUE(got.is_string());
  EXPECT_EQ("", got.str());
  ASSERT_FALSE(errors_.empty());
  EXPECT_EQ(1111, errors_[0].subcode);
  EXPECT_EQ("LEN", errors_[0].operation);

  // An array of one element: SUBSTR raises for it, and the substitute byte it is given
  // is decoded like any other.
  errors_.clear();
  substitute_ = Value::string(bytes({0x5C}));
  got = CONV_HEX(Value::array({Value::string("A")}));
  ASSERT_EQ(1u, errors_.size());
  EXPECT_EQ(1110, errors_[0].subcode);
  ASSERT_TRUE(got.is_string());
  EXPECT_EQ("5", got.str());
}

}  // namespace
}  // namespace lum
