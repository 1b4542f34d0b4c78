// __DBSDF / __DBAPP into real tables: which bytes of a text file reach the staging
// table (whole-image and field-by-field), the field list, the open error with its retry,
// the check before emptying, the work areas left as they were, and the export.
#include "import/sdf.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "runtime/runtime.h"
#include "table/dbcmd.h"
#include "table/dbf_format.h"
#include "table/workareas.h"
#include "tests/support/temp_dir.h"
#include "tools/sample/packed.h"

namespace lum {
namespace {

using namespace std::string_literals;
using sample::pack_decimal;

struct FieldDesc {
  const char* name;
  char type;
  int len;
  int dec;
};

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// An empty table: header, descriptors, terminator and the end-of-file byte.
void write_dbf(const std::string& path, const std::vector<FieldDesc>& fields,
               std::uint8_t version = 0x03) {
  std::string out(32, '\0');
  int record_len = 1;
  for (const FieldDesc& f : fields) record_len += f.len;
  const int header_len = 32 + 32 * static_cast<int>(fields.size()) + 1;
  out[0] = static_cast<char>(version);
  out[1] = 124;
  out[2] = 1;
  out[3] = 1;
  dbf::put_le16(reinterpret_cast<std::uint8_t*>(&out[8]), static_cast<std::uint16_t>(header_len));
  dbf::put_le16(reinterpret_cast<std::uint8_t*>(&out[10]), static_cast<std::uint16_t>(record_len));
  for (const FieldDesc& f : fields) {
    auto d = dbf::encode_descriptor(f.name, f.type, static_cast<std::uint32_t>(f.len),
                                    static_cast<std::uint8_t>(f.dec));
    out.append(reinterpret_cast<const char*>(d.data()), d.size());
  }
  out += "\x0D\x1A";
  write_file(path, out);
}

// The record images of a closed table file, and its stored record count.
std::vector<std::string> records_in(const std::string& path, std::uint32_t* stored = nullptr) {
  std::string file = read_file(path);
  const auto* p = reinterpret_cast<const std::uint8_t*>(file.data());
  const std::size_t header_len = dbf::get_le16(p + 8);
  const std::size_t record_len = dbf::get_le16(p + 10);
  if (stored != nullptr) *stored = dbf::get_le32(p + 4);
  std::vector<std::string> out;
  for (std::size_t at = header_len; at + record_len <= file.size(); at += record_len) {
    out.push_back(file.substr(at, record_len));
  }
  return out;
}

struct Declined {};

class SdfImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::temp_root() /
           ("lum_sdf_" + std::to_string(std::random_device{}()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    rt_.install_handler([this](ErrorObject& e) {
      errors_.push_back(e);
      // An error that allows neither retry nor default ends the run in the real
      // handler; here it ends the call under test.
      if (!e.can_retry && !e.can_default) throw Declined{};
      if (on_error_) return on_error_(e);
      return Value::logical(false);
    });
  }
  void TearDown() override {
    DBCLOSEALL();
    std::filesystem::remove_all(dir_);
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  // Opens a staging table in a new area under its derived alias.
  void use(const std::string& name) { ASSERT_TRUE(DBUSEAREA(true, Value(), Value(path(name)))); }

  Runtime rt_;
  std::filesystem::path dir_;
  std::vector<ErrorObject> errors_;
  std::function<Value(ErrorObject&)> on_error_;
};

// The staging table of most cases: 19 bytes of text per record.
const std::vector<FieldDesc> kStaging = {{"CODE", 'C', 2, 0},
                                         {"PACK", 'C', 4, 0},
                                         {"QTY", 'N', 4, 0},
                                         {"WHEN", 'D', 8, 0},
                                         {"OK", 'L', 1, 0}};

TEST_F(SdfImportTest, TextBytesReachTheStagingTableUnchanged) {
  const std::string pack = pack_decimal("1234567", 'C');   // 12 34 56 7C
  const std::string full = "AB" + pack + "12  20240131x";  // 19 bytes
  const std::string blank(19, ' ');
  auto padded = [](std::string s) {
    s.resize(19, ' ');
    return s;
  };
  struct Case {
    const char* name;
    std::string text;
    std::vector<std::string> want;
  };
  const std::vector<Case> cases = {
      {"empty file", "", {}},
      {"numeric text and logical byte kept as they stand", full + "\r\n", {full}},
      {"non-digit bytes of a number kept",
       "AB" + pack + "1a-.2024013?\x00\r\n"s,
       {"AB" + pack + "1a-.2024013?\x00"s}},
      {"short line padded with blanks", "AB\r\n" + full + "\r\n", {padded("AB"), full}},
      {"empty line is a blank record", "\r\n", {blank}},
      {"long line cut, the next follows its line end",
       full + "EXTRA BYTES BEYOND THE RECORD\r\nCD\r\n",
       {full, padded("CD")}},
      {"CR LF inside packed bytes ends the record early",
       "AB\x12\x0D\x0A\x5C  1220240131T\r\n",
       {padded("AB\x12"), padded("\x5C  1220240131T")}},
      {"0x00, 0x1A, lone LF and lone CR are data",
       "AB\x00\x1A\x0A\x0D  1220240131T\r\n"s,
       {"AB\x00\x1A\x0A\x0D  1220240131T"s}},
      {"CR just before the line end is kept",
       "AB" + pack + "12  20240131\r\r\n",
       {"AB" + pack + "12  20240131\r"}},
      {"last line without line end", full + "\r\nCD", {full, padded("CD")}},
      {"0x1A after the last line end adds nothing", full + "\r\n\x1A", {full}},
      {"0x1A ending a last line without line end", full + "\r\nCDE\x1A", {full, padded("CDE")}},
      {"no line lost when L + 2 bytes remain after an early line end",
       "AB\r\nCDEFGHIJKLMNOPQRS",
       {padded("AB"), "CDEFGHIJKLMNOPQRS  "}},
      {"the same with a final 0x1A",
       "AB\r\nCDEFGHIJKLMNOPQRS\x1A",
       {padded("AB"), "CDEFGHIJKLMNOPQRS  "}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    write_dbf(path("cbtest.dbf"), kStaging);
    write_file(path("data.txt"), c.text);
    use("cbtest");
    ASSERT_TRUE(cmd::DBZAP());
    EXPECT_TRUE(cmd::DBSDF(false, Value(path("data.txt"))));
    DBCLOSEALL();
    std::uint32_t stored = 0;
    std::vector<std::string> got = records_in(path("cbtest.dbf"), &stored);
    ASSERT_EQ(c.want.size(), got.size());
    EXPECT_EQ(c.want.size(), stored);
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(" " + c.want[i], got[i]) << "record " << i + 1;
    }
  }
  EXPECT_TRUE(errors_.empty());
}

TEST_F(SdfImportTest, MemoFieldSwitchesToFieldByField) {
  write_dbf(path("memo.dbf"), {{"CODE", 'C', 2, 0}, {"QTY", 'N', 4, 0}, {"NOTE", 'M', 10, 0}},
            0x83);
  write_file(path("memo.dbt"), std::string(512, '\0'));
  write_file(path("m.txt"), "AB12  \r\nCD 7\r\n");
  use("memo");
  EXPECT_TRUE(cmd::DBSDF(false, Value(path("m"))));  // ".txt" is added
  DBCLOSEALL();
  // Through the field stores: the number is formatted again, the memo takes no bytes.
  EXPECT_EQ((std::vector<std::string>{" AB  12          ", " CD   7          "}),
            records_in(path("memo.dbf")));
  EXPECT_TRUE(errors_.empty());
}

TEST_F(SdfImportTest, FieldListChoosesTheTextLayout) {
  const std::vector<FieldDesc> table = {
      {"CODE", 'C', 2, 0}, {"NAME", 'C', 5, 0}, {"QTY", 'N', 4, 0}};
  struct Case {
    const char* name;
    Array list;
    std::string text;
    std::string want;  // record image
  };
  const std::vector<Case> cases = {
      {"a subset in another order, unknown names skipped",
       {Value("qty"), Value("Code"), Value("NOSUCH"), Value::int32(3)},
       "7   XY\r\n",
       "XY        7"},
      // Every field in table order: the same structure, copied as the image.
      {"every field in order",
       {Value("CODE"), Value("NAME"), Value("QTY")},
       "XYHELLO7   \r\n",
       "XYHELLO7   "},
      {"an empty list means every field", {}, "XYHELLO7   \r\n", "XYHELLO7   "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    write_dbf(path("fl.dbf"), table);
    write_file(path("fl.txt"), c.text);
    use("fl");
    EXPECT_TRUE(cmd::DBSDF(false, Value(path("fl.txt")), Value::array(c.list)));
    DBCLOSEALL();
    EXPECT_EQ(std::vector<std::string>{" " + c.want}, records_in(path("fl.dbf")));
  }
}

TEST_F(SdfImportTest, ConditionsRunWithTheTextAreaSelected) {
  write_dbf(path("cond.dbf"), kStaging);
  write_file(path("c.txt"), "AA\r\nBB\r\nCC\r\nDD\r\n");
  use("cond");
  const AreaNumber staging = WorkAreas::get().current_number();
  AreaNumber seen_area = 0;
  std::string seen_alias = "unset";
  CodeBlock for_block = [&] {
    Area* a = WorkAreas::get().current();
    seen_area = WorkAreas::get().current_number();
    seen_alias = a->alias();
    Value code;
    a->get_field(a->field_index("CODE"), code);
    return Value::logical(code.str() != "BB");
  };
  CodeBlock while_block = [&] {
    Area* a = WorkAreas::get().current();
    Value code;
    a->get_field(a->field_index("code"), code);
    return Value::logical(code.str() != "DD");
  };
  EXPECT_TRUE(cmd::DBSDF(false, Value(path("c.txt")), Value(), for_block, while_block));
  EXPECT_EQ(staging, WorkAreas::get().current_number());
  EXPECT_NE(staging, seen_area);
  EXPECT_EQ("", seen_alias);  // the text area has no alias
  DBCLOSEALL();
  std::vector<std::string> got = records_in(path("cond.dbf"));
  ASSERT_EQ(2u, got.size());
  EXPECT_EQ(" AA", got[0].substr(0, 3));
  EXPECT_EQ(" CC", got[1].substr(0, 3));
}

TEST_F(SdfImportTest, WorkAreasAreAsBeforeAndNamesDoNotClash) {
  write_dbf(path("clientes.dbf"), kStaging);
  write_dbf(path("cbcli.dbf"), kStaging);
  write_file(path("clientes.txt"), "AB\r\n");
  use("clientes");
  use("cbcli");
  const AreaNumber staging = WorkAreas::get().current_number();
  const AreaNumber free_before = WorkAreas::get().first_free();
  // A text file named like the open CLIENTES table: the text area takes no alias.
  EXPECT_TRUE(cmd::DBSDF(false, Value(path("clientes.txt"))));
  EXPECT_EQ(staging, WorkAreas::get().current_number());
  EXPECT_EQ(free_before, WorkAreas::get().first_free());
  EXPECT_EQ("CBCLI", ALIAS());
  EXPECT_EQ(1u, LASTREC());
  EXPECT_TRUE(errors_.empty());
}

TEST_F(SdfImportTest, MissingTextFileRaisesTheOpenErrorAndAppendsNothing) {
  write_dbf(path("cbrec.dbf"), kStaging);
  use("cbrec");
  const AreaNumber staging = WorkAreas::get().current_number();
  EXPECT_FALSE(cmd::DBSDF(false, Value(path("receber"))));
  ASSERT_EQ(1u, errors_.size());
  const ErrorObject& e = errors_[0];
  EXPECT_EQ(2, e.severity);
  EXPECT_EQ("SDF", e.subsystem);
  EXPECT_EQ(21, e.gencode);
  EXPECT_EQ("Open error", e.description);
  EXPECT_EQ(1001, e.subcode);
  EXPECT_EQ(path("receber.txt"), e.filename);
  EXPECT_EQ(2, e.oscode);
  EXPECT_TRUE(e.can_retry);
  EXPECT_TRUE(e.can_default);
  EXPECT_EQ(staging, WorkAreas::get().current_number());
  EXPECT_EQ(0u, LASTREC());
  EXPECT_EQ(std::vector<AreaNumber>{staging}, WorkAreas::get().open_areas());
}

TEST_F(SdfImportTest, RetryOpensTheTextFileAgain) {
  write_dbf(path("cbrec.dbf"), kStaging);
  use("cbrec");
  on_error_ = [&](ErrorObject&) {
    if (errors_.size() == 2) write_file(path("receber.txt"), "AB\r\nCD\r\n");
    return Value::logical(true);  // retry
  };
  EXPECT_TRUE(cmd::DBSDF(false, Value(path("receber.txt"))));
  EXPECT_EQ(2u, errors_.size());
  EXPECT_EQ(1, errors_[1].tries);  // as the handler saw it, before its answer
  EXPECT_EQ(2u, LASTREC());
}

TEST_F(SdfImportTest, CommandErrors) {
  // No table in the current area.
  EXPECT_FALSE(cmd::DBSDF(false, Value(path("x.txt"))));
  ASSERT_EQ(1u, errors_.size());
  EXPECT_EQ("DBCMD", errors_[0].subsystem);
  EXPECT_EQ(35, errors_[0].gencode);
  EXPECT_EQ(2001, errors_[0].subcode);
  EXPECT_EQ("APPEND FROM", errors_[0].operation);

  write_dbf(path("t.dbf"), kStaging);
  write_file(path("x.txt"), "AB\r\n");
  use("t");
  struct Case {
    const char* name;
    Value file;
    Value driver;
  };
  const Case cases[] = {
      {"unknown driver", Value(path("x.txt")), Value("NOSUCH")},
      {"no driver", Value(path("x.txt")), Value()},
      {"no file name", Value(), Value("SDF")},
      {"empty file name", Value(""), Value("sdf")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    errors_.clear();
    EXPECT_THROW(cmd::DBAPP(c.file, Value(), {}, {}, Value(), Value(), Value(), c.driver),
                 Declined);
    ASSERT_EQ(1u, errors_.size());
    EXPECT_EQ("DBCMD", errors_[0].subsystem);
    EXPECT_EQ(1, errors_[0].gencode);
    EXPECT_EQ(1005, errors_[0].subcode);
  }
  EXPECT_EQ(0u, LASTREC());
  // The driver name is matched without regard to case.
  errors_.clear();
  EXPECT_TRUE(
      cmd::DBAPP(Value(path("x.txt")), Value(), {}, {}, Value(), Value(), Value(), Value(" sdf ")));
  EXPECT_TRUE(errors_.empty());
  EXPECT_EQ(1u, LASTREC());
}

TEST_F(SdfImportTest, WithEveryAreaTakenTheImportIsAnArgumentError) {
  write_dbf(path("cbrec.dbf"), kStaging);
  write_file(path("receber.txt"), "AB\r\nCD\r\n");
  use("cbrec");
  const AreaNumber staging = WorkAreas::get().current_number();
  // Every other area holds a table object that is not open: as taken as a real one.
  WorkAreas& wa = WorkAreas::get();
  for (AreaNumber n = staging + 1; n <= kMaxArea; ++n) wa.attach(n, make_area("DBF"));
  ASSERT_EQ(0u, wa.first_free());
  EXPECT_THROW(cmd::DBSDF(false, Value(path("receber.txt"))), Declined);
  ASSERT_EQ(1u, errors_.size());
  EXPECT_EQ("DBCMD", errors_[0].subsystem);
  EXPECT_EQ(kErrArgument, errors_[0].gencode);
  EXPECT_EQ("Argument error", errors_[0].description);
  EXPECT_EQ(1015, errors_[0].subcode);
  EXPECT_EQ("APPEND FROM", errors_[0].operation);
  EXPECT_EQ(0, errors_[0].flags());
  EXPECT_EQ(staging, WorkAreas::get().current_number());
  EXPECT_EQ(0u, LASTREC());
}

TEST_F(SdfImportTest, CheckOpenRaisesTheImportsOwnErrorBeforeAnythingIsEmptied) {
  write_file(path("present.txt"), "x");
  EXPECT_TRUE(SDF_CHECK_OPEN(path("present")));
  EXPECT_TRUE(SDF_CHECK_OPEN(path("PRESENT.TXT")));  // names match without case
  EXPECT_TRUE(errors_.empty());

  EXPECT_FALSE(SDF_CHECK_OPEN(path("missing")));
  ASSERT_EQ(1u, errors_.size());
  EXPECT_EQ("SDF", errors_[0].subsystem);
  EXPECT_EQ(21, errors_[0].gencode);
  EXPECT_EQ(1001, errors_[0].subcode);
  EXPECT_EQ(path("missing.txt"), errors_[0].filename);
  EXPECT_EQ(2, errors_[0].oscode);
  EXPECT_TRUE(errors_[0].can_retry);
  EXPECT_TRUE(errors_[0].can_default);

  // Retry until the file appears.
  errors_.clear();
  on_error_ = [&](ErrorObject&) {
    if (errors_.size() == 3) write_file(path("late.txt"), "x");
    return Value::logical(true);
  };
  EXPECT_TRUE(SDF_CHECK_OPEN(path("late")));
  EXPECT_EQ(3u, errors_.size());
}

TEST_F(SdfImportTest, InterruptLeavesTheWorkAreasAsTheyWere) {
  write_dbf(path("big.dbf"), kStaging);
  std::string text;
  for (int i = 0; i < 100; ++i) text += "AB\r\n";
  write_file(path("big.txt"), text);
  use("big");
  const AreaNumber staging = WorkAreas::get().current_number();
  const AreaNumber free_before = WorkAreas::get().first_free();
  int seen = 0;
  CodeBlock for_block = [&] {
    if (++seen == 10) Runtime::request_interrupt();
    return Value::logical(true);
  };
  EXPECT_THROW(cmd::DBSDF(false, Value(path("big.txt")), Value(), for_block), Unwind);
  EXPECT_EQ(staging, WorkAreas::get().current_number());
  EXPECT_EQ(free_before, WorkAreas::get().first_free());
  EXPECT_EQ(10u, LASTREC());
}

TEST_F(SdfImportTest, ExportWritesTheFieldsAtTheirWidths) {
  write_dbf(path("ex.dbf"), kStaging);
  write_file(path("in.txt"),
             "AB\x12\x34\x56\x7C"
             "12  20240131T\r\nCD\r\n");
  use("ex");
  ASSERT_TRUE(cmd::DBSDF(false, Value(path("in.txt"))));
  ASSERT_TRUE(cmd::DBSDF(true, Value(path("out"))));
  // Numbers and dates are written from their values: "12  " becomes "  12", a blank
  // number 0, a blank logical F.
  EXPECT_EQ("AB\x12\x34\x56\x7C  1220240131T\r\nCD       0        F\r\n\x1A",
            read_file(path("out.txt")));
  // And the export reads back as the same records.
  write_dbf(path("back.dbf"), kStaging);
  use("back");
  ASSERT_TRUE(cmd::DBSDF(false, Value(path("out.txt"))));
  EXPECT_EQ(2u, LASTREC());
  EXPECT_TRUE(errors_.empty());
}

TEST_F(SdfImportTest, ExportCreateErrorsAreRetriedWithOneErrorObject) {
  write_dbf(path("ex.dbf"), kStaging);
  use("ex");
  const std::string out = path("later/out.txt");
  // Two retries while the directory is missing, then the default: nothing is written.
  int retries = 2;
  on_error_ = [&](ErrorObject&) { return Value::logical(retries-- > 0); };
  EXPECT_FALSE(cmd::DBSDF(true, Value(out)));
  ASSERT_EQ(3u, errors_.size());
  for (std::size_t i = 0; i < errors_.size(); ++i) {
    EXPECT_EQ("SDF", errors_[i].subsystem);
    EXPECT_EQ(kErrCreate, errors_[i].gencode);
    EXPECT_EQ(1004, errors_[i].subcode);
    EXPECT_EQ(out, errors_[i].filename);
    EXPECT_EQ(3, errors_[i].oscode);
    EXPECT_EQ(kCanRetry | kCanDefault, errors_[i].flags());
    EXPECT_EQ(static_cast<int>(i), errors_[i].tries);  // as the handler saw it
  }
  // A retry after the directory is made writes the file.
  errors_.clear();
  on_error_ = [&](ErrorObject&) {
    std::filesystem::create_directories(dir_ / "later");
    return Value::logical(true);
  };
  EXPECT_TRUE(cmd::DBSDF(true, Value(out)));
  EXPECT_EQ(1u, errors_.size());
  EXPECT_EQ("\x1A", read_file(out));
}

}  // namespace
}  // namespace lum
