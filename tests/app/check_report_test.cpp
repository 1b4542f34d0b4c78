// The dry run's findings on their own: an index walked against its table catches keys
// that are damaged, out of order or unlike their records; control totals add the
// stored values exactly and count the ones that are not numbers.
#include "index/ntx_verify.h"
#include "table/table_totals.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "index/index_commands.h"
#include "table/names.h"
#include "tests/table/table_fixture.h"

namespace lum::test {
namespace {

using sample::read_bytes;
using sample::write_bytes;
using sample::write_dbf;

class CheckFindings : public TableTest {
 protected:
  // Table t.dbf with CODE C5 holding `codes`, and the index codes.ntx on it, built by the
  // engine.
  void index_of(const std::vector<std::string>& codes) {
    DbfLayout layout;
    layout.fields = {{"CODE", 'C', 5}};
    std::vector<RecordRow> records;
    for (const std::string& c : codes) records.push_back({{c}});
    write_dbf(path("t.dbf"), layout, records);
    register_ntx_driver();
    ASSERT_TRUE(DBUSEAREA(true, {}, "t"));
    FieldRef code("CODE");
    DBCREATEINDEX("codes", "CODE", [&] { return code.get(); });
    DBCLOSEALL();
  }
  // Replaces the first `from` in the index file's pages by `to`.
  void damage(const std::string& from, const std::string& to) {
    std::vector<std::uint8_t> b = read_bytes(path("codes.ntx"));
    std::string s(b.begin(), b.end());
    const std::size_t at = s.find(from, 1024);
    ASSERT_NE(std::string::npos, at);
    s.replace(at, from.size(), to);
    write_bytes(path("codes.ntx"), std::vector<std::uint8_t>(s.begin(), s.end()));
  }
};

TEST_F(CheckFindings, IndexWalkedAgainstItsTable) {
  const std::vector<std::string> codes = {"00007", "00003", "00005", "00003", "00001", "00009"};
  index_of(codes);
  EXPECT_EQ("6 keys on CODE: one for every record, in order, each its record's value (verified)",
            index_verification("codes.ntx", "t"));
  damage("00009", "00000");  // now out of order, and unlike its record
  EXPECT_EQ("6 keys on CODE: FAULT: 1 key out of order; 1 key unlike their record",
            index_verification("codes.ntx", "t"));

  index_of(codes);
  // A record changed after the index was built no longer matches its key.
  write_dbf(
      path("t.dbf"),
      [] {
        DbfLayout s;
        s.fields = {{"CODE", 'C', 5}};
        return s;
      }(),
      {{{"00007"}}, {{"00003"}}, {{"00005"}}, {{"00004"}}, {{"00001"}}, {{"00009"}}, {{"00002"}}});
  EXPECT_EQ("6 keys on CODE: FAULT: 1 record without a key; 1 key unlike their record",
            index_verification("codes.ntx", "t"));

  index_of(codes);
  std::vector<std::uint8_t> b = read_bytes(path("codes.ntx"));
  b.resize(1024);  // the root page is gone
  write_bytes(path("codes.ntx"), b);
  EXPECT_EQ("FAULT: a page is damaged or leads outside the tree",
            index_verification("codes.ntx", "t"));
  EXPECT_EQ("not there", index_verification("none.ntx", "t"));
}

TEST_F(CheckFindings, ControlTotalsAddTheStoredValues) {
  DbfLayout layout;
  layout.fields = {{"VALOR", 'N', 8, 2}, {"QTD", 'N', 5, 0}, {"NOME", 'C', 4}};
  write_dbf(path("m.dbf"), layout,
            {{{"   12.50", "    3", "a"}},
             {{"   -2.25", "   -1", "b"}},
             {{"********", "     ", "c"}},
             {{"99999.99", "99999", "d"}}});
  EXPECT_EQ("VALOR 100010.24 (and 1 value not a number), QTD 100001", control_totals("m"));
  EXPECT_EQ("missing.dbf cannot be opened (DOS Error 2: file not found)", control_totals("missing"));
}

}  // namespace
}  // namespace lum::test
