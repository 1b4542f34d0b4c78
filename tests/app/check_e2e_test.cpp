// The dry run, lumconv --check, end to end: it changes no byte and no modification time
// of any file under the working directory and the drive root (after a normal run, an
// error, a table that does not open, and an interrupt), leaves nothing in the directory
// for temporary files, and its report agrees with the independent oracle and with what
// the real run then does.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/file.h"
#include "platform/process.h"
#include "tests/support/expected.h"
#include "tests/support/operator_user.h"
#include "tests/support/temp_dir.h"
#include "tools/sample/dataset.h"

namespace lum::test {
namespace {

namespace fs = std::filesystem;
using sample::DatasetOptions;
using sample::FieldDef;
using sample::TableDef;

const std::string kBinary = LUMCONV_BINARY;

// Every file below `dir`: its bytes and its modification time.
using Tree = std::map<std::string, std::pair<std::string, fs::file_time_type>>;
Tree tree(const fs::path& dir) {
  Tree files;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    // The undo snapshots of the real runs aside.
    if (fs::relative(e.path(), dir).begin()->string() == "lumconv-undo") continue;
    if (e.is_regular_file()) {
      files[fs::relative(e.path(), dir).generic_string()] = {read_file(e.path()),
                                                             e.last_write_time()};
    }
  }
  return files;
}

struct Outcome {
  int code = -1;
  std::string out, err;
};

// A generated dataset in data/ (the working directory and the drive root), and tmp/ as
// the program's directory for temporary files.
class CheckWorkspace {
 public:
  explicit CheckWorkspace(const DatasetOptions& o) : ds_(o) {
    fs::create_directories(dir_ / "tmp");
    ds_.write(dir_ / "data");
  }
  const Dataset& dataset() const { return ds_; }
  fs::path data() const { return dir_ / "data"; }
  fs::path target(Target t) const { return Dataset::target_dir(data()) / ds_.target(t).file_name; }
  bool tmp_is_empty() const { return fs::is_empty(dir_ / "tmp"); }

  ProcessOptions options() const {
    ProcessOptions o;
    o.cwd = data().string();
    o.unset_env = {"LUMCONV"};
    o.set_env = {"TMPDIR=" + (dir_ / "tmp").string()};
    return o;
  }
  Outcome run(std::vector<std::string> args, ProcessOptions o) const {
    args.push_back("//DRIVE:" + data().string());
    ProcessOutcome p = run_process(kBinary, args, o);
    EXPECT_TRUE(p.started) << p.out;
    return {p.exit_code, p.out, p.err};
  }
  Outcome check() const { return run({"--check"}, options()); }
  Outcome real() const { return run({}, options()); }

