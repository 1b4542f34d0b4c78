// The DBF header and descriptor codec: version bytes, type letters and their length
// rules, names, record counts from file sizes, and the header write's version, flags,
// code page and date.
#include "table/dbf_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string_view>

#include "tools/sample/dbf_builder.h"

namespace lum::dbf {
namespace {

TEST(DbfFormat, VersionBytes) {
  struct Case {
    std::uint8_t version, flags;
    TableKind kind;
    MemoKind memo;
    bool has_memo, encrypted, autoinc;
  } cases[] = {
      {0x02, 0, TableKind::Standard, MemoKind::None, false, false, false},
      {0x03, 0, TableKind::Standard, MemoKind::None, false, false, false},
      {0x04, 0, TableKind::LevelFour, MemoKind::Dbt, true, false, false},
      {0x7B, 0, TableKind::LevelFour, MemoKind::Dbt, true, false, false},
      {0x8B, 0, TableKind::LevelFour, MemoKind::Dbt, true, false, false},
      {0x06, 0, TableKind::Standard, MemoKind::None, false, true, false},
      {0x30, 0, TableKind::Extended, MemoKind::None, false, false, false},
      {0x30, 2, TableKind::Extended, MemoKind::Fpt, false, false, false},
      {0x31, 2, TableKind::Extended, MemoKind::Fpt, false, false, true},
      {0x32, 0, TableKind::Extended, MemoKind::None, false, false, true},
      {0x83, 2, TableKind::Standard, MemoKind::Dbt, false, false, false},
      {0x86, 0, TableKind::Standard, MemoKind::Dbt, false, true, false},
      {0xE5, 0, TableKind::Standard, MemoKind::Smt, false, false, false},
      {0xE6, 0, TableKind::Standard, MemoKind::Smt, false, true, false},
      {0xF5, 0, TableKind::Standard, MemoKind::Fpt, false, false, false},
      {0xF6, 0, TableKind::Standard, MemoKind::Fpt, false, true, false},
  };
  std::set<int> known;
  for (const Case& c : cases) {
    VersionInfo v = classify_version(c.version, c.flags);
    SCOPED_TRACE(c.version);
    EXPECT_TRUE(v.known);
    EXPECT_EQ(c.kind, v.kind);
    EXPECT_EQ(c.memo, v.memo);
    EXPECT_EQ(c.has_memo, v.has_memo);
    EXPECT_EQ(c.encrypted, v.encrypted);
    EXPECT_EQ(c.autoinc, v.autoinc);
    known.insert(c.version);
  }
  for (int b = 0; b < 256; ++b) {
    if (!known.count(b)) {
      EXPECT_FALSE(classify_version(static_cast<std::uint8_t>(b), 0).known) << b;
    }
  }
}

// A header of one descriptor with the given type bytes, decoded.
struct Decoded {
  Status status;
  Header h;
};
Decoded decode_one(char type, std::uint8_t b16, std::uint8_t b17, std::uint8_t version = 0x03,
                   std::string_view name = "F", std::uint8_t b18 = 0) {
  std::vector<std::uint8_t> file(32 + 32 + 1, 0);
  file[0] = version;
  file[8] = 65;
  std::memcpy(&file[32], name.data(), name.size() < 11 ? name.size() : 11);
  file[32 + 11] = static_cast<std::uint8_t>(type);
  file[32 + 16] = b16;
  file[32 + 17] = b17;
  file[32 + 18] = b18;
  file[64] = 0x0D;
  Decoded d;
  std::uint32_t count = 0;
  d.status = decode_table(file, d.h, count);
  return d;
}

TEST(DbfFormat, TypeLettersAndLengthRules) {
  struct Case {
    char type;
    std::uint8_t b16, b17, version;
    bool ok;
    std::uint32_t len;
    std::uint8_t dec;
    bool binary;
  } cases[] = {
      {'C', 0x2C, 0x01, 0x03, true, 300, 0, false},
      {'C', 0xFF, 0xFF, 0x03, false, 0, 0, false},  // 65535 + 1 exceeds the record length
      {'N', 10, 2, 0x03, true, 10, 2, false},
      {'F', 12, 4, 0x03, true, 12, 4, false},
      {'D', 8, 0, 0x03, true, 8, 0, false},
      {'D', 3, 0, 0x03, true, 3, 0, true},
      {'D', 4, 0, 0x03, true, 4, 0, true},
      {'D', 5, 0, 0x03, true, 8, 0, false},
      {'L', 7, 0, 0x03, true, 1, 0, false},
      {'M', 10, 0, 0x83, true, 10, 0, false},
      {'M', 4, 0, 0x30, true, 4, 0, true},
      {'I', 2, 1, 0x03, true, 2, 1, true},
      {'I', 8, 0, 0x03, true, 8, 0, true},
      {'I', 5, 0, 0x03, true, 4, 0, true},
      {'2', 9, 0, 0x03, true, 2, 0, true},
      {'4', 1, 0, 0x03, true, 4, 0, true},
      {'8', 8, 3, 0x03, true, 8, 3, true},
      {'O', 7, 0, 0x03, false, 0, 0, false},
      {'B', 8, 2, 0x03, true, 8, 2, true},
      {'B', 10, 0, 0x03, false, 0, 0, false},
      {'B', 10, 0, 0x8B, true, 10, 0, false},
      {'Y', 3, 4, 0x03, true, 3, 4, true},
      {'Y', 6, 4, 0x03, true, 8, 4, true},
      {'T', 4, 0, 0x03, true, 4, 0, true},
      {'T', 8, 0, 0x03, true, 8, 0, true},
      {'T', 6, 0, 0x03, false, 0, 0, false},
      {'@', 8, 0, 0x03, true, 8, 0, true},
      {'@', 4, 0, 0x03, false, 0, 0, false},
      {'=', 9, 0, 0x03, false, 0, 0, false},
      {'^', 8, 0, 0x03, true, 8, 0, true},
      {'+', 4, 0, 0x03, true, 4, 0, true},
      {'+', 8, 0, 0x03, false, 0, 0, false},
      {'V', 6, 0, 0x30, true, 6, 0, true},
      {'W', 10, 0, 0x30, true, 10, 0, false},
      {'Q', 20, 0, 0x30, true, 20, 0, true},
      {'X', 10, 0, 0x03, false, 0, 0, false},
      {'c', 10, 0, 0x03, false, 0, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(1, c.type) + " " + std::to_string(c.b16));
    Decoded d = decode_one(c.type, c.b16, c.b17, c.version);
    if (!c.ok) {
      EXPECT_NE(Status::Ok, d.status);
      continue;
    }
    ASSERT_EQ(Status::Ok, d.status) << status_text(d.status);
    ASSERT_EQ(1u, d.h.fields.size());
    EXPECT_EQ(c.len, d.h.fields[0].len);
    EXPECT_EQ(c.dec, d.h.fields[0].dec);
    EXPECT_EQ(c.binary, d.h.fields[0].binary);
    EXPECT_EQ(1 + c.len, d.h.record_len);
  }
}

TEST(DbfFormat, MemoFieldsAndSystemFields) {
  EXPECT_TRUE(decode_one('M', 10, 0).h.has_memo);
  EXPECT_TRUE(decode_one('V', 6, 0, 0x03).h.has_memo);  // a value field longer than 5
  EXPECT_FALSE(decode_one('V', 5, 0, 0x03).h.has_memo);
  EXPECT_FALSE(decode_one('V', 6, 0, 0x30).h.has_memo);  // extended: variable binary
  EXPECT_EQ(Status::Ok, decode_one('0', 2, 0, 0x30, "_NullFlags").status);
  EXPECT_EQ(Status::Ok, decode_one('0', 1, 0, 0x30, "_dbaselock").status);
  EXPECT_EQ(Status::BadDescriptor, decode_one('0', 1, 0, 0x30, "OTHER").status);
  Decoded ai = decode_one('I', 4, 0, 0x30, "ID", kFieldAutoinc);
  ASSERT_EQ(Status::Ok, ai.status);
  EXPECT_TRUE(ai.h.fields[0].autoinc);
  EXPECT_TRUE(ai.h.has_autoinc);
  // Field flags count only for the extended kind.
  EXPECT_FALSE(decode_one('I', 4, 0, 0x03, "ID", kFieldAutoinc).h.fields[0].autoinc);
}

TEST(DbfFormat, NamesAreCutUpperCasedAndTrimmed) {
  EXPECT_EQ("ABCDEFGHIJ", decode_one('C', 1, 0, 0x03, "abcdefghijk").h.fields[0].name);
  EXPECT_EQ("NOME", decode_one('C', 1, 0, 0x03, "nome   ").h.fields[0].name);
  EXPECT_EQ("A", decode_one('C', 1, 0, 0x03, std::string_view("a\0bc", 4)).h.fields[0].name);
}

TEST(DbfFormat, DescriptorsStopAtTheTerminatorOrTheHeaderLength) {
  sample::DbfLayout s;
  s.fields = {{"A", 'C', 3}, {"B", 'N', 4}};
  s.backlink = 263;  // extended tables keep a backlink area inside the header length
  Header h;
  std::uint32_t count = 0;
  std::vector<std::uint8_t> file = sample::build_dbf(s, {{{"abc", "12"}}, {{"def", "3"}}});
  ASSERT_EQ(Status::Ok, decode_table(file, h, count));
  EXPECT_EQ(2u, h.fields.size());
  EXPECT_EQ(2u, count);
  EXPECT_EQ(1u, h.fields[0].offset);
  EXPECT_EQ(4u, h.fields[1].offset);
  // No terminator: the slots that the header length gives are all fields.
  s.backlink = 0;
  s.terminator = false;
  file = sample::build_dbf(s, {});
  ASSERT_EQ(Status::Ok, decode_table(file, h, count));
  EXPECT_EQ(2u, h.fields.size());
}

TEST(DbfFormat, RecordCountComesFromTheFileSize) {
  sample::DbfLayout s;
  s.fields = {{"A", 'C', 10}, {"B", 'C', 10}, {"C", 'C', 10}, {"D", 'C', 10}, {"E", 'C', 9}};
  s.stored_count = 99;
  s.stored_record_length = 7;
  std::vector<std::uint8_t> file = sample::build_dbf(s, {{}, {}, {}});
  ASSERT_EQ(0xC1u + 3 * 50 + 1, file.size());
  Header h;
  std::uint32_t count = 0;
  ASSERT_EQ(Status::Ok, decode_table(file, h, count));
  EXPECT_EQ(0xC1, h.header_len);
  EXPECT_EQ(50u, h.record_len);
  EXPECT_EQ(3u, count);
  file.resize(file.size() - 2);  // a trailing partial record does not count
  ASSERT_EQ(Status::Ok, decode_table(file, h, count));
  EXPECT_EQ(2u, count);
}

// Records of one byte (every field of width 0): the division alone would count the
// end-of-file byte as one more record. Found by fuzzing the text import.
TEST(DbfFormat, RecordsOfOneByteDoNotCountTheEndOfFileByte) {
  sample::DbfLayout s;
  s.fields = {{"NONE", 'C', 0}};
  Header h;
  std::uint32_t count = 9;
  for (std::uint32_t n : {0u, 1u, 3u}) {
    std::vector<std::uint8_t> file = sample::build_dbf(s, std::vector<sample::RecordRow>(n));
    ASSERT_EQ(Status::Ok, decode_table(file, h, count));
    EXPECT_EQ(1u, h.record_len);
    EXPECT_EQ(n, count) << "with the end-of-file byte";
    file.pop_back();
    ASSERT_EQ(Status::Ok, decode_table(file, h, count));
    EXPECT_EQ(n, count) << "without it";
  }
}

TEST(DbfFormat, DamagedHeadersGiveTheirStatus) {
  sample::DbfLayout s;
  s.fields = {{"A", 'C', 10}};
  std::vector<std::uint8_t> good = sample::build_dbf(s, {{{"x"}}});
  Header h;
  std::uint32_t count;
  struct Case {
    const char* what;
    std::vector<std::uint8_t> bytes;
    Status expected;
  };
  std::vector<Case> cases;
  cases.push_back({"truncated header", {good.begin(), good.begin() + 31}, Status::ShortHeader});
  auto v = good;
  v[0] = 0x01;
  cases.push_back({"version 0x01", v, Status::BadVersion});
  v = good;
  v[8] = 0xFF;
  v[9] = 0x7F;
  cases.push_back({"header length past the end", v, Status::ShortDescriptors});
  v = good;
  v[32] = 0x0D;
  cases.push_back({"no fields", v, Status::NoFields});
  v = good;
  v[32 + 11] = 'Z';
  cases.push_back({"bad type", v, Status::BadDescriptor});
  cases.push_back(
      {"file shorter than its header", {good.begin(), good.begin() + 64}, Status::ShortFile});
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, decode_table(c.bytes, h, count)) << c.what;
  }
}

