// A fault walk over a whole small run: all five conversions on a few records each, run
// in this process once for every call the run makes of the file layer, with that one
// call failing. Every run must end through the system's own error path (exit code 1
// and error.log), never crash or hang, and leave every table with a header that counts
// its records, every index complete or absent, and every table the run had not reached
// as it was. A fault the run tolerates must leave exactly what a clean run leaves; the
// tolerated ones are a failed close (the file is let go of anyway, a table's records
// were committed before), a short read (the reader reads on), a text held by another
// program at one open (it is tried once more) and a size asked only to bound a walk of
// an index tree. The walk runs every call failing with its usual code, then short
// reads, short writes, opens held by another program, and a disk that fills up.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/program.h"
#include "frame/startup.h"
#include "platform/file.h"
#include "console/backend.h"
#include "tests/support/fault_injector.h"
#include "tests/support/ntx_reader.h"
#include "tests/support/temp_dir.h"
#include "tools/sample/dataset.h"

namespace lum::test {
namespace {

namespace fs = std::filesystem;
using sample::Dataset;
using sample::DatasetOptions;

using Files = std::map<std::string, std::string>;  // relative path -> bytes

std::string read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Every regular file below `dir`, by generic relative path.
Files snapshot(const fs::path& dir) {
  Files files;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    if (e.is_regular_file()) {
      files[fs::relative(e.path(), dir).generic_string()] = read_file(e.path());
    }
  }
  return files;
}

std::string lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::uint32_t le(const std::string& b, std::size_t at, int n) {
  std::uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b[at + i]);
  return v;
}

// What is wrong with a table file's header against its records, "" when nothing: the
// file must end right after the records it counts, or one end-of-file byte later.
std::string table_fault(const std::string& dbf) {
  if (dbf.size() < 32) return "shorter than a header";
  const std::uint64_t count = le(dbf, 4, 4), header = le(dbf, 8, 2), record = le(dbf, 10, 2);
  const std::uint64_t end = header + count * record;
  if (dbf.size() == end || (dbf.size() == end + 1 && dbf.back() == 0x1A)) return "";
  return "header counts " + std::to_string(count) + " records of " + std::to_string(record) +
         " bytes after " + std::to_string(header) + ", file has " + std::to_string(dbf.size()) +
         " bytes";
}

// A character field of a table file: its offset in the record and its length.
struct FieldAt {
  std::size_t offset = 0, length = 0;
};
std::optional<FieldAt> find_field(const std::string& dbf, const std::string& name) {
  const std::size_t header = le(dbf, 8, 2);
  std::size_t offset = 1;
  for (std::size_t d = 32; d + 32 <= header && dbf[d] != 0x0D; d += 32) {
    std::string n = dbf.substr(d, 11);
    n.resize(n.find('\0') == std::string::npos ? n.size() : n.find('\0'));
    const std::size_t len = static_cast<unsigned char>(dbf[d + 16]);
    if (lower(n) == lower(name)) return FieldAt{offset, len};
    offset += len;
  }
  return std::nullopt;
}

// The three indexes of a run, with the table and the field each one orders.
struct IndexOf {
  const char* file;   // below the working directory
  const char* table;  // relative path of the table it indexes
  const char* field;
};

// What is wrong with an index file, "" when nothing: it must be a whole index holding one
// key per record of its table, the field's bytes, in key order (record order within a key).
std::string index_fault(const std::string& ntx, const std::string& dbf, const char* field) {
  NtxIndex ix;
  try {
    ix = read_ntx(ntx);
  } catch (const std::exception& e) {
    return std::string("unreadable: ") + e.what();
  }
  std::optional<FieldAt> f = find_field(dbf, field);
  if (!f) return "its table has no field " + std::string(field);
  const std::size_t header = le(dbf, 8, 2), record = le(dbf, 10, 2);
  const std::size_t count = (dbf.size() - header) / record;
  std::vector<NtxEntry> want;
  for (std::size_t r = 0; r < count; ++r) {
    want.push_back({dbf.substr(header + r * record + f->offset, f->length),
                    static_cast<std::uint32_t>(r + 1)});
  }
  std::stable_sort(want.begin(), want.end(),
                   [](const NtxEntry& a, const NtxEntry& b) { return a.key < b.key; });
  if (ix.entries != want) {
    return "holds " + std::to_string(ix.entries.size()) + " keys for " + std::to_string(count) +
           " records, or not theirs";
  }
  return "";
}

