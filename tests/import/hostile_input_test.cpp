// Hostile input to the import and its staging tables: headers that claim more than the
// file holds or end inside the descriptors, records of one byte and fields of 65,534
// and 65,535 bytes; a text file that grows or shrinks while it is imported; text files
// and tables that are pipes, devices, directories, loops of links or names too long;
// names with bytes above 127. Each ends in the system's own error or a whole table.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "import/sdf.h"
#include "platform/process.h"
#include "table/dbf_format.h"
#include "table/names.h"
#include "tests/table/table_fixture.h"

namespace lum::test {
namespace {

namespace fs = std::filesystem;
using sample::build_dbf;
using sample::write_bytes;

void write_text(const fs::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary) << text;
}

class HostileInput : public TableTest {
 protected:
  void SetUp() override { rt_.settings().hardcommit = false; }

  // The record count and header of a closed table file, checked to agree.
  std::uint32_t whole_table(const std::string& name) {
    std::vector<std::uint8_t> b = sample::read_bytes(path(name));
    dbf::Header h;
    std::uint32_t count = 0;
    EXPECT_EQ(dbf::Status::Ok, dbf::decode_table(b, h, count));
    EXPECT_EQ(count, sample::le32(b, 4)) << "the header counts the records in the file";
    EXPECT_EQ(h.record_len, sample::le16(b, 10));
    const std::uint64_t end = h.header_len + std::uint64_t{count} * h.record_len;
    EXPECT_TRUE(b.size() == end || (b.size() == end + 1 && b.back() == 0x1A)) << b.size();
    return count;
  }

