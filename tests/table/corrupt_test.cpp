// Damaged table files: each defect gives its error through the handler and leaves the
// area empty; no truncation or byte flip of a good file makes the open crash or read
// out of range (run under the sanitizers).
#include <gtest/gtest.h>

#include <random>

#include "table/names.h"
#include "tests/table/table_fixture.h"

namespace lum::test {

using sample::build_dbf;
using sample::DbfLayout;
using sample::write_bytes;
using sample::write_dbf;
namespace {

class Corrupt : public TableTest {
 protected:
  // Hundreds of opens: no need to force each close to the disk.
  void SetUp() override { rt_.settings().hardcommit = false; }

  // Opens `bytes` as a table; true when it opened. Errors are in rec_.
  bool open_bytes(const std::vector<std::uint8_t>& bytes) {
    write_bytes(path("bad.dbf"), bytes);
    rec_.clear();
    bool ok = false;
    try {
      ok = DBUSEAREA(true, {}, "bad");
    } catch (const HandlerBreak&) {
      ok = false;
    }
    if (ok) {
      // Walk it: every record and field reads without fault.
      for (DBGOTOP(); !DBEOF(); DBSKIP()) {
        Area* a = WorkAreas::get().current();
        for (int i = 0; i < a->field_count(); ++i) {
          Value v;
          a->get_field(i, v);
        }
      }
      DBCLOSEAREA();
    } else {
      EXPECT_EQ(nullptr, WorkAreas::get().current());
    }
    return ok;
  }
};

TEST_F(Corrupt, EachDefectGivesItsError) {
  std::vector<std::uint8_t> good = build_dbf(standard_layout(), standard_records(3));
  struct Case {
    const char* what;
    std::vector<std::uint8_t> bytes;
    int gencode, subcode, flags;
  };
  std::vector<Case> cases;
  cases.push_back({"empty file", {}, kErrRead, 1010, kCanRetry | kCanDefault});
  cases.push_back({"truncated header",
                   {good.begin(), good.begin() + 20},
                   kErrRead,
                   1010,
                   kCanRetry | kCanDefault});
  auto v = good;
  v[0] = 0x01;
  cases.push_back({"unknown version byte", v, kErrCorruption, 1012, kCanRetry | kCanDefault});
  v = good;
  v[32 + 32 + 11] = 'Z';
  cases.push_back({"bad type letter", v, kErrCorruption, 1012, kCanDefault});
  v = good;
  v[32 + 4 * 32 + 11] = 'T';  // the date field as time: length 8 fits...
  v[32 + 4 * 32 + 16] = 5;    // ...5 does not
  cases.push_back({"bad length", v, kErrCorruption, 1012, kCanDefault});
  v = good;
  v[8] = 0x00;
  v[9] = 0x40;  // header length 16384, far past the end
  cases.push_back({"header length past the end", v, kErrCorruption, 1012, kCanRetry | kCanDefault});
  v = good;
  v[32] = 0x0D;
  cases.push_back({"no fields", v, kErrCorruption, 1012, kCanDefault});
  cases.push_back({"shorter than its header",
                   {good.begin(), good.begin() + 224},
                   kErrCorruption,
                   1012,
                   kCanDefault});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(open_bytes(c.bytes));
    ASSERT_EQ(1u, rec_.size());
    EXPECT_EQ(c.gencode, rec_.last().gencode);
    EXPECT_EQ(std::string(generic_description(c.gencode)), rec_.last().description);
    EXPECT_EQ(c.subcode, rec_.last().subcode);
    EXPECT_EQ(c.flags, rec_.last().flags());
    EXPECT_EQ("DBFNTX", rec_.last().subsystem);
    EXPECT_EQ("bad.dbf", rec_.last().filename);
  }
}

TEST_F(Corrupt, RetryReadsTheHeaderAgain) {
  std::vector<std::uint8_t> good = build_dbf(standard_layout(), standard_records(2));
  std::vector<std::uint8_t> bad = good;
  bad[0] = 0x01;
  write_bytes(path("heal.dbf"), bad);
  rt_.install_handler([&](ErrorObject& e) {
    EXPECT_EQ(1012, e.subcode);
    write_bytes(path("heal.dbf"), good);  // mended while the handler waits
    return Value::logical(true);
  });
  EXPECT_TRUE(DBUSEAREA(true, {}, "heal"));
  EXPECT_EQ(2u, LASTREC());
}

TEST_F(Corrupt, StoredCountsAndLengthsAreNotTrusted) {
  DbfLayout s = standard_layout();
  s.stored_count = 1000000;
  s.stored_record_length = 0;  // a record length of zero in the header
  write_dbf(path("odd.dbf"), s, standard_records(2));
  ASSERT_TRUE(DBUSEAREA(true, {}, "odd"));
  EXPECT_EQ(2u, LASTREC());
  DBGOTO(2);
  EXPECT_EQ("00002", field_get("CODIGO").str());
  EXPECT_TRUE(rec_.empty());
}

TEST_F(Corrupt, NoTruncationOrByteFlipCrashes) {
  DbfLayout s = standard_layout();
  s.fields.push_back({"BIN", 'I', 4});
  s.fields.push_back({"DB", 'D', 4});
  std::vector<std::uint8_t> good = build_dbf(s, standard_records(3));
  int opened = 0;
  for (std::size_t n = 0; n < good.size(); ++n) {
    if (open_bytes({good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n)})) ++opened;
  }
  EXPECT_GT(opened, 0);  // cuts inside the records still open
  std::mt19937 rng(12345);
  for (int round = 0; round < 400; ++round) {
    std::vector<std::uint8_t> v = good;
    for (int k = 0; k < 3; ++k) {
      std::size_t at = rng() % 300;  // header and descriptors mostly
      v[at] = static_cast<std::uint8_t>(rng());
    }
    open_bytes(v);
  }
}

}  // namespace
}  // namespace lum::test
