// Record navigation and update: the cursor and the phantom record, skipping, appends
// that reach the file through the write-behind buffer, field writes with their
// conversions and errors, zap, the bytes of the header after close and zap, and what
// sequential and random passes read from the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <random>

#include "platform/clock.h"
#include "table/dbf_area.h"
#include "table/names.h"
#include "tests/support/io_counter.h"
#include "tests/table/table_fixture.h"
#include "values/dates.h"

namespace lum::test {

using sample::build_dbf;
using sample::le16;
using sample::le32;
using sample::read_bytes;
using sample::write_bytes;
using sample::write_dbf;
namespace {

class Records : public TableTest {
 protected:
  void make(const std::string& file, int records) {
    write_dbf(path(file), standard_layout(), standard_records(records));
  }
  void open(const std::string& file, const Value& shared = {}, const Value& ro = {}) {
    ASSERT_TRUE(DBUSEAREA(true, {}, file, {}, shared, ro));
  }
  struct Cursor {
    std::uint32_t recno;
    bool bof, eof;
  };
  static Cursor cursor() { return {RECNO(), DBBOF(), DBEOF()}; }
  void expect_today(const std::vector<std::uint8_t>& bytes) {
    LocalDateTime now = local_now();
    EXPECT_EQ(now.year - 1900, bytes[1]);
    EXPECT_EQ(now.month, bytes[2]);
    EXPECT_EQ(now.day, bytes[3]);
  }
};

TEST_F(Records, EmptyTableIsAtEndAtOnceWithBlankFields) {
  make("empty.dbf", 0);
  open("empty");
  DBGOTOP();
  EXPECT_TRUE(DBEOF());
  EXPECT_TRUE(DBBOF());
  EXPECT_EQ(1u, RECNO());
  EXPECT_EQ("     ", field_get("CODIGO").str());
  EXPECT_EQ(0, field_get("VALOR").num().as_double());
  EXPECT_EQ(0, field_get("DATA").day());
  EXPECT_FALSE(field_get("ATIVO").log());
  EXPECT_TRUE(rec_.empty());
}

TEST_F(Records, SkippingMovesTheCursorAndStopsAtTheEnds) {
  make("two.dbf", 2);
  open("two");
  struct Step {
    const char* op;
    std::int64_t arg;
    std::uint32_t recno;
    bool bof, eof;
  } steps[] = {
      {"top", 0, 1, false, false},    {"skip", 1, 2, false, false},  {"skip", 1, 3, false, true},
      {"skip", 1, 3, false, true},    {"skip", -1, 2, false, false}, {"skip", -5, 1, true, false},
      {"skip", 0, 1, true, false},    {"skip", 1, 2, false, false},  {"goto", 0, 3, true, true},
      {"skip", -1, 2, false, false},  {"goto", 7, 3, true, true},    {"skip", 0, 3, true, true},
      {"bottom", 0, 2, false, false}, {"skip", 3, 3, false, true},
  };
  for (const Step& s : steps) {
    std::string op = s.op;
    if (op == "top") DBGOTOP();
    if (op == "skip") DBSKIP(s.arg);
    if (op == "goto") DBGOTO(s.arg);
    if (op == "bottom") DBGOBOTTOM();
    Cursor c = cursor();
    SCOPED_TRACE(op + " " + std::to_string(s.arg));
    EXPECT_EQ(s.recno, c.recno);
    EXPECT_EQ(s.bof, c.bof);
    EXPECT_EQ(s.eof, c.eof);
  }
  // On an empty table a backward skip keeps BOF and clears EOF.
  make("none.dbf", 0);
  open("none");
  DBSKIP(-1);
  EXPECT_TRUE(DBBOF());
  EXPECT_FALSE(DBEOF());
  EXPECT_EQ(1u, RECNO());
}

TEST_F(Records, ReadsTheStoredValues) {
  make("t.dbf", 3);
  open("t");
  DBSKIP();
  EXPECT_EQ("00002", field_get("codigo").str());
  EXPECT_EQ("NAME 2              ", field_get("NOME").str());
  EXPECT_DOUBLE_EQ(2.5, field_get("VALOR").num().as_double());
  EXPECT_EQ(2, field_get("QTD").num().i);
  EXPECT_EQ(date_encode(2024, 1, 3), field_get("DATA").day());
  EXPECT_FALSE(field_get("ATIVO").log());
}

TEST_F(Records, ZapThenAppendLeavesExactHeaderAndRecordBytes) {
  make("t.dbf", 3);
  open("t");
  ASSERT_TRUE(cmd::DBZAP());
  EXPECT_TRUE(DBEOF());
  EXPECT_EQ(0u, LASTREC());
  std::vector<std::uint8_t> zapped = read_bytes(path("t.dbf"));
  ASSERT_EQ(226u, zapped.size());  // header, descriptors, 0x0D and one 0x1A
  EXPECT_EQ(0x0D, zapped[224]);
  EXPECT_EQ(0x1A, zapped[225]);
  EXPECT_EQ(0u, le32(zapped, 4));
  expect_today(zapped);

  for (int i = 1; i <= 2; ++i) {
    ASSERT_TRUE(DBAPPEND());
    EXPECT_EQ(static_cast<std::uint32_t>(i), RECNO());
    field_put("CODIGO", "A" + std::to_string(i));
    field_put("NOME", "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    field_put("VALOR", Value::dbl(12.5, 10, 1));
    field_put("QTD", Value::int32(i * 7));
    field_put("DATA", Value::date(date_encode(2023, 12, 31)));
    field_put("ATIVO", Value::logical(i == 1));
  }
  DBCLOSEALL();
  EXPECT_TRUE(rec_.empty());
  std::vector<std::uint8_t> bytes = read_bytes(path("t.dbf"));
  ASSERT_EQ(225u + 2 * 50, bytes.size());
  EXPECT_EQ(0x03, bytes[0]);
  EXPECT_EQ(2u, le32(bytes, 4));
  EXPECT_EQ(225, le16(bytes, 8));
  EXPECT_EQ(50, le16(bytes, 10));
  expect_today(bytes);
  std::string rec1(bytes.begin() + 225, bytes.begin() + 275);
  EXPECT_EQ(" A1   ABCDEFGHIJKLMNOPQRST     12.50    720231231T", rec1);
  std::string rec2(bytes.begin() + 275, bytes.end());
  EXPECT_EQ(" A2   ABCDEFGHIJKLMNOPQRST     12.50   1420231231F", rec2);
}

TEST_F(Records, UnchangedTableIsNotRewritten) {
  make("t.dbf", 3);
  std::vector<std::uint8_t> before = read_bytes(path("t.dbf"));
  open("t");
  DBGOTOP();
  while (!DBEOF()) DBSKIP();
  DBCLOSEAREA();
  EXPECT_EQ(before, read_bytes(path("t.dbf")));
}

TEST_F(Records, HeaderWriteCutsGarbageAfterTheRecords) {
  std::vector<std::uint8_t> file = build_dbf(standard_layout(), standard_records(3));
  for (int i = 0; i < 70; ++i) file.push_back('#');  // beyond the 0x1A: junk
  write_bytes(path("t.dbf"), file);
  open("t");
  EXPECT_EQ(4u, LASTREC());  // 1 + 70 bytes hold one whole record of junk
  DBGOTO(4);
  field_put("CODIGO", "X");
  DBCLOSEAREA();
  std::vector<std::uint8_t> bytes = read_bytes(path("t.dbf"));
  ASSERT_EQ(file.size(), bytes.size());  // written in place; only appends and zap mark
  EXPECT_EQ(3u, le32(bytes, 4));         // the header, so it keeps the count as built
  EXPECT_EQ("X    ", std::string(bytes.begin() + 376, bytes.begin() + 381));

  write_bytes(path("u.dbf"), file);
  open("u");
  ASSERT_TRUE(cmd::DBZAP());
  ASSERT_TRUE(DBAPPEND());
  DBCLOSEAREA();
  bytes = read_bytes(path("u.dbf"));
  ASSERT_EQ(225u + 50, bytes.size());
  EXPECT_EQ(1u, le32(bytes, 4));
}

TEST_F(Records, FieldWritesOnThePhantomRecordStoreNothing) {
  make("t.dbf", 2);
  std::vector<std::uint8_t> before = read_bytes(path("t.dbf"));
  open("t");
  DBGOTO(99);
  ASSERT_TRUE(DBEOF());
  EXPECT_TRUE(field_put("NOME", "GHOST"));
  EXPECT_TRUE(field_put("VALOR", Value::int32(999999999)));  // not even a width error
  EXPECT_TRUE(rec_.empty());
  EXPECT_EQ(std::string(20, ' '), field_get("NOME").str());
  ASSERT_TRUE(DBAPPEND());
  EXPECT_EQ(3u, RECNO());
  field_put("NOME", "REAL");
  DBCLOSEAREA();
  std::vector<std::uint8_t> after = read_bytes(path("t.dbf"));
  ASSERT_EQ(225u + 3 * 50, after.size());
  EXPECT_TRUE(std::equal(before.begin() + 32, before.begin() + 225 + 100, after.begin() + 32));
  EXPECT_EQ("REAL", std::string(after.begin() + 225 + 100 + 6, after.begin() + 225 + 100 + 10));
}

TEST_F(Records, WriteErrorsCarryTheFieldNameAndDefaultCountsAsDone) {
  make("t.dbf", 1);
  open("t");
  DBGOTOP();
  EXPECT_TRUE(field_put("NOME", Value::int32(5)));
  ASSERT_EQ(1u, rec_.size());
  EXPECT_EQ(kErrDataType, rec_.last().gencode);
  EXPECT_EQ("Data type error", rec_.last().description);
  EXPECT_EQ(1020, rec_.last().subcode);
  EXPECT_EQ("NOME", rec_.last().operation);
  EXPECT_EQ("DBFNTX", rec_.last().subsystem);
  EXPECT_EQ(kCanDefault, rec_.last().flags());
  EXPECT_TRUE(field_put("QTD", Value::int32(1234567)));
  ASSERT_EQ(2u, rec_.size());
  EXPECT_EQ(kErrDataWidth, rec_.last().gencode);
  EXPECT_EQ("Data width error", rec_.last().description);
  EXPECT_EQ(1021, rec_.last().subcode);
  EXPECT_EQ("QTD", rec_.last().operation);
  DBCLOSEAREA();
  std::vector<std::uint8_t> bytes = read_bytes(path("t.dbf"));
  EXPECT_EQ("*****", std::string(bytes.begin() + 225 + 36, bytes.begin() + 225 + 41));
  EXPECT_EQ("NAME 1", std::string(bytes.begin() + 225 + 6, bytes.begin() + 225 + 12));
}

TEST_F(Records, ClosingWritesTheDirtyAppendedRecordThenTheHeader) {
  make("t.dbf", 1);
  open("t");
  ASSERT_TRUE(DBAPPEND());
  field_put("CODIGO", "NEW");
  EXPECT_EQ(225u + 50 + 1, read_bytes(path("t.dbf")).size());  // not yet in the file
  DBCLOSEALL();
  std::vector<std::uint8_t> bytes = read_bytes(path("t.dbf"));
  ASSERT_EQ(225u + 100, bytes.size());
  EXPECT_EQ(2u, le32(bytes, 4));
  EXPECT_EQ(" NEW ", std::string(bytes.begin() + 275, bytes.begin() + 280));
}

TEST_F(Records, ManyAppendsReadBackBeforeAndAfterCommit) {
  make("t.dbf", 0);
  open("t");
  const int n = 12000;  // several write-behind blocks
  for (int i = 1; i <= n; ++i) {
    ASSERT_TRUE(DBAPPEND());
    field_put("QTD", Value::int32(i % 100000));
    field_put("CODIGO", std::to_string(i));
  }
  // Records still in the write-behind buffer read back like the others.
  for (int r : {1, 5000, 11999, 12000}) {
    DBGOTO(r);
    EXPECT_EQ(r, field_get("QTD").num().i) << r;
  }
  DBGOTO(7);
  field_put("NOME", "CHANGED");
  DBCOMMIT();
  std::vector<std::uint8_t> bytes = read_bytes(path("t.dbf"));
  ASSERT_EQ(225u + n * 50u, bytes.size());
  EXPECT_EQ(static_cast<std::uint32_t>(n), le32(bytes, 4));
  EXPECT_EQ("CHANGED",
            std::string(bytes.begin() + 225 + 6 * 50 + 6, bytes.begin() + 225 + 6 * 50 + 13));
  EXPECT_EQ(" 12000", std::string(bytes.end() - 50, bytes.end() - 44));
  DBGOTOP();
  int seen = 0;
  while (!DBEOF()) {
    ++seen;
    ASSERT_EQ(seen, field_get("QTD").num().i);
    DBSKIP();
  }
  EXPECT_EQ(n, seen);
}

TEST_F(Records, FlushEverythingWritesPendingRecordsAndHeaders) {
  make("t.dbf", 0);
  make("u.dbf", 1);
  open("t");
  for (int i = 0; i < 3; ++i) DBAPPEND();
  field_put("CODIGO", "LAST");
  open("u");
  DBGOTOP();
  field_put("CODIGO", "EDIT");
  WorkAreas::get().flush_all_quietly();
  std::vector<std::uint8_t> t = read_bytes(path("t.dbf"));
  ASSERT_EQ(225u + 150, t.size());
  EXPECT_EQ(3u, le32(t, 4));
  EXPECT_EQ(" LAST", std::string(t.begin() + 325, t.begin() + 330));
  std::vector<std::uint8_t> u = read_bytes(path("u.dbf"));
  EXPECT_EQ(" EDIT", std::string(u.begin() + 225, u.begin() + 230));
}

TEST_F(Records, ReplaceRecordImage) {
  make("t.dbf", 1);
  open("t");
  auto* area = dynamic_cast<DbfArea*>(WorkAreas::get().current());
  ASSERT_NE(nullptr, area);
  std::string image = std::string("D") + "12345" + "ABCDEFGHIJKLMNOPQRST" + "    123.45" + "   99" +
                      "20240101" + "Y";
  ASSERT_EQ(50u, image.size());
  DBGOTOP();
  ASSERT_TRUE(area->put_record_image(reinterpret_cast<const std::uint8_t*>(image.data()), 50));
  EXPECT_TRUE(DELETED());
  EXPECT_EQ("12345", field_get("CODIGO").str());
  EXPECT_DOUBLE_EQ(123.45, field_get("VALOR").num().as_double());
  EXPECT_TRUE(field_get("ATIVO").log());
  image[0] = 'E';
  ASSERT_TRUE(area->put_record_image(reinterpret_cast<const std::uint8_t*>(image.data()), 50));
  EXPECT_FALSE(DELETED());
  DBGOTO(0);
  ASSERT_TRUE(area->put_record_image(reinterpret_cast<const std::uint8_t*>(image.data()), 50));
  DBCLOSEAREA();
  std::vector<std::uint8_t> bytes = read_bytes(path("t.dbf"));
  ASSERT_EQ(225u + 50 + 1, bytes.size());
  image[0] = ' ';
  EXPECT_EQ(image, std::string(bytes.begin() + 225, bytes.begin() + 275));
}

TEST_F(Records, DeletedRecordsAreVisitedUnlessHidden) {
  make("t.dbf", 4);
  open("t");
  DBGOTO(2);
  DBDELETE();
  DBGOTO(4);
  DBDELETE();
  std::vector<std::uint32_t> seen;
  for (DBGOTOP(); !DBEOF(); DBSKIP()) seen.push_back(RECNO());
  EXPECT_EQ((std::vector<std::uint32_t>{1, 2, 3, 4}), seen);
  rt_.settings().deleted = true;
  seen.clear();
  for (DBGOTOP(); !DBEOF(); DBSKIP()) seen.push_back(RECNO());
  EXPECT_EQ((std::vector<std::uint32_t>{1, 3}), seen);
  DBGOTO(3);
  DBSKIP(-1);
  EXPECT_EQ(1u, RECNO());
  DBSKIP(-1);  // from the first passing record: the top again, BOF set
  EXPECT_EQ(1u, RECNO());
  EXPECT_TRUE(DBBOF());
  rt_.settings().deleted = false;
  DBCLOSEAREA();
  std::vector<std::uint8_t> bytes = read_bytes(path("t.dbf"));
  EXPECT_EQ('*', bytes[225 + 50]);
  EXPECT_EQ('*', bytes[225 + 150]);
  EXPECT_EQ(' ', bytes[225]);
}

TEST_F(Records, FilterPassesOverRejectedRecords) {
  make("t.dbf", 6);
  open("t");
  Area* a = WorkAreas::get().current();
  int evaluations = 0;
  a->set_filter(
      [&] {
        ++evaluations;
        return Value::logical(field_get("QTD").num().i % 2 == 0);
      },
      "QTD % 2 = 0");
  std::vector<std::uint32_t> seen;
  for (DBGOTOP(); !DBEOF(); DBSKIP()) seen.push_back(RECNO());
  EXPECT_EQ((std::vector<std::uint32_t>{2, 4, 6}), seen);
  EXPECT_GE(evaluations, 6);
  DBGOTOP();
  DBSKIP(-1);
  EXPECT_EQ(2u, RECNO());
  EXPECT_TRUE(DBBOF());
  a->set_filter([] { return Value::logical(false); }, "");
  DBGOTOP();
  EXPECT_TRUE(DBEOF());
  a->set_filter([] { return Value::string("x"); }, "");  // not a logical: passes
  DBGOTOP();
  EXPECT_EQ(1u, RECNO());
  EXPECT_EQ(1u, WorkAreas::get().summary().size());
}

TEST_F(Records, ZapOfASharedTableIsRefusedAndChangesNothing) {
  make("t.dbf", 2);
  std::vector<std::uint8_t> before = read_bytes(path("t.dbf"));
  open("t", Value::logical(true));
  EXPECT_THROW(cmd::DBZAP(), HandlerBreak);
  ASSERT_EQ(1u, rec_.size());
  EXPECT_EQ(kErrExclusiveRequired, rec_.last().gencode);
  EXPECT_EQ("Exclusive required", rec_.last().description);
  EXPECT_EQ(1023, rec_.last().subcode);
  EXPECT_EQ(0, rec_.last().flags());
  EXPECT_EQ(2u, LASTREC());
  DBCLOSEALL();
  EXPECT_EQ(before, read_bytes(path("t.dbf")));
}

TEST_F(Records, ReadOnlyTablesRefuseEveryChange) {
  make("t.dbf", 2);
  open("t", {}, Value::logical(true));
  DBGOTOP();
  EXPECT_THROW(field_put("NOME", "X"), HandlerBreak);
  EXPECT_THROW(DBAPPEND(), HandlerBreak);
  EXPECT_THROW(cmd::DBZAP(), HandlerBreak);
  ASSERT_EQ(3u, rec_.size());
  for (const ErrorObject& e : rec_.errors()) {
    EXPECT_EQ(kErrReadonly, e.gencode);
    EXPECT_EQ("Write not allowed", e.description);
    EXPECT_EQ(1025, e.subcode);
  }
  EXPECT_EQ("NAME 1", field_get("NOME").str().substr(0, 6));
}

TEST_F(Records, SharedTablesSeeEachOthersAppendsAndNeedLocks) {
  make("s.dbf", 1);
  ASSERT_TRUE(DBUSEAREA(true, {}, "s", "ONE", Value::logical(true)));
  ASSERT_TRUE(DBUSEAREA(true, {}, "s", "TWO", Value::logical(true)));
  DBSELECTAREA("ONE");
  ASSERT_TRUE(DBAPPEND());
  field_put("CODIGO", "SHARE");
  DBGOTOP();  // writes the record and the header at once
  DBSELECTAREA("TWO");
  EXPECT_EQ(2u, LASTREC());
  DBGOTO(2);
  EXPECT_EQ("SHARE", field_get("CODIGO").str());
  EXPECT_THROW(field_put("CODIGO", "NOLOCK"), HandlerBreak);
  ASSERT_FALSE(rec_.empty());
  EXPECT_EQ(kErrLockRequired, rec_.errors().front().gencode);
  EXPECT_EQ(1022, rec_.errors().front().subcode);
  EXPECT_EQ(2u, le32(read_bytes(path("s.dbf")), 4));
}

TEST_F(Records, ARecordLockThatCannotBeHadRaisesALockFailure) {
  make("s.dbf", 2);
  make("x.dbf", 1);
  ASSERT_TRUE(DBUSEAREA(true, {}, "s", "ONE", Value::logical(true)));
  auto* one = dynamic_cast<DbfArea*>(WorkAreas::get().current());
  ASSERT_TRUE(DBUSEAREA(true, {}, "s", "TWO", Value::logical(true)));
  auto* two = dynamic_cast<DbfArea*>(WorkAreas::get().current());
  ASSERT_TRUE(DBUSEAREA(true, {}, "x"));  // exclusive: needs no lock
  auto* excl = dynamic_cast<DbfArea*>(WorkAreas::get().current());
  ASSERT_TRUE(one && two && excl);
  enum class Answer { None, Default, OtherLetsGoAndRetry };
  struct Case {
    const char* what;
    DbfArea* area;
    RecNo recno;
    Answer answer;
    bool locked;
  } cases[] = {
      {"a free record", one, 1, Answer::None, true},
      {"a record this opener holds", one, 1, Answer::None, true},
      {"held by the other opener, default", two, 1, Answer::Default, false},
      {"the other opener lets go, retry", two, 1, Answer::OtherLetsGoAndRetry, true},
      {"an exclusive table", excl, 1, Answer::None, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<ErrorObject> seen;
    rt_.install_handler([&](ErrorObject& e) {
      seen.push_back(e);
      if (c.answer == Answer::OtherLetsGoAndRetry) one->unlock_all();
      return Value::logical(c.answer == Answer::OtherLetsGoAndRetry);
    });
    EXPECT_EQ(c.locked, c.area->lock_record(c.recno));
    ASSERT_EQ(c.answer == Answer::None ? 0u : 1u, seen.size());
    if (seen.empty()) continue;
    const ErrorObject& e = seen[0];
    EXPECT_EQ(kErrLock, e.gencode);
    EXPECT_EQ("Lock Failure", e.description);
    EXPECT_EQ(1038, e.subcode);
    EXPECT_EQ("DBFNTX", e.subsystem);
    EXPECT_EQ("s.dbf", e.filename);
    EXPECT_EQ(kOsFileInUse, e.oscode);
    EXPECT_EQ(kCanRetry | kCanDefault, e.flags());
  }
  // The record lock of an append is the append's own: one "Append lock failed", no lock
  // failure before it.
  ASSERT_TRUE(two->lock_record(3));  // the record the next append would be
  std::vector<ErrorObject> seen;
  rt_.install_handler([&](ErrorObject& e) {
    seen.push_back(e);
    return Value::logical(false);
  });
  DBSELECTAREA("ONE");
  EXPECT_FALSE(DBAPPEND(false));
  ASSERT_EQ(1u, seen.size());
  EXPECT_EQ(kErrAppendLock, seen[0].gencode);
  EXPECT_EQ(1024, seen[0].subcode);
  DBCLOSEALL();  // before the handler's captures go
}

TEST_F(Records, ReadErrorsAreRetried) {
  make("t.dbf", 2);
  open("t");
  int failures = 1;
  set_io_fault_hook(
      [&](IoOp op, const std::string&, std::uint64_t offset, std::size_t, IoFault& f) {
        if (op != IoOp::Read || offset < 225 || failures == 0) return false;
        --failures;
        f.allow = 10;
        f.oscode = 23;
        return true;
      });
  rec_.set_retries(1);
  DBGOTOP();
  Value v = field_get("CODIGO");
  set_io_fault_hook(nullptr);
  EXPECT_EQ("00001", v.str());
  ASSERT_EQ(1u, rec_.size());
  EXPECT_EQ(kErrRead, rec_.last().gencode);
  EXPECT_EQ(1010, rec_.last().subcode);
  EXPECT_EQ(23, rec_.last().oscode);
  EXPECT_EQ("t.dbf", rec_.last().filename);
  EXPECT_EQ(kCanRetry | kCanDefault, rec_.last().flags());
}

TEST_F(Records, WriteErrorsKeepTheTableOpenAndItsRecords) {
  make("t.dbf", 0);
  open("t");
  for (int i = 1; i <= 3; ++i) {
    DBAPPEND();
    field_put("QTD", Value::int32(i));
  }
  set_io_fault_hook([](IoOp op, const std::string&, std::uint64_t, std::size_t, IoFault& f) {
    if (op != IoOp::Write) return false;
    f.allow = 0;
    f.oscode = kOsDiskFull;
    return true;
  });
  EXPECT_THROW(DBCLOSEAREA(), HandlerBreak);
  set_io_fault_hook(nullptr);
  ASSERT_EQ(1u, rec_.size());
  EXPECT_EQ(kErrWrite, rec_.last().gencode);
  EXPECT_EQ(1011, rec_.last().subcode);
  EXPECT_EQ(kOsDiskFull, rec_.last().oscode);
  ASSERT_NE(nullptr, WorkAreas::get().current());  // a failed close keeps the table
  DBCLOSEAREA();
  std::vector<std::uint8_t> bytes = read_bytes(path("t.dbf"));
  ASSERT_EQ(225u + 150, bytes.size());
  EXPECT_EQ(3u, le32(bytes, 4));
}

TEST_F(Records, AFailedWriteLeavesAHeaderCountingOnlyTheRecordsInTheFile) {
  make("t.dbf", 0);
  {
    Runtime inner;
    ErrorRecorder rec(inner);  // quits on the write error, as the frame does
    ASSERT_TRUE(DBUSEAREA(true, {}, "t"));
    for (int i = 1; i <= 5; ++i) {
      DBAPPEND();
      field_put("QTD", Value::int32(i));
    }
    // The disk fills up 20 bytes into the third record; bytes already in the file (the
    // header) can still be rewritten.
    const std::uint64_t limit = 225 + 2 * 50 + 20;
    set_io_fault_hook(
        [&](IoOp op, const std::string&, std::uint64_t offset, std::size_t n, IoFault& f) {
          if (op != IoOp::Write || offset + n <= limit) return false;
          f.allow = offset < limit ? static_cast<std::size_t>(limit - offset) : 0;
          f.oscode = kOsDiskFull;
          return true;
        });
    DBCLOSEAREA();
    inner.release_services();
    set_io_fault_hook(nullptr);
    ASSERT_FALSE(rec.empty());
    EXPECT_EQ(kErrWrite, rec.errors().front().gencode);
    EXPECT_EQ(1011, rec.errors().front().subcode);
  }
  // Two whole records reached the file; the partial third is cut off behind 0x1A.
  std::vector<std::uint8_t> bytes = read_bytes(path("t.dbf"));
  ASSERT_EQ(225u + 2 * 50 + 1, bytes.size());
  EXPECT_EQ(2u, le32(bytes, 4));
  EXPECT_EQ(0x1A, bytes.back());
}

// The standard table: header 225 bytes, records of 50.
constexpr std::uint64_t kHeader = 225, kRecord = 50;

std::string code_of(std::uint32_t recno) {
  char code[16];
  std::snprintf(code, sizeof code, "%05u", recno);
  return code;
}

TEST_F(Records, RandomVisitsReadEachByteAFewTimesAndScansReadLargeWindows) {
  // 1.5 MB of records: more than one table's block cache holds, and more than the
  // resident budget of this test, so the table is not kept in memory.
  ResidentBudget none(0);
  constexpr std::uint32_t kCount = 30000;
  make("t.dbf", static_cast<int>(kCount));
  open("t");
  std::vector<std::uint32_t> order(kCount);
  std::iota(order.begin(), order.end(), 1u);
  std::shuffle(order.begin(), order.end(), std::mt19937(7));
  const std::uint64_t end = kHeader + kCount * kRecord;
  {
    IoCounter io;
    for (std::uint32_t r : order) {
      DBGOTO(r);
      ASSERT_EQ(code_of(r), field_get("CODIGO").str());
    }
    // A record out of sequence comes with at most three neighbours: no byte is read
    // more than four times, and no visit takes more than one read.
    EXPECT_LE(io.most_reads_of_a_byte("t.dbf", kHeader, end), 4);
    EXPECT_LE(io.of(IoOp::Read, "t.dbf").size(), kCount);
    EXPECT_LE(io.bytes(IoOp::Read, "t.dbf"), 4 * kCount * kRecord);
  }
  {
    IoCounter io;
    std::uint32_t seen = 0;
    for (DBGOTOP(); !DBEOF(); DBSKIP(1)) {
      ASSERT_EQ(code_of(++seen), field_get("CODIGO").str());
    }
    EXPECT_EQ(kCount, seen);
    // The first record may come as a random visit; from then on 64 KB windows.
    EXPECT_EQ(1, io.most_reads_of_a_byte("t.dbf", kHeader, end));
    EXPECT_LE(io.of(IoOp::Read, "t.dbf").size(), kCount * kRecord / 65536 + 3);
  }
  // Every second record forward is still a sequential pass.
  {
    IoCounter io;
    for (std::uint32_t r = 1; r <= kCount; r += 2) {
      DBGOTO(r);
      ASSERT_EQ(code_of(r), field_get("CODIGO").str());
    }
    EXPECT_EQ(1, io.most_reads_of_a_byte("t.dbf", kHeader, end));
  }
  EXPECT_TRUE(rec_.empty());
}

// A table that fits in the resident budget is kept in memory from its first visit out of
// sequence: a pass in any order then reads each byte once, later passes read nothing,
// and closing the table gives its share of the budget back.
TEST_F(Records, ATableReadOutOfSequenceIsKeptInMemoryWhenItFits) {
  constexpr std::uint32_t kCount = 30000;
  make("t.dbf", static_cast<int>(kCount));
  make("u.dbf", static_cast<int>(kCount));
  const std::uint64_t end = kHeader + kCount * kRecord;
  ResidentBudget room_for_one(kCount * kRecord + 64 * 1024);
  ASSERT_EQ(0u, RecordFile::resident_reserved());
  open("t");
  open("u");
  std::vector<std::uint32_t> order(kCount);
  std::iota(order.begin(), order.end(), 1u);
  std::shuffle(order.begin(), order.end(), std::mt19937(11));
  {
    IoCounter io;
    for (const char* alias : {"T", "U"}) {
      DBSELECTAREA(alias);
      for (int pass = 0; pass < 2; ++pass) {
        for (std::uint32_t r : order) {
          DBGOTO(r);
          ASSERT_EQ(code_of(r), field_get("CODIGO").str());
        }
      }
    }
    // The first table fits: each of its bytes once, in chunks of 64 KB.
    EXPECT_EQ(1, io.most_reads_of_a_byte("t.dbf", kHeader, end));
    EXPECT_LE(io.of(IoOp::Read, "t.dbf").size(), kCount * kRecord / 65000 + 1);
    // The budget is then used up: the second reads a small block for each miss.
    EXPECT_GT(io.of(IoOp::Read, "u.dbf").size(), kCount / 4);
  }
  EXPECT_GT(RecordFile::resident_reserved(), 0u);
  DBCLOSEALL();
  EXPECT_EQ(0u, RecordFile::resident_reserved());
  EXPECT_TRUE(rec_.empty());
}

// Two sequential passes that take turns (seeks that land alternately in two ranges of
// records) each read ahead in a window of their own.
TEST_F(Records, InterleavedSequentialPassesEachKeepAWindow) {
  ResidentBudget none(0);
  constexpr std::uint32_t kCount = 20000;
  make("t.dbf", static_cast<int>(kCount));
  open("t");
  IoCounter io;
  for (std::uint32_t r = 1; r <= kCount / 2; ++r) {
    for (std::uint32_t at : {r, r + kCount / 2}) {
      DBGOTO(at);
      ASSERT_EQ(code_of(at), field_get("CODIGO").str());
    }
  }
  // Only where the first pass's window reaches into the second's records is a byte read
  // twice.
  EXPECT_LE(io.most_reads_of_a_byte("t.dbf", kHeader, kHeader + kCount * kRecord), 2);
  EXPECT_LE(io.bytes(IoOp::Read, "t.dbf"), kCount * kRecord + 2 * 65536);
  EXPECT_LE(io.of(IoOp::Read, "t.dbf").size(), 2 * (kCount / 2 * kRecord / 65536 + 3));
  EXPECT_TRUE(rec_.empty());
}

// A record rewritten in place while a read-ahead window holds it changes there and goes
// to the file with the other changes near it, one write per changed run, when the window
// moves on or the table is committed; one that only the block cache or no buffer holds
// is written alone at once. Either way every buffer reads it back changed.
TEST_F(Records, ARecordRewrittenInPlaceIsWrittenAloneAndReadBackFromEveryBuffer) {
  ResidentBudget none(0);
  make("t.dbf", 5000);
  open("t");
  DBGOTOP();
  field_get("CODIGO");  // record 1 and its read-ahead window
  struct Case {
    const char* what;
    std::uint32_t recno;
    bool held;  // changed in a buffer, written at the commit
  } cases[] = {
      {"a record in the read-ahead window", 3, true},
      {"a record read at random, in the block cache", 2502, false},
      {"its neighbour in the same block", 2501, false},
      {"a record that no buffer holds", 4000, false},
      {"another record of the window", 5, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DBGOTO(c.recno);
    ASSERT_EQ(code_of(c.recno), field_get("CODIGO").str());
    IoCounter io;
    field_put("CODIGO", "X" + code_of(c.recno).substr(1));
    DBGOTO(c.recno == 2502 ? 2501 : 1);
    std::vector<IoCounter::Transfer> writes = io.of(IoOp::Write, "t.dbf");
    ASSERT_EQ(c.held ? 0u : 1u, writes.size());
    if (!c.held) {
      EXPECT_EQ(kHeader + (c.recno - 1) * kRecord, writes[0].offset);
      EXPECT_EQ(kRecord, writes[0].n);
    }
    DBGOTO(c.recno);
    EXPECT_EQ("X" + code_of(c.recno).substr(1), field_get("CODIGO").str());
  }
  {
    // Records 3 and 5 changed in the window: one write of 3 to 5 (4 as it was).
    IoCounter io;
    DBCOMMIT();
    std::vector<IoCounter::Transfer> writes = io.of(IoOp::Write, "t.dbf");
    ASSERT_LE(1u, writes.size());
    EXPECT_EQ(kHeader + 2 * kRecord, writes[0].offset);
    EXPECT_EQ(3 * kRecord, writes[0].n);
  }
  DBCLOSEALL();
  std::vector<std::uint8_t> bytes = read_bytes(path("t.dbf"));
  EXPECT_EQ('X', bytes[kHeader + 2501 * kRecord + 1]);  // record 2502, after the flag
  EXPECT_EQ('0', bytes[kHeader + 2502 * kRecord + 1]);  // record 2503 as it was
  EXPECT_EQ('X', bytes[kHeader + 2 * kRecord + 1]);     // record 3
  EXPECT_EQ('0', bytes[kHeader + 3 * kRecord + 1]);     // record 4 as it was
  EXPECT_EQ('X', bytes[kHeader + 4 * kRecord + 1]);     // record 5
  EXPECT_TRUE(rec_.empty());
}

TEST_F(Records, NoBufferOutlivesAZapOrAnotherOpenersChange) {
  make("t.dbf", 100);
  open("t");
  DBGOTO(60);
  field_get("CODIGO");  // records 57..60 in the block cache
  DBGOTOP();
  field_get("CODIGO");  // the read-ahead window
  cmd::DBZAP();
  for (int i = 1; i <= 60; ++i) {
    DBAPPEND();
    field_put("NOME", "NEW " + std::to_string(i));
  }
  DBCOMMIT();
  for (std::uint32_t r : {60u, 1u, 59u}) {
    DBGOTO(r);
    std::string name = "NEW " + std::to_string(r);
    EXPECT_EQ(name + std::string(20 - name.size(), ' '), field_get("NOME").str());
  }
  DBCLOSEALL();

  // A shared table reads each record from the file: what another opener wrote shows.
  ASSERT_TRUE(DBUSEAREA(true, {}, "t", "ONE", Value::logical(true)));
  ASSERT_TRUE(DBUSEAREA(true, {}, "t", "TWO", Value::logical(true)));
  DBGOTO(2);
  ASSERT_EQ("NEW 2", field_get("NOME").str().substr(0, 5));
  DBSELECTAREA("ONE");
  DBGOTO(2);
  auto* one = dynamic_cast<DbfArea*>(WorkAreas::get().current());
  ASSERT_TRUE(one->lock_record(2));
  field_put("NOME", "OTHER");
  DBGOTO(1);
  DBSELECTAREA("TWO");
  DBGOTO(1);
  field_get("NOME");
  DBGOTO(2);
  EXPECT_EQ("OTHER", field_get("NOME").str().substr(0, 5));
  EXPECT_TRUE(rec_.empty());
}

TEST_F(Records, RuntimeEndClosesTablesAndWritesThem) {
  make("t.dbf", 0);
  {
    Runtime inner;
    ErrorRecorder rec(inner);
    ASSERT_TRUE(DBUSEAREA(true, {}, "t"));
    DBAPPEND();
    field_put("CODIGO", "BYE");
    inner.release_services();
    EXPECT_TRUE(rec.empty());
  }
  std::vector<std::uint8_t> bytes = read_bytes(path("t.dbf"));
  ASSERT_EQ(275u, bytes.size());
  EXPECT_EQ(1u, le32(bytes, 4));
}

}  // namespace
}  // namespace lum::test
