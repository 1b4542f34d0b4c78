// A stop request (Ctrl+C, Ctrl+\, a closed console, SIGTERM) that arrives while the run
// walks records ends the run at the next record boundary, in every kind of loop: the
// import of a text, a conversion's record loop, the index build, the balance pass (over
// a filtered index order), and the same loops inside a dry run. The request is made from
// the file layer's seam at a chosen moment of a whole run in this process; afterwards
// the run must have ended with exit code 1 and its account, within a fraction of a
// second, without starting anything new, and with every table's header counting the
// records in its file.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/program.h"
#include "console/backend.h"
#include "frame/startup.h"
#include "platform/file.h"
#include "runtime/runtime.h"
#include "table/workareas.h"
#include "tests/support/temp_dir.h"
#include "tests/support/undo_snapshots.h"
#include "tools/sample/dataset.h"

namespace lum::test {
namespace {

namespace fs = std::filesystem;
using sample::Dataset;
using sample::DatasetOptions;

std::string upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

bool ends_case_blind(const std::string& path, const std::string& tail) {
  return path.size() >= tail.size() && upper(path.substr(path.size() - tail.size())) == upper(tail);
}

std::uint32_t le(const std::string& b, std::size_t at, int n) {
  std::uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b[at + i]);
  return v;
}

// Every table file below `dir` whose header does not count the records in the file.
std::vector<std::string> tables_out_of_step(const fs::path& dir) {
  std::vector<std::string> wrong;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    if (!e.is_regular_file() || upper(e.path().extension().string()) != ".DBF") continue;
    const std::string b = read_file(e.path());
    const std::uint64_t end =
        b.size() < 12 ? 0 : le(b, 8, 2) + std::uint64_t{le(b, 4, 4)} * le(b, 10, 2);
    if (b.size() != end && !(b.size() == end + 1 && b.back() == 0x1A)) {
      wrong.push_back(e.path().filename().string());
    }
  }
  return wrong;
}

// The record count in the header of the table of that name below `dir`, found without
// regard to case.
std::uint32_t record_count(const fs::path& dir, const std::string& name) {
  for (const auto& e : fs::directory_iterator(dir)) {
    if (upper(e.path().filename().string()) == upper(name)) {
      const std::string b = read_file(e.path());
      return b.size() >= 8 ? le(b, 4, 4) : 0;
    }
  }
  ADD_FAILURE() << "no " << name << " in " << dir;
  return 0;
}

// The counter the final screen shows on the row of `label` (its last number, the
// "@E 999,999" text read as digits); nothing when the row is not there.
std::optional<double> shown_counter(const std::string& out, const std::string& label) {
  const std::size_t at = out.rfind(label);
  if (at == std::string::npos) return std::nullopt;
  const std::size_t end = out.find('\n', at);
  std::string digits;
  for (char c : out.substr(at + label.size(), end - at - label.size())) {
    if (c >= '0' && c <= '9') digits += c;
  }
  if (digits.empty()) return std::nullopt;
  return std::stod(digits);
}

// The memory variable A of the running conversion: its record counter.
std::optional<double> counter() {
  if (!Runtime::exists()) return std::nullopt;  // an undo runs without one
  const Value* a = Runtime::current().find_memvar("A");
  if (a == nullptr || !a->is_number()) return std::nullopt;
  return a->num().as_double();
}

// What the run was doing when the stop was asked for.
struct AtRequest {
  std::optional<double> counter;  // A
  std::uint32_t staged = 0;       // in the staging table CBFORN, when it is open
  std::size_t calls = 0;          // file calls made so far
};

// When to ask for the stop: called before every file call with the call and every call
// before it; true at the moment.
using Moment = std::function<bool(IoOp op, const std::string& path,
                                  const std::vector<std::pair<IoOp, std::string>>& before)>;

struct Outcome {
  int code = -1;
  std::string out, err;
  std::optional<AtRequest> at;
  std::size_t calls = 0;
  std::vector<std::pair<IoOp, std::string>> after;  // file calls after it, before the quit
  double seconds_to_end = 0;
  double seconds_to_closing = 0;  // to the first file call of the closing of the tables
};

