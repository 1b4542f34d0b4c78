// The client conversion of the built lumconv program on a generated million-line
// "clientes.txt", timed as one whole run, side by side with `cp` copying the same input
// and output bytes. The ratio says how far the run is from moving its bytes at copy speed.
//
// LUM_BENCH_CLIENTS sets the number of client lines (default 1000000).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/process.h"
#include "tools/sample/dataset.h"

namespace {

namespace fs = std::filesystem;
using lum::sample::Dataset;
using lum::sample::DatasetOptions;
using lum::sample::TableDef;
using lum::sample::Target;
using lum::sample::TextSet;

std::size_t client_lines() {
  const char* env = std::getenv("LUM_BENCH_CLIENTS");
  return env != nullptr ? std::strtoull(env, nullptr, 10) : 1000000;
}

// Runs a program to its end (outputs into the null device) and returns the seconds.
double seconds_of(const std::string& program, const std::vector<std::string>& args,
                  lum::ProcessOptions o = {}) {
  o.stdout_file = o.stderr_file = "/dev/null";
  auto start = std::chrono::steady_clock::now();
  lum::ProcessOutcome r = lum::run_process(program, args, o);
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (r.exit_code != 0) {
    throw std::runtime_error(program + " failed (exit code " + std::to_string(r.exit_code) + ") " +
                             r.out);
  }
  return s;
}

// One whole lumconv run in `dir`, then `cp` of `files` (what the run read and wrote)
// into `copies`, timed side by side; prints the figures under `what`.
void run_against_copy(benchmark::State& state, const char* what, std::size_t lines,
                      const fs::path& dir, const fs::path& copies,
                      const std::vector<fs::path>& files) {
  double run_s = 0, cp_s = 0;
  std::uintmax_t bytes = 0;
  for (auto _ : state) {
    lum::ProcessOptions in_dir;
    in_dir.cwd = dir.string();
    run_s = seconds_of(LUMCONV_BINARY, {"//DRIVE:" + dir.string()}, in_dir);
    bytes = 0;
    cp_s = 0;
    for (const fs::path& f : files) {
      bytes += fs::file_size(f);
      cp_s += seconds_of(CP_BINARY, {f.string(), (copies / f.filename()).string()});
    }
    state.SetIterationTime(run_s);
  }
  state.counters["lines"] = static_cast<double>(lines);
  state.counters["lumconv_s"] = run_s;
  state.counters["cp_s"] = cp_s;
  state.counters["ratio"] = cp_s > 0 ? run_s / cp_s : 0;
  state.counters["MB"] = static_cast<double>(bytes) / 1e6;
  std::printf("%s of %zu lines: lumconv %.3f s, cp of the same %.1f MB %.3f s, ratio %.1f\n", what,
              lines, run_s, static_cast<double>(bytes) / 1e6, cp_s, cp_s > 0 ? run_s / cp_s : 0.0);
}

fs::path fresh_root() {
  std::random_device rd;
  return fs::temp_directory_path() / ("lumconv-bench-" + std::to_string(rd()));
}

void BM_ClientConversionAgainstCopy(benchmark::State& state) {
  const std::size_t n = client_lines();
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
  run_against_copy(state, "client conversion", n, dir, copies, files);
  std::error_code ec;
  fs::remove_all(root, ec);
}
BENCHMARK(BM_ClientConversionAgainstCopy)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// The five conversions on LUM_BENCH_RECORDS lines per text file (default 1000000),
// against `cp` of every text file, table, memo file and index file of the run.
void BM_FiveConversionsAgainstCopy(benchmark::State& state) {
  const char* env = std::getenv("LUM_BENCH_RECORDS");
  const std::size_t n = env != nullptr ? std::strtoull(env, nullptr, 10) : 1000000;
  const fs::path root = fresh_root();
  const fs::path dir = root / "data", copies = root / "copies";
  fs::create_directories(copies);
  DatasetOptions o;
  o.lines.fill(n);
  Dataset ds(o);
  ds.write(dir);
  // Every file the run reads or rewrites: text files, staging tables, targets with their
  // memo files, and the three index files it builds.
  std::vector<fs::path> files = {dir / "LUTMPFOR.ntx", dir / "coditem.ntx", dir / "saldo.ntx"};
  for (const fs::path& d : {dir, Dataset::target_dir(dir)}) {
    for (const auto& e : fs::directory_iterator(d)) {
      if (e.is_regular_file()) files.push_back(e.path());
    }
  }
  run_against_copy(state, "five conversions", n, dir, copies, files);
  std::error_code ec;
  fs::remove_all(root, ec);
}
BENCHMARK(BM_FiveConversionsAgainstCopy)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

namespace {

// The dry run against the real run on the same five-conversion dataset of
// LUM_BENCH_RECORDS lines per text file: what --check costs beyond one run (copying the
// tables it would change and reading back its report).
void BM_CheckAgainstRun(benchmark::State& state) {
  const char* env = std::getenv("LUM_BENCH_RECORDS");
  const std::size_t n = env != nullptr ? std::strtoull(env, nullptr, 10) : 1000000;
  const fs::path root = fresh_root();
  const fs::path dir = root / "data", tmp = root / "tmp";
  fs::create_directories(tmp);
  DatasetOptions o;
  o.lines.fill(n);
  Dataset(o).write(dir);
  lum::ProcessOptions in_dir;
  in_dir.cwd = dir.string();
  in_dir.set_env = {"TMPDIR=" + tmp.string()};
  const std::string drive = "//DRIVE:" + dir.string();
  double check_s = 0, run_s = 0;
  for (auto _ : state) {
    // The dry run changes nothing, so the run after it sees the same files.
    check_s = seconds_of(LUMCONV_BINARY, {"--check", drive}, in_dir);
    run_s = seconds_of(LUMCONV_BINARY, {drive}, in_dir);
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
