// The SDF reader: how a text file is cut into records (line ends, long lines, the
// end-of-file mark, every byte value kept), compared case by case and against a plain
// line-splitting model on random bytes; field values; buffered reading; read failures.
#include "import/sdf_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/file.h"
#include "runtime/runtime.h"
#include "tests/support/temp_dir.h"
#include "values/dates.h"

namespace lum {
namespace {

using namespace std::string_literals;

SdfLayout char_layout(int length) {
  return SdfLayout::from_structure({SdfFieldDesc{"F", 'C', length, 0}});
}

// Every record of `bytes` for a record length L, as the L record bytes.
std::vector<std::string> records_of(const std::string& bytes, int length,
                                    std::size_t window = ReadAhead::kDefaultWindow) {
  MemorySource memory(bytes);
  ReadAhead source(memory, window);
  SdfReader reader(char_layout(length), "", source, "t.txt");
  std::vector<std::string> out;
  EXPECT_TRUE(reader.go_top());
  std::uint32_t expect_recno = 1;
  while (!reader.eof()) {
    EXPECT_EQ(expect_recno, reader.recno());
    std::string_view image = reader.image();
    EXPECT_EQ(' ', image[0]);
    out.emplace_back(image.substr(1));
    EXPECT_TRUE(reader.skip());
    ++expect_recno;
    if (out.size() > bytes.size() + 1) break;  // a runaway reader
  }
  EXPECT_EQ(expect_recno, reader.recno());
  EXPECT_FALSE(reader.positioned());
  EXPECT_EQ(std::string(static_cast<std::size_t>(length), ' '), reader.image().substr(1));
  return out;
}

// The plain reading of the same bytes: a final 0x1A dropped, lines split at every CR LF,
// each cut or blank-padded to L; text after the last line end is a record when present.
std::vector<std::string> model(std::string bytes, int length) {
  if (!bytes.empty() && bytes.back() == '\x1A') bytes.pop_back();
  std::vector<std::string> out;
  std::size_t start = 0;
  const std::size_t L = static_cast<std::size_t>(length);
  while (start < bytes.size()) {
    std::size_t p = bytes.find("\r\n", start);
    std::string line = bytes.substr(start, p == std::string::npos ? std::string::npos : p - start);
    line.resize(L, ' ');
    out.push_back(line);
    if (p == std::string::npos) break;
    start = p + 2;
  }
  return out;
}

// The tally of the plain reading: the length of every line before it is cut or padded.
LineTally model_tally(std::string bytes, int length) {
  if (!bytes.empty() && bytes.back() == '\x1A') bytes.pop_back();
  LineTally t;
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t p = bytes.find("\r\n", start);
    t.add((p == std::string::npos ? bytes.size() : p) - start, static_cast<std::uint64_t>(length));
    if (p == std::string::npos) break;
    start = p + 2;
  }
  return t;
}

LineTally tally_of(const std::string& bytes, int length, std::size_t window) {
  MemorySource memory(bytes);
  ReadAhead source(memory, window);
  SdfReader reader(char_layout(length), "", source, "t.txt");
  EXPECT_TRUE(reader.go_top());
  while (!reader.eof()) EXPECT_TRUE(reader.skip());
  return reader.tally();
}

std::string text(const LineTally& t) {
  std::string s = std::to_string(t.lines) + " lines, " + std::to_string(t.shorter) + " short by " +
                  std::to_string(t.min_short) + ".." + std::to_string(t.max_short) + ", " +
                  std::to_string(t.longer) + " long by " + std::to_string(t.min_long) + ".." +
                  std::to_string(t.max_long) + ", first";
  for (std::uint64_t n : t.first) s += " " + std::to_string(n);
  return s;
}

TEST(SdfReaderTest, TallyCountsLinesThatAreNotTheRecordLength) {
  const std::string ok(10, 'A');
  struct Case {
    const char* name;
    std::string bytes;
    std::string want;
  } cases[] = {
      {"all fit", ok + "\r\n" + ok + "\r\n", "2 lines, 0 short by 0..0, 0 long by 0..0, first"},
      {"short and empty lines", "ABC\r\n" + ok + "\r\n\r\n",
       "3 lines, 2 short by 7..10, 0 long by 0..0, first 1 3"},
      {"a line longer than the span", ok + "XYZXYZXYZ\r\n" + ok + "\r\n",
       "2 lines, 0 short by 0..0, 1 long by 9..9, first 1"},
      {"one and two bytes long", ok + "X\r\n" + ok + "XY\r\n",
       "2 lines, 0 short by 0..0, 2 long by 1..2, first 1 2"},
      {"last line without line end", ok + "\r\nABCD\x1A",
       "2 lines, 1 short by 6..6, 0 long by 0..0, first 2"},
      {"last line long without line end", ok + "\r\n" + ok + ok,
       "2 lines, 0 short by 0..0, 1 long by 10..10, first 2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.want, text(tally_of(c.bytes, 10, ReadAhead::kDefaultWindow)));
    EXPECT_EQ(c.want, text(model_tally(c.bytes, 10)));
  }
  // Only the first few line numbers are kept.
  std::string many;
  for (int i = 0; i < 9; ++i) many += "A\r\n";
  EXPECT_EQ("9 lines, 9 short by 9..9, 0 long by 0..0, first 1 2 3 4 5",
            text(tally_of(many, 10, 64)));
}

TEST(SdfReaderTest, LinesBecomeRecords) {
  struct Case {
    const char* name;
    std::string bytes;
    int length;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"empty file", "", 5, {}},
      {"one full line", "ABCDE\r\n", 5, {"ABCDE"}},
      {"short line padded with blanks", "AB\r\nCDEFG\r\n", 5, {"AB   ", "CDEFG"}},
      {"empty line is all blanks", "\r\nABCDE\r\n", 5, {"     ", "ABCDE"}},
      {"long line cut, next after its line end",
       "ABCDEFGHIJKLMNOP\r\nXY\r\n",
       5,
       {"ABCDE", "XY   "}},
      {"line end split over two scan chunks", "ABCDEFGH\r\nXY\r\n", 5, {"ABCDE", "XY   "}},
      {"very long line", "ABCDE" + std::string(5000, 'x') + "\r\nZ\r\n", 5, {"ABCDE", "Z    "}},
      {"long last line without line end", "ABCDE\r\nFGHIJKLMNOPQRST", 5, {"ABCDE", "FGHIJ"}},
      {"last line without line end", "ABCDE\r\nXY", 5, {"ABCDE", "XY   "}},
      {"CR LF inside the data cuts the record", "AB\r\nCDE\r\n", 5, {"AB   ", "CDE  "}},
      {"lone CR and LF are data", "A\rB\nC\r\n", 5, {"A\rB\nC"}},
      {"LF CR is data", "A\n\rBC\r\n", 5, {"A\n\rBC"}},
      {"CR just before the line end is kept", "ABCD\r\r\n", 5, {"ABCD\r"}},
      {"zero and 0x1A bytes inside are data",
       "A\0B\x1A\xFF\r\nC\r\n"s,
       5,
       {"A\0B\x1A\xFF"s, "C    "}},
      {"0x1A after the last line end adds nothing", "ABCDE\r\n\x1A", 5, {"ABCDE"}},
      {"0x1A ending a last line becomes a blank", "ABCDE\r\nXYZ\x1A", 5, {"ABCDE", "XYZ  "}},
      {"0x1A alone", "\x1A", 5, {}},
      {"0x1A that is not the last byte is data", "\x1A\r\n", 5, {"\x1A    "}},
      {"blank lines at the end", "ABCDE\r\n\r\n\r\n", 5, {"ABCDE", "     ", "     "}},
      {"record length 0", "AB\r\n\r\nC", 0, {"", "", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.want, records_of(c.bytes, c.length));
    EXPECT_EQ(c.want, model(c.bytes, c.length));  // the model agrees with the cases
  }
}

// When exactly L + 2 bytes (or L + 3 with a final 0x1A) remain from a record's start and
// a line end stands early in them, the lines after it are records too: none is lost.
TEST(SdfReaderTest, NoLineIsLostWhenAShortLineEndsTheLastSpan) {
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"two lines in L + 2 bytes", "AB\r\nCDE", {"AB   ", "CDE  "}},
      {"three lines in L + 2 bytes", "A\r\nB\r\nC", {"A    ", "B    ", "C    "}},
      {"with a final 0x1A", "AB\r\nCDE\x1A", {"AB   ", "CDE  "}},
      {"after full records", "ABCDE\r\nFGHIJ\r\nAB\r\nCDE", {"ABCDE", "FGHIJ", "AB   ", "CDE  "}},
      {"the second line ends too", "AB\r\nC\r\n", {"AB   ", "C    "}},
      // The scan past a long line: its last chunk, carried byte included, holds L + 2.
      {"after a long line", "ABCDEFGHIJ\r\nXYZ", {"ABCDE", "XYZ  "}},
      {"an inner CR LF in a packed field",
       "\x12\x0D\x0A\x5C\x41\x42\r\n",
       {"\x12    ", "\x5C\x41\x42  "}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.want, records_of(c.bytes, 5));
  }
}

