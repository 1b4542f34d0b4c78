// The five conversions end to end: the built lumconv program runs on generated datasets
// in fresh directories, and its tables, memo files, index files and final screen are
// compared with what the expected-result oracle and this test work out independently.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "frame/startup.h"
#include "platform/file.h"
#include "platform/process.h"
#include "tests/support/expected.h"
#include "tests/support/ntx_reader.h"
#include "tests/support/operator_user.h"
#include "tests/support/temp_dir.h"
#include "tools/sample/dataset.h"
#include "tools/sample/dbf_builder.h"

namespace lum::test {

using sample::Dataset;
using sample::DatasetOptions;
using sample::FieldDef;
using sample::kTargetCount;
using sample::TableDef;
using sample::Target;
using sample::TextSet;
namespace {

namespace fs = std::filesystem;

const std::string kBinary = LUMCONV_BINARY;
const std::string kLockHelper = LUM_LOCK_HELPER;
constexpr int kRows = 25, kCols = 80;

void write_text_file(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

std::uint32_t u16(const std::string& b, std::size_t at) {
  return static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8;
}
std::uint32_t u32(const std::string& b, std::size_t at) {
  return u16(b, at) | u16(b, at + 2) << 16;
}

Expected::Date today() {
  std::time_t now = std::time(nullptr);
  std::tm tm = *std::localtime(&now);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
}

// Whether `p` lies in the folder of the undo snapshots below `dir`.
bool in_undo_folder(const fs::path& p, const fs::path& dir) {
  return fs::relative(p, dir).begin()->string() == "lumconv-undo";
}

// Every regular file below `dir`, by relative path; the undo snapshots aside.
std::map<std::string, std::string> snapshot(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    if (e.is_regular_file() && !in_undo_folder(e.path(), dir)) {
      files[fs::relative(e.path(), dir).string()] = read_file(e.path());
    }
  }
  return files;
}

// Standard error without the account's last line, where a run's undo snapshot is.
std::string without_undo_line(const std::string& err) {
  const std::size_t at = err.rfind("lumconv: the files this run changed were saved first in ");
  return at == std::string::npos || err.find('\n', at) != err.size() - 1 ? err : err.substr(0, at);
}

struct RunResult {
  int code = -1;
  std::vector<std::string> logged;  // the lines of line output before the final screen
  std::vector<std::string> screen;  // kRows rows of kCols characters
  std::string out, err;

  // Splits the output: without a terminal, every line of line output comes in order and
  // the final screen follows, so the first `lines` output lines are the log and the rest
  // is the screen.
  void split_log(std::size_t lines) {
    std::vector<std::string> all;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) all.push_back(line);
    lines = std::min(lines, all.size());
    logged.assign(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(lines));
    screen.assign(all.begin() + static_cast<std::ptrdiff_t>(lines), all.end());
    screen.resize(std::max<std::size_t>(screen.size(), kRows));
    for (std::string& row : screen) row.resize(kCols, ' ');
  }
};

// One dataset in a fresh temporary directory, with a scratch directory beside it for the
// program's outputs.
class Workspace {
 public:
  explicit Workspace(const DatasetOptions& options) : ds_(options) {
    std::random_device rd;
    root_ = temp_root() /
            ("lumconv-cv-" + std::to_string(rd()) + "-" + std::to_string(rd()));
    fs::create_directories(root_ / "scratch");
    dir_ = root_ / "data";
    ds_.write(dir_);
  }
  ~Workspace() { remove_tree(root_); }
  const Dataset& dataset() const { return ds_; }
  const fs::path& dir() const { return dir_; }
  bool snapshot_ = true;

  // Starts lumconv on the dataset with these options for the process (its directory and
  // environment are the dataset's).
  Process start(ProcessOptions o = {}) const {
    o.cwd = dir_.string();
    o.unset_env = {"LUMCONV"};
    std::vector<std::string> args = {"//DRIVE:" + dir_.string()};
    if (!snapshot_) args.push_back("--no-undo");
    Process p;
    p.start(kBinary, args, o);
    return p;
  }
  // Runs from now on without the undo snapshot (--no-undo), to meet the conversions'
  // own handling of what the snapshot would stop first.
  void without_snapshot() { snapshot_ = false; }

  // Runs lumconv on the dataset to its end, the largest file it may write limited when
  // asked.
  RunResult run(std::uint64_t max_file_size = 0) const {
    ProcessOptions o;
    o.max_file_size = max_file_size;
    return run(o);
  }
  RunResult run(ProcessOptions o) const { return result_of(start(std::move(o))); }

  static RunResult result_of(Process p) {
    ProcessOutcome out = p.wait();
    EXPECT_TRUE(out.started) << out.out;
    return result_of(out);
  }