Outcome run_with_stop(const fs::path& dir, std::vector<const char*> switches, const Moment& moment) {
  Outcome o;
  std::vector<std::pair<IoOp, std::string>> calls;
  std::chrono::steady_clock::time_point asked;
  set_io_fault_hook([&](IoOp op, const std::string& path, std::uint64_t, std::size_t, IoFault&) {
    if (o.at) {
      // Closing the tables is the end of the run, not more of its work.
      if (!Runtime::exists() || !Runtime::current().quitting()) {
        o.after.emplace_back(op, path);
      } else if (o.seconds_to_closing == 0) {
        o.seconds_to_closing =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count();
      }
    } else if (moment(op, path, calls)) {
      AtRequest at;
      at.counter = counter();
      if (Area* a = Runtime::exists() ? WorkAreas::get().find_alias("CBFORN") : nullptr) {
        at.staged = a->record_count();
      }
      at.calls = calls.size();
      o.at = at;
      asked = std::chrono::steady_clock::now();
      Runtime::request_interrupt();
    }
    calls.emplace_back(op, path);
    return false;
  });
  const fs::path back = fs::current_path();
  fs::current_path(dir);
  Program p = lumconv_program();
  p.environment = "";
  p.out = [&o](std::string_view s) { o.out += s; };
  p.err = [&o](std::string_view s) { o.err += s; };
  p.open_terminal = [&o] {
    return std::make_unique<MemoryTerminal>([&o](std::string_view s) { o.out += s; });
  };
  const std::string drive = "//DRIVE:" + dir.string();
  std::vector<const char*> argv = {"lumconv", "//NOALERT", drive.c_str()};
  argv.insert(argv.end(), switches.begin(), switches.end());
  o.code = run_program(p, static_cast<int>(argv.size()), argv.data());
  if (o.at) {
    o.seconds_to_end =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count();
    if (o.seconds_to_closing == 0) o.seconds_to_closing = o.seconds_to_end;
  }
  set_io_fault_hook(nullptr);
  set_drive_root("/");
  fs::current_path(back);
  o.calls = calls.size();
  return o;
}

bool seen(const std::vector<std::pair<IoOp, std::string>>& calls, IoOp op, const char* file) {
  for (const auto& [o, p] : calls) {
    if (o == op && ends_case_blind(p, file)) return true;
  }
  return false;
}

std::size_t count_of(const std::vector<std::pair<IoOp, std::string>>& calls, IoOp op,
                     const char* file) {
  std::size_t n = 0;
  for (const auto& [o, p] : calls) n += o == op && ends_case_blind(p, file);
  return n;
}

// The kinds of loop, each with the moment inside it and what must hold afterwards.
struct Loop {
  const char* name;
  Moment moment;
  // Checked on the real run's directory afterwards.
  std::function<void(const fs::path& dir, const Outcome& o)> afterwards;
};

// In the middle of a conversion's loop: its counter has passed `from` and its target is
// being written; afterwards the counter on the final screen is at most one further.
Moment in_loop(const char* target, double from) {
  return [=](IoOp op, const std::string& path, const auto&) {
    const std::optional<double> a = counter();
    return op == IoOp::Write && ends_case_blind(path, target) && a && *a >= from;
  };
}

constexpr std::size_t kLines = 6000;

const Loop kLoops[] = {
    {"the import of a text",
     [](IoOp op, const std::string& path, const auto& before) {
       return op == IoOp::Read && ends_case_blind(path, "forneced.txt") &&
              count_of(before, IoOp::Read, "forneced.txt") == 3;
     },
     [](const fs::path& dir, const Outcome& o) {
       // The staging table holds what was imported when the stop came, and one more
       // record at the most.
       const std::uint32_t n = record_count(dir, "cbFORN.dbf");
       EXPECT_GE(n, o.at->staged);
       EXPECT_LE(n, o.at->staged + 1);
       EXPECT_LT(n, kLines);
     }},
    {"a conversion's record loop", in_loop("LUPGMOV.DBF", 1500),
     [](const fs::path& dir, const Outcome& o) {
       // The target holds the records converted when the stop came, and one more at the
       // most; the counter shows the last of them.
       const std::uint32_t n = record_count(Dataset::target_dir(dir), "LUPGMOV.DBF");
       ASSERT_TRUE(o.at->counter);
       EXPECT_GE(n, *o.at->counter);
       EXPECT_LE(n, *o.at->counter + 1);
       EXPECT_EQ(std::optional<double>(n), shown_counter(o.out, "Pagar:"));
     }},
    {"the index build",
     [](IoOp op, const std::string& path, const auto& before) {
       return op == IoOp::Read && ends_case_blind(path, "ITEM.DBF") &&
              seen(before, IoOp::Create, "coditem.ntx") &&
              count_of(before, IoOp::Read, "ITEM.DBF") >= 2;
     },
     [](const fs::path& dir, const Outcome&) {
       // A whole index or none.
       EXPECT_FALSE(fs::exists(dir / "coditem.ntx"));
     }},
    {"the balance pass",
     [](IoOp op, const std::string& path, const auto& before) {
       const std::optional<double> a = counter();
       return op == IoOp::Read && ends_case_blind(path, "coditem.ntx") &&
              seen(before, IoOp::Create, "saldo.ntx") && a && *a >= 1000;
     },
     [](const fs::path&, const Outcome& o) {
       const std::optional<double> shown = shown_counter(o.out, "Saldos:");
       ASSERT_TRUE(o.at->counter && shown);
       EXPECT_GE(*shown, *o.at->counter);
       EXPECT_LE(*shown, *o.at->counter + 1);
     }},
};