// Random bytes rich in CR, LF, 0x1A and zero bytes, every record length from 0 to 7 and
// windows small enough that records straddle them.
TEST(SdfReaderTest, AgreesWithLineSplittingOnRandomBytes) {
  std::mt19937 rng(20240131);
  const char alphabet[] = {'A', 'B', '\r', '\n', '\x1A', '\0', ' ', '\r', '\n'};
  for (int round = 0; round < 3000; ++round) {
    const std::size_t size = rng() % 40;
    std::string bytes;
    for (std::size_t i = 0; i < size; ++i) bytes.push_back(alphabet[rng() % sizeof alphabet]);
    const int length = static_cast<int>(rng() % 8);
    const std::size_t window = 1 + rng() % 24;
    SCOPED_TRACE(::testing::Message() << "round " << round << " L " << length);
    ASSERT_EQ(model(bytes, length), records_of(bytes, length, window));
    ASSERT_EQ(text(model_tally(bytes, length)), text(tally_of(bytes, length, window)));
  }
}

TEST(SdfReaderTest, FieldValuesFollowTheirKinds) {
  SdfLayout layout = SdfLayout::from_structure({
      {"NAME", 'C', 3, 0},
      {"PRICE", 'N', 6, 2},
      {"QTY", 'N', 4, 0},
      {"WHEN", 'D', 8, 0},
      {"OK", 'L', 1, 0},
      {"NOTE", 'M', 10, 0},
  });
  ASSERT_EQ(22u, layout.record_length);
  EXPECT_FALSE(layout.whole_image);  // the memo takes no bytes of the line

  struct Case {
    std::string line;
    std::string name;
    double price;
    std::int64_t qty;
    std::int32_t when;  // day number, 0 empty
    bool ok;
  };
  const std::int32_t jan31 = date_encode(2024, 1, 31);
  const Case cases[] = {
      {"A\0C 12.50  1220240131T"s, "A\0C"s, 12.5, 12, jan31, true},
      // Each byte counts as its value minus "0": the day "3 " reads as 3 * 10 - 16 = 14.
      {"xyz  -1.5-0072024013 y"s, "xyz", -1.5, -7, date_encode(2024, 1, 14), true},
      {"   abcdef    20240231F"s, "   ", 0, 0, 0, false},  // 31 February
      {"   123456999920240\x00"
       "31t"s,
       "   ", 123456, 9999, 0, true},  // zero byte
      {"   000000    00000000 "s, "   ", 0, 0, 0, false},
      {"      \r\n"s, "   ", 0, 0, 0, false},  // short line: blanks
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    MemorySource memory(c.line + "\r\n");
    SdfReader reader(layout, "", memory, "t.txt");
    ASSERT_TRUE(reader.go_top());
    Value name = reader.field_value(0);
    ASSERT_TRUE(name.is_string());
    EXPECT_EQ(c.name, name.str());
    Value price = reader.field_value(1);
    ASSERT_TRUE(price.is_number());
    EXPECT_DOUBLE_EQ(c.price, price.num().as_double());
    EXPECT_EQ(3, price.num().width);  // 6 - 2 - 1
    EXPECT_EQ(2, price.num().dec);
    Value qty = reader.field_value(2);
    ASSERT_TRUE(qty.is_number());
    EXPECT_EQ(c.qty, static_cast<std::int64_t>(qty.num().as_double()));
    EXPECT_EQ(4, qty.num().width);
    EXPECT_EQ(0, qty.num().dec);
    Value when = reader.field_value(3);
    ASSERT_TRUE(when.is_date());
    EXPECT_EQ(c.when, when.day());
    Value ok = reader.field_value(4);
    ASSERT_TRUE(ok.is_logical());
    EXPECT_EQ(c.ok, ok.log());
    Value note = reader.field_value(5);
    ASSERT_TRUE(note.is_string());
    EXPECT_EQ("", note.str());
  }
}