  static RunResult result_of(const ProcessOutcome& p) {
    RunResult r;
    r.code = p.exit_code;
    r.out = p.out;
    r.err = p.err;
    r.split_log(0);
    return r;
  }

 private:
  Dataset ds_;
  fs::path root_, dir_;
};

// The final screen worked out from the run's order of output: DEVOUT writes in place and
// leaves the cursor after the text; QOUT starts a new line below the cursor, scrolling at
// the bottom, and wraps at the right edge.
class ScreenModel {
 public:
  ScreenModel() : rows_(kRows, std::string(kCols, ' ')) {}
  void devout(int row, int col, const std::string& text) {
    row_ = row;
    col_ = col;
    for (char ch : text) {
      if (col_ < kCols) rows_[row_][col_] = ch;
      ++col_;
    }
  }
  void qout(const std::string& text) {
    col_ = std::min(col_, kCols - 1);
    new_line();
    for (char ch : text) {
      rows_[row_][col_] = ch;
      if (++col_ == kCols) new_line();
    }
  }
  const std::vector<std::string>& rows() const { return rows_; }

 private:
  void new_line() {
    col_ = 0;
    if (++row_ >= kRows) {
      rows_.erase(rows_.begin());
      rows_.push_back(std::string(kCols, ' '));
      row_ = kRows - 1;
    }
  }
  std::vector<std::string> rows_;
  int row_ = 0, col_ = 0;
};

const std::string kNotFound = "Fornecedor nao encontrado";

// The screen a completed run leaves. Every payables movement prints its not-found line
// right after its counter (the oracle's lines are checked to say so), and every line of
// client 525 follows a receivables counter.
std::vector<std::string> expected_screen(const Dataset& ds, const Expected& ex) {
  ScreenModel s;
  s.devout(2, 15, "Qo Softwares 00-0000-0000");
  s.devout(3, 15, "Convertendo dados do Cobol para \\lum\\firma1");
  std::vector<std::string> not_found, client525;
  std::string width_line;
  bool after_width = false;
  for (const std::string& line : ex.console_lines()) {
    if (line.starts_with(kNotFound)) {
      not_found.push_back(line);
    } else if (!after_width) {
      width_line = line;
      after_width = true;
    } else {
      client525.push_back(line);
    }
  }
  auto counter = [&](Counter c, int row, int col) {
    if (auto v = ex.counter(c); v && *v > 0) s.devout(row, col, Expected::counter_text(*v));
  };
  if (ds.text_present(TextSet::kSuppliers)) {
    s.devout(12, 10, "Fornecedores:");
    counter(Counter::kSuppliers, 12, 20);
  }
  if (ds.text_present(TextSet::kPayables)) {
    s.devout(14, 10, "Pagar:");
    EXPECT_EQ(ex.counter(Counter::kPayables).value_or(0), not_found.size());
    for (std::size_t i = 0; i < not_found.size(); ++i) {
      s.devout(14, 60, Expected::counter_text(i + 1));
      s.qout(not_found[i]);
    }
  }
  if (ds.text_present(TextSet::kProducts)) {
    s.qout(width_line);
    s.devout(10, 10, "Produtos:");
    counter(Counter::kProducts, 10, 20);
    s.devout(11, 10, "Saldos:");
    counter(Counter::kBalances, 11, 20);
  }
  if (ds.text_present(TextSet::kClients)) {
    s.devout(13, 10, "Clientes:");
    counter(Counter::kClients, 13, 20);
    s.devout(14, 10, "Receber:");
    for (const std::string& line : client525) {
      s.devout(14, 60, "");
      s.qout(line);
    }
    counter(Counter::kReceivables, 14, 60);
  }
  return s.rows();
}

// The value of one field in every record of a DBF file, in record order.
std::vector<std::string> field_values(const std::string& file, const FieldDef& f) {
  const std::size_t header = u16(file, 8), length = u16(file, 10), count = u32(file, 4);
  std::vector<std::string> values;
  for (std::size_t i = 0; i < count; ++i) {
    values.push_back(file.substr(header + i * length + f.offset, f.length));
  }
  return values;
}

// The index over one field must hold every record's value once, in byte order of the key
// and by record number among equal keys.
void check_index(const fs::path& ntx, const std::string& table_file, const FieldDef& field,
                 const std::string& key_text) {
  SCOPED_TRACE(ntx.filename().string());
  ASSERT_TRUE(fs::exists(ntx));
  NtxIndex ix;
  try {
    ix = read_ntx(read_file(ntx));
  } catch (const std::exception& e) {
    FAIL() << e.what();
  }
  EXPECT_EQ(0x0006, ix.signature);
  EXPECT_EQ(key_text, ix.key_expression);
  EXPECT_EQ(field.length, ix.key_size);
  EXPECT_EQ(0, ix.key_decimals);
  EXPECT_FALSE(ix.unique);
  EXPECT_FALSE(ix.descending);
  EXPECT_EQ("", ix.for_condition);
  EXPECT_EQ(0u, ix.free_page);
  EXPECT_EQ(read_file(ntx).size(), (ix.pages + 1) * 1024) << "pages outside the tree";

  std::vector<NtxEntry> expected;
  std::vector<std::string> values = field_values(table_file, field);
  for (std::size_t i = 0; i < values.size(); ++i) {
    expected.push_back({values[i], static_cast<std::uint32_t>(i + 1)});
  }
  std::stable_sort(expected.begin(), expected.end(),
                   [](const NtxEntry& a, const NtxEntry& b) { return a.key < b.key; });
  ASSERT_EQ(expected.size(), ix.entries.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(expected[i], ix.entries[i])
        << "entry " << i << ": expected \"" << expected[i].key << "\" record " << expected[i].record
        << ", found \"" << ix.entries[i].key << "\" record " << ix.entries[i].record;
  }
}

void check_indexes(const Workspace& w) {
  const Dataset& ds = w.dataset();
  const fs::path target = Dataset::target_dir(w.dir());
  if (ds.text_present(TextSet::kPayables)) {
    const TableDef& d = ds.target(Target::kSuppliers);
    check_index(w.dir() / "LUTMPFOR.ntx", read_file(target / d.file_name), d.at("OBS_FOR"),
                "OBS_FOR");
  }
  if (ds.text_present(TextSet::kProducts)) {
    const TableDef& items = ds.target(Target::kItems);
    check_index(w.dir() / "coditem.ntx", read_file(target / items.file_name), items.at("CODITEM"),
                "coditem");
    const TableDef& bal = ds.staging(TextSet::kBalances);
    check_index(w.dir() / "saldo.ntx", read_file(w.dir() / bal.file_name), bal.at("CODIGO"),
                "codigo");
  }
}

// Header of every rewritten target: date of the run, record count, and the file ends
// right after the last record (the end mark of the zap is overwritten by the first append).
void check_headers(const Workspace& w, const Expected& ex, Expected::Date day) {
  for (int t = 0; t < kTargetCount; ++t) {
    Target target = static_cast<Target>(t);
    if (!ex.rewritten(target)) continue;
    const TableDef& d = w.dataset().target(target);
    SCOPED_TRACE(d.file_name);
    std::string f = read_file(Dataset::target_dir(w.dir()) / d.file_name);
    ASSERT_GE(f.size(), 32u);
    EXPECT_EQ(day.year - 1900, static_cast<unsigned char>(f[1]));
    EXPECT_EQ(day.month, f[2]);
    EXPECT_EQ(day.day, f[3]);
    const std::size_t count = u32(f, 4);
    EXPECT_EQ(ex.record_count(target), count);
    EXPECT_EQ(static_cast<std::uint32_t>(d.record_length()), u16(f, 10));
    const std::size_t end = u16(f, 8) + count * d.record_length();
    if (count > 0) {
      EXPECT_EQ(end, f.size()) << "bytes after the last record";
    } else {
      EXPECT_EQ(std::string(1, '\x1a'), f.substr(end));
    }
  }
}

std::string joined(const std::vector<std::string>& lines) {
  std::string s;
  for (const std::string& l : lines) s += l + "\n";
  return s;
}

struct RunCase {
  const char* name;
  DatasetOptions options;
};
// Messages name a case by its label, not by the bytes of its options.
void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

DatasetOptions without_suppliers_file(std::size_t n) {
  DatasetOptions o = DatasetOptions::with_lines(n, 7);
  o.write_text[static_cast<int>(TextSet::kSuppliers)] = false;
  o.legacy_suppliers = true;
  return o;
}
DatasetOptions wide_code_without_optional_fields(std::size_t n) {
  DatasetOptions o = DatasetOptions::with_lines(n, 11);
  o.wide_coditem = true;
  o.item_localiza = false;
  o.item_marca = false;
  return o;
}
// The sample lumgen writes by default: realistic lines, no supplier export, the supplier
// table with the old system's codes.
DatasetOptions realistic(std::size_t n) {
  DatasetOptions o = DatasetOptions::with_lines(n, 12);
  o.edge_cases = false;
  o.legacy_suppliers = true;
  o.write_text[static_cast<int>(TextSet::kSuppliers)] = false;
  return o;
}
DatasetOptions uneven(std::uint64_t seed) {
  DatasetOptions o;
  o.seed = seed;
  o.lines = {150, 120, 250, 300, 90, 200};
  return o;
}

class CompletedRun : public ::testing::TestWithParam<RunCase> {};

// Tables, staging tables, memo files, headers and indexes after a run that completes.
TEST_P(CompletedRun, EveryFileMatchesTheWorkedOutResult) {
  Workspace w(GetParam().options);
  Expected ex(w.dataset());
  ASSERT_EQ(0, ex.exit_code());
  RunResult r = w.run();
  EXPECT_EQ(0, r.code) << r.err << joined(r.screen);
  Expected::Date day = today();
  std::vector<std::string> diffs = ex.differences(w.dir(), day);
  EXPECT_TRUE(diffs.empty()) << joined(diffs);
  check_headers(w, ex, day);
  check_indexes(w);
  EXPECT_FALSE(fs::exists(w.dir() / "error.log"));
  // Realistic lines all have their record's length: a normal run says nothing more
  // than where its undo snapshot is.
  if (!GetParam().options.edge_cases) {
    EXPECT_EQ("", without_undo_line(r.err));
    EXPECT_NE("", r.err);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Datasets, CompletedRun,
    ::testing::Values(RunCase{"Twenty", DatasetOptions::with_lines(20)},
                      RunCase{"ThreeHundred", DatasetOptions::with_lines(300, 3)},
                      RunCase{"UnevenFiles", uneven(5)},
                      RunCase{"LegacySuppliersWithoutTheirFile", without_suppliers_file(300)},
                      RunCase{"WideCodeWithoutLocalizaAndMarca",
                              wide_code_without_optional_fields(300)},
                      RunCase{"ThreeThousand", DatasetOptions::with_lines(3000, 9)},
                      RunCase{"RealisticSample", realistic(600)}),
    [](const ::testing::TestParamInfo<RunCase>& info) { return std::string(info.param.name); });

// Without a terminal the output is a log: every line of line output (the item code width,
// every "Fornecedor nao encontrado" line, client 525's digits) in the order written and
// whole, although on the screen each covers the one before; then the final screen,
// unchanged.
TEST(ConversionsEndToEnd, LogHoldsEveryDiagnosticLineThenTheFinalScreen) {
  for (std::size_t n : {20, 40}) {
    SCOPED_TRACE(n);
    Workspace w(DatasetOptions::with_lines(n, n));
    Expected ex(w.dataset());
    std::vector<std::string> expected = expected_screen(w.dataset(), ex);
    RunResult r = w.run();
    ASSERT_EQ(0, r.code);
    const std::vector<std::string> lines = ex.console_lines();
    ASSERT_GT(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.starts_with(kNotFound); }),
              1);
    r.split_log(lines.size());
    EXPECT_EQ(lines, r.logged);
    ASSERT_EQ(static_cast<std::size_t>(kRows), r.screen.size()) << joined(r.screen);
    for (int row = 0; row < kRows; ++row) {
      EXPECT_EQ(expected[row], r.screen[row]) << "row " << row;
    }
    // The two rows the diagnostics end on: the last line of client 525 covers the
    // not-found lines, and the item code width stays on the row below.
    EXPECT_TRUE(r.screen[15].starts_with(lines.back())) << r.screen[15];
    EXPECT_EQ(std::string(9, ' ') + std::to_string(ex.coditem_width()), r.screen[16].substr(0, 10));
  }
}