 private:
  Dataset ds_;
  TempDir dir_;
};

// The indented lines of the report that follow `heading` (an empty line among them is
// the error report's own).
std::vector<std::string> block(const std::string& report, const std::string& heading) {
  std::vector<std::string> lines;
  std::size_t at = report.find("\n" + heading);
  if (at == std::string::npos) return lines;
  at = report.find('\n', at + 1) + 1;
  std::istringstream in(report.substr(at));
  for (std::string line; std::getline(in, line) && (line.empty() || line.starts_with("  "));) {
    lines.push_back(line);
  }
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}

// A file below the data directory (the drive root and working directory) as the report
// names it: bare in the working directory, else in the system's form below the root.
std::string shown(const std::string& relative) {
  if (relative.find('/') == std::string::npos) return relative;
  std::string s = "\\" + relative;
  for (char& ch : s) {
    if (ch == '/') ch = '\\';
  }
  return s;
}

// What a real run's account says it changed, as the same lines (a table's count as the
// dry run words it).
std::vector<std::string> account_list(const std::string& err) {
  std::vector<std::string> lines;
  std::istringstream in(err);
  bool listing = false;
  for (std::string line; std::getline(in, line);) {
    if (line.ends_with("It changed:")) {
      listing = true;
    } else if (listing && line.starts_with("  ")) {
      const std::size_t now = line.find("(table, now ");
      if (now != std::string::npos) {
        line = line.substr(0, now) + "(table, " + line.substr(now + 12, line.size() - now - 13) +
               " after the run)";
      }
      lines.push_back(line);
    } else {
      listing = false;
    }
  }
  return lines;
}

// The sum of a numeric field over record images, as the report prints it.
std::string field_total(const std::vector<std::string>& records, const FieldDef& f) {
  long long sum = 0;
  for (const std::string& r : records) {
    std::string text =
        r.substr(static_cast<std::size_t>(f.offset), static_cast<std::size_t>(f.length));
    std::string digits;
    for (char c : text) {
      if (c != ' ' && c != '.') digits.push_back(c);
    }
    if (!digits.empty()) sum += std::stoll(digits);
  }
  const bool negative = sum < 0;
  std::string s = std::to_string(negative ? -sum : sum);
  if (f.decimals > 0) {
    if (s.size() <= static_cast<std::size_t>(f.decimals))
      s.insert(0, f.decimals + 1 - s.size(), '0');
    s.insert(s.size() - static_cast<std::size_t>(f.decimals), ".");
  }
  return (negative ? "-" : "") + s;
}

TEST(CheckEndToEnd, ChangesNothingAndReportsWhatTheRealRunThenDoes) {
  CheckWorkspace w(DatasetOptions::with_lines(30, 3));
  const Dataset& ds = w.dataset();
  Expected ex(ds);
  const Tree before = tree(w.data());
  Outcome c = w.check();
  EXPECT_EQ(0, c.code) << c.out << c.err;
  EXPECT_EQ("", c.err);
  EXPECT_TRUE(before == tree(w.data())) << "the dry run changed a file";
  EXPECT_TRUE(w.tmp_is_empty());

  // Records written and the control totals, against the oracle's records.
  for (Target t : {Target::kSuppliers, Target::kPayables, Target::kItems, Target::kClients,
                   Target::kReceivables}) {
    const TableDef& d = ds.target(t);
    SCOPED_TRACE(d.file_name);
    EXPECT_NE(std::string::npos,
              c.out.find("; the run empties it and writes " + std::to_string(ex.record_count(t)) +
                         "\n"));
    std::string totals;
    for (const FieldDef& f : d.fields) {
      if (f.type != 'N') continue;
      totals += (totals.empty() ? "" : ", ") + f.name + " " + field_total(ex.records(t), f);
    }
    EXPECT_NE(std::string::npos, c.out.find("   totals as stored: " + totals + "\n")) << totals;
  }
  std::size_t not_found = 0;
  for (const std::string& l : ex.console_lines())
    not_found += l.starts_with("Fornecedor nao") ? 1 : 0;
  EXPECT_NE(std::string::npos, c.out.find("   suppliers: " + std::to_string(not_found) + " of " +
                                          std::to_string(ex.record_count(Target::kPayables)) +
                                          " movements without their supplier:"))
      << c.out;
  // The supplier conversion of the same run leaves OBS_FOR blank, which is why.
  EXPECT_NE(std::string::npos,
            c.out.find("; the supplier conversion (CVFORN) rebuilt \\lum\\firma1\\" +
                       ds.target(Target::kSuppliers).file_name +
                       " earlier in this run and leaves every OBS_FOR blank, so no supplier can "
                       "be found by the old system's code\n"))
      << c.out;
  for (const char* index : {"LUTMPFOR.ntx: ", "coditem.ntx: ", "saldo.ntx: "}) {
    const std::size_t at = c.out.find(std::string("   ") + index);
    ASSERT_NE(std::string::npos, at) << index;
    EXPECT_TRUE(c.out.substr(at, c.out.find('\n', at) - at).ends_with("(verified)")) << index;
  }
  // The client line with a CR LF in its packed bytes is two lines of the wrong length.
  EXPECT_NE(std::string::npos,
            c.out.find("   clientes.txt: " + std::to_string(ds.line_count(TextSet::kClients) + 1) +
                       " lines, not all 422 bytes long"));
  EXPECT_NE(std::string::npos, c.out.find("\nThe real run would end normally (exit code 0)."));

  // The real run then changes exactly the files the report named, and writes what the
  // report counted.
  Outcome r = w.real();
  ASSERT_EQ(0, r.code) << r.err;
  std::vector<std::string> named = block(c.out, "The real run would end normally");
  std::vector<std::string> changed;
  for (const auto& [name, file] : tree(w.data())) {
    auto old = before.find(name);
    if (old == before.end() || old->second != file) changed.push_back(name);
  }
  ASSERT_EQ(changed.size(), named.size()) << c.out;
  for (const std::string& name : changed) {
    EXPECT_NE(std::string::npos, c.out.find("\n  " + shown(name) + " (")) << name;
  }
  // The figures of what the run did are those of the real run: the records each target
  // holds, and the payables whose supplier it did not find, with their codes.
  for (Target t : {Target::kSuppliers, Target::kPayables, Target::kItems, Target::kClients,
                   Target::kReceivables}) {
    const std::string table = read_file(w.target(t));
    const std::uint32_t count = static_cast<unsigned char>(table[4]) |
                                static_cast<unsigned char>(table[5]) << 8;
    EXPECT_NE(std::string::npos, c.out.find(shown(fs::relative(w.target(t), w.data()).generic_string()) +
                                            ": holds "))
        << ds.target(t).file_name;
    EXPECT_NE(std::string::npos,
              c.out.find("; the run empties it and writes " + std::to_string(count) + "\n"))
        << ds.target(t).file_name;
  }
  std::string codes;
  std::size_t missed = 0;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with("Fornecedor nao encontrado")) continue;
    if (++missed <= 5) codes += " " + line.substr(25);
  }
  EXPECT_NE(std::string::npos, c.out.find(" " + std::to_string(missed) + " of ")) << c.out;
  EXPECT_NE(std::string::npos, c.out.find("movements without their supplier:" + codes)) << c.out;
}

