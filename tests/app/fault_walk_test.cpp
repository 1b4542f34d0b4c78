// A fault walk over a whole small run: all five conversions on a few records each, run
// in this process once for every call the run makes of the file layer, with that one
// call failing. Every run must end through the system's own error path (exit code 1
// and error.log), never crash or hang, and leave every table with a header that counts
// its records, every index complete or absent, every table the run had not reached as
// it was, and every file it had done with as a clean run leaves it. A fault the run
// tolerates must leave exactly what a clean run leaves; the tolerated ones are a failed
// close (the file is let go of anyway, a table's records were committed before), a
// short read (the reader reads on), a text held by another program at one open (it is
// tried once more) and a size asked only to bound a walk of an index tree. The walk
// runs every call failing with its usual code, then short reads, short writes, opens
// held by another program, a disk that fills up, and the process gone at that call
// (killed, or the power cut), every later call failing too.
//
// The run first saves what it may change (the undo snapshot), so after every run,
// however it ended, "lumconv --undo" must bring every file of the working directory
// and of the target directory back to its bytes and modification time before the run
// (the snapshot's own folder aside); a run whose snapshot never got its manifest must
// have left nothing but error.log, and the undo then finds nothing to undo and clears
// the partial folder. A second walk fails every call of an undo in turn: an undo run
// again afterwards must finish the work.
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
#include "tests/support/undo_snapshots.h"
#include "tools/sample/dataset.h"

namespace lum::test {
namespace {

namespace fs = std::filesystem;
using sample::Dataset;
using sample::DatasetOptions;

using Files = std::map<std::string, std::string>;  // relative path -> bytes

bool in_undo_folder(const fs::path& rel) { return *rel.begin() == kUndoFolder; }

// The modification time of every file of files_outside_snapshots(dir).
using Times = std::map<std::string, fs::file_time_type>;
Times times_of(const fs::path& dir) {
  Times t;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    const fs::path rel = fs::relative(e.path(), dir);
    if (e.is_regular_file() && !in_undo_folder(rel)) t[rel.generic_string()] = e.last_write_time();
  }
  return t;
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
  Files files;  // the run's directory afterwards, the undo folder aside
  Snapshots snapshots;
  std::string out, err;
};

// Where the walk's files go: in memory where the host has it, as the walk's runs force
// their files to the disk tens of thousands of times, which is not what it checks.
fs::path walk_base() {
  std::error_code ec;
  const fs::path shm = fs::absolute("/dev/shm", ec);
  return !ec && fs::is_directory(shm, ec) ? shm : fs::temp_directory_path();
}

// One dataset, written once; every run gets a fresh copy of it (the files' times kept)
// and runs the program in this process with the copy as working directory and drive
// root.
class Walk {
 public:
  explicit Walk(const DatasetOptions& options) {
    std::random_device rd;
    root_ = walk_base() /
            ("lumconv-fw-" + std::to_string(rd()) + "-" + std::to_string(rd()));
    run_dir_ = root_ / "run";
    Dataset(options).write(root_ / "pristine");
    pristine_ = files_outside_snapshots(root_ / "pristine");
    pristine_times_ = times_of(root_ / "pristine");
  }
  ~Walk() {
    std::error_code ec;
    fs::current_path(temp_root(), ec);
    remove_tree(root_);
  }
  Walk(const Walk&) = delete;
  Walk& operator=(const Walk&) = delete;

  const Files& pristine() const { return pristine_; }
  const Times& pristine_times() const { return pristine_times_; }
  const fs::path& dir() const { return run_dir_; }

  // A run on a fresh copy of the dataset.
  Outcome run(const FaultPlan& plan, const std::string& what) {
    restore("pristine");
    return go(plan, what, {});
  }
  // lumconv --undo in the run's directory as it is.
  Outcome undo(const FaultPlan& plan, const std::string& what) {
    return go(plan, what, {"--undo"});
  }
  // Keeps the run's directory as it is now under `name`, and puts it back.
  void keep(const std::string& name) {
    fs::remove_all(root_ / name);
    copy_tree(run_dir_, root_ / name);
  }
  void restore(const std::string& name) {
    std::error_code ec;
    fs::current_path(root_, ec);
    fs::remove_all(run_dir_);
    copy_tree(root_ / name, run_dir_);
  }