TEST(ConversionsEndToEnd, NotFoundLineStaysWithoutClient525Movements) {
  // With the receivables and clients absent, row 15 keeps the last not-found line.
  DatasetOptions o = DatasetOptions::with_lines(25, 2);
  o.write_text[static_cast<int>(TextSet::kClients)] = false;
  Workspace w(o);
  Expected ex(w.dataset());
  RunResult r = w.run();
  ASSERT_EQ(0, r.code);
  r.split_log(ex.console_lines().size());
  EXPECT_EQ(ex.console_lines(), r.logged);
  std::vector<std::string> expected = expected_screen(w.dataset(), ex);
  for (int row = 0; row < kRows; ++row) EXPECT_EQ(expected[row], r.screen[row]) << "row " << row;
  EXPECT_TRUE(r.screen[15].starts_with(kNotFound));
  EXPECT_TRUE(ex.differences(w.dir(), today()).empty());
}

TEST(ConversionsEndToEnd, SecondRunWithTheSameInputsGivesTheSameFiles) {
  Workspace w(DatasetOptions::with_lines(120, 4));
  ASSERT_EQ(0, w.run().code);
  std::map<std::string, std::string> first = snapshot(w.dir());
  ASSERT_TRUE(first.contains("coditem.ntx"));
  ASSERT_EQ(0, w.run().code);
  std::map<std::string, std::string> second = snapshot(w.dir());
  ASSERT_EQ(first.size(), second.size());
  for (const auto& [name, bytes] : first) {
    ASSERT_TRUE(second.contains(name)) << name;
    EXPECT_TRUE(bytes == second[name]) << name << " differs after the second run";
  }
}

