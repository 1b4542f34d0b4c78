// The DBFNTX driver with DBCREATEINDEX and ORDCREATE: the file and order names, the key
// classified on the blank record, the new order controlling with the pointer at its
// top, key-order movement, keys kept when records change, the index emptied by a zap,
// flushed and closed with its table, an index written before opened with its table, and
// what a key-order pass and a seek with a rewrite read and write.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "index/ntx_tree.h"
#include "ntx_area_fixture.h"
#include "ntx_fixture.h"
#include "tests/support/io_counter.h"

namespace lum {
namespace {

using testing::AreaTest;
using Recs = std::vector<std::uint32_t>;
namespace fs = std::filesystem;

class NtxArea_ : public AreaTest {
 protected:
  // ITEMS: CODITEM C(5), REG C(1); records 1..n with the given codes.
  void items(const std::vector<std::string>& codes, const std::vector<bool>& deleted = {}) {
    std::vector<std::vector<std::string>> recs;
    for (const auto& c : codes) recs.push_back({c, "1"});
    make_table("items.dbf", {{"CODITEM", 'C', 5}, {"REG", 'C', 1}}, recs, deleted);
    use("items");
  }
  void index_on_coditem() {
    DBCREATEINDEX(Value("coditem"), Value("coditem"), field_block("CODITEM"));
  }
};

TEST_F(NtxArea_, CreateIndexInTheWorkingDirectoryAndGoToTheTop) {
  items({"30", "10", "20"});
  DBGOTO(2);
  index_on_coditem();
  EXPECT_TRUE(errors_.empty());
  ASSERT_TRUE(fs::exists("coditem.ntx"));
  EXPECT_EQ(2u, RECNO()) << "the lowest key, \"10   \"";
  EXPECT_EQ("CODITEM", area()->order_name());
  auto b = testing::read_bytes("coditem.ntx");
  EXPECT_EQ("coditem", std::string(reinterpret_cast<const char*>(&b[22])));
  EXPECT_EQ(5, testing::le16(b, 14));
  EXPECT_EQ(0, b[538]) << "DBCREATEINDEX writes no order name";
  EXPECT_EQ(0, b[278]);
  EXPECT_EQ((Recs{2, 3, 1}), walk());
  EXPECT_EQ((Recs{2, 3, 1}), walk_back());
}

TEST_F(NtxArea_, EmptyTableGivesTwoBlocksAndEndOfFile) {
  items({});
  index_on_coditem();
  EXPECT_TRUE(DBEOF());
  EXPECT_EQ(1u, RECNO());
  EXPECT_EQ(2048u, fs::file_size("coditem.ntx"));
}

TEST_F(NtxArea_, FileAndOrderNames) {
  items({"a", "b"});
  struct Case {
    Value file, order;
    const char* written;
    const char* order_name;
    const char* header_name;
  } cases[] = {
      {Value("saldo"), Value(), "saldo.ntx", "SALDO", ""},
      {Value("LUTMPFOR"), Value(), "LUTMPFOR.ntx", "LUTMPFOR", ""},
      {Value("x.idx"), Value(), "x.idx", "X", ""},
      {Value("averylongfilename"), Value(), "averylongfilename.ntx", "AVERYLONGF", ""},
      {Value("byorder"), Value("myOrder"), "byorder.ntx", "MYORDER", "MYORDER"},
      {Value(), Value("onlyorder"), "items.ntx", "ONLYORDER", "ONLYORDER"},
  };
  for (const Case& c : cases) {
    ORDCREATE(c.file, c.order, Value("CODITEM"), field_block("CODITEM"));
    ASSERT_TRUE(errors_.empty()) << c.written;
    EXPECT_TRUE(fs::exists(c.written)) << c.written;
    EXPECT_EQ(c.order_name, area()->order_name()) << c.written;
    auto b = testing::read_bytes(c.written);
    EXPECT_EQ(std::string(c.header_name), std::string(reinterpret_cast<const char*>(&b[538])));
  }
}

TEST_F(NtxArea_, CreatingReplacesAnEarlierFileAndTheOpenIndex) {
  testing::write_bytes("coditem.ntx", std::vector<std::uint8_t>(9000, 0x5A));
  items({"b", "a"});
  index_on_coditem();
  EXPECT_EQ(2048u, fs::file_size("coditem.ntx"));
  EXPECT_EQ((Recs{2, 1}), walk());
  // Again with the same name while it is open: the open index is replaced.
  DBCREATEINDEX(Value("CODITEM.NTX"), Value("REG"), field_block("REG"));
  EXPECT_TRUE(errors_.empty());
  EXPECT_EQ("REG", area()->key_text());
  EXPECT_EQ((Recs{1, 2}), walk());
}

TEST_F(NtxArea_, KeyClassificationErrors) {
  items({"a"});
  struct Case {
    CodeBlock block;
    int gencode;
  } cases[] = {
      {[] { return Value(); }, kErrDataType},
      {[] { return Value(""); }, kErrDataWidth},
  };
  for (const Case& c : cases) {
    errors_.clear();
    EXPECT_THROW(DBCREATEINDEX(Value("bad"), Value("whatever"), c.block), test::HandlerBreak);
    ASSERT_EQ(1u, errors_.size());
    EXPECT_EQ(c.gencode, errors_.last().gencode);
    EXPECT_EQ(1026, errors_.last().subcode);
    EXPECT_EQ("DBFNTX", errors_.last().subsystem);
    EXPECT_FALSE(fs::exists("bad.ntx"));
    EXPECT_FALSE(area()->has_order());
  }
}

TEST_F(NtxArea_, ArgumentErrors) {
  struct Case {
    Value file, order, key;
    int gencode, subcode;
  } cases[] = {
      {Value("f"), Value(), Value(), kErrArgument, 1006},
      {Value(), Value(), Value("CODITEM"), kErrArgument, 1006},
      {Value(""), Value(""), Value("CODITEM"), kErrArgument, 1006},
  };
  items({"a"});
  for (const Case& c : cases) {
    errors_.clear();
    EXPECT_THROW(ORDCREATE(c.file, c.order, c.key, field_block("CODITEM")), test::HandlerBreak);
    ASSERT_EQ(1u, errors_.size());
    EXPECT_EQ(c.gencode, errors_.last().gencode);
    EXPECT_EQ(c.subcode, errors_.last().subcode);
    EXPECT_EQ("DBCMD", errors_.last().subsystem);
  }
  DBCLOSEAREA();
  errors_.clear();
  EXPECT_TRUE(DBCREATEINDEX(Value("f"), Value("CODITEM"), field_block("CODITEM")).is_nil());
  ASSERT_EQ(1u, errors_.size());
  EXPECT_EQ(kErrNoTable, errors_.last().gencode);
  EXPECT_EQ(2001, errors_.last().subcode);
}

TEST_F(NtxArea_, KeyTextNamingAFieldNeedsNoBlock) {
  items({"b", "c", "a"});
  ORDCREATE(Value("k"), Value(), Value("coditem"), nullptr);
  EXPECT_TRUE(errors_.empty());
  EXPECT_EQ((Recs{3, 1, 2}), walk());
  EXPECT_THROW(ORDCREATE(Value("k2"), Value(), Value("UPPER(CODITEM)"), nullptr),
               test::HandlerBreak);
  ASSERT_EQ(1u, errors_.size());
  EXPECT_EQ(kErrSyntax, errors_.last().gencode);
  EXPECT_EQ("UPPER(CODITEM)", errors_.last().operation);
  EXPECT_EQ("K", area()->order_name()) << "the earlier order stays";
}

TEST_F(NtxArea_, SkipsFollowKeyOrderWithTheFlagsOfTheEnds) {
  items({"c", "a", "b", "a"});
  index_on_coditem();
  EXPECT_EQ(2u, RECNO());
  EXPECT_EQ((Recs{2, 4, 3, 1}), walk());
  EXPECT_EQ((Recs{2, 4, 3, 1}), walk_back());
  DBGOTOP();
  DBSKIP(-1);
  EXPECT_TRUE(DBBOF());
  EXPECT_EQ(2u, RECNO()) << "before the first key: its record, BOF set";
  DBSKIP(2);
  EXPECT_EQ(3u, RECNO());
  DBSKIP(5);
  EXPECT_TRUE(DBEOF());
  EXPECT_EQ(5u, RECNO());
  DBSKIP(1);
  EXPECT_TRUE(DBEOF()) << "forward from the phantom record stays there";
  EXPECT_EQ(5u, RECNO());
  DBSKIP(-1);
  EXPECT_EQ(1u, RECNO()) << "backward from the phantom record starts at the last key";
  DBSKIP(-2);
  EXPECT_EQ(4u, RECNO());
  DBSKIP(-10);
  EXPECT_TRUE(DBBOF());
  EXPECT_EQ(2u, RECNO());
  DBGOTO(3);
  DBSKIP(1);
  EXPECT_EQ(1u, RECNO()) << "a skip from a record reached by number goes on in key order";
}

TEST_F(NtxArea_, AKeyOrderPassAndASeekWithARewriteReadAndWriteOnlyWhatTheyNeed) {
  // Balances in scrambled code order under a filter, as the balance pass walks them,
  // and items sought by code and rewritten in place. Records of 107 bytes: the balance
  // table is larger than one table's block cache.
  constexpr int kCount = 12000;
  const std::string filler(100, '.');
  auto code = [](int k) {
    char c[8];
    std::snprintf(c, sizeof c, "%05d", k);
    return std::string(c);
  };
  std::vector<std::vector<std::string>> balances, items;
  for (int i = 0; i < kCount; ++i) {
    balances.push_back({code((i * 7919) % kCount), i % 5 ? "1" : "2", filler});
    items.push_back({code(i), "0", filler});
  }
  std::vector<sample::FieldLayout> shape = {{"CODIGO", 'C', 5}, {"REG", 'C', 1}, {"F", 'C', 100}};
  make_table("saldo.dbf", shape, balances);
  make_table("item.dbf", shape, items);
  use("item");
  DBCREATEINDEX(Value("coditem"), Value("codigo"), field_block("CODIGO"));
  use("saldo");
  DBCREATEINDEX(Value("saldo"), Value("codigo"), field_block("CODIGO"));
  area()->set_filter([] { return Value::logical(field_get("REG").str() == "1"); }, "REG=1");
  const std::uint64_t header = 32 * 4 + 1, record = 107;
  test::IoCounter io;
  int seen = 0;
  std::string previous;
  for (DBGOTOP(); !DBEOF(); DBSKIP(1)) {
    const std::string k = field_get("CODIGO").str();
    ASSERT_LE(previous, k);
    previous = k;
    ++seen;
    DBSELECTAREA("item");
    DBSEEK(Value(k));
    ASSERT_TRUE(FOUND());
    field_put("REG", "S");
    DBSELECTAREA("saldo");
  }
  DBSELECTAREA("item");
  DBGOTOP();  // writes the last rewritten record back
  EXPECT_EQ(kCount - kCount / 5, seen);
  EXPECT_TRUE(errors_.empty());
  EXPECT_LE(io.most_reads_of_a_byte("saldo.dbf", header, header + kCount * record), 4);
  EXPECT_LE(io.most_reads_of_a_byte("item.dbf", header, header + kCount * record), 4);
  // The items are rewritten where the table is kept in memory while the pass goes on,
  // and reach the file at the commit, a few writes of whole records at their place;
  // their keys did not change, so the index is not touched; nothing is written to the
  // balances.
  EXPECT_TRUE(io.of(IoOp::Write, "item.dbf").empty());
  DBCOMMIT();
  std::vector<test::IoCounter::Transfer> writes = io.of(IoOp::Write, "item.dbf");
  EXPECT_LE(writes.size(), kCount * record / 65536 + 2);
  std::uint64_t written = 0;
  for (const auto& w : writes) {
    ASSERT_EQ(0u, w.n % record);
    ASSERT_EQ(0u, (w.offset - header) % record);
    written += w.n;
  }
  EXPECT_LE(written, (kCount + 2) * record);
  EXPECT_TRUE(io.of(IoOp::Write, "coditem.ntx").empty());
  EXPECT_TRUE(io.of(IoOp::Write, "saldo.dbf").empty());
  int rewritten = 0;
  for (int r = 1; r <= kCount; ++r) {
    DBGOTO(r);
    rewritten += field_get("REG").str() == "S";
  }
  EXPECT_EQ(seen, rewritten);
}

TEST_F(NtxArea_, DeletedRecordsAreIndexedAndHiddenOnlyWhenAsked) {
  items({"b", "a", "c"}, {false, true, false});
  index_on_coditem();
  EXPECT_EQ((Recs{2, 1, 3}), walk());
  rt_.settings().deleted = true;
  EXPECT_EQ((Recs{1, 3}), walk());
  EXPECT_EQ((Recs{1, 3}), walk_back());
  rt_.settings().deleted = false;
}

TEST_F(NtxArea_, KeysFollowChangedAndAppendedRecords) {
  items({"d", "b", "f"});
  index_on_coditem();
  DBGOTO(1);
  field_put("CODITEM", Value("a"));
  EXPECT_EQ((Recs{1, 2, 3}), walk());
  DBAPPEND();
  field_put("CODITEM", Value("c"));
  EXPECT_EQ((Recs{1, 2, 4, 3}), walk());
  DBAPPEND();  // a blank key sorts first
  EXPECT_EQ((Recs{5, 1, 2, 4, 3}), walk());
  DBGOTO(3);
  field_put("CODITEM", Value("b"));  // equal to record 2's key: after it
  DBGOTO(2);
  field_put("REG", Value("9"));  // the key stays
  EXPECT_EQ((Recs{5, 1, 2, 3, 4}), walk());
  DBCOMMIT();
  auto w = testing::walk_tree(testing::read_bytes("coditem.ntx"));
  ASSERT_TRUE(w.ok) << w.defect;
  std::vector<std::pair<std::string, std::uint32_t>> want = {
      {"     ", 5}, {"a    ", 1}, {"b    ", 2}, {"b    ", 3}, {"c    ", 4}};
  EXPECT_EQ(want, w.entries);
  EXPECT_TRUE(errors_.empty());
}

TEST_F(NtxArea_, AChangeThatKeepsTheKeyTouchesNoPage) {
  items({"b", "a"});
  index_on_coditem();
  DBCOMMIT();
  auto before = testing::read_bytes("coditem.ntx");
  DBGOTO(1);
  field_put("REG", Value("7"));
  field_put("CODITEM", Value("b"));
  DBCOMMIT();
  EXPECT_EQ(before, testing::read_bytes("coditem.ntx"));
}

TEST_F(NtxArea_, ZapEmptiesTheIndex) {
  items({"b", "a", "c"});
  index_on_coditem();
  ASSERT_TRUE(cmd::DBZAP());
  EXPECT_TRUE(DBEOF());
  auto b = testing::read_bytes("coditem.ntx");
  EXPECT_EQ(2048u, b.size());
  EXPECT_EQ(1, testing::le16(b, 2));
  EXPECT_EQ(1024u, testing::le32(b, 4));
  EXPECT_EQ(0, testing::le16(b, 1024));
  EXPECT_EQ("coditem", std::string(reinterpret_cast<const char*>(&b[22])));
  DBAPPEND();
  field_put("CODITEM", Value("z"));
  DBAPPEND();
  field_put("CODITEM", Value("y"));
  EXPECT_EQ((Recs{2, 1}), walk());
}

TEST_F(NtxArea_, CloseFlushesAndReleasesTheIndex) {
  items({"b", "a"});
  index_on_coditem();
  DBAPPEND();
  field_put("CODITEM", Value("0"));
  DBCLOSEAREA();
  EXPECT_TRUE(errors_.empty());
  // The file is no longer held and holds the appended key.
  NtxFile f;
  ASSERT_TRUE(f.open("coditem.ntx", false, false));
  NtxTree t(f);
  ASSERT_EQ(TreeStep::Key, t.top());
  EXPECT_EQ(3u, t.record());
  EXPECT_EQ(2, f.header().version) << "built (1), then one flush with a change";
}

TEST_F(NtxArea_, UniqueIndexKeepsTheFirstRecordOfAKey) {
  items({"A", "A", "B"});
  DBCREATEINDEX(Value("u"), Value("coditem"), field_block("CODITEM"), Value::logical(true));
  EXPECT_EQ((Recs{1, 3}), walk());
  DBAPPEND();
  field_put("CODITEM", Value("B"));
  DBAPPEND();
  field_put("CODITEM", Value("C"));
  EXPECT_EQ((Recs{1, 3, 5}), walk());
  rt_.settings().unique = true;
  DBCREATEINDEX(Value("u2"), Value("coditem"), field_block("CODITEM"));
  EXPECT_EQ((Recs{1, 3, 5}), walk()) << "the unique setting stands in for lUnique";
  rt_.settings().unique = false;
}

TEST_F(NtxArea_, NumericDateAndLogicalKeys) {
  make_table("n.dbf", {{"AMOUNT", 'N', 5}, {"DAY", 'D', 8}, {"OK", 'L', 1}},
             {{"    3", "20240105", "T"},
              {"   -5", "19991231", "F"},
              {"    0", "        ", "T"},
              {"  -12", "20240104", "F"}});
  use("n");
  DBCREATEINDEX(Value("amt"), Value("AMOUNT"), field_block("AMOUNT"));
  EXPECT_EQ((Recs{4, 2, 3, 1}), walk());
  auto b = testing::read_bytes("amt.ntx");
  auto w = testing::walk_tree(b);
  ASSERT_EQ(4u, w.entries.size());
  EXPECT_EQ(",,,+*", w.entries[0].first) << "-12";
  EXPECT_EQ(",,,,'", w.entries[1].first) << "-5";
  EXPECT_EQ("00000", w.entries[2].first);
  DBCREATEINDEX(Value("day"), Value("DAY"), field_block("DAY"));
  EXPECT_EQ((Recs{3, 2, 4, 1}), walk()) << "the empty date is blanks";
  DBCREATEINDEX(Value("ok"), Value("OK"), field_block("OK"));
  EXPECT_EQ((Recs{2, 4, 1, 3}), walk());
  EXPECT_TRUE(errors_.empty());
}

TEST_F(NtxArea_, SmallSortAreaGivesTheSameFileThroughTheDriver) {
  std::vector<std::string> codes;
  std::mt19937 rng(3);
  for (int i = 0; i < 3000; ++i) codes.push_back(std::to_string(rng() % 700));
  std::vector<std::vector<std::string>> recs;
  for (const auto& c : codes) recs.push_back({c, "x"});
  make_table("big.dbf", {{"CODE", 'C', 10}, {"X", 'C', 1}}, recs);
  use("big");
  DBCREATEINDEX(Value("one"), Value("CODE"), field_block("CODE"));
  area()->set_build_capacity(64);
  DBCREATEINDEX(Value("many"), Value("CODE"), field_block("CODE"));
  EXPECT_TRUE(errors_.empty());
  auto one = testing::read_bytes("one.ntx");
  EXPECT_EQ(one, testing::read_bytes("many.ntx"));
  auto w = testing::walk_tree(one);
  ASSERT_TRUE(w.ok) << w.defect;
  EXPECT_EQ(3, w.depth) << "3000 keys of 10 bytes need three levels";
  Recs want(3000);
  for (std::uint32_t i = 0; i < 3000; ++i) want[i] = i + 1;
  std::stable_sort(want.begin(), want.end(), [&](std::uint32_t a, std::uint32_t b) {
    return testing::padded(codes[a - 1], 10) < testing::padded(codes[b - 1], 10);
  });
  EXPECT_EQ(want, walk());
  EXPECT_EQ(want, walk_back());
}

// The longest key: a character field of 300 bytes gives keys of 256, two to a page,
// so the tree is deep. Order, equal keys beyond byte 256, a spilled build and a seek.
TEST_F(NtxArea_, KeyOf256Bytes) {
  std::vector<std::vector<std::string>> recs;
  std::vector<std::string> keys;
  for (int i = 0; i < 700; ++i) {
    char n[8];
    std::snprintf(n, sizeof n, "%06d", i * 337 % 700);
    // Records 2k and 2k + 1 of the last 100 agree in their first 256 bytes.
    std::string v = std::string(250, 'a') + (i >= 600 ? "999999" : n) + std::to_string(i);
    keys.push_back(v.substr(0, 256));
    recs.push_back({v});
  }
  make_table("long.dbf", {{"LONG", 'C', 300}}, recs);
  use("long");
  DBCREATEINDEX(Value("one"), Value("LONG"), field_block("LONG"));
  area()->set_build_capacity(64);
  DBCREATEINDEX(Value("many"), Value("LONG"), field_block("LONG"));
  EXPECT_TRUE(errors_.empty());
  auto b = testing::read_bytes("one.ntx");
  EXPECT_EQ(b, testing::read_bytes("many.ntx")) << "spilled runs give the same file";
  EXPECT_EQ(256, testing::le16(b, 14));
  EXPECT_EQ(2, testing::le16(b, 18));
  auto w = testing::walk_tree(b);
  ASSERT_TRUE(w.ok) << w.defect;
  EXPECT_GE(w.depth, 6);
  Recs want(700);
  for (std::uint32_t i = 0; i < 700; ++i) want[i] = i + 1;
  std::stable_sort(want.begin(), want.end(),
                   [&](std::uint32_t x, std::uint32_t y) { return keys[x - 1] < keys[y - 1]; });
  EXPECT_EQ(want, walk());
  EXPECT_EQ(want, walk_back());
  EXPECT_TRUE(DBSEEK(Value(std::string(250, 'a') + "999999" + "whatever follows")));
  EXPECT_EQ(601u, RECNO()) << "the first record of the equal keys";
}

// An index file written before (by this engine or another program) opened with the
// table: it must fit the table, and an entry that names no record of it is damage.
TEST_F(NtxArea_, OpenOrderTakesAnIndexThatFitsTheTable) {
  items({"30", "10", "20", "10"});
  index_on_coditem();
  DBCLOSEAREA();
  const std::vector<std::uint8_t> good = testing::read_bytes("coditem.ntx");
  use("items");
  ASSERT_TRUE(area()->open_order("coditem"));
  EXPECT_EQ("CODITEM", area()->order_name());
  EXPECT_EQ((Recs{2, 4, 3, 1}), walk());
  EXPECT_EQ((Recs{2, 4, 3, 1}), walk_back());
  EXPECT_TRUE(DBSEEK(Value("20")));
  EXPECT_EQ(3u, RECNO());
  DBCLOSEAREA();
  EXPECT_TRUE(errors_.empty());

  const std::uint32_t root = testing::le32(good, 4);
  struct Case {
    const char* what;
    std::function<void(std::vector<std::uint8_t>&)> damage;
    int gencode, subcode;
  } cases[] = {
      {"a key naming no field", [](auto& b) { b[22] = 'X'; }, kErrSyntax, 0},
      {"a key of another size",
       [](auto& b) {
         b[14] = 4;
         b[12] = 12;
       },
       kErrCorruption, 1012},
      {"an entry naming record 99 of 4",
       [root](auto& b) { b[root + testing::le16(b, root + 2) + 4] = 99; }, kErrCorruption, 1012},
      {"an entry naming record 0",
       [root](auto& b) { b[root + testing::le16(b, root + 2) + 4] = 0; }, kErrCorruption, 1012},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> b = good;
    c.damage(b);
    testing::write_bytes("coditem.ntx", b);
    use("items");
    errors_.clear();
    try {
      area()->open_order("coditem.ntx");
      walk();
    } catch (const test::HandlerBreak&) {
    }
    ASSERT_EQ(1u, errors_.size());
    EXPECT_EQ(c.gencode, errors_.last().gencode);
    EXPECT_EQ(c.subcode, errors_.last().subcode);
    DBCLOSEAREA();
  }
  use("items");
  errors_.clear();
  EXPECT_FALSE(area()->open_order("missing"));
  ASSERT_EQ(1u, errors_.size());
  EXPECT_EQ(kErrOpen, errors_.last().gencode);
  EXPECT_EQ("missing.ntx", errors_.last().filename);
}

}  // namespace
}  // namespace lum
