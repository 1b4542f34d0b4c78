// Day numbers, CTOD and DTOC under the date format, epoch and century, and the SET /
// __SETCENTURY sequence the conversion run goes through.
#include "values/dates.h"

#include <gtest/gtest.h>

#include <string>

#include "recording_handler.h"
#include "runtime/runtime.h"
#include "tests/support/function_cases.h"

namespace lum {
namespace {

using testing::RecordingHandler;

class DatesTest : public ::testing::Test {
 protected:
  Runtime rt_;
  RecordingHandler handler_{rt_};
};

TEST_F(DatesTest, EncodeKnownDays) {
  struct Case {
    int y, m, d;
    std::int32_t day;
  };
  const Case cases[] = {
      {2000, 1, 1, 2451545},
      {0, 1, 1, 1721060},
      {1970, 1, 1, 2440588},
      {2014, 12, 25, 2457017},
      {9999, 12, 31, 5373484},
      {1, 1, 1, 1721426},
      {2000, 2, 29, 2451604},
      {2012, 2, 29, 2455987},
      // invalid triples
      {1900, 2, 29, 0},
      {2013, 2, 29, 0},
      {2014, 4, 31, 0},
      {2014, 13, 1, 0},
      {2014, 0, 1, 0},
      {2014, 1, 0, 0},
      {10000, 1, 1, 0},
      {-1, 1, 1, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.day, date_encode(c.y, c.m, c.d)) << c.y << "-" << c.m << "-" << c.d;
}

TEST_F(DatesTest, EveryDayDecodesToTheNextCalendarDay) {
  // Walk the calendar independently from 0000-01-01 and check both directions.
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int y = 0, m = 1, d = 1;
  for (std::int32_t n = 1721060; n <= 5373484; ++n) {
    int yy = -1, mm = -1, dd = -1;
    date_decode(n, yy, mm, dd);
    ASSERT_TRUE(yy == y && mm == m && dd == d) << n << ": " << yy << "-" << mm << "-" << dd;
    ASSERT_EQ(n, date_encode(y, m, d));
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    int len = (m == 2 && leap) ? 29 : kDays[m - 1];
    if (++d > len) {
      d = 1;
      if (++m > 12) {
        m = 1;
        ++y;
      }
    }
  }
  int yy = 1, mm = 1, dd = 1;
  date_decode(0, yy, mm, dd);
  EXPECT_TRUE(yy == 0 && mm == 0 && dd == 0);
  date_decode(1721059, yy, mm, dd);
  EXPECT_TRUE(yy == 0 && mm == 0 && dd == 0);
}

TEST_F(DatesTest, CtodOfDtocRoundTripsUnderDayMonthYear) {
  SET(4, "dd/mm/yyyy");
  for (std::int32_t n = date_encode(1, 1, 1); n <= date_encode(9999, 12, 31); ++n) {
    std::string text = dtoc_text(n);
    ASSERT_EQ(10u, text.size());
    int y = 0, m = 0, d = 0;
    date_decode(n, y, m, d);
    // Years 1 to 99 read back as two-digit years through the epoch ("0014" is 1914);
    // 29 February of such a year is the empty date when 19yy is no leap year.
    std::int32_t expected = y >= 100 ? n : date_encode(1900 + y, m, d);
    ASSERT_EQ(expected, ctod_day(text)) << text;
  }
}

TEST_F(DatesTest, CtodUnderDayMonthYear) {
  SET(4, "dd/mm/yyyy");
  for (const test::CtodCase& c : test::kCtodCases) {
    std::int32_t expected = c.y == 0 ? 0 : date_encode(c.y, c.m, c.d);
    Value v = CTOD(c.text);
    ASSERT_TRUE(v.is_date());
    EXPECT_EQ(expected, v.day()) << c.text;
  }
  EXPECT_TRUE(handler_.errors().empty());
}

TEST_F(DatesTest, CtodUnderTheDefaultFormatAndEpoch) {
  EXPECT_EQ(date_encode(1914, 12, 25), ctod_day("12/25/14"));
  SET(5, 1950);
  EXPECT_EQ(date_encode(2049, 12, 25), ctod_day("12/25/49"));
  EXPECT_EQ(date_encode(1950, 12, 25), ctod_day("12/25/50"));
  SET(4, "yyyy-mm-dd");
  EXPECT_EQ(date_encode(2014, 3, 7), ctod_day("2014-03-07"));
  SET(4, "dd/mm");  // no year letters: the year is 0, read through the epoch
  EXPECT_EQ(date_encode(2000, 3, 7), ctod_day("07/03"));
}

TEST_F(DatesTest, DtocFollowsTheFormatRuns) {
  const std::int32_t xmas = date_encode(2014, 12, 25);
  const std::int32_t march = date_encode(2014, 3, 5);
  struct Case {
    const char* format;
    std::int32_t day;
    const char* expected;
  };
  const Case cases[] = {
      {"mm/dd/yy", xmas, "12/25/14"},
      {"dd/mm/yyyy", xmas, "25/12/2014"},
      {"dd/mm/yyyy", 0, "  /  /    "},
      {"DD.MM.YYYY", march, "05.03.2014"},
      {"d/m/y", march, "5/3/4"},
      {"ddd-yyy", xmas, "225-014"},
      {"dddd", xmas, "2225"},
      {"dddddd", xmas, "5DDDDD"},
      {"yyyyy", xmas, "4YYYY"},
      {"dd-mm-yy dd", xmas, "25-12-14 D"},  // cut to 10; a later run is copied
      {"dd/mm/yyyy extra", xmas, "25/12/2014"},
      {"yyyymmdd", march, "20140305"},
      {"", xmas, ""},
      {"dd x", xmas, "25 X"},
  };
  for (const Case& c : cases) {
    SET(4, c.format);
    EXPECT_EQ(c.expected, dtoc_text(c.day)) << c.format;
  }
  SET(4, "dd/mm/yyyy");
  EXPECT_EQ("01/01/0001", DTOC(Value::date(date_encode(1, 1, 1))).str());
  EXPECT_EQ("31/12/9999", DTOC(Value::date(date_encode(9999, 12, 31))).str());
  EXPECT_TRUE(handler_.errors().empty());
}

TEST_F(DatesTest, TheRunsSettingSequence) {
  EXPECT_EQ("mm/dd/yy", SET(4).str());
  EXPECT_FALSE(cmd::SETCENTURY().log());
  EXPECT_FALSE(cmd::SETCENTURY("on").log());
  EXPECT_EQ("MM/DD/YYYY", rt_.settings().date_format);
  EXPECT_TRUE(cmd::SETCENTURY().log());
  Value previous = SET(4, cmd::SETCENTURY().log() ? "dd/mm/yyyy" : "dd/mm/yy");
  EXPECT_EQ("MM/DD/YYYY", previous.str());
  EXPECT_EQ("dd/mm/yyyy", rt_.settings().date_format);
  EXPECT_TRUE(rt_.settings().century);
  EXPECT_EQ("25/12/2014", DTOC(CTOD("25/12/2014")).str());
}

TEST_F(DatesTest, CenturySwitchRewritesTheFormat) {
  struct Case {
    const char* format;
    bool century;
    Value arg;
    const char* expected_format;
    bool expected_century;
  };
  const Case cases[] = {
      {"dd/mm/yyyy", true, "off", "DD/MM/YY", false},
      {"dd/mm/yyyy", true, Value::logical(false), "DD/MM/YY", false},
      {"mm/dd/yy", false, "ON", "MM/DD/YYYY", true},
      {"mm/dd/yy", false, "oN please", "MM/DD/YYYY", true},
      {"mm/dd/yy", false, "o", "mm/dd/yy", false},
      {"mm/dd/yy", false, Value::integer(1), "mm/dd/yy", false},
      {"mm/dd/yy", false, "OF", "mm/dd/yy", false},
      {"mm/dd/yy", false, Value::logical(false), "mm/dd/yy", false},  // no change
      {"dd.mm", false, Value::logical(true), "YYYYDD.MM", true},      // year put in front
  };
  for (const Case& c : cases) {
    rt_.settings().date_format = c.format;
    rt_.settings().century = c.century;
    EXPECT_EQ(c.century, cmd::SETCENTURY(c.arg).log()) << c.format;
    EXPECT_EQ(c.expected_format, rt_.settings().date_format) << c.format;
    EXPECT_EQ(c.expected_century, rt_.settings().century) << c.format;
  }
}

TEST_F(DatesTest, SetReturnsThePreviousValue) {
  SET(4, "yyyy.mm.dd");
  EXPECT_TRUE(rt_.settings().century);
  SET(4, "dd/mm/yy");
  EXPECT_FALSE(rt_.settings().century);
  SET(4, Value());
  EXPECT_EQ("", rt_.settings().date_format);
  SET(4, "dd/mm/yyyy");
  EXPECT_EQ("dd/mm/yyyy", SET(4, 5).str());
  EXPECT_EQ("dd/mm/yyyy", rt_.settings().date_format);  // wrong kind: unchanged

  EXPECT_FALSE(SET(1, Value::logical(true)).log());
  EXPECT_TRUE(rt_.settings().exact);
  EXPECT_FALSE(SET(2).log());
  EXPECT_EQ(2, SET(3, 4).num().i);
  EXPECT_EQ(4, rt_.settings().decimals);
  EXPECT_EQ(1900, SET(5, 1950).num().i);
  EXPECT_EQ(1950, SET(5).num().i);
  EXPECT_TRUE(SET(99).is_nil());
  EXPECT_TRUE(handler_.errors().empty());

  EXPECT_EQ(4, SET(3, -1).num().i);
  ASSERT_EQ(1u, handler_.errors().size());
  EXPECT_EQ(2020, handler_.errors()[0].subcode);
  EXPECT_EQ("SET", handler_.errors()[0].operation);
  EXPECT_EQ(4, rt_.settings().decimals);
  SET(5, -1900);
  EXPECT_EQ(2u, handler_.errors().size());
  EXPECT_EQ(1950, rt_.settings().epoch);
}

TEST_F(DatesTest, ArgumentErrors) {
  handler_.answer_with(Value::string("sub"));
  EXPECT_EQ("sub", CTOD(5).str());
  EXPECT_EQ("sub", DTOC("25/12/2014").str());
  ASSERT_EQ(2u, handler_.errors().size());
  EXPECT_EQ(1119, handler_.errors()[0].subcode);
  EXPECT_EQ("CTOD", handler_.errors()[0].operation);
  EXPECT_EQ(1118, handler_.errors()[1].subcode);
  EXPECT_EQ("DTOC", handler_.errors()[1].operation);
  for (const ErrorObject& e : handler_.errors()) {
    EXPECT_EQ(1, e.gencode);
    EXPECT_EQ("BASE", e.subsystem);
    ASSERT_TRUE(e.args.has_value());
    EXPECT_EQ(1u, e.args->size());
  }
}

}  // namespace
}  // namespace lum