TEST(SdfReaderTest, LayoutKeepsWholeImagesOnlyForFieldsThatStandAsInTheTable) {
  struct Case {
    const char* name;
    std::vector<SdfFieldDesc> structure;
    std::size_t length;
    bool whole;
  };
  const Case cases[] = {
      {"text, numbers, date, logical",
       {{"A", 'C', 10, 0}, {"B", 'N', 8, 2}, {"C", 'F', 5, 1}, {"D", 'D', 8, 0}, {"E", 'L', 1, 0}},
       32,
       true},
      {"a wide character field", {{"A", 'C', 300, 0}}, 300, true},
      {"memo", {{"A", 'C', 3, 0}, {"M", 'M', 10, 0}}, 3, false},
      {"binary date", {{"D", 'D', 4, 0}}, 8, false},
      {"binary integer", {{"I", 'I', 4, 0}}, 11, false},
      {"binary double", {{"B", '8', 8, 2}}, 20, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SdfLayout layout = SdfLayout::from_structure(c.structure);
    EXPECT_EQ(c.length, layout.record_length);
    EXPECT_EQ(c.whole, layout.whole_image);
    std::size_t offset = 0;
    for (const SdfField& f : layout.fields) {
      EXPECT_EQ(offset, f.offset);
      offset += f.width;
    }
  }
}

TEST(SdfReaderTest, AnotherLineEndSettingSplitsOnItsText) {
  MemorySource memory("AB|CDE|FGHIJKL|M");
  SdfReader reader(char_layout(3), "|", memory, "t.txt");
  std::vector<std::string> got;
  ASSERT_TRUE(reader.go_top());
  while (!reader.eof()) {
    got.emplace_back(reader.image().substr(1));
    ASSERT_TRUE(reader.skip());
  }
  EXPECT_EQ((std::vector<std::string>{"AB ", "CDE", "FGH", "M  "}), got);
}

// Walking a file costs one inner read per window, not one per record.
TEST(SdfReaderTest, RecordsAreReadThroughTheWindow) {
  std::string bytes;
  for (int i = 0; i < 20000; ++i) bytes += "record number " + std::to_string(100000 + i) + "\r\n";
  MemorySource memory(bytes);
  ReadAhead source(memory, 64 * 1024);
  SdfReader reader(char_layout(20), "", source, "t.txt");
  ASSERT_TRUE(reader.go_top());
  int count = 0;
  while (!reader.eof()) {
    ++count;
    ASSERT_TRUE(reader.skip());
  }
  EXPECT_EQ(20000, count);
  EXPECT_LE(memory.reads(), bytes.size() / (64 * 1024) + 3);
}

class SdfFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::temp_root() /
           ("lum_sdf_reader_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    rt_.install_handler([this](ErrorObject& e) {
      errors_.push_back(e);
      return Value::logical(answers_.empty() ? false : next_answer());
    });
  }
  void TearDown() override {
    set_io_fault_hook(nullptr);
    std::filesystem::remove_all(dir_);
  }
  bool next_answer() {
    bool a = answers_.front();
    answers_.erase(answers_.begin());
    return a;
  }
  std::string write(const std::string& name, const std::string& bytes) {
    std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  Runtime rt_;
  std::filesystem::path dir_;
  std::vector<ErrorObject> errors_;
  std::vector<bool> answers_;  // the handler's answers in order; false once used up
};