 private:
  Outcome go(const FaultPlan& plan, const std::string& what, std::vector<std::string> args) {
    const fs::path back = fs::current_path();
    fs::current_path(run_dir_);
    Outcome o;
    Program p = lumconv_program();
    p.environment = "";
    p.out = [&o](std::string_view s) { o.out += s; };
    p.err = [&o](std::string_view s) { o.err += s; };
    p.open_terminal = [] { return std::make_unique<MemoryTerminal>([](std::string_view) {}); };
    args.insert(args.begin(), {"lumconv", "//NOALERT", "//DRIVE:" + run_dir_.string()});
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    {
      FaultInjector faults(plan);
      Watchdog dog(std::chrono::seconds(30), what);
      o.code = run_program(p, static_cast<int>(argv.size()), argv.data());
      o.failed = faults.failed();
      o.failed_at = faults.failed_at();
      o.calls = faults.calls();
    }
    set_drive_root("/");
    fs::current_path(back);
    o.files = files_outside_snapshots(run_dir_);
    o.snapshots = snapshots_in(run_dir_);
    return o;
  }

  fs::path root_, run_dir_;
  Files pristine_;
  Times pristine_times_;
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

// The calls that change a file (the snapshot reads every file before the first of them).
bool changes_a_file(IoOp op) {
  switch (op) {
    case IoOp::Write:
    case IoOp::Create:
    case IoOp::Truncate:
    case IoOp::Delete:
    case IoOp::Rename:
    case IoOp::Replace:
    case IoOp::SetTime:
      return true;
    default:
      return false;
  }
}

// The clean run of a dataset: its files afterwards, and for every file the first call
// of the run on it after the snapshot (which reads every file first), and the last call
// that changed it.
struct CleanRun {
  Files files;
  std::size_t calls = 0;
  std::map<std::string, std::pair<std::size_t, std::size_t>> touched;  // lower-case path
};

CleanRun clean_run(Walk& walk) {
  Outcome o = walk.run({}, "the clean run");
  EXPECT_EQ(0, o.code) << o.err;
  EXPECT_EQ(1, o.snapshots.whole);
  CleanRun c;
  c.files = o.files;
  c.calls = o.calls.size();
  // The snapshot ends when its manifest is put in place.
  std::size_t i = 0;
  while (i < o.calls.size() && o.calls[i].op != IoOp::Replace) ++i;
  for (; i < o.calls.size(); ++i) {
    std::string rel = lower(relative_to(walk.dir(), o.calls[i].path));
    if (rel.empty() || in_undo_folder(rel)) continue;
    auto [it, fresh] = c.touched.try_emplace(rel, i + 1, 0);
    if (changes_a_file(o.calls[i].op)) it->second.second = i + 1;
  }
  return c;
}

// Everything wrong with the outcome of a run whose fault struck at call `at` of the
// clean run's order (0: a call the clean run does not make). A process that is gone
// ends with what it had written: nothing can write its error.log or the headers of its
// tables then, and only what it left untouched is checked.
std::vector<std::string> faults_of(const Walk& walk, const CleanRun& clean, const Outcome& o,
                                   std::size_t at, bool gone = false) {
  std::vector<std::string> found;
  if (o.snapshots.whole == 0) {
    // The snapshot was never completed: nothing may have changed but the error's log.
    for (const auto& [path, bytes] : o.files) {
      auto before = walk.pristine().find(path);
      if (path == "error.log" && before == walk.pristine().end()) continue;
      if (before == walk.pristine().end()) {
        found.push_back("no snapshot, yet the run made " + path);
      } else if (before->second != bytes) {
        found.push_back("no snapshot, yet the run changed " + path);
      }
    }
    for (const auto& [path, bytes] : walk.pristine()) {
      if (!o.files.count(path)) found.push_back("no snapshot, yet the run removed " + path);
    }
  }
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
  if (!gone && !on_log && !o.files.count("error.log")) found.push_back("no error.log");
  for (const auto& [path, bytes] : o.files) {
    if (gone) break;
    if (ends_with(lower(path), ".dbf")) {
      if (std::string why = table_fault(bytes); !why.empty()) found.push_back(path + ": " + why);
    }
  }
  for (const IndexOf& ix : kIndexes) {
    if (gone) break;
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

// What is wrong after "lumconv --undo" (without a fault) has followed a run: every file
// must be back as it was before the run, bytes and modification time, when the run's
// snapshot was whole; else the undo finds nothing to undo and leaves the files as the
// run did (pristine, but for error.log). No partial snapshot may be left behind.
std::vector<std::string> undo_faults(Walk& walk, const Outcome& run) {
  std::vector<std::string> found;
  const Times before_undo = times_of(walk.dir());
  Outcome u = walk.undo({}, "the undo after it");
  const std::string said = u.out + u.err;
  if (u.code != 0) found.push_back("--undo ended with " + std::to_string(u.code) + ": " + said);
  if (u.snapshots.partial != 0) found.push_back("--undo left a partial snapshot");
  Files want = walk.pristine();
  Times want_times = walk.pristine_times();
  if (run.snapshots.whole == 0) {
    if (said.find("there is no run to undo") == std::string::npos) {
      found.push_back("no snapshot was whole, yet --undo said: " + said);
    }
    if (auto log = run.files.find("error.log"); log != run.files.end()) {
      want[log->first] = log->second;
      want_times[log->first] = before_undo.at(log->first);
    }
  }
  for (const auto& [path, bytes] : u.files) {
    auto w = want.find(path);
    if (w == want.end()) {
      found.push_back("after --undo, " + path + " is there");
    } else if (w->second != bytes) {
      found.push_back("after --undo, " + path + " differs from before the run");
    }
  }
  for (const auto& [path, bytes] : want) {
    if (!u.files.count(path)) found.push_back("after --undo, " + path + " is missing");
  }
  for (const auto& [path, time] : times_of(walk.dir())) {
    auto w = want_times.find(path);
    if (w != want_times.end() && w->second != time) {
      found.push_back("after --undo, " + path + " has another modification time");
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
    std::vector<std::string> found = faults_of(walk, clean, o, at, plan.gone);
    for (std::string& f : undo_faults(walk, o)) found.push_back(std::move(f));
    for (const std::string& f : found) {
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

// The process gone at the n-th call.
FaultPlan gone_from(std::size_t n) {
  FaultPlan plan;
  plan.nth = n;
  plan.gone = true;
  return plan;
}

class FaultWalk : public ::testing::Test {
 protected:
  static DatasetOptions small() { return DatasetOptions::with_lines(3, 5); }
  // Every point (about 40 s in all, under the sanitizers some minutes);
  // LUM_FAULT_WALK_STRIDE=k walks every k-th only, for a quick look. Under wine a run
  // costs some fifty times what it costs on Linux: the Windows build walks every third
  // call unless told otherwise, which still meets every kind of the host's file calls;
  // the whole walk runs on Linux, where the rest of the program is the same.
  static std::size_t stride() {
    if (const char* s = std::getenv("LUM_FAULT_WALK_STRIDE")) {
      return std::max<std::size_t>(1, std::strtoul(s, nullptr, 10));
    }
#ifdef _WIN32
    return 3;
#else
    return 1;
#endif
  }
};

// The ways a call can fail, each walked over every call of a whole run.
struct Variant {
  const char* label;
  const char* name;
  FaultPlan plan;
};
const Variant kVariants[] = {
    {"EveryCall", "every call, with its code", {}},
    {"ShortReads", "short reads", {.only = IoOp::Read, .short_transfer = true}},
    {"ShortWrites", "short writes", {.only = IoOp::Write, .short_transfer = true}},
    {"HeldOpens", "opens held by another program", {.only = IoOp::Open, .oscode = kOsFileInUse}},
    {"DiskFull", "a disk that fills up", {.only = IoOp::Write, .disk_full = true}},
    {"ProcessGone", "the process gone", gone_from(0)},
};

class FaultWalkOfARun : public FaultWalk, public ::testing::WithParamInterface<Variant> {};

TEST_P(FaultWalkOfARun, EveryCallFailsInTurn) {
  const Variant& v = GetParam();
  Walk walk(small());
  CleanRun clean = clean_run(walk);
  ASSERT_GT(clean.calls, 0u);
  auto started = std::chrono::steady_clock::now();
  WalkReport r = walk_all(walk, clean, v.plan, stride());
  std::printf("fault walk, %s: %s\n", v.name, r.summary().c_str());
  EXPECT_TRUE(r.faults.empty()) << v.name << ":\n" << joined(r.faults);
  if (!v.plan.only) {
    EXPECT_EQ((clean.calls + stride() - 1) / stride(), r.points);
  }
  std::printf("fault walk: %zu calls in the clean run, every %zu walked, in %.1f s\n",
              clean.calls, stride(),
              std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultWalkOfARun, ::testing::ValuesIn(kVariants),
                         [](const ::testing::TestParamInfo<Variant>& info) {
                           return std::string(info.param.label);
                         });

// An undo first writes each file it puts back beside it, under this name added.
constexpr const char* kBeside = ".lumconv-undo";

// The files without those written beside them.
Files without_beside(Files files) {
  std::erase_if(files, [](const auto& f) { return f.first.ends_with(kBeside); });
  return files;
}

// Every call of an undo fails in turn, alone and with the process gone there: an undo
// that ends with 0 has put every file back; one that fails before it changes a file
// (while it writes what it puts back beside the files) has changed nothing and, unless
// the process is gone, leaves nothing beside them; and an undo run again afterwards
// finishes the work.
TEST_F(FaultWalk, EveryCallOfAnUndoFailsInTurnAndTheNextUndoFinishes) {
  Walk walk(small());
  const Outcome ran = walk.run({}, "the run");
  ASSERT_EQ(0, ran.code) << ran.err;
  walk.keep("ran");
  const Outcome clean = walk.undo({}, "the clean undo");
  ASSERT_EQ(0, clean.code) << clean.err;
  ASSERT_TRUE(clean.files == walk.pristine());
  std::size_t first_change = 0;
  // Writing beside a file changes nothing yet; putting what was written in the file's
  // place (a replace, named by the file beside it) does.
  const auto changes = [](const FaultInjector::Call& c) {
    return changes_a_file(c.op) && (c.op == IoOp::Replace || !c.path.ends_with(kBeside));
  };
  while (first_change < clean.calls.size() && !changes(clean.calls[first_change])) ++first_change;
  ASSERT_LT(first_change, clean.calls.size());
  std::vector<std::string> faults;
  std::size_t points = 0;
  for (bool gone : {false, true}) {
    for (std::size_t n = 1; n <= clean.calls.size(); n += stride()) {
      walk.restore("ran");
      const std::string what = std::string(gone ? "gone at" : "fault") + " " + std::to_string(n);
      FaultPlan plan = gone_from(n);
      plan.gone = gone;
      Outcome u = walk.undo(plan, what);
      if (!u.failed) {
        faults.push_back(what + ": no fault struck");
        continue;
      }
      ++points;
      std::vector<std::string> found;
      if (u.code == 0) {
        if (u.files != walk.pristine()) found.push_back("exit 0, but not every file is back");
      } else if (u.failed_at <= first_change + 1) {
        if (without_beside(u.files) != ran.files) {
          found.push_back("failed before the first change, yet changed a file");
        } else if (!gone && u.files != ran.files) {
          found.push_back("failed before the first change, and left files beside the files");
        }
      }
      for (std::string& f : undo_faults(walk, ran)) found.push_back(std::move(f));
      for (const std::string& f : found) {
        faults.push_back(what + " (" + io_op_name(u.failed->op) + " " +
                         relative_to(walk.dir(), u.failed->path) + "): " + f);
      }
    }
  }
  std::printf("undo fault walk: %zu calls in the clean undo, %zu points\n", clean.calls.size(),
              points);
  EXPECT_TRUE(faults.empty()) << joined(faults);
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