TEST(CheckEndToEnd, ReportsLinesOfTheWrongLength) {
  DatasetOptions o = DatasetOptions::with_lines(12, 4);
  o.crlf_split = false;
  CheckWorkspace w(o);
  const std::size_t length = w.dataset().staging(TextSet::kReceivables).record_length() - 1;
  std::string cut, line;
  for (std::size_t i = 0; i < 12; ++i) {
    w.dataset().line(TextSet::kReceivables, i, line);
    cut += line.substr(0, length - 40) + "\r\n";
  }
  std::ofstream(w.data() / "receber.txt", std::ios::binary) << cut;
  const Tree before = tree(w.data());
  Outcome c = w.check();
  EXPECT_EQ(0, c.code) << c.out;
  EXPECT_NE(std::string::npos,
            c.out.find("   receber.txt: 12 lines, not all " + std::to_string(length) +
                       " bytes long like a record of cbRec.dbf: 12 shorter by 40 bytes (lines 1 2 "
                       "3 4 5 ...)\n"))
      << c.out;
  EXPECT_NE(std::string::npos, c.out.find("   forneced.txt: 12 lines, all 283 bytes long"));
  EXPECT_TRUE(before == tree(w.data()));
}

// A run that an error ends: the report shows the error as the run reports it, where it
// stopped, and exactly the files the real run then changes; exit code 1.
TEST(CheckEndToEnd, ReportsTheErrorWhereItStopsAndWhatWouldHaveChanged) {
  DatasetOptions o = DatasetOptions::with_lines(20, 2);
  o.narrow_receivable_amounts = true;
  CheckWorkspace w(o);
  const Tree before = tree(w.data());
  Outcome c = w.check();
  EXPECT_EQ(1, c.code) << c.out;
  EXPECT_TRUE(before == tree(w.data())) << "the dry run changed a file";
  EXPECT_TRUE(w.tmp_is_empty());
  EXPECT_TRUE(block(c.out, "The real run would end with this error").size() >= 3) << c.out;

  Outcome r = w.real();
  ASSERT_EQ(1, r.code);
  // The real run's record count in the receivables table: the record it stopped on.
  const std::string lurbmov = read_file(w.target(Target::kReceivables));
  const std::uint32_t stopped = static_cast<unsigned char>(lurbmov[4]);
  ASSERT_GT(stopped, 0u);
  EXPECT_NE(std::string::npos,
            c.out.find("   stopped: by the error below, on record " + std::to_string(stopped) +
                       " of cbRec.dbf (line " + std::to_string(stopped) + " of receber.txt)"))
      << c.out;
  // The error exactly as the real run wrote it, line for line.
  const std::string report =
      "Error DBFNTX/1021  Data width error: VALOR\n\nError at ...: CVRECEBER(";
  ASSERT_NE(std::string::npos, r.out.find(report)) << r.out;
  const std::string real_lines =
      r.out.substr(r.out.find(report), r.out.find("Called from") - r.out.find(report));
  std::string shown;
  for (const std::string& l : block(c.out, "The real run would end with this error")) {
    shown += (l.empty() ? l : l.substr(2)) + "\n";
  }
  EXPECT_TRUE(shown.starts_with(real_lines)) << shown << "\n--\n" << real_lines;
  // What would have changed by then is what the real run says it changed.
  std::vector<std::string> listed = block(c.out, "By then it would have emptied or rewritten:");
  EXPECT_EQ(account_list(r.err), listed) << c.out << r.err;
  EXPECT_FALSE(listed.empty());
}