TEST(ConversionsEndToEnd, MissingReceivablesFileEndsWithAnErrorAndKeepsTheirTable) {
  DatasetOptions o = DatasetOptions::with_lines(30, 6);
  o.write_text[static_cast<int>(TextSet::kReceivables)] = false;
  Workspace w(o);
  const Dataset& ds = w.dataset();
  Expected ex(ds);
  ASSERT_EQ(TextSet::kReceivables, ex.failing_import());
  const TableDef& receivables = ds.target(Target::kReceivables);
  const fs::path receivables_file = Dataset::target_dir(w.dir()) / receivables.file_name;
  const std::string before = read_file(receivables_file);
  const std::string staging_before =
      read_file(w.dir() / ds.staging(TextSet::kReceivables).file_name);
  ASSERT_EQ(ds.initial_table_file(Target::kReceivables), before);

  RunResult r = w.run();
  EXPECT_EQ(1, r.code);
  // The log: the conversions' lines, then the error report's five (the message, a blank,
  // where, the caller, a blank), then the final screen.
  r.split_log(ex.console_lines().size() + 5);
  // Every line written before the error end is there, though the lines go out in blocks.
  ASSERT_EQ(ex.console_lines().size() + 5, r.logged.size());
  EXPECT_EQ(ex.console_lines(),
            std::vector<std::string>(
                r.logged.begin(),
                r.logged.begin() + static_cast<std::ptrdiff_t>(ex.console_lines().size())));
  EXPECT_EQ("Error SDF/1001  Open error: receber.txt (DOS Error 2)",
            r.logged[ex.console_lines().size()]);
  EXPECT_TRUE(fs::exists(w.dir() / "error.log"));
  EXPECT_EQ(before, read_file(receivables_file));
  EXPECT_EQ(staging_before, read_file(w.dir() / ds.staging(TextSet::kReceivables).file_name));
  // After the handler's lines, standard error says what the run changed, and only that.
  const std::string account = r.err.substr(r.err.find("lumconv: an error ended the run"));
  EXPECT_TRUE(account.starts_with("lumconv: an error ended the run. It changed:\n")) << account;
  EXPECT_NE(
      std::string::npos,
      account.find("\n  \\lum\\firma1\\" + ds.target(Target::kClients).file_name + " (table, now " +
                   std::to_string(ex.record_count(Target::kClients)) + " records)\n"))
      << account;
  for (const char* name : {"  coditem.ntx (index, built again)\n", "  cbCli.dbf (table, now "}) {
    EXPECT_NE(std::string::npos, account.find(name)) << account;
  }
  EXPECT_EQ(std::string::npos, account.find(receivables.file_name)) << account;
  EXPECT_EQ(std::string::npos, account.find("error.log")) << account;
  // Then how to put every file back.
  const std::string every_other = "\nEvery other table is as it was before the run.\n";
  ASSERT_NE(std::string::npos, account.find(every_other)) << account;
  EXPECT_TRUE(account.substr(account.find(every_other) + every_other.size())
                  .starts_with("lumconv: \"lumconv --undo //DRIVE:" + w.dir().string() +
                               "\" puts every file the run changed back as it was before the "
                               "run (saved in lumconv-undo/"))
      << account;
  EXPECT_TRUE(ex.rewritten(Target::kClients));
  std::vector<std::string> diffs = ex.differences(w.dir(), today());
  EXPECT_TRUE(diffs.empty()) << joined(diffs);

  // The error shows below the client counter, where the receivables label would have been.
  EXPECT_EQ("          Clientes: " + Expected::counter_text(*ex.counter(Counter::kClients)),
            r.screen[13].substr(0, 27));
  const std::string message = "Error SDF/1001  Open error: receber.txt (DOS Error 2)";
  EXPECT_EQ(message, r.screen[14].substr(0, message.size())) << joined(r.screen);
  EXPECT_TRUE(r.screen[16].starts_with("Error at ...: CVRECEBER(")) << r.screen[16];
}