// Host paths as the file layer names them, made relative to the run's directory; "" for
// a file outside it (the index build's temporary file).
std::string relative_to(const fs::path& dir, const std::string& host_path) {
  fs::path p(host_path);
  if (p.is_relative()) p = dir / p;
  fs::path rel = p.lexically_normal().lexically_relative(dir);
  if (rel.empty() || *rel.begin() == "..") return "";
  return rel.generic_string();
}

// Ends the process with a message when a run does not end within its time.
class Watchdog {
 public:
  Watchdog(std::chrono::seconds limit, std::string what)
      : what_(std::move(what)), thread_([this, limit] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!done_cv_.wait_for(lock, limit, [this] { return done_; })) {
            std::fprintf(stderr, "fault walk: %s did not end in time\n", what_.c_str());
            std::abort();
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    done_cv_.notify_one();
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::string what_;
  std::mutex mutex_;
  std::condition_variable done_cv_;
  bool done_ = false;
  std::thread thread_;
};

struct Outcome {
  int code = -1;
  std::optional<FaultInjector::Call> failed;  // the call that failed
  std::size_t failed_at = 0;                  // its place among all calls, from 1
  std::vector<FaultInjector::Call> calls;
  Files files;  // the run's directory afterwards
  std::string err;
};

// One dataset, written once; every run gets a fresh copy of it and runs the program in
// this process with the copy as working directory and drive root.
class Walk {
 public:
  explicit Walk(const DatasetOptions& options) {
    std::random_device rd;
    root_ = temp_root() /
            ("lumconv-fw-" + std::to_string(rd()) + "-" + std::to_string(rd()));
    Dataset(options).write(root_ / "pristine");
    pristine_ = snapshot(root_ / "pristine");
  }
  ~Walk() {
    std::error_code ec;
    fs::current_path(temp_root(), ec);
    remove_tree(root_);
  }
  Walk(const Walk&) = delete;
  Walk& operator=(const Walk&) = delete;

  const Files& pristine() const { return pristine_; }
  const fs::path& dir() const { return run_dir_; }

  Outcome run(const FaultPlan& plan, const std::string& what) {
    run_dir_ = root_ / "run";
    std::error_code ec;
    fs::current_path(root_, ec);
    fs::remove_all(run_dir_);
    fs::copy(root_ / "pristine", run_dir_, fs::copy_options::recursive);
    const fs::path back = fs::current_path();
    fs::current_path(run_dir_);

    Outcome o;
    Program p = lumconv_program();
    p.environment = "";
    p.out = [](std::string_view) {};
    p.err = [&o](std::string_view s) { o.err += s; };
    p.open_terminal = [] { return std::make_unique<MemoryTerminal>([](std::string_view) {}); };
    const std::string drive = "//DRIVE:" + run_dir_.string();
    const char* argv[] = {"lumconv", "//NOALERT", "--no-undo", drive.c_str()};
    {
      FaultInjector faults(plan);
      Watchdog dog(std::chrono::seconds(30), what);
      o.code = run_program(p, 4, argv);
      o.failed = faults.failed();
      o.failed_at = faults.failed_at();
      o.calls = faults.calls();
    }
    set_drive_root("/");
    fs::current_path(back);
    o.files = snapshot(run_dir_);
    return o;
  }