// The tables that do not open stop the dry run as they stop the real run, with the same
// error and nothing of the conversion changed.
TEST(CheckEndToEnd, ATableThatDoesNotOpenStopsTheDryRunAsItStopsTheRealRun) {
  for (bool held : {false, true}) {
    SCOPED_TRACE(held ? "held by another process" : "read-only, for a user who is not root");
    CheckWorkspace w(DatasetOptions::with_lines(10, 6));
    const fs::path table = w.data() / "cbFORN.dbf";
    ProcessOptions o = w.options();
    File holder;
    std::string message;
    if (held) {
      ASSERT_EQ(0, holder.open(table.string(), FileAccess::ReadWrite, FileShare::Exclusive));
      message = "  Error DBCMD/2001  Workarea not in use: __DBZAP\n";
    } else {
      fs::permissions(table,
                      fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
      std::string why;
      o.run_as = operator_user(kBinary, why);
      if (!why.empty()) GTEST_SKIP() << why;
      if (o.run_as) {
        ASSERT_EQ(0, give_to_user(w.data().parent_path().string(), *o.run_as));
      }
      message = "  Error DBFNTX/1001  Open error: cbFORN.dbf (DOS Error 5: access denied)\n";
    }
    const Tree before = tree(w.data());
    Outcome c = w.run({"--check"}, o);
    EXPECT_EQ(1, c.code) << c.out;
    EXPECT_NE(std::string::npos, c.out.find("this error (exit code 1):\n" + message)) << c.out;
    EXPECT_NE(std::string::npos, c.out.find("\nBy then it would have changed no table.\n"));
    EXPECT_TRUE(before == tree(w.data()));
    EXPECT_TRUE(w.tmp_is_empty());
  }
}

TEST(CheckEndToEnd, AnInterruptedDryRunChangesNothingAndLeavesNoCopies) {
  CheckWorkspace w(DatasetOptions::with_lines(40000, 5));
  const Tree before = tree(w.data());
  Process p;
  ASSERT_TRUE(p.start(kBinary, {"--check", "//DRIVE:" + w.data().string()}, w.options()));
  // Interrupted once its copies are being made and used.
  for (int i = 0; i < 500 && w.tmp_is_empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  p.interrupt();
  ProcessOutcome r = p.wait();
  EXPECT_EQ(1, r.exit_code) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("The dry run was interrupted")) << r.out;
  EXPECT_TRUE(before == tree(w.data()));
  EXPECT_TRUE(w.tmp_is_empty());
}

}  // namespace
}  // namespace lum::test