// Lines of the wrong length convert without an error, so a normal run points to them on
// standard error, one line per text file; a run whose lines all fit says nothing there.
TEST(ConversionsEndToEnd, LinesOfTheWrongLengthAreReportedAfterANormalRun) {
  DatasetOptions o = DatasetOptions::with_lines(12, 5);
  o.crlf_split = false;  // a CR LF inside a client line makes two short lines of it
  Workspace w(o);
  const Dataset& ds = w.dataset();
  EXPECT_EQ("", without_undo_line(w.run().err));
  const fs::path receber = w.dir() / "receber.txt";
  const std::size_t length = ds.staging(TextSet::kReceivables).record_length() - 1;
  std::string cut, line;
  for (std::size_t i = 0; i < ds.line_count(TextSet::kReceivables); ++i) {
    ds.line(TextSet::kReceivables, i, line);
    cut += line.substr(0, length - 40) + "\r\n";
  }
  write_text_file(receber, cut);
  RunResult r = w.run();
  EXPECT_EQ(0, r.code);
  EXPECT_EQ("lumconv: receber.txt: all 12 lines are 40 bytes shorter than the " +
                std::to_string(length) +
                "-byte record of cbRec.dbf; \"lumconv --check\" shows which.\n",
            without_undo_line(r.err));
}

