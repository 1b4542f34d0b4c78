// Field reads and writes by type: cut and pad, numbers as STR writes them with
// asterisks when they do not fit, dates as YYYYMMDD or day numbers, logicals; and the
// memo header rules of an emptied memo file.
#include "table/field_codec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/runtime.h"
#include "table/memo_file.h"
#include "values/dates.h"

namespace lum {
namespace {

dbf::Field make_field(char type, std::uint32_t len, std::uint8_t dec = 0) {
  dbf::Field f;
  f.name = "F";
  f.type = type;
  f.len = len;
  f.dec = dec;
  f.binary = (type == 'D' && len != 8) || type == 'I' || type == 'B' || type == '8';
  return f;
}

std::string store(const dbf::Field& f, const Value& v, PutResult expected = PutResult::Ok,
                  char fill = '?') {
  std::string bytes(f.len, fill);
  EXPECT_EQ(expected, encode_field(f, v, reinterpret_cast<std::uint8_t*>(bytes.data())));
  return bytes;
}

Value load(const dbf::Field& f, const std::string& bytes) {
  return decode_field(f, reinterpret_cast<const std::uint8_t*>(bytes.data()));
}

TEST(FieldWrite, TextIsCutOrPadded) {
  dbf::Field c5 = make_field('C', 5);
  EXPECT_EQ("ABCDE", store(c5, "ABCDEFGH"));
  EXPECT_EQ("AB   ", store(c5, "AB"));
  EXPECT_EQ("     ", store(c5, ""));
  EXPECT_EQ(std::string("\x00\x01\xFF\x1A ", 5), store(c5, std::string("\x00\x01\xFF\x1A", 4)));
}

TEST(FieldWrite, NumbersAsStrFormatsThem) {
  Runtime rt;
  struct Case {
    Value v;
    std::uint32_t len;
    std::uint8_t dec;
    const char* stored;
    PutResult result;
  } cases[] = {
      {Value::dbl(12.5, 10, 1), 6, 2, " 12.50", PutResult::Ok},
      {Value::int32(1234567), 5, 0, "*****", PutResult::WidthError},
      {Value::int32(12345), 5, 0, "12345", PutResult::Ok},
      {Value::int32(-1234), 5, 0, "-1234", PutResult::Ok},
      {Value::int32(-12345), 5, 0, "*****", PutResult::WidthError},
      {Value::int32(7), 8, 3, "   7.000", PutResult::Ok},
      {Value::dbl(2.675, 10, 3), 6, 2, "  2.68", PutResult::Ok},
      {Value::dbl(-0.5, 10, 1), 5, 1, " -0.5", PutResult::Ok},
      {Value::dbl(99999.99, 10, 2), 7, 2, "*******", PutResult::WidthError},
      {Value::int32(0), 3, 2, "***", PutResult::WidthError},  // no room before the point
      {Value::int64(9000000000LL, 20), 10, 0, "9000000000", PutResult::Ok},
  };
  for (const Case& c : cases) {
    dbf::Field f = make_field('N', c.len, c.dec);
    EXPECT_EQ(c.stored, store(f, c.v, c.result)) << c.stored;
    f.type = 'F';
    EXPECT_EQ(c.stored, store(f, c.v, c.result)) << c.stored;
  }
}

TEST(FieldWrite, DatesLogicalsAndBinaryFields) {
  std::int32_t day = date_encode(2024, 2, 29);
  EXPECT_EQ("20240229", store(make_field('D', 8), Value::date(day)));
  EXPECT_EQ("        ", store(make_field('D', 8), Value::date(0)));
  std::string d3 = store(make_field('D', 3), Value::date(day));
  EXPECT_EQ(day & 0xFFFFFF, static_cast<unsigned char>(d3[0]) |
                                (static_cast<unsigned char>(d3[1]) << 8) |
                                (static_cast<unsigned char>(d3[2]) << 16));
  EXPECT_EQ("T", store(make_field('L', 1), Value::logical(true)));
  EXPECT_EQ("F", store(make_field('L', 1), Value::logical(false)));
  EXPECT_EQ(std::string("\x2C\x01", 2), store(make_field('I', 2), Value::int32(300)));
  store(make_field('I', 1), Value::int32(300), PutResult::WidthError);
  dbf::Field scaled = make_field('I', 4, 2);
  EXPECT_EQ(std::string("\xE2\x04\0\0", 4), store(scaled, Value::dbl(12.5, 10, 1)));
  EXPECT_EQ(12.5, load(scaled, std::string("\xE2\x04\0\0", 4)).num().as_double());
  dbf::Field dbl = make_field('8', 8, 2);
  EXPECT_EQ(-3.25, load(dbl, store(dbl, Value::dbl(-3.25, 10, 2))).num().as_double());
}

TEST(FieldWrite, KindsThatDoNotFitAreTypeErrors) {
  struct Case {
    char type;
    std::uint32_t len;
    Value v;
  } cases[] = {
      {'C', 5, Value::int32(1)},        {'C', 5, Value::date(1)},
      {'C', 5, Value::logical(true)},   {'C', 5, Value()},
      {'N', 5, Value::string("12")},    {'N', 5, Value::logical(true)},
      {'D', 8, Value::string("2024")},  {'D', 8, Value::int32(1)},
      {'L', 1, Value::string("T")},     {'L', 1, Value::int32(1)},
      {'M', 10, Value::string("memo")}, {'Y', 8, Value::int32(1)},
      {'2', 2, Value::int32(1)},        {'T', 8, Value::date(1)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(std::string(c.len, '?'), store(make_field(c.type, c.len), c.v, PutResult::TypeError))
        << c.type;
  }
}

TEST(FieldRead, ValuesWithTheFieldsWidths) {
  Runtime rt;
  Value n = load(make_field('N', 10, 2), "     12.50");
  ASSERT_TRUE(n.is_number());
  EXPECT_DOUBLE_EQ(12.5, n.num().as_double());
  EXPECT_EQ(7, n.num().width);
  EXPECT_EQ(2, n.num().dec);
  Value i = load(make_field('N', 5), "  123");
  ASSERT_TRUE(i.num().is_integer());
  EXPECT_EQ(123, i.num().i);
  EXPECT_EQ(5, i.num().width);
  Value blank = load(make_field('N', 5), "     ");
  EXPECT_EQ(0, blank.num().as_double());
  EXPECT_EQ(5, blank.num().width);
  Value frac = load(make_field('N', 5), " 12.5");  // no decimals declared
  EXPECT_DOUBLE_EQ(12.5, frac.num().as_double());
  EXPECT_EQ(5, frac.num().width);
  EXPECT_EQ(0, frac.num().dec);
  Value big = load(make_field('N', 20), "12345678901234567890");
  EXPECT_EQ(20, big.num().width);
  EXPECT_DOUBLE_EQ(12345678901234567890.0, big.num().as_double());

  EXPECT_EQ(date_encode(2024, 2, 29), load(make_field('D', 8), "20240229").day());
  EXPECT_EQ(0, load(make_field('D', 8), "        ").day());
  EXPECT_EQ(0, load(make_field('D', 8), "20240230").day());
  EXPECT_EQ(0, load(make_field('D', 8), "2024 1 1").day());
  EXPECT_EQ(2451545, load(make_field('D', 4), std::string("\x59\x68\x25\x00", 4)).day());
  EXPECT_EQ(2451545, load(make_field('D', 3), std::string("\x59\x68\x25", 3)).day());
  for (char c : std::string("TtYy")) EXPECT_TRUE(load(make_field('L', 1), std::string(1, c)).log());
  for (char c : std::string("FfNn ?")) {
    EXPECT_FALSE(load(make_field('L', 1), std::string(1, c)).log());
  }
  EXPECT_EQ("ab ", load(make_field('C', 3), "ab ").str());
}

TEST(MemoFile, HeaderAndEmptiedFile) {
  using dbf::MemoKind;
  std::vector<std::uint8_t> fpt(512, 0);
  fpt[6] = 0x00;
  fpt[7] = 0x40;
  MemoHeader h = parse_memo_header(MemoKind::Fpt, fpt);
  EXPECT_EQ(64u, h.block_size);
  std::vector<std::uint8_t> empty = empty_memo_file(MemoKind::Fpt, h);
  ASSERT_EQ(512u, empty.size());
  EXPECT_EQ((std::vector<std::uint8_t>{0, 0, 0, 8, 0, 0, 0, 0x40}),
            std::vector<std::uint8_t>(empty.begin(), empty.begin() + 8));
  EXPECT_EQ("Tessera", std::string(empty.begin() + 8, empty.begin() + 15));
  EXPECT_EQ(0, empty[15]);

  MemoHeader dbt = parse_memo_header(MemoKind::Dbt, {});
  EXPECT_EQ(512u, dbt.block_size);
  empty = empty_memo_file(MemoKind::Dbt, dbt);
  ASSERT_EQ(512u, empty.size());
  EXPECT_EQ((std::vector<std::uint8_t>{1, 0, 0, 0, 0, 2, 0, 0}),
            std::vector<std::uint8_t>(empty.begin(), empty.begin() + 8));
  for (std::size_t i = 16; i < empty.size(); ++i) ASSERT_EQ(0, empty[i]) << i;

  std::vector<std::uint8_t> smt(1024, 0);
  smt[4] = 0x00;
  smt[5] = 0x04;  // 1024, little-endian
  std::memcpy(&smt[8], "SIxMemo", 7);
  h = parse_memo_header(MemoKind::Smt, smt);
  EXPECT_EQ(1024u, h.block_size);
  EXPECT_EQ(MemoVariant::SixMemo, h.variant);
  empty = empty_memo_file(MemoKind::Smt, h);
  ASSERT_EQ(1024u, empty.size());
  EXPECT_EQ(1, empty[0]);
  EXPECT_EQ("SIxMemo", std::string(empty.begin() + 8, empty.begin() + 15));

  std::vector<std::uint8_t> flex(1024, 0);
  flex[7] = 0x20;  // 32, big-endian
  std::memcpy(&flex[512], "FlexFile3", 9);
  h = parse_memo_header(MemoKind::Fpt, flex);
  EXPECT_EQ(MemoVariant::FlexFile, h.variant);
  empty = empty_memo_file(MemoKind::Fpt, h);
  ASSERT_EQ(1024u, empty.size());
  EXPECT_EQ(32, empty[3]);  // next free block 1024 / 32
  EXPECT_EQ("FlexFile3\x03", std::string(empty.begin() + 512, empty.begin() + 522));

  // A block size above 64 KiB with low bits set keeps its low 16 bits; fewer than 512
  // header bytes give no block size at all.
  std::vector<std::uint8_t> odd(512, 0);
  dbf::put_be32(odd.data() + 4, 0x00030040);
  EXPECT_EQ(0x40u, parse_memo_header(MemoKind::Fpt, odd).block_size);
  dbf::put_be32(odd.data() + 4, 0x00030000);
  EXPECT_EQ(0x30000u, parse_memo_header(MemoKind::Fpt, odd).block_size);
  EXPECT_EQ(0u, parse_memo_header(MemoKind::Fpt, std::vector<std::uint8_t>(511, 1)).block_size);
}

}  // namespace
}  // namespace lum
