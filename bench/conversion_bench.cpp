// Whole runs of the built lumconv program on generated datasets, timed side by side
// with `cp` copying every byte the run reads or writes. The ratio says how far the run
// is from moving its bytes at copy speed.
//
// - Client conversion: LUM_BENCH_CLIENTS client lines (default 1000000).
// - Five conversions: LUM_BENCH_RECORDS lines in every text file (default 200000), run
//   at N and at 2N records, printing the time per record, the ratio to the cp floor (the
//   smallest of several copies), the ratio of 2N to N (how cost grows) and the run's
//   peak memory. LUM_BENCH_ROUNDS runs (default 1) at each size; the smallest counts.
//   LUM_BENCH_AGAINST names a second lumconv binary, run on the same dataset in
//   alternating pairs with the first, and the two are compared side by side.
// - The undo snapshot: the run with it against the run without it (--no-undo), and
//   lumconv --undo against cp of the files it puts back (LUM_BENCH_RECORDS lines).
// Every run's snapshot is removed after it, untimed.
// LUM_BENCH_PROGRAM runs another lumconv binary instead of the one built here.
// LUM_BENCH_TMPFS=1 puts the runs' files and the copies in memory (/dev/shm), so that
// both sides are measured without the disk's write-back.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/process.h"
#include "tools/sample/dataset.h"