TEST_F(SdfFileTest, FileRecordsCostOneSystemReadPerWindow) {
  std::string bytes;
  for (int i = 0; i < 5000; ++i) bytes += std::string(40, static_cast<char>('a' + i % 26)) + "\r\n";
  std::string path = write("big.txt", bytes);
  int reads = 0;
  set_io_fault_hook([&](IoOp op, const std::string&, std::uint64_t, std::size_t, IoFault&) {
    if (op == IoOp::Read) ++reads;
    return false;
  });
  File file;
  ASSERT_EQ(kOsOk, file.open(path, FileAccess::ReadOnly, FileShare::Shared));
  FileSource inner(std::move(file));
  ReadAhead source(inner, 16 * 1024);
  SdfReader reader(char_layout(40), "", source, path);
  ASSERT_TRUE(reader.go_top());
  int count = 0;
  while (!reader.eof()) {
    EXPECT_EQ(std::string(40, static_cast<char>('a' + count % 26)), reader.image().substr(1));
    ++count;
    ASSERT_TRUE(reader.skip());
  }
  EXPECT_EQ(5000, count);
  EXPECT_LE(reads, static_cast<int>(bytes.size() / (16 * 1024)) + 3);
}

TEST_F(SdfFileTest, ReadFailureIsRaisedAndRetried) {
  std::string path = write("r.txt", "ABCDE\r\nFGHIJ\r\nKLMNO\r\n");
  int failures_left = 2;
  set_io_fault_hook(
      [&](IoOp op, const std::string&, std::uint64_t offset, std::size_t, IoFault& fault) {
        if (op != IoOp::Read || offset != 7 || failures_left == 0) return false;
        --failures_left;
        fault.allow = 0;
        fault.oscode = kOsAccessDenied;
        return true;
      });
  File file;
  ASSERT_EQ(kOsOk, file.open(path, FileAccess::ReadOnly, FileShare::Shared));
  FileSource source(std::move(file));  // unbuffered: the record at offset 7 is one read
  SdfReader reader(char_layout(5), "", source, path);
  answers_ = {true, true};
  ASSERT_TRUE(reader.go_top());
  ASSERT_TRUE(reader.skip());
  EXPECT_EQ(" FGHIJ", reader.image());
  ASSERT_EQ(2u, errors_.size());
  EXPECT_EQ(kErrRead, errors_[0].gencode);
  EXPECT_EQ("SDF", errors_[0].subsystem);
  EXPECT_EQ(1010, errors_[0].subcode);
  EXPECT_EQ(path, errors_[0].filename);
  EXPECT_EQ(kOsAccessDenied, errors_[0].oscode);
  EXPECT_TRUE(errors_[0].can_retry);
  EXPECT_TRUE(errors_[0].can_default);
}

TEST_F(SdfFileTest, ReadFailureNotRetriedFailsTheMove) {
  std::string path = write("r.txt", "ABCDE\r\nFGHIJ\r\n");
  set_io_fault_hook(
      [&](IoOp op, const std::string&, std::uint64_t offset, std::size_t, IoFault& fault) {
        if (op != IoOp::Read || offset != 7) return false;
        fault.allow = 0;
        fault.oscode = kOsAccessDenied;
        return true;
      });
  File file;
  ASSERT_EQ(kOsOk, file.open(path, FileAccess::ReadOnly, FileShare::Shared));
  FileSource source(std::move(file));
  SdfReader reader(char_layout(5), "", source, path);
  ASSERT_TRUE(reader.go_top());
  EXPECT_FALSE(reader.skip());
  EXPECT_TRUE(reader.eof());
  EXPECT_EQ(1u, errors_.size());
}

}  // namespace
}  // namespace lum
