// The record file on its own: appends held and written behind, reads through the
// buffers, rewrites that reach every buffer, and what the file holds after a write or
// read fails part-way (through the file layer's fault seam).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "table/record_file.h"
#include "tests/support/fault_injector.h"
#include "tests/support/io_counter.h"
#include "tests/support/temp_dir.h"
#include "tests/table/table_fixture.h"
#include "tools/sample/dbf_builder.h"

namespace lum::test {
namespace {

using sample::read_bytes;
using sample::write_bytes;

// A file of a 32-byte header and records of 10 bytes: record n is "n" in digits,
// padded with the letter of the file's generation.
constexpr std::uint64_t kHeader = 32;
constexpr std::size_t kLen = 10;

std::vector<std::uint8_t> record(RecNo n, char fill = '.') {
  std::string s = std::to_string(n);
  s.resize(kLen, fill);
  return {s.begin(), s.end()};
}

class RecordFileTest : public ::testing::Test {
 protected:
  // Writes the file with `records` records (and `tail` bytes of garbage after them) and
  // attaches the record file to it.
  void make(RecNo records, bool shared = false, std::size_t tail = 0) {
    std::vector<std::uint8_t> bytes(kHeader, 'H');
    for (RecNo n = 1; n <= records; ++n) {
      std::vector<std::uint8_t> r = record(n);
      bytes.insert(bytes.end(), r.begin(), r.end());
    }
    bytes.insert(bytes.end(), tail, 'G');
    write_bytes(path(), bytes);
    ASSERT_EQ(kOsOk, file_.open(path().string(), FileAccess::ReadWrite,
                                shared ? FileShare::Shared : FileShare::Exclusive));
    RecordFile::Shape shape;
    shape.header_len = kHeader;
    shape.record_len = kLen;
    shape.shared = shared;
    rf_.attach(file_, shape);
  }
  std::filesystem::path path() const { return dir_ / "t.dbf"; }
  std::string read(RecNo n, RecNo count) {
    std::uint8_t buf[kLen];
    int oscode = kOsOk;
    if (!rf_.read(n, count, buf, oscode)) return "failed " + std::to_string(oscode);
    return std::string(buf, buf + kLen);
  }
  static std::string text(const std::vector<std::uint8_t>& r) { return {r.begin(), r.end()}; }
  // The records in the file as it is on disk now.
  std::vector<std::string> on_disk() {
    std::vector<std::uint8_t> bytes = read_bytes(path());
    std::vector<std::string> out;
    for (std::size_t at = kHeader; at + kLen <= bytes.size(); at += kLen) {
      out.emplace_back(bytes.begin() + at, bytes.begin() + at + kLen);
    }
    return out;
  }