// Every table under `dir` counts in its header exactly the whole records in its file,
// with at most one 0x1A after them.
void expect_headers_agree_with_records(const fs::path& dir) {
  int tables = 0;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    std::string ext = e.path().extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!e.is_regular_file() || ext != ".dbf" || in_undo_folder(e.path(), dir)) continue;
    ++tables;
    const std::string bytes = read_file(e.path());
    ASSERT_GE(bytes.size(), 12u) << e.path();
    const std::uint32_t count = u32(bytes, 4), header_len = u16(bytes, 8),
                        record_len = u16(bytes, 10);
    const std::uint64_t end = header_len + std::uint64_t{count} * record_len;
    EXPECT_TRUE(bytes.size() == end || (bytes.size() == end + 1 && bytes.back() == '\x1a'))
        << e.path() << ": count " << count << ", size " << bytes.size();
  }
  EXPECT_EQ(11, tables);
}

// A write beyond the file-size limit fails like a full disk: the run ends through its
// error path (exit code 1, error.log), not by the signal, and every table's header
// counts exactly the whole records in its file, with at most one 0x1A after them.
TEST(ConversionsEndToEnd, FileSizeLimitEndsTheRunWithEveryHeaderAgreeingWithItsRecords) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no per-process file-size limit; the full disk is "
                  "Records.AFailedWriteLeavesAHeaderCountingOnlyTheRecordsInTheFile";
#endif
  Workspace w(DatasetOptions::with_lines(3000, 8));
  RunResult r = w.run(600 * 512);  // far below the tables' size
  EXPECT_EQ(1, r.code) << r.err;
  EXPECT_TRUE(fs::exists(w.dir() / "error.log"));
  EXPECT_NE(std::string::npos, r.err.find("Write error")) << r.err;
  expect_headers_agree_with_records(w.dir());
}

// Output that cannot be written takes the lines, not the run or a table: with a reader
// of the output that has gone (a pager quit early, a `head`) or no standard output at
// all (a shell's >&-), the run goes on to its normal end, exit code 0, and leaves every
// file as a complete run does. No table receives a line meant for the output.
TEST(ConversionsEndToEnd, OutputThatCannotBeWrittenLeavesTheRunToComplete) {
  for (ProcessOptions::Output kind :
       {ProcessOptions::Output::kReaderGone, ProcessOptions::Output::kClosed}) {
    SCOPED_TRACE(static_cast<int>(kind));
    Workspace w(DatasetOptions::with_lines(300, 3));
    Expected ex(w.dataset());
    ASSERT_GT(ex.console_lines().size(), 1U);  // the run does write lines as it goes
    ProcessOptions o;
    o.stdout_kind = kind;
    RunResult r = w.run(o);
    EXPECT_EQ(0, r.code) << r.err;
    std::vector<std::string> diffs = ex.differences(w.dir(), today());
    EXPECT_TRUE(diffs.empty()) << joined(diffs);
    check_headers(w, ex, today());
    check_indexes(w);
    EXPECT_FALSE(fs::exists(w.dir() / "error.log"));
  }
}