class StopRequest : public ::testing::TestWithParam<bool> {};

TEST_P(StopRequest, EndsEveryKindOfLoopAtTheNextRecord) {
  const bool check = GetParam();
  DatasetOptions options = DatasetOptions::with_lines(kLines);
  for (const Loop& loop : kLoops) {
    SCOPED_TRACE(loop.name);
    TempDir dir;
    Dataset(options).write(dir.path());
    const Outcome o =
        run_with_stop(dir.path(), check ? std::vector<const char*>{"--check"} : std::vector<const char*>{},
                      loop.moment);
    ASSERT_TRUE(o.at) << "the moment never came";
    EXPECT_EQ(1, o.code) << o.err;
    EXPECT_LT(o.seconds_to_closing, 0.5);
#ifndef _WIN32
    // The closing forces each table to the disk; on Windows, without the write-back
    // started as the table was written, that takes as long as the disk takes.
    EXPECT_LT(o.seconds_to_end, 0.5);
#endif
    // Nothing is done after the request but the end of the record at hand: no table or
    // text is opened or created, no index built, no block read or written ahead; what
    // follows is the closing of the tables.
    for (const auto& [op, path] : o.after) ADD_FAILURE() << io_op_name(op) << " " << path;
    if (!check) {
      EXPECT_NE(std::string::npos, o.err.find("the run was interrupted")) << o.err;
      EXPECT_NE(std::string::npos, o.out.find(kInterruptedLine));
      EXPECT_EQ(std::vector<std::string>{}, tables_out_of_step(dir.path()));
      loop.afterwards(dir.path(), o);
    } else {
      EXPECT_NE(std::string::npos, o.out.find("interrupted")) << o.out;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(RealAndDryRun, StopRequest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "DryRun" : "RealRun";
                         });

// The n-th write into a file whose path contains `part`.
Moment at_write_into(const char* part, std::size_t n) {
  return [=](IoOp op, const std::string& path, const auto& before) {
    if (op != IoOp::Write || path.find(part) == std::string::npos) return false;
    std::size_t seen = 0;
    for (const auto& [o, p] : before) seen += o == IoOp::Write && p.find(part) != std::string::npos;
    return seen + 1 == n;
  };
}

// A stop request while the snapshot is made ends the run before it changes a file, with
// no snapshot left; one while an undo writes the files it puts back ends the undo before
// it changes a file, with nothing left beside them, and the next undo finishes the work.
TEST(StopRequestBeforeAChange, EndsTheSnapshotAndTheUndoWithNothingChanged) {
  constexpr std::size_t kBlock = std::size_t{1} << 20;
  TempDir dir;
  // Tables of several blocks, so that the moments fall inside a file's copy.
  Dataset(DatasetOptions::with_lines(12000)).write(dir.path());
  const auto pristine = files_outside_snapshots(dir.path());

  Outcome o = run_with_stop(dir.path(), {}, at_write_into(kUndoFolder, 3));
  ASSERT_TRUE(o.at) << "the snapshot made fewer than three writes";
  EXPECT_EQ(1, o.code) << o.err;
  EXPECT_TRUE(files_outside_snapshots(dir.path()) == pristine);
  EXPECT_EQ(0, snapshots_in(dir.path()).whole + snapshots_in(dir.path()).partial);

  o = run_with_stop(dir.path(), {}, [](IoOp, const std::string&, const auto&) { return false; });
  ASSERT_EQ(0, o.code) << o.err;
  const auto ran = files_outside_snapshots(dir.path());
  ASSERT_TRUE(ran != pristine);
  std::size_t largest = 0;
  for (const auto& [name, bytes] : pristine) largest = std::max(largest, bytes.size());
  ASSERT_GT(largest, 2 * kBlock) << "no table spans several blocks";

  o = run_with_stop(dir.path(), {"--undo"}, at_write_into(".lumconv-undo", 3));
  ASSERT_TRUE(o.at) << "the undo made fewer than three writes";
  EXPECT_EQ(1, o.code);
  EXPECT_NE(std::string::npos, o.err.find("interrupted before anything was changed")) << o.err;
  EXPECT_TRUE(files_outside_snapshots(dir.path()) == ran) << "the interrupted undo changed a file";

  o = run_with_stop(dir.path(), {"--undo"}, [](IoOp, const std::string&, const auto&) { return false; });
  EXPECT_EQ(0, o.code) << o.err;
  EXPECT_TRUE(files_outside_snapshots(dir.path()) == pristine) << o.out << o.err;
}

}  // namespace
}  // namespace lum::test