  TempDir dir_;
  File file_;
  RecordFile rf_;
};

TEST_F(RecordFileTest, AppendsAreHeldReadBackAndWrittenInOneBlock) {
  make(3);
  RecNo count = 3;
  {
    IoCounter io;
    for (RecNo n = 4; n <= 103; ++n) {
      ASSERT_TRUE(rf_.write(n, record(n).data(), true, ++count).ok());
    }
    // A held record rewritten (a write-back of the record being appended) changes there.
    ASSERT_TRUE(rf_.write(50, record(50, 'x').data(), false, count).ok());
    EXPECT_EQ(text(record(50, 'x')), read(50, count));
    EXPECT_EQ(text(record(103)), read(103, count));
    // A read of the file (record 2 with its block) stops short of the held records.
    EXPECT_EQ(text(record(2)), read(2, count));
    EXPECT_TRUE(io.of(IoOp::Write, "t.dbf").empty());
    std::vector<IoCounter::Transfer> reads = io.of(IoOp::Read, "t.dbf");
    ASSERT_EQ(1u, reads.size());
    EXPECT_EQ(kHeader, reads[0].offset);
    EXPECT_EQ(3 * kLen, reads[0].n);
  }
  EXPECT_EQ(3u, on_disk().size());
  EXPECT_TRUE(rf_.holds_appends());
  {
    IoCounter io;
    ASSERT_TRUE(rf_.flush(count).ok());
    std::vector<IoCounter::Transfer> writes = io.of(IoOp::Write, "t.dbf");
    ASSERT_EQ(1u, writes.size());
    EXPECT_EQ(kHeader + 3 * kLen, writes[0].offset);
    EXPECT_EQ(100 * kLen, writes[0].n);
    // Read back from the buffers that now hold them, not from the file again.
    EXPECT_EQ(text(record(50, 'x')), read(50, count));
    EXPECT_EQ(text(record(51)), read(51, count));
  }
  EXPECT_FALSE(rf_.holds_appends());
  std::vector<std::string> disk = on_disk();
  ASSERT_EQ(103u, disk.size());
  EXPECT_EQ(text(record(50, 'x')), disk[49]);
  EXPECT_EQ(text(record(103)), disk[102]);
}

TEST_F(RecordFileTest, ARewriteInPlaceIsHeldWhereItIsReadAheadElseWrittenAtOnce) {
  {
    ResidentBudget none(0);  // read out of sequence through the block cache
    make(20000);
    ASSERT_EQ(text(record(1)), read(1, 20000));          // the read-ahead window from 1 on
    ASSERT_EQ(text(record(10702)), read(10702, 20000));  // 10701..10704 in the block cache
    struct Case {
      RecNo recno;
      bool held;
    } cases[] = {{3, true}, {10702, false}, {10701, false}, {15000, false}, {5, true}};
    for (const Case& c : cases) {
      SCOPED_TRACE(c.recno);
      IoCounter io;
      ASSERT_TRUE(rf_.write(c.recno, record(c.recno, 'w').data(), false, 20000).ok());
      std::vector<IoCounter::Transfer> writes = io.of(IoOp::Write, "t.dbf");
      ASSERT_EQ(c.held ? 0u : 1u, writes.size());
      if (!c.held) {
        EXPECT_EQ(kHeader + (c.recno - 1) * kLen, writes[0].offset);
        EXPECT_EQ(kLen, writes[0].n);
      }
      EXPECT_EQ(text(record(c.recno, 'w')), read(c.recno, 20000));
      EXPECT_EQ(c.held ? text(record(c.recno)) : text(record(c.recno, 'w')),
                on_disk()[c.recno - 1]);
    }
    EXPECT_TRUE(rf_.holds_changes());
    IoCounter io;
    ASSERT_TRUE(rf_.flush(20000).ok());
    // Records 3 and 5 in one write, 4 with them as it was.
    std::vector<IoCounter::Transfer> writes = io.of(IoOp::Write, "t.dbf");
    ASSERT_EQ(1u, writes.size());
    EXPECT_EQ(kHeader + 2 * kLen, writes[0].offset);
    EXPECT_EQ(3 * kLen, writes[0].n);
    EXPECT_FALSE(rf_.holds_changes());
    std::vector<std::string> disk = on_disk();
    EXPECT_EQ(text(record(3, 'w')), disk[2]);
    EXPECT_EQ(text(record(4)), disk[3]);
    EXPECT_EQ(text(record(5, 'w')), disk[4]);
    rf_.detach();
    file_.close();
  }
  // Kept in memory after a visit out of sequence: every rewrite is held in its chunk.
  make(1000);
  ASSERT_EQ(text(record(702)), read(702, 1000));
  IoCounter io;
  for (RecNo n : {20u, 10u, 15u})
    ASSERT_TRUE(rf_.write(n, record(n, 'w').data(), false, 1000).ok());
  EXPECT_TRUE(io.of(IoOp::Write, "t.dbf").empty());
  EXPECT_EQ(text(record(15, 'w')), read(15, 1000));
  ASSERT_TRUE(rf_.flush(1000).ok());
  std::vector<IoCounter::Transfer> writes = io.of(IoOp::Write, "t.dbf");
  ASSERT_EQ(1u, writes.size());
  EXPECT_EQ(kHeader + 9 * kLen, writes[0].offset);
  EXPECT_EQ(11 * kLen, writes[0].n);
  EXPECT_EQ(text(record(10, 'w')), on_disk()[9]);
  EXPECT_EQ(text(record(11)), on_disk()[10]);
}

// Changes held in a window that cannot be written keep it where it is: the read that
// would move it on reads its record from the file instead, and the changes stay held
// until a flush writes them.
TEST_F(RecordFileTest, AWindowWhoseChangesCannotBeWrittenStaysAndKeepsThem) {
  ResidentBudget none(0);
  make(20000);
  ASSERT_EQ(text(record(1)), read(1, 20000));
  ASSERT_TRUE(rf_.write(2, record(2, 'w').data(), false, 20000).ok());
  // Every write fails meanwhile.
  set_io_fault_hook([](IoOp op, const std::string&, std::uint64_t, std::size_t, IoFault& f) {
    if (op != IoOp::Write) return false;
    f.allow = 0;
    f.oscode = kOsDiskFull;
    return true;
  });
  for (RecNo n = 2; n <= 10000; ++n) {
    ASSERT_EQ(text(record(n, n == 2 ? 'w' : '.')), read(n, 20000));
  }
  RecordFile::WriteResult w = rf_.flush(20000);
  set_io_fault_hook(nullptr);
  EXPECT_EQ(kOsDiskFull, w.oscode);
  EXPECT_FALSE(w.settled);
  EXPECT_TRUE(rf_.holds_changes());
  EXPECT_EQ(text(record(2, 'w')), read(2, 20000));
  ASSERT_TRUE(rf_.flush(20000).ok());
  EXPECT_EQ(text(record(2, 'w')), on_disk()[1]);
}

// A window that reads records another window has changed (and not yet written) reads
// them changed: after the first window has moved on, the second still gives the change.
TEST_F(RecordFileTest, AWindowReadOverAnotherWindowsChangesHoldsThemChanged) {
  ResidentBudget none(0);
  make(20000);
  auto read_all = [&](RecNo from, RecNo to) {
    for (RecNo n = from; n <= to; ++n) {
      ASSERT_EQ(text(record(n, n == 6000 ? 'w' : '.')), read(n, 20000)) << n;
    }
  };
  read_all(5000, 5001);  // a pass whose window holds 5001..11553
  ASSERT_TRUE(rf_.write(6000, record(6000, 'w').data(), false, 20000).ok());
  read_all(4990, 4993);   // a second pass, whose window from 4993 on covers 6000
  read_all(5002, 11554);  // the first moves on and writes its change
  EXPECT_EQ(text(record(6000, 'w')), on_disk()[5999]);
  EXPECT_EQ(text(record(6000, 'w')), read(6000, 20000));  // from the second window
}

TEST_F(RecordFileTest, AFlushThatFailsPartWayLeavesWholeRecordsAndKeepsTheRestHeld) {
  // 3 records in the file and 101 held (1010 bytes).
  struct Case {
    const char* what;
    FaultPlan plan;
    int oscode;  // of the failed flush
    RecNo held;  // whole records in the file afterwards
    bool cut;    // a partial record was cut off behind 0x1A
  } cases[] = {
      {"half the block reaches the disk: 50 records and half of one",
       {.nth = 1, .only = IoOp::Write, .short_transfer = true},
       kOsDiskFull,
       53,
       true},
      {"the disk is full",
       {.nth = 1, .only = IoOp::Write, .disk_full = true},
       kOsDiskFull,
       3,
       false},
      {"the host refuses the write",
       {.nth = 1, .only = IoOp::Write, .oscode = kOsAccessDenied},
       kOsAccessDenied,
       3,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    make(3);
    RecNo count = 3;
    for (RecNo n = 4; n <= 104; ++n)
      ASSERT_TRUE(rf_.write(n, record(n).data(), true, ++count).ok());
    {
      FaultInjector faults(c.plan);
      RecordFile::WriteResult w = rf_.flush(count);
      EXPECT_EQ(c.oscode, w.oscode);
      EXPECT_TRUE(w.settled);
      EXPECT_EQ(c.held, w.held);
    }
    std::vector<std::uint8_t> bytes = read_bytes(path());
    ASSERT_EQ(kHeader + c.held * kLen + (c.cut ? 1 : 0), bytes.size());
    if (c.cut) {
      EXPECT_EQ(0x1A, bytes.back());
    }
    // The records stay held and reach the file at the next flush.
    EXPECT_TRUE(rf_.holds_appends());
    EXPECT_EQ(text(record(80)), read(80, count));
    ASSERT_TRUE(rf_.flush(count).ok());
    std::vector<std::string> disk = on_disk();
    ASSERT_EQ(104u, disk.size());
    EXPECT_EQ(text(record(54)), disk[53]);
    EXPECT_EQ(text(record(104)), disk[103]);
    rf_.detach();
    file_.close();
  }
}

TEST_F(RecordFileTest, AFailedFlushWhoseFileSizeCannotBeReadSettlesNothing) {
  make(3);
  ASSERT_TRUE(rf_.write(4, record(4).data(), true, 4).ok());
  set_io_fault_hook([](IoOp op, const std::string&, std::uint64_t, std::size_t, IoFault& f) {
    if (op != IoOp::Write && op != IoOp::Size) return false;
    f.allow = 0;
    f.oscode = op == IoOp::Size ? 23 : kOsDiskFull;
    return true;
  });
  RecordFile::WriteResult w = rf_.flush(4);
  set_io_fault_hook(nullptr);
  EXPECT_EQ(kOsDiskFull, w.oscode);
  EXPECT_FALSE(w.settled);
  EXPECT_EQ(kHeader + 3 * kLen, read_bytes(path()).size());
}

TEST_F(RecordFileTest, SettlingTheEndCountsWholeRecordsAndCutsTheRest) {
  struct Case {
    const char* what;
    RecNo records;
    std::size_t tail;  // bytes after the records
    RecNo count;       // what the table counts
    RecNo held;
    std::size_t bytes;  // the file's size afterwards
  } cases[] = {
      {"a file that ends with its records stays", 5, 0, 5, 5, kHeader + 5 * kLen},
      {"a partial record is cut off behind 0x1A", 5, 7, 5, 5, kHeader + 5 * kLen + 1},
      {"records past the count are cut off", 5, 0, 2, 2, kHeader + 2 * kLen + 1},
      {"a count beyond the file counts what is there", 5, 3, 9, 5, kHeader + 5 * kLen + 1},
      {"an empty table", 0, 0, 0, 0, kHeader},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    make(c.records, false, c.tail);
    if (c.records > 0) {
      ASSERT_EQ(text(record(1)), read(1, c.records));
    }
    RecordFile::EndResult end = rf_.settle_end(c.count);
    EXPECT_EQ(kOsOk, end.oscode);
    EXPECT_TRUE(end.counted);
    EXPECT_EQ(c.held, end.held);
    EXPECT_EQ(c.bytes, read_bytes(path()).size());
    if (c.held > 0) {
      // After a cut nothing read before it is served from a buffer: the record comes
      // from the file again. A file left as it was keeps its buffers.
      const bool cut = c.bytes != kHeader + c.records * kLen + c.tail;
      IoCounter io;
      EXPECT_EQ(text(record(1)), read(1, c.held));
      EXPECT_EQ(cut ? 1u : 0u, io.of(IoOp::Read, "t.dbf").size());
    }
    rf_.detach();
    file_.close();
  }
}

TEST_F(RecordFileTest, AShortReadKeepsOnlyWholeRecordsAndIsReadAgain) {
  struct Case {
    const char* what;
    std::size_t budget;
    RecNo missing;       // the record asked for, in the half that does not arrive
    RecNo whole;         // a record of the first half, kept
    std::size_t reread;  // bytes of the read that follows
  } cases[] = {
      // A random visit of record 23 reads its block, 21..24; half of it arrives.
      {"the block cache", 0, 23, 21, 4 * kLen},
      // The table is kept in memory: its one chunk, 1..100; the rest is read later.
      {"a table kept in memory", 1 << 20, 80, 20, 50 * kLen},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ResidentBudget budget(c.budget);
    make(100);
    {
      FaultInjector faults({.nth = 1, .only = IoOp::Read, .short_transfer = true});
      EXPECT_EQ("failed 0", read(c.missing, 100));
    }
    IoCounter io;
    EXPECT_EQ(text(record(c.whole)), read(c.whole, 100));  // whole, kept
    EXPECT_TRUE(io.of(IoOp::Read, "t.dbf").empty());
    EXPECT_EQ(text(record(c.missing)), read(c.missing, 100));
    std::vector<IoCounter::Transfer> reads = io.of(IoOp::Read, "t.dbf");
    ASSERT_EQ(1u, reads.size());
    EXPECT_EQ(c.reread, reads[0].n);
    rf_.detach();
    file_.close();
  }
}

TEST_F(RecordFileTest, ASharedFileReadsAndWritesEveryRecordThroughToTheFile) {
  make(10, true);
  IoCounter io;
  for (int pass = 0; pass < 2; ++pass) {
    for (RecNo n = 1; n <= 10; ++n) ASSERT_EQ(text(record(n)), read(n, 10));
  }
  EXPECT_EQ(20u, io.of(IoOp::Read, "t.dbf").size());
  ASSERT_TRUE(rf_.write(11, record(11).data(), true, 11).ok());
  EXPECT_FALSE(rf_.holds_appends());
  EXPECT_EQ(1u, io.of(IoOp::Write, "t.dbf").size());
  EXPECT_EQ(11u, on_disk().size());
}

}  // namespace
}  // namespace lum::test