 private:
  fs::path root_, run_dir_;
  Files pristine_;
};

const IndexOf kIndexes[] = {
    {"LUTMPFOR.ntx", "lum/firma1/FORNECED.DBF", "OBS_FOR"},
    {"coditem.ntx", "lum/firma1/ITEM.DBF", "CODITEM"},
    {"saldo.ntx", "CBSALDO.dbf", "CODIGO"},
};

// A file of `files` whose name matches `name` without regard to case.
const std::string* find_case_blind(const Files& files, const std::string& name) {
  for (const auto& [path, bytes] : files) {
    if (lower(path) == lower(name)) return &bytes;
  }
  return nullptr;
}

// The clean run of a dataset: its files afterwards, and for every file the first and
// the last call that touched it.
struct CleanRun {
  Files files;
  std::size_t calls = 0;
  std::map<std::string, std::pair<std::size_t, std::size_t>> touched;  // lower-case path
};

CleanRun clean_run(Walk& walk) {
  Outcome o = walk.run({}, "the clean run");
  EXPECT_EQ(0, o.code) << o.err;
  CleanRun c;
  c.files = o.files;
  c.calls = o.calls.size();
  for (std::size_t i = 0; i < o.calls.size(); ++i) {
    std::string rel = lower(relative_to(walk.dir(), o.calls[i].path));
    if (rel.empty()) continue;
    auto [it, fresh] = c.touched.try_emplace(rel, i + 1, i + 1);
    if (!fresh) it->second.second = i + 1;
  }
  return c;
}

// Everything wrong with the outcome of a run whose fault struck at call `at` of the
// clean run's order (0: a call the clean run does not make).
std::vector<std::string> faults_of(const Walk& walk, const CleanRun& clean, const Outcome& o,
                                   std::size_t at) {
  std::vector<std::string> found;
  if (o.code == 0) {
    // Tolerated: the run must have done all its work regardless.
    for (const auto& [path, bytes] : clean.files) {
      auto it = o.files.find(path);
      if (it == o.files.end() || it->second != bytes) found.push_back("exit 0, but " + path + " differs");
    }
    for (const auto& [path, bytes] : o.files) {
      if (!clean.files.count(path)) found.push_back("exit 0, but left " + path);
    }
    return found;
  }
  if (o.code != 1) found.push_back("exit code " + std::to_string(o.code));
  const bool on_log = o.failed && ends_with(lower(o.failed->path), "error.log");
  if (!on_log && !o.files.count("error.log")) found.push_back("no error.log");
  for (const auto& [path, bytes] : o.files) {
    if (ends_with(lower(path), ".dbf")) {
      if (std::string why = table_fault(bytes); !why.empty()) found.push_back(path + ": " + why);
    }
  }
  for (const IndexOf& ix : kIndexes) {
    const std::string* ntx = find_case_blind(o.files, ix.file);
    const std::string* dbf = find_case_blind(o.files, ix.table);
    if (ntx == nullptr) continue;
    if (dbf == nullptr) {
      found.push_back(std::string(ix.file) + ": its table is gone");
    } else if (std::string why = index_fault(*ntx, *dbf, ix.field); !why.empty()) {
      found.push_back(std::string(ix.file) + ": " + why);
    }
  }
  for (const auto& [path, bytes] : o.files) {
    auto t = clean.touched.find(lower(path));
    if (t == clean.touched.end()) continue;
    if (at != 0 && t->second.first > at) {
      // Not reached: as it was before the run.
      auto before = walk.pristine().find(path);
      if (before != walk.pristine().end() && before->second != bytes) {
        found.push_back(path + " changed, though the run had not reached it");
      }
    } else if (at != 0 && t->second.second < at) {
      // Done with before the fault: as the clean run left it.
      auto after = clean.files.find(path);
      if (after != clean.files.end() && after->second != bytes) {
        found.push_back(path + " differs from the clean run, though finished before the fault");
      }
    }
  }
  return found;
}

struct WalkReport {
  std::size_t points = 0;
  std::array<std::size_t, kIoOpCount> per_op{};
  std::array<std::size_t, kIoOpCount> tolerated{};  // of them, the run ended with 0
  std::vector<std::string> faults;
  std::string summary() const {
    std::string s = std::to_string(points) + " points (";
    bool first = true;
    for (int k = 0; k < kIoOpCount; ++k) {
      if (per_op[k] == 0) continue;
      s += std::string(first ? "" : ", ") + io_op_name(static_cast<IoOp>(k)) + " " +
           std::to_string(per_op[k]);
      if (tolerated[k] > 0) s += " (" + std::to_string(tolerated[k]) + " tolerated)";
      first = false;
    }
    return s + ")";
  }
};

// Walks n from 1 (in steps of `stride`) until the plan's n-th call no longer comes;
// every run is checked.
WalkReport walk_all(Walk& walk, const CleanRun& clean, FaultPlan plan, std::size_t stride) {
  WalkReport r;
  for (plan.nth = 1;; plan.nth += stride) {
    const std::string what = std::string("fault ") + std::to_string(plan.nth);
    Outcome o = walk.run(plan, what);
    if (!o.failed) {
      if (o.code != 0) r.faults.push_back(what + ": no fault struck, yet exit " + std::to_string(o.code));
      break;
    }
    ++r.points;
    ++r.per_op[static_cast<std::size_t>(o.failed->op)];
    if (o.code == 0) ++r.tolerated[static_cast<std::size_t>(o.failed->op)];
    if (o.code == 0 && std::getenv("LUM_FAULT_WALK_VERBOSE") != nullptr) {
      std::printf("tolerated: %s, %s %s\n", what.c_str(), io_op_name(o.failed->op),
                  o.failed->path.c_str());
    }
    const std::size_t at = o.failed_at <= clean.calls ? o.failed_at : 0;
    for (const std::string& f : faults_of(walk, clean, o, at)) {
      r.faults.push_back(what + " (" + io_op_name(o.failed->op) + " " +
                         relative_to(walk.dir(), o.failed->path) + "): " + f);
    }
  }
  return r;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string s;
  for (std::size_t i = 0; i < lines.size() && i < 40; ++i) s += lines[i] + "\n";
  if (lines.size() > 40) s += "... and " + std::to_string(lines.size() - 40) + " more\n";
  return s;
}

class FaultWalk : public ::testing::Test {
 protected:
  static DatasetOptions small() { return DatasetOptions::with_lines(3, 5); }
  // Every point (about 12 s under the sanitizers); LUM_FAULT_WALK_STRIDE=k walks every
  // k-th only, for a quick look.
  static std::size_t stride() {
    if (const char* s = std::getenv("LUM_FAULT_WALK_STRIDE")) {
      return std::max<std::size_t>(1, std::strtoul(s, nullptr, 10));
    }
    return 1;
  }
};

TEST_F(FaultWalk, EveryCallOfAWholeRunFailsInTurn) {
  Walk walk(small());
  CleanRun clean = clean_run(walk);
  ASSERT_GT(clean.calls, 0u);
  auto started = std::chrono::steady_clock::now();
  struct Variant {
    const char* name;
    FaultPlan plan;
  } variants[] = {
      {"every call, with its code", {}},
      {"short reads", {.only = IoOp::Read, .short_transfer = true}},
      {"short writes", {.only = IoOp::Write, .short_transfer = true}},
      {"opens held by another program", {.only = IoOp::Open, .oscode = kOsFileInUse}},
      {"a disk that fills up", {.only = IoOp::Write, .disk_full = true}},
  };
  for (const Variant& v : variants) {
    WalkReport r = walk_all(walk, clean, v.plan, stride());
    std::printf("fault walk, %s: %s\n", v.name, r.summary().c_str());
    EXPECT_TRUE(r.faults.empty()) << v.name << ":\n" << joined(r.faults);
    if (!v.plan.only) {
      EXPECT_EQ((clean.calls + stride() - 1) / stride(), r.points);
    }
  }
  std::printf("fault walk: %zu calls in the clean run, every %zu walked, in %.1f s\n",
              clean.calls, stride(),
              std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
}

// Points where the walk once found a fault, each failing alone: the kind of call, the
// file, which of its calls of that kind, and how; what the run must end with, and an
// index that must not be left behind.
TEST_F(FaultWalk, PointsThatOnceWentWrong) {
  struct Case {
    const char* what;
    FaultPlan plan;
    int code;
    const char* absent;
  } cases[] = {
      {"an index write fails", {.nth = 1, .only = IoOp::Write, .file = "saldo.ntx"}, 1,
       "saldo.ntx"},
      {"an index truncate fails", {.nth = 1, .only = IoOp::Truncate, .file = "coditem.ntx"}, 1,
       "coditem.ntx"},
      {"an index write is short",
       {.nth = 2, .only = IoOp::Write, .file = "LUTMPFOR.ntx", .short_transfer = true},
       1,
       "LUTMPFOR.ntx"},
      {"the check finds the text held by another program",
       {.nth = 1, .only = IoOp::Open, .file = "forneced.txt", .oscode = kOsFileInUse},
       0,
       nullptr},
      {"the import finds the text held by another program",
       {.nth = 2, .only = IoOp::Open, .file = "forneced.txt", .oscode = kOsFileInUse},
       0,
       nullptr},
      {"the balances' import finds its text held",
       {.nth = 2, .only = IoOp::Open, .file = "SALDO.txt", .oscode = kOsFileInUse},
       0,
       nullptr},
      {"the disk fills while the balances are indexed",
       {.nth = 1, .only = IoOp::Write, .file = "saldo.ntx", .disk_full = true},
       1,
       "saldo.ntx"},
      {"the disk fills before the last tables close",
       {.nth = 1, .only = IoOp::Write, .file = "LurbMov.DBF", .disk_full = true},
       1,
       nullptr},
      {"a table's commit fails", {.nth = 1, .only = IoOp::Commit, .file = "lupgmov.dbf"}, 1,
       nullptr},
      {"an index file's size cannot be had",
       {.nth = 1, .only = IoOp::Size, .file = "coditem.ntx"},
       1,
       nullptr},
  };
  Walk walk(small());
  CleanRun clean = clean_run(walk);
  for (const Case& c : cases) {
    Outcome o = walk.run(c.plan, c.what);
    ASSERT_TRUE(o.failed) << c.what;
    EXPECT_EQ(c.code, o.code) << c.what << "\n" << o.err;
    EXPECT_EQ("", joined(faults_of(walk, clean, o, o.failed_at))) << c.what;
    if (c.absent) {
      EXPECT_EQ(nullptr, find_case_blind(o.files, c.absent)) << c.what;
    }
  }
}

}  // namespace
}  // namespace lum::test