TEST(DbfFormat, HeaderWriteRecomputesVersionFlagsAndCodePage) {
  struct Case {
    std::uint8_t version, flags_in;
    char field_type;
    const char* codepage;
    std::uint8_t version_out, flags_out, codepage_out;
  } cases[] = {
      {0x02, 0xFE, 'C', "", 0x03, 0x00, 0x57},
      {0x03, 0x01, 'C', "cp850", 0x03, 0x01, 0x57},  // code page only for extended
      {0x83, 0x00, 'C', "", 0x03, 0x00, 0x57},       // DBT kind but no memo field
      {0x83, 0x00, 'M', "", 0x83, 0x00, 0x57},
      {0x03, 0x00, 'M', "", 0x03, 0x00, 0x57},
      {0xF5, 0x03, 'M', "", 0xF5, 0x01, 0x57},
      {0xE5, 0x00, 'M', "", 0xE5, 0x00, 0x57},
      {0xF6, 0x00, 'M', "", 0xF6, 0x00, 0x57},
      {0x86, 0x00, 'C', "", 0x06, 0x00, 0x57},
      {0x06, 0x00, 'C', "", 0x06, 0x00, 0x57},
      {0x8B, 0x00, 'M', "", 0x8B, 0x00, 0x57},
      {0x7B, 0x00, 'C', "", 0x8B, 0x00, 0x57},  // level four always declares memos
      {0x30, 0x02, 'M', "cp850", 0x30, 0x02, 0x02},
      {0x30, 0x03, 'C', "cp1252", 0x30, 0x03, 0x03},
      {0x30, 0x00, 'C', "cp1250", 0x30, 0x00, 0xC8},
      {0x30, 0x00, 'C', "unknown", 0x30, 0x00, 0x57},
      {0x32, 0x06, 'C', "", 0x31, 0x02, 0x57},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    sample::DbfLayout s;
    s.version = c.version;
    s.table_flags = c.flags_in;
    s.codepage = 0x57;
    s.fields = {{"A", c.field_type, c.field_type == 'M' ? 10 : 4}};
    s.stored_count = 0;
    std::vector<std::uint8_t> file = sample::build_dbf(s, {});
    Header h;
    std::uint32_t count;
    ASSERT_EQ(Status::Ok, decode_table(file, h, count));
    HeaderWrite w;
    w.record_count = 70000;
    w.year = 2024;
    w.month = 2;
    w.day = 29;
    w.codepage = c.codepage;
    auto out = encode_header(h, w);
    EXPECT_EQ(c.version_out, out[0]);
    EXPECT_EQ(c.flags_out, out[28]);
    EXPECT_EQ(c.codepage_out, out[29]);
    EXPECT_EQ(124, out[1]);
    EXPECT_EQ(2, out[2]);
    EXPECT_EQ(29, out[3]);
    EXPECT_EQ(70000u, sample::le32({out.begin(), out.end()}, 4));
    EXPECT_EQ(h.header_len, sample::le16({out.begin(), out.end()}, 8));
    EXPECT_EQ(h.record_len, sample::le16({out.begin(), out.end()}, 10));
  }
}

TEST(DbfFormat, BlankRecordBlanksTextAndZeroesBinary) {
  sample::DbfLayout s;
  s.version = 0x30;
  s.fields = {{"C", 'C', 2},  {"N", 'N', 3}, {"D", 'D', 8},  {"L", 'L', 1},
              {"M", 'M', 10}, {"I", 'I', 4}, {"DB", 'D', 4}, {"Y", 'Y', 8}};
  Header h;
  std::uint32_t count;
  ASSERT_EQ(Status::Ok, decode_table(sample::build_dbf(s, {}), h, count));
  std::vector<std::uint8_t> blank = blank_record(h);
  std::string expected = std::string(1 + 2 + 3 + 8 + 1 + 10, ' ') + std::string(16, '\0');
  EXPECT_EQ(expected, std::string(blank.begin(), blank.end()));
}

}  // namespace
}  // namespace lum::dbf
