// Work areas: opening by name (extension, alias, default directory and path, sharing
// across processes), alias look-up and selection, closing in order, and every error of
// the open and select failure table.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <thread>

#include "platform/process.h"
#include "table/dbf_area.h"
#include "table/fpt_area.h"
#include "table/names.h"
#include "tests/table/table_fixture.h"

namespace lum::test {

using sample::build_dbf;
using sample::build_memo;
using sample::DbfLayout;
using sample::le32;
using sample::MemoFile;
using sample::read_bytes;
using sample::write_bytes;
using sample::write_dbf;
namespace {

class WorkAreaTest : public TableTest {
 protected:
  void make(const std::string& file, int records = 1) {
    std::filesystem::path p = path(file);
    std::filesystem::create_directories(p.parent_path());
    write_dbf(p, standard_layout(), standard_records(records));
  }
  void expect_error(int gencode, int subcode, const std::string& subsystem,
                    const std::string& operation, int flags) {
    ASSERT_FALSE(rec_.empty());
    const ErrorObject& e = rec_.last();
    EXPECT_EQ(gencode, e.gencode);
    EXPECT_EQ(std::string(generic_description(gencode)), e.description);
    EXPECT_EQ(subcode, e.subcode);
    EXPECT_EQ(subsystem, e.subsystem);
    EXPECT_EQ(operation, e.operation);
    EXPECT_EQ(flags, e.flags());
  }
};

TEST_F(WorkAreaTest, OpensUnderTheDerivedOrGivenAlias) {
  make("cbRec.dbf");
  make("Other.DBF");
  make("lum/firma1/CLIENTES.dbf");
  ASSERT_TRUE(DBUSEAREA(true, {}, "cbRec", "qorec"));
  EXPECT_EQ("QOREC", ALIAS());
  EXPECT_EQ(1u, SELECT());
  EXPECT_FALSE(DBUSEAREA(true, {}, "other", "qorec"));
  expect_error(kErrAliasInUse, 1011, "DBCMD", "QOREC", kCanDefault);
  EXPECT_EQ(2u, SELECT());
  EXPECT_EQ(nullptr, WorkAreas::get().current());  // the new area stays empty
  ASSERT_TRUE(DBUSEAREA(true, {}, "\\lum\\firma1\\clientes"));
  EXPECT_EQ("CLIENTES", ALIAS());
  EXPECT_EQ(2u, SELECT());
  ASSERT_TRUE(DBUSEAREA(true, {}, "OTHER.dbf"));
  EXPECT_EQ("OTHER", ALIAS());
  DBSELECTAREA("clienteS");
  EXPECT_EQ(2u, SELECT());
  DBSELECTAREA("1");
  EXPECT_EQ(1u, SELECT());
  DBSELECTAREA(0);
  EXPECT_EQ(4u, SELECT());
  DBSELECTAREA(Value::int32(70000));
  EXPECT_EQ(4u, SELECT());
  DBSELECTAREA(Value::int32(3));
  EXPECT_EQ("OTHER", ALIAS());
  EXPECT_EQ(1u, rec_.size());
}

TEST_F(WorkAreaTest, ReusingTheCurrentAreaClosesItsTable) {
  make("a.dbf");
  make("lum/firma1/LURBMOV.dbf");
  ASSERT_TRUE(DBUSEAREA(true, {}, "a"));
  DBCLOSEALL();
  ASSERT_TRUE(DBUSEAREA(false, {}, "\\lum\\firma1\\lurbmov"));
  EXPECT_EQ(1u, SELECT());
  EXPECT_EQ("LURBMOV", ALIAS());
  ASSERT_TRUE(DBUSEAREA(Value(), {}, "a"));  // not .T.: the current area again
  EXPECT_EQ(1u, SELECT());
  EXPECT_EQ("A", ALIAS());
  EXPECT_EQ(1u, WorkAreas::get().open_areas().size());
}

TEST_F(WorkAreaTest, AliasesMustBeNames) {
  make("1cbcli.dbf");
  make("ok.dbf");
  EXPECT_FALSE(DBUSEAREA(true, {}, "1cbcli"));
  expect_error(kErrAliasIllegal, 1010, "DBCMD", "1CBCLI", kCanDefault);
  EXPECT_EQ(nullptr, WorkAreas::get().current());
  for (const char* bad : {"A-B", "A B", "9X", "$"}) {
    rec_.clear();
    EXPECT_FALSE(DBUSEAREA(true, {}, "ok", bad)) << bad;
    EXPECT_EQ(kErrAliasIllegal, rec_.last().gencode) << bad;
  }
  EXPECT_TRUE(DBUSEAREA(true, {}, "ok", "_Ok_1  "));
  EXPECT_EQ("_OK_1", ALIAS());
}

TEST_F(WorkAreaTest, ArgumentErrorsOfTheOpen) {
  make("t.dbf");
  EXPECT_THROW(DBUSEAREA(true, "NOSUCH", "t"), HandlerBreak);
  expect_error(kErrArgument, 1015, "DBCMD", "DBUSEAREA", 0);
  EXPECT_THROW(DBUSEAREA(true, {}, {}), HandlerBreak);
  expect_error(kErrArgument, 1005, "DBCMD", "DBUSEAREA", 0);
  EXPECT_THROW(DBUSEAREA(true, {}, ""), HandlerBreak);
  EXPECT_EQ(1005, rec_.last().subcode);
  EXPECT_EQ(nullptr, WorkAreas::get().current());
  // Driver names are case-blind; each driver is the subsystem of its errors.
  for (const char* drv : {"dbf", "DbfFpt", "DBFNTX", ""}) {
    ASSERT_TRUE(DBUSEAREA(true, drv, "t", "T1")) << drv;
    std::string want = *drv ? drv : "DBFNTX";
    for (char& c : want) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(want, WorkAreas::get().current()->driver());
    DBCLOSEAREA();
  }
}

TEST_F(WorkAreaTest, WithEveryAreaTakenANewAreaIsAnArgumentError) {
  make("t.dbf");
  ASSERT_TRUE(DBUSEAREA(true, {}, "t"));  // area 1
  // Every other area holds a table object that is not open: as taken as a real one,
  // without 65533 files.
  WorkAreas& wa = WorkAreas::get();
  for (AreaNumber n = 2; n <= kMaxArea; ++n) wa.attach(n, make_area("DBF"));
  ASSERT_EQ(0u, wa.first_free());
  DBSELECTAREA(Value::int32(1));
  EXPECT_THROW(DBUSEAREA(true, {}, "t", "T2"), HandlerBreak);
  ASSERT_EQ(1u, rec_.size());
  expect_error(kErrArgument, 1015, "DBCMD", "DBUSEAREA", 0);
  EXPECT_EQ(1u, SELECT());  // the current area stays
  EXPECT_EQ("T", ALIAS());
  // Reusing the current area needs no free one.
  EXPECT_TRUE(DBUSEAREA(false, {}, "t", "T2"));
  EXPECT_EQ("T2", ALIAS());
  EXPECT_EQ(1u, rec_.size());
  DBCLOSEALL();
}

TEST_F(WorkAreaTest, OpenErrorsAreRetriedAndNameTheFile) {
  rec_.set_retries(2);
  EXPECT_FALSE(DBUSEAREA(true, {}, "missing"));
  ASSERT_EQ(3u, rec_.size());
  expect_error(kErrOpen, 1001, "DBFNTX", "", kCanRetry | kCanDefault);
  EXPECT_EQ("missing.dbf", rec_.last().filename);
  EXPECT_EQ(kOsFileNotFound, rec_.last().oscode);
  EXPECT_EQ(2, rec_.last().tries);
  EXPECT_EQ(nullptr, WorkAreas::get().current());
  rec_.clear();
  EXPECT_FALSE(DBUSEAREA(true, {}, "\\nodir\\missing.dbf"));
  EXPECT_EQ(kOsPathNotFound, rec_.last().oscode);
  EXPECT_EQ("\\nodir\\missing.dbf", rec_.last().filename);
  // A retry that finds the file opens it.
  rec_.clear();
  rec_.set_retries(1);
  bool made = false;
  rt_.install_handler([&](ErrorObject& e) {
    make("late.dbf");
    made = true;
    return Value::logical(e.can_retry);
  });
  EXPECT_TRUE(DBUSEAREA(true, {}, "late"));
  EXPECT_TRUE(made);
}

// The probe of an open: the same errors as the open (retried as it retries them), the
// memo file included, no work area taken, and not a byte of the table written.
TEST_F(WorkAreaTest, ProbeOpensAsTheOpenWouldAndWritesNothing) {
  DbfLayout memo = standard_layout();
  memo.fields.push_back({"OBS", 'M', 10});
  memo.version = 0x83;
  memo.memo = MemoFile::Dbt;
  write_dbf(path("notes.dbf"), memo);
  make("plain.dbf", 3);
  const std::vector<std::uint8_t> before = read_bytes(path("plain.dbf"));
  const auto stamp = std::filesystem::last_write_time(path("plain.dbf"));
  DBSELECTAREA(Value::int32(4));
  EXPECT_TRUE(probe_table_open({}, "PLAIN"));
  EXPECT_TRUE(probe_table_open({}, "notes"));
  EXPECT_TRUE(rec_.empty());
  EXPECT_EQ(4u, SELECT());
  EXPECT_TRUE(WorkAreas::get().open_areas().empty());
  EXPECT_EQ(before, read_bytes(path("plain.dbf")));
  EXPECT_EQ(stamp, std::filesystem::last_write_time(path("plain.dbf")));

  rec_.set_retries(1);
  EXPECT_FALSE(probe_table_open({}, "missing"));
  ASSERT_EQ(2u, rec_.size());
  expect_error(kErrOpen, 1001, "DBFNTX", "", kCanRetry | kCanDefault);
  EXPECT_EQ("missing.dbf", rec_.last().filename);
  rec_.clear();
  std::filesystem::remove(path("notes.dbt"));
  EXPECT_FALSE(probe_table_open({}, "notes"));
  expect_error(kErrOpen, 1002, "DBFNTX", "", kCanRetry | kCanDefault);
  EXPECT_EQ("notes.dbt", rec_.last().filename);
  EXPECT_TRUE(WorkAreas::get().open_areas().empty());
}

TEST_F(WorkAreaTest, ExclusiveOpenConflictsWithAnotherProcess) {
  make("held.dbf");
  std::string file = path("held.dbf").string();
  {
    ASSERT_TRUE(DBUSEAREA(true, {}, "held"));
    EXPECT_EQ(kOsFileInUse, run_process(LUM_LOCK_HELPER, {"try", file, "shared"}).exit_code);
    DBCLOSEAREA();
    EXPECT_EQ(kOsOk, run_process(LUM_LOCK_HELPER, {"try", file, "exclusive"}).exit_code);
  }
  std::string ready = path("ready").string(), release = path("release").string();
  Process holder;  // holds the table until `release` exists
  ASSERT_TRUE(holder.start(LUM_LOCK_HELPER, {"hold", file, ready, release}));
  for (int i = 0; i < 500 && !std::filesystem::exists(ready); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(std::filesystem::exists(ready));
  EXPECT_FALSE(DBUSEAREA(true, {}, "held"));
  write_bytes(release, {});
  expect_error(kErrOpen, 1001, "DBFNTX", "", kCanRetry | kCanDefault);
  EXPECT_EQ(kOsFileInUse, rec_.last().oscode);
  // Once the other process lets go the table opens.
  bool opened = false;
  for (int i = 0; i < 500 && !opened; ++i) {
    opened = DBUSEAREA(true, {}, "held");
    if (!opened) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(opened);
  EXPECT_EQ(0, holder.wait().exit_code);
}

TEST_F(WorkAreaTest, BareNamesAreSearchedInTheDefaultDirectoryAndPath) {
  make("data/t1.dbf");
  make("p1/t2.dbf");
  make("p2/t3.dbf", 2);
  make("t3.dbf");
  rt_.settings().default_dir = "DATA";
  rt_.settings().path = "nope; P1 ,p2";
  ASSERT_TRUE(DBUSEAREA(true, {}, "t1"));
  ASSERT_TRUE(DBUSEAREA(true, {}, "t2"));
  ASSERT_TRUE(DBUSEAREA(true, {}, "t3"));  // the path's copy: the default directory has none
  EXPECT_EQ(2u, LASTREC());
  EXPECT_FALSE(DBUSEAREA(true, {}, "t4"));
  EXPECT_EQ("t4.dbf", rec_.last().filename);
  rt_.settings().default_dir.clear();
  rt_.settings().defextensions = false;
  EXPECT_FALSE(DBUSEAREA(true, {}, "t3"));  // no extension added any more
}

TEST_F(WorkAreaTest, AliasLookUp) {
  make("cbcli.dbf");
  make("a.dbf");
  ASSERT_TRUE(DBUSEAREA(true, {}, "cbcli"));  // area 1
  DBSELECTAREA(Value::int32(5));
  ASSERT_TRUE(DBUSEAREA(false, {}, "a"));  // area 5, alias A
  WorkAreas& wa = WorkAreas::get();
  struct Case {
    const char* text;
    AreaNumber select, access;
  } cases[] = {
      {"1", 1, 0},
      {"  12abc", 12, 0},
      {"0", kFirstFreeArea, 0},
      {"99999", kFirstFreeArea, 0},
      {"a", 1, 5},
      {"A ", 1, 5},
      {"k", 11, 11},
      {"M", kFirstFreeArea, kFirstFreeArea},
      {"cbcli", 1, 1},
      {" CbCli  junk", 1, 1},
      {"L", 0, 0},
      {"nope", 0, 0},
      {"", 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.select, wa.lookup_for_select(c.text)) << c.text;
    EXPECT_EQ(c.access, wa.lookup_for_access(c.text)) << c.text;
  }
  rec_.set_retries(2);
  EXPECT_THROW(DBSELECTAREA("nope"), HandlerBreak);  // retry only: declining ends the run
  ASSERT_EQ(3u, rec_.size());
  expect_error(kErrNoAlias, 1002, "BASE", "nope", kCanRetry);
  EXPECT_EQ(5u, SELECT());  // declined: the selection stays

  // A remembered answer never outlives its table: closed, the alias is unknown; opened
  // again elsewhere, it names the new area.
  DBSELECTAREA(Value::int32(1));
  DBCLOSEAREA();
  EXPECT_EQ(0u, wa.lookup_for_select("cbcli"));
  DBSELECTAREA(Value::int32(3));
  ASSERT_TRUE(DBUSEAREA(false, {}, "cbcli"));
  EXPECT_EQ(3u, wa.lookup_for_select("cbcli"));
  DBCLOSEALL();
  EXPECT_EQ(0u, wa.lookup_for_select("cbcli"));
}

TEST_F(WorkAreaTest, CloseAllClosesInAreaOrderAndSelectsOne) {
  static std::vector<std::string> closed;
  closed.clear();
  struct Traced : DbfArea {
    Traced() : DbfArea("TRACED") {}
    bool close() override {
      if (is_open())
        closed.push_back(alias() + "@" + std::to_string(WorkAreas::get().current_number()));
      return DbfArea::close();
    }
  };
  register_driver("traced", [] { return std::make_unique<Traced>(); });
  make("t.dbf");
  DBSELECTAREA(Value::int32(3));
  ASSERT_TRUE(DBUSEAREA(false, "TRACED", "t", "C3", Value::logical(true)));
  DBSELECTAREA(Value::int32(1));
  ASSERT_TRUE(DBUSEAREA(false, "TRACED", "t", "C1", Value::logical(true)));
  ASSERT_TRUE(DBUSEAREA(true, "TRACED", "t", "C2", Value::logical(true)));
  EXPECT_EQ(2u, SELECT());
  std::vector<AreaSummary> s = WorkAreas::get().summary();
  ASSERT_EQ(3u, s.size());
  EXPECT_EQ(1u, s[0].number);
  EXPECT_EQ("C1", s[0].alias);
  EXPECT_EQ(1u, s[0].recno);
  EXPECT_EQ("TRACED", s[2].driver);
  DBSELECTAREA(Value::int32(9));
  DBCLOSEALL();
  EXPECT_EQ((std::vector<std::string>{"C1@1", "C2@2", "C3@3"}), closed);
  EXPECT_EQ(1u, SELECT());
  EXPECT_TRUE(WorkAreas::get().open_areas().empty());
}

TEST_F(WorkAreaTest, RecordOperationsWithoutATable) {
  DBSELECTAREA(Value::int32(7));
  DBGOTOP();
  expect_error(kErrNoTable, 2001, "DBCMD", "DBGOTOP", kCanDefault);
  DBSKIP();
  expect_error(kErrNoTable, 2001, "DBCMD", "DBSKIP", kCanDefault);
  EXPECT_FALSE(DBAPPEND());
  expect_error(kErrNoTable, 2001, "DBCMD", "DBAPPEND", kCanDefault);
  EXPECT_FALSE(cmd::DBZAP());
  expect_error(kErrNoTable, 2001, "DBCMD", "__DBZAP", kCanDefault);
  EXPECT_EQ(4u, rec_.size());
  EXPECT_TRUE(DBEOF());
  EXPECT_TRUE(DBBOF());
  EXPECT_EQ(0u, RECNO());
  EXPECT_EQ(0u, LASTREC());
  EXPECT_EQ("", ALIAS());
  DBCLOSEAREA();  // nothing to close is no error
  EXPECT_EQ(4u, rec_.size());
}

class MemoTest : public WorkAreaTest {};

TEST_F(MemoTest, MemoFileOpensWithTheTableAndEmptiesAtZap) {
  struct Case {
    std::uint8_t version;
    MemoFile memo;
    const char* ext;
    std::uint32_t block;
    std::vector<std::uint8_t> head;  // first 8 bytes after the zap
    std::size_t size;
  } cases[] = {
      {0x83, MemoFile::Dbt, ".dbt", 512, {1, 0, 0, 0, 0, 2, 0, 0}, 512},
      {0xF5, MemoFile::Fpt, ".fpt", 64, {0, 0, 0, 8, 0, 0, 0, 64}, 512},
      {0xF5, MemoFile::Fpt, ".fpt", 4096, {0, 0, 0, 1, 0, 0, 16, 0}, 4096},
      {0xE5, MemoFile::Smt, ".smt", 32, {16, 0, 0, 0, 32, 0, 0, 0}, 512},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ext);
    DbfLayout s = standard_layout();
    s.fields.push_back({"OBS", 'M', 10});
    s.version = c.version;
    s.memo = c.memo;
    s.memo_block_size = c.block;
    write_dbf(path("Memo.DBF"), s, standard_records(2));
    ASSERT_TRUE(DBUSEAREA(true, {}, "memo"));
    ASSERT_TRUE(cmd::DBZAP());
    std::vector<std::uint8_t> m = read_bytes(path(std::string("Memo") + c.ext));
    ASSERT_EQ(c.size, m.size());
    EXPECT_EQ(c.head, std::vector<std::uint8_t>(m.begin(), m.begin() + 8));
    EXPECT_EQ("Tessera", std::string(m.begin() + 8, m.begin() + 15));
    DBCLOSEAREA();
    EXPECT_EQ(c.version, read_bytes(path("Memo.DBF"))[0]);
  }
  EXPECT_TRUE(rec_.empty());
}

TEST_F(MemoTest, MemoOpenFailures) {
  DbfLayout s = standard_layout();
  s.fields.push_back({"OBS", 'M', 10});
  s.version = 0xF5;
  write_dbf(path("nofpt.dbf"), s);  // no memo file written
  EXPECT_FALSE(DBUSEAREA(true, {}, "nofpt"));
  expect_error(kErrOpen, 1002, "DBFNTX", "", kCanRetry | kCanDefault);
  EXPECT_EQ("nofpt.fpt", rec_.last().filename);
  EXPECT_EQ(kOsFileNotFound, rec_.last().oscode);
  EXPECT_EQ(nullptr, WorkAreas::get().current());
  // The table file itself is closed again: another opener can have it.
  File f;
  EXPECT_EQ(kOsOk, f.open("nofpt.dbf", FileAccess::ReadWrite, FileShare::Exclusive));
  f.close();

  s.version = 0x03;  // memo field but a kind without memo file
  write_dbf(path("nokind.dbf"), s);
  EXPECT_THROW(DBUSEAREA(true, {}, "nokind"), HandlerBreak);
  expect_error(kErrOpen, 1056, "DBFNTX", "", 0);

  s.version = 0xF5;
  s.memo = MemoFile::Fpt;
  s.memo_block_size = 0;
  write_dbf(path("zero.dbf"), s);
  EXPECT_THROW(DBUSEAREA(true, {}, "zero"), HandlerBreak);
  expect_error(kErrCorruption, 1012, "DBFNTX", "", 0);
  EXPECT_EQ("zero.fpt", rec_.last().filename);

  // A block size that the 16-bit cut leaves above 64 KiB (low bits all zero) is damage:
  // a zap would otherwise write a 16 MiB memo file.
  s.memo_block_size = 0x01000000;
  write_dbf(path("huge.dbf"), s);
  EXPECT_THROW(DBUSEAREA(true, {}, "huge"), HandlerBreak);
  expect_error(kErrCorruption, 1012, "DBFNTX", "", 0);
  EXPECT_EQ("huge.fpt", rec_.last().filename);

  s.memo_block_size = 64;
  write_dbf(path("plain.dbf"), s);
  EXPECT_THROW(DBUSEAREA(true, "DBF", "plain"), HandlerBreak);  // the plain driver has no memos
  expect_error(kErrOpen, 1056, "DBF", "", 0);
}

TEST_F(MemoTest, MemoValuesReadThroughTheReference) {
  DbfLayout s;
  s.fields = {{"OBS", 'M', 10}};
  s.version = 0xF5;
  write_dbf(path("f.dbf"), s, {{{"         8"}}, {{"          "}}});
  DbfLayout fpt_layout;
  fpt_layout.memo = MemoFile::Fpt;
  fpt_layout.memo_block_size = 64;
  std::vector<std::uint8_t> fpt = build_memo(fpt_layout, 9);
  fpt.resize(512 + 64, 0);
  fpt[512 + 3] = 1;  // block 8: type text, length 5 (big-endian), the text
  fpt[512 + 7] = 5;
  std::memcpy(&fpt[512 + 8], "hello", 5);
  write_bytes(path("f.fpt"), fpt);
  ASSERT_TRUE(DBUSEAREA(true, {}, "f"));
  EXPECT_EQ("hello", field_get("OBS").str());
  DBSKIP();
  EXPECT_EQ("", field_get("OBS").str());

  s.version = 0x83;
  write_dbf(path("d.dbf"), s, {{{"1"}}});
  std::vector<std::uint8_t> dbt(512 + 512 + 10, 0);
  std::memcpy(&dbt[512], "dbt text\x1A\x1A", 10);
  write_bytes(path("d.dbt"), dbt);
  ASSERT_TRUE(DBUSEAREA(true, {}, "d"));
  EXPECT_EQ("dbt text", field_get("OBS").str());
  EXPECT_TRUE(rec_.empty());
}

// A memo read that comes up short raises "Read error" with the memo file's name and the
// system's code, and is read again on retry; declined, the field read fails, which its
// name's access reports in turn ("Variable does not exist").
TEST_F(MemoTest, ShortMemoReadsRaiseAReadErrorAndAreRetried) {
  DbfLayout s;
  s.fields = {{"OBS", 'M', 10}};
  DbfLayout fpt_layout;
  fpt_layout.memo = MemoFile::Fpt;
  fpt_layout.memo_block_size = 64;
  std::vector<std::uint8_t> fpt = build_memo(fpt_layout, 9);
  fpt.resize(512 + 64, 0);
  fpt[512 + 3] = 1;  // block 8: type text, length 5, "hello"
  fpt[512 + 7] = 5;
  std::memcpy(&fpt[512 + 8], "hello", 5);
  std::vector<std::uint8_t> dbt4(512 + 512, 0);  // level-four block 1: FF FF 08 00, length 13
  std::memcpy(&dbt4[512], "\xFF\xFF\x08\x00\x0D\x00\x00\x00hello", 13);
  std::vector<std::uint8_t> dbt(512 + 512 + 10, 0);  // plain block 1, ended by 0x1A
  std::memcpy(&dbt[512], "hello\x1A\x1A", 7);
  struct Case {
    const char* what;
    std::uint8_t version;
    const char* memo;  // the memo file's name
    const std::vector<std::uint8_t>& bytes;
    const char* ref;
    std::uint64_t offset;  // the read that fails
    std::size_t size;
    std::size_t allow;  // bytes it gives
    int oscode;
  } cases[] = {
      {"FPT block header", 0xF5, "f.fpt", fpt, "         8", 512, 8, 0, kOsAccessDenied},
      {"FPT text", 0xF5, "f.fpt", fpt, "         8", 520, 5, 2, 23},
      {"DBT level-four block header", 0x8B, "f.dbt", dbt4, "1", 512, 8, 3, 23},
      {"DBT level-four text", 0x8B, "f.dbt", dbt4, "1", 520, 5, 0, kOsAccessDenied},
      {"DBT block chain", 0x83, "f.dbt", dbt, "1", 512, 512, 100, 23},
  };
  for (const Case& c : cases) {
    for (int retries : {0, 1}) {
      SCOPED_TRACE(std::string(c.what) + (retries ? ", retried" : ", declined"));
      s.version = c.version;
      write_dbf(path("f.dbf"), s, {{{c.ref}}});
      write_bytes(path(c.memo), c.bytes);
      ASSERT_TRUE(DBUSEAREA(true, {}, "f"));
      int failures = 1;
      set_io_fault_hook(
          [&](IoOp op, const std::string& file, std::uint64_t offset, std::size_t n, IoFault& f) {
            if (op != IoOp::Read || !file.ends_with(c.memo) || offset != c.offset || n != c.size ||
                failures == 0) {
              return false;
            }
            --failures;
            f.allow = c.allow;
            f.oscode = c.oscode;
            return true;
          });
      rec_.clear();
      rec_.set_retries(retries);
      if (retries) {
        EXPECT_EQ("hello", field_get("OBS").str());
        EXPECT_EQ(1u, rec_.size());
      } else {
        EXPECT_THROW(field_get("OBS"), HandlerBreak);
        ASSERT_EQ(2u, rec_.size());
        EXPECT_EQ(kErrNoVariable, rec_.last().gencode);
        EXPECT_EQ(1003, rec_.last().subcode);
      }
      set_io_fault_hook(nullptr);
      ASSERT_FALSE(rec_.empty());
      const ErrorObject& e = rec_.errors().front();
      EXPECT_EQ(kErrRead, e.gencode);
      EXPECT_EQ("Read error", e.description);
      EXPECT_EQ(1010, e.subcode);
      EXPECT_EQ("DBFNTX", e.subsystem);
      EXPECT_EQ(c.memo, e.filename);
      EXPECT_EQ(c.oscode, e.oscode);
      EXPECT_EQ(kCanRetry | kCanDefault, e.flags());
      DBCLOSEAREA();
    }
  }
}

// A block header that would run past the end of the memo file is damage, not a read
// error.
TEST_F(MemoTest, AnFptBlockHeaderPastTheEndIsCorruption) {
  DbfLayout s;
  s.fields = {{"OBS", 'M', 10}};
  s.version = 0xF5;
  write_dbf(path("f.dbf"), s, {{{"         8"}}});
  DbfLayout fpt_layout;
  fpt_layout.memo = MemoFile::Fpt;
  fpt_layout.memo_block_size = 64;
  std::vector<std::uint8_t> fpt = build_memo(fpt_layout, 9);
  fpt.resize(512 + 5, 0);
  write_bytes(path("f.fpt"), fpt);
  ASSERT_TRUE(DBUSEAREA(true, {}, "f"));
  EXPECT_THROW(field_get("OBS"), HandlerBreak);
  ASSERT_EQ(2u, rec_.size());
  EXPECT_EQ(kErrCorruption, rec_.errors().front().gencode);
  EXPECT_EQ(1012, rec_.errors().front().subcode);
  EXPECT_EQ("f.fpt", rec_.errors().front().filename);
}

TEST_F(WorkAreaTest, AutoIncrementFieldsNumberNewRecords) {
  DbfLayout s;
  s.version = 0x30;
  s.fields = {{"ID", 'I', 4, 0, 0x08}, {"NOME", 'C', 4}};
  std::vector<std::uint8_t> file = build_dbf(s, {});
  file[32 + 19] = 41;  // next value 41, step 2
  file[32 + 23] = 2;
  write_bytes(path("auto.dbf"), file);
  ASSERT_TRUE(DBUSEAREA(true, {}, "auto"));
  DBAPPEND();
  DBAPPEND();
  EXPECT_EQ(43, field_get("ID").num().i);
  DBGOTOP();
  EXPECT_EQ(41, field_get("ID").num().i);
  DBCLOSEAREA();
  std::vector<std::uint8_t> bytes = read_bytes(path("auto.dbf"));
  EXPECT_EQ(0x31, bytes[0]);  // a table with auto-increment fields
  EXPECT_EQ(45u, le32(bytes, 32 + 19));
  ASSERT_TRUE(DBUSEAREA(true, {}, "auto"));
  ASSERT_TRUE(cmd::DBZAP());
  DBAPPEND();
  EXPECT_EQ(1, field_get("ID").num().i);  // the counter restarts
}

}  // namespace
}  // namespace lum::test