// A table held by another process is refused as in use: the open sets the network-error
// flag and leaves the area empty, the conversion's next step on it fails, and the run
// ends with exit code 1 having changed no table. The holder is another run's exclusive
// open or, on POSIX, another program's fcntl record lock, as file servers and other
// programs take them: a write lock on one byte far beyond the data, a read lock on the
// whole file.
TEST(ConversionsEndToEnd, TableHeldByAnotherProcessEndsTheRunWithoutChangingATable) {
  std::vector<std::vector<std::string>> holds = {{"hold"}};
#ifndef _WIN32
  holds.push_back({"hold-record", "write", "1000000000", "1"});
  holds.push_back({"hold-record", "read", "0", "0"});
#endif
  for (const std::vector<std::string>& hold : holds) {
    SCOPED_TRACE(joined(hold));
    Workspace w(DatasetOptions::with_lines(50, 5));
    w.without_snapshot();  // which would stop at the held table before the conversions
    const fs::path held =
        Dataset::target_dir(w.dir()) / w.dataset().target(Target::kSuppliers).file_name;
    const std::map<std::string, std::string> before = snapshot(w.dir());
    const std::string ready = (w.dir() / "held.ready").string(),
                      release = (w.dir() / "held.release").string();
    std::vector<std::string> args = {hold[0], held.string()};
    args.insert(args.end(), hold.begin() + 1, hold.end());
    args.insert(args.end(), {ready, release});
    Process holder;
    ASSERT_TRUE(holder.start(kLockHelper, args));
    for (int i = 0; i < 1000 && !fs::exists(ready); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(fs::exists(ready));
    RunResult r = w.run();
    std::ofstream(release) << "go";
    EXPECT_EQ(0, holder.wait().exit_code);
    EXPECT_EQ(1, r.code) << joined(r.screen);
    EXPECT_NE(std::string::npos,
              joined(r.screen).find("Error DBCMD/2001  Workarea not in use: __DBZAP"))
        << joined(r.screen);
    std::map<std::string, std::string> after = snapshot(w.dir());
    for (const char* made : {"error.log", "held.ready", "held.release"}) after.erase(made);
    EXPECT_TRUE(before == after) << "a table changed although its conversion never opened it";
  }
}

// The dataset of the long runs: one big supplier file, so that the first conversion,
// which holds the supplier table, lasts long enough to be met by a second run or an
// interrupt.
DatasetOptions long_first_conversion() {
  DatasetOptions o = DatasetOptions::with_lines(40, 7);
  o.lines[static_cast<int>(TextSet::kSuppliers)] = 300000;
  return o;
}

// Waits until the run has emptied the supplier table, which it holds from then on
// until its first conversion ends.
bool wait_until_suppliers_held(const Workspace& w, Process& run) {
  const fs::path target =
      Dataset::target_dir(w.dir()) / w.dataset().target(Target::kSuppliers).file_name;
  const std::uintmax_t initial = fs::file_size(target);
  for (int i = 0; i < 20000 && run.running(); ++i) {
    std::error_code ec;
    if (fs::file_size(target, ec) != initial && !ec) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

TEST(ConversionsEndToEnd, SecondConcurrentRunIsRefusedAndTheFirstCompletes) {
  Workspace w(long_first_conversion());
  Expected ex(w.dataset());
  Process first = w.start();
  ASSERT_TRUE(first.running());
  ASSERT_TRUE(wait_until_suppliers_held(w, first));
  RunResult second = w.run();
  RunResult r = Workspace::result_of(std::move(first));
  EXPECT_EQ(1, second.code) << joined(second.screen);
  EXPECT_EQ(0, r.code) << r.err << joined(r.screen);
  std::vector<std::string> diffs = ex.differences(w.dir(), today());
  EXPECT_TRUE(diffs.empty()) << joined(diffs);
}

// The operator's interrupt ends the run at a record boundary: exit code 1, one console
// line, and every table closed with its pending record and a header that counts it.
TEST(ConversionsEndToEnd, InterruptEndsTheRunWithEveryHeaderAgreeingWithItsRecords) {
  Workspace w(long_first_conversion());
  Process run = w.start();
  ASSERT_TRUE(run.running());
  ASSERT_TRUE(wait_until_suppliers_held(w, run));
  run.interrupt();
  RunResult r = Workspace::result_of(std::move(run));
  EXPECT_EQ(1, r.code) << r.err << joined(r.screen);
  EXPECT_NE(std::string::npos, joined(r.screen).find(kInterruptedLine)) << joined(r.screen);
  EXPECT_FALSE(fs::exists(w.dir() / "error.log"));
  expect_headers_agree_with_records(w.dir());
}

// Without a terminal the lines go out in blocks, yet every line written before a stop
// request is in the output: with no supplier to find, each payable converted has its
// "Fornecedor nao encontrado" line, as many as the payables table counts.
TEST(ConversionsEndToEnd, EveryLineWrittenBeforeAStopRequestIsInTheOutput) {
  DatasetOptions o = DatasetOptions::with_lines(40, 7);
  o.lines[static_cast<int>(TextSet::kPayables)] = 200000;
  o.write_text[static_cast<int>(TextSet::kSuppliers)] = false;
  Workspace w(o);
  const fs::path target =
      Dataset::target_dir(w.dir()) / w.dataset().target(Target::kPayables).file_name;
  const std::uintmax_t initial = fs::file_size(target);
  Process run = w.start();
  ASSERT_TRUE(run.running());
  // Interrupted once the payables are being written: the emptied table has grown past
  // its size before the run.
  bool writing = false;
  for (int i = 0; i < 20000 && run.running() && !writing; ++i) {
    std::error_code ec;
    writing = fs::file_size(target, ec) > initial && !ec;
    if (!writing) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_TRUE(writing);
  run.interrupt();
  RunResult r = Workspace::result_of(std::move(run));
  EXPECT_EQ(1, r.code) << r.err;
  // The log ends with the line of the stop; the final screen follows.
  std::size_t lines = 0;
  bool stopped = false;
  std::istringstream in(r.out);
  for (std::string line; !stopped && std::getline(in, line);) {
    if (line.starts_with("Fornecedor nao encontrado")) ++lines;
    stopped = line == kInterruptedLine;
  }
  EXPECT_TRUE(stopped);
  const std::uint32_t payables = u32(read_file(target), 4);
  EXPECT_GT(payables, 0u);
  EXPECT_EQ(payables, lines);
}

// A table that cannot be opened stops its conversion before anything of it is emptied:
// the conversion's target stays byte for byte as it was, the run ends with exit code 1
// and the error of the open (or, for a table held by another program, whose open gives
// up without a word, the error of the first use of its empty work area), while the
// conversions that finished before keep their new content.
TEST(ConversionsEndToEnd, ATableThatDoesNotOpenStopsItsConversionBeforeAnythingIsEmptied) {
  struct Case {
    const char* name;
    const char* table;  // relative to the dataset directory
    enum { kReadOnly, kHeld, kMemoMissing } how;
    Target untouched;
    std::vector<Target> rewritten;
    std::string message;
  } cases[] = {
      {"read-only staging table",
       "cbFORN.dbf",
       Case::kReadOnly,
       Target::kSuppliers,
       {},
       "Error DBFNTX/1001  Open error: cbFORN.dbf (DOS Error 5)"},
      {"staging table held by another process",
       "cbFORN.dbf",
       Case::kHeld,
       Target::kSuppliers,
       {},
       "Error DBCMD/2001  Workarea not in use: __DBZAP"},
      {"staging table without its memo file",
       "cbFORN.dbf",
       Case::kMemoMissing,
       Target::kSuppliers,
       {},
       "Error DBFNTX/1002  Open error: cbFORN.dbt (DOS Error 2)"},
      {"balance table held, opened late in its conversion",
       "CBSALDO.dbf",
       Case::kHeld,
       Target::kItems,
       {Target::kSuppliers, Target::kPayables},
       "Error DBCMD/2001  Workarea not in use: __DBZAP"},
      {"target held, the first table of its conversion",
       "lum/firma1/ITEM.dbf",
       Case::kHeld,
       Target::kItems,
       {Target::kSuppliers, Target::kPayables},
       "Error BASE/1003  Variable does not exist: CODITEM"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Workspace w(DatasetOptions::with_lines(20, 3));
    // The conversions' own proof of their opens; the snapshot would stop at a held
    // table first.
    w.without_snapshot();
    const Dataset& ds = w.dataset();
    const fs::path table = w.dir() / c.table;
    ProcessOptions o;
    File holder;
    std::string why;
    switch (c.how) {
      case Case::kReadOnly:
        fs::permissions(table,
                        fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
        // As an operator who is not the superuser, for whom permissions apply.
        o.run_as = operator_user(kBinary, why);
        if (!why.empty()) GTEST_SKIP() << why;
        if (o.run_as) {
          ASSERT_EQ(0, give_to_user(w.dir().string(), *o.run_as));
        }
        break;
      case Case::kHeld:
        ASSERT_EQ(0, holder.open(table.string(), FileAccess::ReadWrite, FileShare::Exclusive));
        break;
      case Case::kMemoMissing: {
        const TableDef& d = ds.staging(TextSet::kSuppliers);
        sample::DbfLayout shape;
        for (const FieldDef& f : d.fields) shape.fields.push_back({f.name, f.type, f.length});
        shape.fields.push_back({"OBS", 'M', 10});
        shape.version = 0x83;
        sample::write_bytes(table, sample::build_dbf(shape, {}));
        break;
      }
    }
    const fs::path untouched = Dataset::target_dir(w.dir()) / ds.target(c.untouched).file_name;
    const std::string before = read_file(untouched);
    RunResult r = w.run(o);
    EXPECT_EQ(1, r.code) << r.out << r.err;
    EXPECT_EQ(before, read_file(untouched)) << "the stopped conversion emptied its target";
    EXPECT_NE(std::string::npos, r.out.find("\n" + c.message)) << r.out;
    for (Target t : c.rewritten) {
      EXPECT_NE(ds.initial_table_file(t),
                read_file(Dataset::target_dir(w.dir()) / ds.target(t).file_name));
    }
    const std::size_t settled = r.err.find("\nlumconv: the run went on past");
    if (c.rewritten.empty()) {
      EXPECT_NE(std::string::npos,
                r.err.find("\nlumconv: an error ended the run; it changed no table, and "
                           "every table is as it was before the run.\n"))
          << r.err;
    } else {
      EXPECT_EQ(std::string::npos,
                r.err.substr(0, settled).find(ds.target(c.untouched).file_name))
          << r.err;
    }
    if (c.how == Case::kHeld) {
      // The account names the table that did not open, and why.
      ASSERT_NE(std::string::npos, settled) << r.err;
      EXPECT_NE(std::string::npos,
                r.err.find("(DOS Error 32: in use by another program)\n    settled by the "
                           "program itself",
                           settled))
          << r.err;
    }
  }
}

}  // namespace
}  // namespace lum::test