namespace {

namespace fs = std::filesystem;
using lum::sample::Dataset;
using lum::sample::DatasetOptions;
using lum::sample::TableDef;
using lum::sample::Target;
using lum::sample::TextSet;

constexpr int kCopyRounds = 5;  // the copy is the noisiest figure: its floor is the smallest

std::size_t env_count(const char* name, std::size_t fallback) {
  const char* env = std::getenv(name);
  return env != nullptr ? std::strtoull(env, nullptr, 10) : fallback;
}

std::string lumconv_binary() {
  const char* env = std::getenv("LUM_BENCH_PROGRAM");
  return env != nullptr && *env != '\0' ? std::string(env) : std::string(LUMCONV_BINARY);
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs a program to its end (outputs into the null device) and returns the seconds.
double seconds_of(const std::string& program, const std::vector<std::string>& args,
                  lum::ProcessOptions o = {}) {
  o.stdout_file = o.stderr_file = "/dev/null";
  auto start = std::chrono::steady_clock::now();
  lum::ProcessOutcome r = lum::run_process(program, args, o);
  double s = seconds_since(start);
  if (r.exit_code != 0) {
    throw std::runtime_error(program + " failed (exit code " + std::to_string(r.exit_code) + ") " +
                             r.out);
  }
  return s;
}

struct RunFigures {
  double seconds = 0;
  std::uint64_t peak_bytes = 0;
};

// The folder where each run saves the files it changes, for lumconv --undo.
constexpr const char* kUndoFolder = "lumconv-undo";

// One whole run of a lumconv binary in `dir`, as an operator starts it there, with
// `switches` before the drive root. The run's undo snapshot is taken (unless a switch
// says otherwise) and, untimed, removed afterwards, so that runs in turn on the same
// files do the same work and do not fill the disk.
RunFigures run_lumconv(const fs::path& dir, const std::string& program = lumconv_binary(),
                       std::vector<std::string> switches = {}) {
  lum::ProcessOptions o;
  o.cwd = dir.string();
  o.stdout_file = o.stderr_file = "/dev/null";
  switches.push_back("//DRIVE:" + dir.string());
  auto start = std::chrono::steady_clock::now();
  lum::ProcessOutcome p = lum::run_process(program, switches, o);
  RunFigures f{seconds_since(start), p.peak_memory_bytes};
  if (!p.started || p.exit_code != 0) {
    throw std::runtime_error("lumconv failed in " + dir.string() + ": " + p.out);
  }
  std::error_code ec;
  fs::remove_all(dir / kUndoFolder, ec);
  return f;
}

// The floor of copying `files` into `copies` with cp: the smallest of several rounds.
double copy_seconds(const std::vector<fs::path>& files, const fs::path& copies) {
  auto start = std::chrono::steady_clock::now();
  for (const fs::path& f : files) {
    lum::ProcessOutcome p =
        lum::run_process(CP_BINARY, {f.string(), (copies / f.filename()).string()});
    if (!p.started || p.exit_code != 0) throw std::runtime_error("cp failed: " + f.string());
  }
  return seconds_since(start);
}

double copy_floor_seconds(const std::vector<fs::path>& files, const fs::path& copies) {
  double best = 0;
  for (int round = 0; round < kCopyRounds; ++round) {
    const double s = copy_seconds(files, copies);
    best = round == 0 ? s : std::min(best, s);
  }
  return best;
}

std::uintmax_t total_bytes(const std::vector<fs::path>& files) {
  std::uintmax_t bytes = 0;
  for (const fs::path& f : files) bytes += fs::file_size(f);
  return bytes;
}

// The directory the datasets and the copies go under.
fs::path bench_base() {
  const char* tmpfs = std::getenv("LUM_BENCH_TMPFS");
  if (tmpfs == nullptr || *tmpfs == '\0' || std::string(tmpfs) == "0") {
    return fs::temp_directory_path();
  }
  const fs::path shm = "/dev/shm";
  if (!fs::is_directory(shm)) throw std::runtime_error("LUM_BENCH_TMPFS: no /dev/shm here");
  return shm;
}

// A five-conversion dataset of `n` lines in every text file, written in `dir`.
void write_dataset(const fs::path& dir, std::size_t n) {
  DatasetOptions o;
  o.lines.fill(n);
  Dataset(o).write(dir);
}

fs::path fresh_root() {
  std::random_device rd;
  return bench_base() / ("lumconv-bench-" + std::to_string(rd()));
}

void BM_ClientConversionAgainstCopy(benchmark::State& state) {
  const std::size_t n = env_count("LUM_BENCH_CLIENTS", 1000000);
  const fs::path root = fresh_root();
  const fs::path dir = root / "data", copies = root / "copies";
  fs::create_directories(copies);

  // Only the client file carries lines; the receivables file that the client file's
  // presence also starts is written empty, and no other conversion runs.
  DatasetOptions o;
  o.lines[static_cast<int>(TextSet::kClients)] = n;
  o.write_text.fill(false);
  o.write_text[static_cast<int>(TextSet::kClients)] = true;
  o.write_text[static_cast<int>(TextSet::kReceivables)] = true;
  Dataset ds(o);
  ds.write(dir);

  const TableDef& clients = ds.target(Target::kClients);
  const fs::path target_dir = Dataset::target_dir(dir);
  // The bytes the run read and wrote: the text file, the staging table and the target.
  std::vector<fs::path> files = {dir / "clientes.txt",
                                 dir / ds.staging(TextSet::kClients).file_name,
                                 target_dir / clients.file_name};
  if (!clients.memo_file_name.empty()) files.push_back(target_dir / clients.memo_file_name);
  RunFigures run;
  double cp_s = 0;
  for (auto _ : state) {
    run = run_lumconv(dir);
    cp_s = copy_floor_seconds(files, copies);
    state.SetIterationTime(run.seconds);
  }
  const double mb = static_cast<double>(total_bytes(files)) / 1e6;
  state.counters["lines"] = static_cast<double>(n);
  state.counters["lumconv_s"] = run.seconds;
  state.counters["cp_s"] = cp_s;
  state.counters["ratio"] = cp_s > 0 ? run.seconds / cp_s : 0;
  state.counters["MB"] = mb;
  std::printf(
      "client conversion of %zu lines: lumconv %.3f s, cp of the same %.1f MB %.3f s, "
      "ratio %.1f, peak %.1f MiB\n",
      n, run.seconds, mb, cp_s, cp_s > 0 ? run.seconds / cp_s : 0.0,
      static_cast<double>(run.peak_bytes) / (1024.0 * 1024.0));
  std::error_code ec;
  fs::remove_all(root, ec);
}
BENCHMARK(BM_ClientConversionAgainstCopy)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// The programs of a five-conversion run: the one measured, and the one it is compared
// with when LUM_BENCH_AGAINST names one.
std::vector<std::string> programs_to_run() {
  std::vector<std::string> out = {lumconv_binary()};
  const char* against = std::getenv("LUM_BENCH_AGAINST");
  if (against != nullptr && *against != '\0') out.emplace_back(against);
  return out;
}

struct WholeRun {
  std::size_t records = 0;       // lines over all text files
  std::vector<RunFigures> runs;  // per program: the fastest run, the largest peak
  double cp_s = 0;
  double mb = 0;
};

// The five conversions on `n` lines per text file, each program `rounds` times in
// alternating turns on the same files (every run empties and refills the same tables,
// so each does the same work), against cp of every text file, table, memo file and
// index file of the run.
WholeRun whole_run(std::size_t n, const std::vector<std::string>& programs, int rounds) {
  const fs::path root = fresh_root();
  const fs::path dir = root / "data", copies = root / "copies";
  fs::create_directories(copies);
  DatasetOptions o;
  o.lines.fill(n);
  Dataset ds(o);
  ds.write(dir);
  WholeRun w;
  for (int s = 0; s < lum::sample::kTextSetCount; ++s) w.records += o.lines[s];
  w.runs.resize(programs.size());
  for (int round = 0; round < rounds; ++round) {
    for (std::size_t p = 0; p < programs.size(); ++p) {
      RunFigures f = run_lumconv(dir, programs[p]);
      RunFigures& best = w.runs[p];
      best.seconds = round == 0 ? f.seconds : std::min(best.seconds, f.seconds);
      best.peak_bytes = std::max(best.peak_bytes, f.peak_bytes);
    }
  }
  // Every file the run read or rewrote: text files, staging tables, targets with their
  // memo files, and the three index files it built.
  std::vector<fs::path> files;
  for (const fs::path& d : {dir, Dataset::target_dir(dir)}) {
    for (const auto& e : fs::directory_iterator(d)) {
      if (e.is_regular_file()) files.push_back(e.path());
    }
  }
  w.cp_s = copy_floor_seconds(files, copies);
  w.mb = static_cast<double>(total_bytes(files)) / 1e6;
  std::error_code ec;
  fs::remove_all(root, ec);
  return w;
}

void BM_FiveConversionsAgainstCopy(benchmark::State& state) {
  const std::size_t n = env_count("LUM_BENCH_RECORDS", 200000);
  const int rounds = static_cast<int>(std::max<std::size_t>(1, env_count("LUM_BENCH_ROUNDS", 1)));
  const std::vector<std::string> programs = programs_to_run();
  WholeRun at_n, at_2n;
  for (auto _ : state) {
    at_n = whole_run(n, programs, rounds);
    at_2n = whole_run(2 * n, programs, rounds);
    state.SetIterationTime(at_n.runs[0].seconds);
  }
  std::printf("five conversions in %s, fastest of %d run(s) each\n", bench_base().c_str(), rounds);
  auto mib = [](const RunFigures& f) { return static_cast<double>(f.peak_bytes) / 1048576.0; };
  for (std::size_t p = 0; p < programs.size(); ++p) {
    std::printf("%s:\n", programs[p].c_str());
    auto report = [&](const char* label, const WholeRun& w) {
      const RunFigures& f = w.runs[p];
      std::printf(
          "  %s = %zu lines per file: lumconv %.3f s, %.2f us per record, cp floor of %.1f MB "
          "%.3f s, ratio to cp %.1f, peak %.1f MiB\n",
          label, w.records / lum::sample::kTextSetCount, f.seconds,
          f.seconds * 1e6 / static_cast<double>(w.records), w.mb, w.cp_s,
          w.cp_s > 0 ? f.seconds / w.cp_s : 0.0, mib(f));
    };
    report("N", at_n);
    report("2N", at_2n);
    const double growth =
        at_n.runs[p].seconds > 0 ? at_2n.runs[p].seconds / at_n.runs[p].seconds : 0;
    std::printf("  time at 2N / time at N: %.2f\n", growth);
  }
  if (programs.size() > 1) {
    std::printf("first / second: %.2f at N, %.2f at 2N\n",
                at_n.runs[0].seconds / at_n.runs[1].seconds,
                at_2n.runs[0].seconds / at_2n.runs[1].seconds);
  }
  const RunFigures& first = at_n.runs[0];
  state.counters["lines"] = static_cast<double>(n);
  state.counters["lumconv_s"] = first.seconds;
  state.counters["us_per_record"] = first.seconds * 1e6 / static_cast<double>(at_n.records);
  state.counters["ratio"] = at_n.cp_s > 0 ? first.seconds / at_n.cp_s : 0;
  state.counters["growth_2n"] = first.seconds > 0 ? at_2n.runs[0].seconds / first.seconds : 0;
  state.counters["peak_MiB"] = std::max(mib(first), mib(at_2n.runs[0]));
}
BENCHMARK(BM_FiveConversionsAgainstCopy)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

namespace {

// The dry run against the real run on the same five-conversion dataset of
// LUM_BENCH_RECORDS lines per text file: what --check costs beyond one run (copying the
// tables it would change and reading back its report).
void BM_CheckAgainstRun(benchmark::State& state) {
  const std::size_t n = env_count("LUM_BENCH_RECORDS", 1000000);
  const fs::path root = fresh_root();
  const fs::path dir = root / "data", tmp = root / "tmp";
  fs::create_directories(tmp);
  write_dataset(dir, n);
  lum::ProcessOptions in_dir;
  in_dir.cwd = dir.string();
  in_dir.set_env = {"TMPDIR=" + tmp.string()};
  const std::string drive = "//DRIVE:" + dir.string();
  double check_s = 0, run_s = 0;
  for (auto _ : state) {
    // The dry run changes nothing, so the run after it sees the same files.
    check_s = seconds_of(LUMCONV_BINARY, {"--check", drive}, in_dir);
    run_s = seconds_of(LUMCONV_BINARY, {drive}, in_dir);
    fs::remove_all(dir / kUndoFolder);
    state.SetIterationTime(check_s);
  }
  state.counters["lines"] = static_cast<double>(n);
  state.counters["check_s"] = check_s;
  state.counters["run_s"] = run_s;
  state.counters["ratio"] = run_s > 0 ? check_s / run_s : 0;
  std::printf("five conversions of %zu lines: --check %.3f s, the run %.3f s, ratio %.2f\n", n,
              check_s, run_s, run_s > 0 ? check_s / run_s : 0.0);
  std::error_code ec;
  fs::remove_all(root, ec);
}
BENCHMARK(BM_CheckAgainstRun)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

namespace {

// What the undo snapshot costs, on the five-conversion dataset of LUM_BENCH_RECORDS
// lines per text file (default 200000), with the targets filled by a first run as an
// operator's second run finds them: the run with its snapshot against the run with
// --no-undo, LUM_BENCH_ROUNDS alternating pairs (default 3), the fastest of each; then
// lumconv --undo against cp of the same saved files back into place (the smallest of
// several copies).
// The median of a few figures.
double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t m = v.size() / 2;
  return v.size() % 2 != 0 ? v[m] : (v[m - 1] + v[m]) / 2;
}

// Forces each copy to the disk, as the undo forces what it puts back; the seconds taken.
double commit_seconds(const std::vector<fs::path>& saved, const fs::path& copies) {
  auto start = std::chrono::steady_clock::now();
  for (const fs::path& f : saved) {
    lum::File copy;
    if (copy.open_path((copies / f.filename()).string(), lum::FileAccess::ReadWrite,
                       lum::FileShare::Exclusive) != lum::kOsOk ||
        copy.commit() != lum::kOsOk) {
      throw std::runtime_error("cannot force the copy of " + f.string() + " to the disk");
    }
  }
  return seconds_since(start);
}

// The run with its snapshot against the run with --no-undo, and the undo against a cp of
// the bytes it puts back (and against that cp with the copies forced to the disk, as the
// undo forces its files), in alternating pairs; each ratio is the median of the pairs'.
void BM_SnapshotAndUndo(benchmark::State& state) {
  const std::size_t n = env_count("LUM_BENCH_RECORDS", 200000);
  const int rounds = static_cast<int>(std::max<std::size_t>(1, env_count("LUM_BENCH_ROUNDS", 3)));
  const fs::path root = fresh_root();
  const fs::path dir = root / "data", copies = root / "copies";
  fs::create_directories(copies);
  write_dataset(dir, n);
  run_lumconv(dir);  // the targets filled, as a second run finds them
  const std::string program = lumconv_binary();
  std::vector<double> with_s, without_s, undo_s, cp_s, synced_s;
  std::vector<double> snapshot_ratio, undo_ratio, undo_synced_ratio;
  double mb = 0;
  for (auto _ : state) {
    for (int round = 0; round < rounds; ++round) {
      with_s.push_back(run_lumconv(dir, program).seconds);
      without_s.push_back(run_lumconv(dir, program, {"--no-undo"}).seconds);
      snapshot_ratio.push_back(with_s.back() / without_s.back());
    }
    // A run that keeps its snapshot, then the undo that puts its files back, and a cp
    // of the same bytes beside it.
    lum::ProcessOptions in_dir;
    in_dir.cwd = dir.string();
    const std::string drive = "//DRIVE:" + dir.string();
    for (int round = 0; round < rounds; ++round) {
      seconds_of(program, {drive}, in_dir);
      std::vector<fs::path> saved;
      for (const auto& run : fs::directory_iterator(dir / kUndoFolder)) {
        for (const auto& e : fs::directory_iterator(run.path())) {
          if (e.path().filename() != "manifest.txt") saved.push_back(e.path());
        }
      }
      undo_s.push_back(seconds_of(program, {"--undo", drive}, in_dir));
      cp_s.push_back(copy_seconds(saved, copies));
      synced_s.push_back(cp_s.back() + commit_seconds(saved, copies));
      undo_ratio.push_back(undo_s.back() / cp_s.back());
      undo_synced_ratio.push_back(undo_s.back() / synced_s.back());
      mb = static_cast<double>(total_bytes(saved)) / 1e6;
      std::error_code ec;
      fs::remove_all(dir / kUndoFolder, ec);
    }
    state.SetIterationTime(median(with_s));
  }
  state.counters["lines"] = static_cast<double>(n);
  state.counters["snapshot_ratio"] = median(snapshot_ratio);
  state.counters["undo_ratio"] = median(undo_ratio);
  std::printf(
      "five conversions of %zu lines in %s, targets filled, medians of %d pair(s):\n"
      "  with the snapshot %.3f s, with --no-undo %.3f s, ratio %.2f (pairs %.2f to %.2f)\n"
      "  lumconv --undo %.3f s, cp of the %.1f MB it puts back %.3f s, ratio %.2f (pairs %.2f "
      "to %.2f)\n"
      "  the cp with its copies forced to the disk %.3f s, ratio %.2f\n",
      n, bench_base().c_str(), rounds, median(with_s), median(without_s), median(snapshot_ratio),
      *std::min_element(snapshot_ratio.begin(), snapshot_ratio.end()),
      *std::max_element(snapshot_ratio.begin(), snapshot_ratio.end()), median(undo_s), mb,
      median(cp_s), median(undo_ratio), *std::min_element(undo_ratio.begin(), undo_ratio.end()),
      *std::max_element(undo_ratio.begin(), undo_ratio.end()), median(synced_s),
      median(undo_synced_ratio));
  std::error_code ec;
  fs::remove_all(root, ec);
}
BENCHMARK(BM_SnapshotAndUndo)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