  // Empties the staging table and imports the text, as the conversions do; false when
  // the table did not open.
  bool stage(const std::string& table, const std::string& text) {
    write_text(path("in.txt"), text);
    if (!DBUSEAREA(true, {}, Value(table))) return false;
    EXPECT_TRUE(cmd::DBZAP());
    EXPECT_TRUE(cmd::DBSDF(false, Value("in.txt")));
    DBCLOSEALL();
    return true;
  }
};

TEST_F(HostileInput, StagingTablesWithOddHeaders) {
  struct Case {
    const char* what;
    sample::DbfLayout layout;
    std::string text;
    int gencode;                     // 0: the table opens and takes the text
    std::vector<std::string> first;  // then: the first field of each record
    std::size_t cut = 0;             // the file ends here when not 0
    int header_length = 0;           // stored over the built one when not 0
  };
  auto layout = [](std::vector<sample::FieldLayout> fields, int header_length = 0) {
    sample::DbfLayout s;
    s.fields = std::move(fields);
    if (header_length > 0) s.header_length = static_cast<std::uint16_t>(header_length);
    return s;
  };
  const std::string long_line(70000, 'x');
  const std::vector<Case> cases = {
      {"a header that claims 50 fields of which the file holds 2",
       layout({{"A", 'C', 2}, {"B", 'C', 3}}, 32 + 32 * 50 + 1),
       "AB\r\n",
       kErrCorruption,
       {},
       32 + 2 * 32 + 1},
      {"a header length inside the first 32 bytes",
       layout({{"A", 'C', 2}}),
       "AB\r\n",
       kErrCorruption,
       {},
       0,
       16},
      // The header length gives one descriptor slot: one field, records from byte 64 on,
      // over the bytes of the second descriptor (which read as junk records until the
      // zap).
      {"a header length that ends inside the descriptors",
       layout({{"A", 'C', 2}, {"B", 'C', 3}}),
       "ABCDE\r\nF\r\n",
       0,
       {"AB", "F "},
       0,
       64},
      {"records of one byte", layout({{"NONE", 'C', 0}}), "x\r\ny\r\n\r\n", 0, {"", "", ""}},
      {"a field of 65,535 bytes: records longer than the header can say",
       layout({{"BIG", 'C', 65535}}),
       "x\r\n",
       kErrCorruption,
       {}},
      {"a field of 65,534 bytes",
       layout({{"BIG", 'C', 65534}}),
       long_line + "\r\nshort\r\n",
       0,
       {long_line.substr(0, 65534), "short" + std::string(65529, ' ')}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> bytes = build_dbf(c.layout, {});
    if (c.cut != 0) bytes.resize(c.cut);
    if (c.header_length != 0) dbf::put_le16(&bytes[8], static_cast<std::uint16_t>(c.header_length));
    write_bytes(path("st.dbf"), bytes);
    rec_.clear();
    const bool opened = stage("st", c.text);
    if (c.gencode != 0) {
      EXPECT_FALSE(opened);
      ASSERT_EQ(1u, rec_.size());
      EXPECT_EQ(c.gencode, rec_.last().gencode);
      EXPECT_EQ(1012, rec_.last().subcode);
      EXPECT_EQ("st", rec_.last().filename.substr(0, 2));
      continue;
    }
    ASSERT_TRUE(opened);
    EXPECT_TRUE(rec_.empty());
    EXPECT_EQ(c.first.size(), whole_table("st.dbf"));
    ASSERT_TRUE(DBUSEAREA(true, {}, Value("st")));
    EXPECT_EQ(c.first.size(), LASTREC()) << "reopened, the table has what was imported";
    std::vector<std::string> got;
    Area* a = WorkAreas::get().current();
    for (DBGOTOP(); !DBEOF(); DBSKIP()) {
      Value v;
      ASSERT_TRUE(a->get_field(0, v));
      got.push_back(v.str());
    }
    EXPECT_EQ(c.first, got);
    ASSERT_TRUE(cmd::DBZAP());
    DBCLOSEALL();
    EXPECT_EQ(0u, whole_table("st.dbf")) << "emptied, no record is left, not even 0x1A";
  }
}

// The FOR condition runs once per record while the import reads: it makes the file
// longer or shorter under the reader. The import ends, every record is a whole line or
// the blank-padded piece of the one that was cut, and the table is whole.
TEST_F(HostileInput, TextFileThatGrowsOrShrinksWhileImported) {
  sample::DbfLayout s;
  s.fields = {{"LINE", 'C', 12}};
  auto line = [](int i) {
    char b[32];
    std::snprintf(b, sizeof b, "LINE%08d", i);
    return std::string(b) + "\r\n";
  };
  const int lines = 30000;  // 420 KB: more than one read-ahead window
  std::string text;
  for (int i = 0; i < lines; ++i) text += line(i);
  for (bool grow : {true, false}) {
    SCOPED_TRACE(grow ? "grows" : "shrinks");
    sample::write_dbf(path("st.dbf"), s);
    write_text(path("in.txt"), text);
    ASSERT_TRUE(DBUSEAREA(true, {}, Value("st")));
    int calls = 0;
    auto change = [&] {
      if (++calls == 10) {
        if (grow) {
          std::ofstream(path("in.txt"), std::ios::binary | std::ios::app)
              << line(lines) << line(lines + 1);
        } else {
          fs::resize_file(path("in.txt"), 1000 * 14 + 7);  // 1000 lines and half a line
        }
      }
      return Value::logical(true);
    };
    EXPECT_TRUE(cmd::DBSDF(false, Value("in.txt"), {}, change));
    DBCLOSEALL();
    EXPECT_TRUE(rec_.empty());
    const std::uint32_t n = whole_table("st.dbf");
    if (grow) {
      EXPECT_EQ(static_cast<std::uint32_t>(lines + 2), n) << "the lines beyond the window are read";
    } else {
      EXPECT_GE(n, 1000u);
      EXPECT_LE(n, static_cast<std::uint32_t>(lines));
    }
    ASSERT_TRUE(DBUSEAREA(true, {}, Value("st")));
    for (DBGOTOP(); !DBEOF(); DBSKIP()) {
      const std::string v = field_get("LINE").str();
      const std::string want = line(static_cast<int>(RECNO()) - 1).substr(0, 12);
      if (v != want) {
        // The line the cut went through: its first bytes, padded.
        const std::size_t kept = v.find_last_not_of(' ') + 1;
        EXPECT_EQ(want.substr(0, kept) + std::string(12 - kept, ' '), v);
      }
    }
    DBCLOSEALL();
  }
}

// A text file or a table that is no regular file: "Open error" with the system's
// number, nothing appended, and no wait for a pipe's writer. (Devices are refused the
// same way; tests/platform shows it, as names here start from the drive root.)
TEST_F(HostileInput, NamesThatAreNoRegularFile) {
  fs::create_directory(path("dir.txt"));
  fs::create_directory(path("dir.dbf"));
  struct Case {
    std::string name;
    int oscode;
  };
  std::vector<Case> cases = {
      {"dir", kOsAccessDenied},
      {std::string(300, 'n'), kOsNameTooLong},
  };
  // Hosts that cannot make symbolic links (Windows without the right to) have no loops.
  std::error_code ec;
  fs::create_symlink("loop2.txt", path("loop1.txt"), ec);
  if (!ec) {
    fs::create_symlink("loop1.txt", path("loop2.txt"));
    fs::create_symlink("loop2.dbf", path("loop1.dbf"));
    fs::create_symlink("loop1.dbf", path("loop2.dbf"));
    cases.push_back({"loop1", kOsCannotResolve});
  }
#ifndef _WIN32  // named pipes in the file system are POSIX's
  if (fs::exists("/usr/bin/mkfifo")) {
    ASSERT_EQ(0, run_process("/usr/bin/mkfifo", {"pipe.txt", "pipe.dbf"}).exit_code);
    cases.push_back({"pipe", kOsAccessDenied});
  }
#endif
  sample::write_dbf(path("st.dbf"), standard_layout());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name.substr(0, 20));
    ASSERT_TRUE(DBUSEAREA(true, {}, Value("st")));
    rec_.clear();
    EXPECT_FALSE(cmd::DBSDF(false, Value(c.name + ".txt")));
    ASSERT_EQ(1u, rec_.size());
    EXPECT_EQ("SDF", rec_.last().subsystem);
    EXPECT_EQ(kErrOpen, rec_.last().gencode);
    EXPECT_EQ(1001, rec_.last().subcode);
    EXPECT_EQ(c.oscode, rec_.last().oscode);
    EXPECT_EQ(0u, LASTREC());
    DBCLOSEALL();
    rec_.clear();
    EXPECT_FALSE(DBUSEAREA(true, {}, Value(c.name + ".dbf")));
    ASSERT_EQ(1u, rec_.size());
    EXPECT_EQ(kErrOpen, rec_.last().gencode);
    EXPECT_EQ(c.oscode, rec_.last().oscode);
    EXPECT_EQ(nullptr, WorkAreas::get().current());
  }
}

// Bytes above 127 in the names of tables and text files are bytes like any other.
TEST_F(HostileInput, NamesWithBytesAbove127) {
  sample::write_dbf(path("cb\xE7"
                         "ad.dbf"),
                    standard_layout());
  write_text(path("cota\xE7\xE3o.txt"), "00001S\xE3o Paulo\r\n00002\xC1gua\r\n");
  ASSERT_TRUE(DBUSEAREA(true, {},
                        Value("CB\xE7"
                              "AD"),
                        Value("CBCAD")));
  ASSERT_TRUE(cmd::DBSDF(false, Value("COTA\xE7\xE3O")));
  EXPECT_EQ(2u, LASTREC());
  DBCLOSEALL();
  EXPECT_EQ(2u, whole_table("cb\xE7"
                            "ad.dbf"));
  EXPECT_TRUE(rec_.empty());
}

}  // namespace
}  // namespace lum::test
