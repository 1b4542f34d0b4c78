// DBSEEK and FOUND with every search-value kind, find-first and find-last, soft seek
// and the filter at the landing; DBSETFILTER and the skip-filter step in key order; and
// a property test of walks and seeks over random tables against a std::multimap model.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "ntx_area_fixture.h"
#include "ntx_fixture.h"
#include "values/dates.h"
#include "values/numeric.h"

namespace lum {
namespace {

using testing::AreaTest;
using Recs = std::vector<std::uint32_t>;

class Seek : public AreaTest {
 protected:
  // CODE C(width), REG C(1); one record per code.
  void table(const std::vector<std::string>& codes, int width = 10,
             const std::vector<std::string>& regs = {}) {
    std::vector<std::vector<std::string>> recs;
    for (std::size_t i = 0; i < codes.size(); ++i) {
      recs.push_back({codes[i], i < regs.size() ? regs[i] : "1"});
    }
    make_table("t.dbf", {{"CODE", 'C', width}, {"REG", 'C', 1}}, recs);
    use("t");
    DBCREATEINDEX(Value("t"), Value("CODE"), field_block("CODE"));
    ASSERT_TRUE(errors_.empty());
  }
};

TEST_F(Seek, ShortSearchTextComparesOnlyItsLength) {
  table({"     12345", "     99999", "12345"});
  struct Case {
    Value key;
    bool found;
    std::uint32_t recno;
  } cases[] = {
      {Value("12345"), true, 3},
      {Value("     "), true, 1},  // the first key that begins with five blanks
      {Value("     9"), true, 2},
      {Value(""), true, 1},                 // the empty text matches every key
      {Value("2"), false, 4},               // beyond every key: end of file
      {Value("12345     extra"), true, 3},  // cut to the key size, compared in full
      {Value("1234"), true, 3},
      {Value("1235"), false, 4},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.found, DBSEEK(c.key)) << c.key.str();
    EXPECT_EQ(c.found, FOUND());
    EXPECT_EQ(c.recno, RECNO()) << c.key.str();
    EXPECT_EQ(!c.found, DBEOF());
    EXPECT_FALSE(DBBOF());
  }
}

TEST_F(Seek, EqualKeysGoToTheLowestRecordFirstAndTheHighestLast) {
  table({"b", "x", "a", "q", "r", "s", "a", "z"});
  EXPECT_TRUE(DBSEEK(Value("a")));
  EXPECT_EQ(3u, RECNO());
  EXPECT_TRUE(DBSEEK(Value("a"), {}, Value::logical(true)));
  EXPECT_EQ(7u, RECNO());
  EXPECT_TRUE(DBSEEK(Value(""), {}, Value::logical(true)));
  EXPECT_EQ(8u, RECNO()) << "the last of all keys";
  EXPECT_FALSE(DBSEEK(Value("c"), {}, Value::logical(true)));
  EXPECT_TRUE(DBEOF());
}

TEST_F(Seek, SoftSeekStopsOnTheNextGreaterKey) {
  table({"b", "d", "f"});
  EXPECT_FALSE(DBSEEK(Value("c"), Value::logical(true)));
  EXPECT_FALSE(FOUND());
  EXPECT_EQ(2u, RECNO());
  EXPECT_FALSE(DBEOF());
  rt_.settings().softseek = true;
  EXPECT_FALSE(DBSEEK(Value("e")));
  EXPECT_EQ(3u, RECNO()) << "the setting applies when lSoftSeek is not logical";
  EXPECT_FALSE(DBSEEK(Value("g")));
  EXPECT_TRUE(DBEOF()) << "past the last key even a soft seek ends at end of file";
  rt_.settings().softseek = false;
  EXPECT_FALSE(DBSEEK(Value("c"), Value::logical(false)));
  EXPECT_TRUE(DBEOF());
  EXPECT_EQ(4u, RECNO());
}

TEST_F(Seek, FoundIsClearedByTheNextMove) {
  table({"a", "b"});
  ASSERT_TRUE(DBSEEK(Value("b")));
  DBSKIP(0);
  EXPECT_FALSE(FOUND());
  EXPECT_EQ(2u, RECNO());
  ASSERT_TRUE(DBSEEK(Value("a")));
  DBSKIP(1);
  EXPECT_FALSE(FOUND());
  EXPECT_EQ(2u, RECNO());
}

TEST_F(Seek, EmptyTableSeeksToEndOfFileWithBeginningOfFile) {
  table({});
  EXPECT_FALSE(DBSEEK(Value("a")));
  EXPECT_TRUE(DBEOF());
  EXPECT_TRUE(DBBOF()) << "the beginning-of-file flag is set only for an empty table";
  EXPECT_EQ(1u, RECNO());
}

TEST_F(Seek, SearchValueKinds) {
  make_table("k.dbf", {{"AMOUNT", 'N', 8, 2}, {"DAY", 'D', 8}, {"OK", 'L', 1}, {"TXT", 'C', 4}},
             {{"   12.50", "20240105", "T", "ab"},
              {"   -5.00", "19991231", "F", "12.5"},
              {"    0.00", "        ", "T", "0000"}});
  use("k");
  DBCREATEINDEX(Value("amt"), Value("AMOUNT"), field_block("AMOUNT"));
  EXPECT_TRUE(DBSEEK(Value::dbl(-5, 10, 2)));
  EXPECT_EQ(2u, RECNO());
  EXPECT_TRUE(DBSEEK(Value::int32(0)));
  EXPECT_EQ(3u, RECNO()) << "the number is written with the index's decimals";
  EXPECT_FALSE(DBSEEK(Value::int32(13)));
  DBCREATEINDEX(Value("day"), Value("DAY"), field_block("DAY"));
  EXPECT_TRUE(DBSEEK(Value::date(date_encode(1999, 12, 31))));
  EXPECT_EQ(2u, RECNO());
  EXPECT_TRUE(DBSEEK(Value::date(0)));
  EXPECT_EQ(3u, RECNO());
  DBCREATEINDEX(Value("ok"), Value("OK"), field_block("OK"));
  EXPECT_TRUE(DBSEEK(Value::logical(true)));
  EXPECT_EQ(1u, RECNO());
  DBCREATEINDEX(Value("txt"), Value("TXT"), field_block("TXT"));
  // A number sought in a character index is its numeric key text of the key size.
  EXPECT_TRUE(DBSEEK(Value::int32(0)));
  EXPECT_EQ(3u, RECNO());
  EXPECT_FALSE(DBSEEK(Value::dbl(12.5, 3, 1)))
      << "12.5 is sought as \"0013\" (no decimals in this index)";
  // Any other kind is sought as zero bytes: before every key, found by no key.
  EXPECT_FALSE(DBSEEK(Value::array({})));
  EXPECT_TRUE(DBEOF());
  EXPECT_TRUE(DBSEEK(Value::array({}), Value::logical(true)) == false);
  EXPECT_EQ(3u, RECNO()) << "soft: the first key (\"0000\")";
  EXPECT_TRUE(errors_.empty());
}

TEST_F(Seek, CommandErrors) {
  table({"a"});
  EXPECT_THROW(DBSEEK(Value()), test::HandlerBreak);
  ASSERT_EQ(1u, errors_.size());
  EXPECT_EQ(kErrArgument, errors_.last().gencode);
  EXPECT_EQ(1001, errors_.last().subcode);
  EXPECT_EQ("DBCMD", errors_.last().subsystem);

  // Without an order: "Workarea not indexed", nothing else changes.
  errors_.clear();
  make_table("plain.dbf", {{"CODE", 'C', 3}}, {{"x"}, {"y"}});
  use("plain");
  DBGOTO(2);
  EXPECT_FALSE(DBSEEK(Value("x")));
  ASSERT_EQ(1u, errors_.size());
  EXPECT_EQ(kErrNotIndexed, errors_.last().gencode);
  EXPECT_EQ(1201, errors_.last().subcode);
  EXPECT_EQ("DBFNTX", errors_.last().subsystem);
  EXPECT_TRUE(errors_.last().can_default);
  EXPECT_EQ(2u, RECNO());
  EXPECT_FALSE(DBEOF());

  errors_.clear();
  DBCLOSEALL();
  EXPECT_FALSE(DBSEEK(Value("x")));
  EXPECT_FALSE(FOUND());
  DBSETFILTER([] { return Value::logical(true); }, Value("x"));
  ASSERT_EQ(2u, errors_.size());
  for (const ErrorObject& e : errors_.errors()) {
    EXPECT_EQ(kErrNoTable, e.gencode);
    EXPECT_EQ(2001, e.subcode);
  }
  EXPECT_EQ("DBSEEK", errors_.errors()[0].operation);
  EXPECT_EQ("DBSETFILTER", errors_.errors()[1].operation);
}

TEST_F(Seek, FilterAppliesAtTheLanding) {
  table({"a1", "a2", "a3", "b1"}, 10, {"2", "1", "2", "2"});
  DBSETFILTER([] { return Value::logical(field_get("REG").str() == "1"); }, Value("REG='1'"));
  EXPECT_TRUE(DBSEEK(Value("a")));
  EXPECT_EQ(2u, RECNO()) << "record 1 fails the filter; record 2 still begins with a";
  EXPECT_TRUE(FOUND());
  EXPECT_FALSE(DBSEEK(Value("a3")));
  EXPECT_TRUE(DBEOF()) << "the first passing record after a3 no longer matches";
  EXPECT_FALSE(DBSEEK(Value("a3"), Value::logical(true)));
  EXPECT_TRUE(DBEOF()) << "nothing passes after it";
  EXPECT_TRUE(DBSEEK(Value("a"), {}, Value::logical(true)));
  EXPECT_EQ(2u, RECNO()) << "find-last steps backward to a passing record";
}

TEST_F(Seek, FilterInKeyOrder) {
  // Balance records: CODIGO with REG type; only type 1 passes.
  std::vector<std::string> codes = {"30", "10", "20", "10", "40", "20", "05"};
  std::vector<std::string> regs = {"1", "2", "1", "1", " ", "1", "2"};
  table(codes, 5, regs);
  DBGOTO(2);
  DBSETFILTER([] { return Value::logical(VAL(field_get("REG")).num().as_double() == 1); },
              Value("VAL(REG)=1"));
  EXPECT_EQ(2u, RECNO()) << "setting the filter does not move the pointer";
  EXPECT_EQ("VAL(REG)=1", area()->filter_text());
  EXPECT_EQ((Recs{4, 3, 6, 1}), walk()) << "type 1 in CODIGO order, equal codes by record";
  EXPECT_EQ((Recs{4, 3, 6, 1}), walk_back());
  DBGOTOP();
  DBSKIP(-1);
  EXPECT_TRUE(DBBOF());
  EXPECT_EQ(4u, RECNO());
  DBGOBOTTOM();
  EXPECT_EQ(1u, RECNO());
  DBSKIP(1);
  EXPECT_TRUE(DBEOF());

  DBSETFILTER([] { return Value::logical(false); }, Value(".F."));
  DBGOTOP();
  EXPECT_TRUE(DBEOF());
  DBGOBOTTOM();
  EXPECT_TRUE(DBEOF());
  DBSETFILTER([] { return Value::int32(0); }, Value());
  EXPECT_EQ((Recs{7, 2, 4, 3, 6, 1, 5}), walk()) << "a number lets every record pass";
  EXPECT_EQ("", area()->filter_text());
  DBSETFILTER(nullptr);
  EXPECT_FALSE(area()->has_filter());
}

TEST_F(Seek, DeletedRecordsUnderAFilter) {
  make_table("d.dbf", {{"CODE", 'C', 2}, {"REG", 'C', 1}},
             {{"b", "1"}, {"a", "1"}, {"c", "2"}, {"d", "1"}}, {false, true, false, false});
  use("d");
  DBCREATEINDEX(Value("d"), Value("CODE"), field_block("CODE"));
  DBSETFILTER([] { return Value::logical(field_get("REG").str() == "1"); });
  EXPECT_EQ((Recs{2, 1, 4}), walk()) << "deleted records are visited";
  rt_.settings().deleted = true;
  EXPECT_EQ((Recs{1, 4}), walk());
  EXPECT_TRUE(DBSEEK(Value("")));
  EXPECT_EQ(1u, RECNO());
  rt_.settings().deleted = false;
}

// Random tables, walked and sought through the commands, against a multimap model.
TEST_F(Seek, RandomTablesAgainstTheModel) {
  std::mt19937 rng(99);
  for (int trial = 0; trial < 12; ++trial) {
    int width = 1 + static_cast<int>(rng() % 8);
    int n = static_cast<int>(rng() % 1200);
    std::vector<std::vector<std::string>> recs;
    std::multimap<std::string, std::uint32_t> model;
    for (int i = 0; i < n; ++i) {
      std::string code;
      int len = 1 + static_cast<int>(rng() % width);
      for (int j = 0; j < len; ++j) code += static_cast<char>('k' + rng() % 3);
      recs.push_back({code});
      model.emplace(testing::padded(code, width), static_cast<std::uint32_t>(i + 1));
    }
    std::string name = "r" + std::to_string(trial);
    make_table(name + ".dbf", {{"CODE", 'C', width}}, recs);
    use(name);
    if (trial % 2 == 1) area()->set_build_capacity(1 + rng() % 40);
    DBCREATEINDEX(Value(name), Value("CODE"), field_block("CODE"));
    Recs want;
    for (const auto& e : model) want.push_back(e.second);
    ASSERT_EQ(want, walk()) << trial;
    ASSERT_EQ(want, walk_back()) << trial;
    for (int probe = 0; probe < 40 && n > 0; ++probe) {
      std::string key = testing::padded(recs[rng() % recs.size()][0], width);
      std::string prefix = key.substr(0, rng() % (width + 1));
      auto first = model.lower_bound(prefix);
      ASSERT_TRUE(DBSEEK(Value(prefix))) << prefix;
      EXPECT_EQ(first->second, RECNO()) << "trial " << trial << " '" << prefix << "'";
    }
    DBCLOSEAREA();
  }
  EXPECT_TRUE(errors_.empty());
}

}  // namespace
}  // namespace lum
