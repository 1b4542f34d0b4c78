// Index build speed: one million records with a key of 10 bytes built into an NTX file
// (sorted in runs as the sort area is sized, and with an area that holds them all),
// against std::stable_sort of the same key-and-record-number entries in memory.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "index/ntx_build.h"
#include "runtime/runtime.h"

namespace {

constexpr std::size_t kRecords = 1000000;
constexpr int kKey = 10;

// The keys of record 1..N, 10 bytes each: codes of up to 7 digits right-aligned, the way
// a numeric code field looks, so there are some equal keys.
const std::vector<char>& keys() {
  static const std::vector<char> k = [] {
    std::vector<char> out(kRecords * kKey);
    std::mt19937 rng(12345);
    for (std::size_t i = 0; i < kRecords; ++i) {
      char buf[16];
      std::snprintf(buf, sizeof buf, "%10u", static_cast<unsigned>(rng() % 5000000));
      std::memcpy(out.data() + i * kKey, buf, kKey);
    }
    return out;
  }();
  return k;
}

class KeysSource : public lum::NtxKeySource {
 public:
  std::uint64_t record_count() const override { return kRecords; }
  Next next(std::uint8_t* key, std::uint32_t& rec) override {
    if (pos_ == kRecords) return Next::End;
    std::memcpy(key, keys().data() + pos_ * kKey, kKey);
    rec = static_cast<std::uint32_t>(++pos_);
    return Next::Entry;
  }

 private:
  std::size_t pos_ = 0;
};

void build_index(benchmark::State& state, std::size_t capacity) {
  lum::Runtime rt;
  rt.install_handler([](lum::ErrorObject&) { return lum::Value::logical(false); });
  keys();
  std::string path = (std::filesystem::temp_directory_path() / "lum_index_bench.ntx").string();
  lum::NtxBuildStats stats;
  for (auto _ : state) {
    lum::NtxFile f;
    if (!f.create(path, false)) state.SkipWithError("cannot create the index file");
    lum::NtxHeader h;
    h.key_expr = "CODITEM";
    h.key_size = kKey;
    KeysSource src;
    if (!lum::create_ntx_index(f, h, src, lum::NtxBuildOptions{capacity}, &stats)) {
      state.SkipWithError("build failed");
    }
    f.close();
  }
  state.counters["runs"] = static_cast<double>(stats.runs);
  state.counters["pages"] = static_cast<double>(stats.pages);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kRecords));
  std::filesystem::remove(path);
}

// The sort area sized from N and K: eight runs in the temporary file, then merged.
void BM_NtxBuildSizedArea(benchmark::State& state) { build_index(state, 0); }
BENCHMARK(BM_NtxBuildSizedArea)->Unit(benchmark::kMillisecond);

// An area that holds every entry: one sort in memory.
void BM_NtxBuildOneRun(benchmark::State& state) { build_index(state, kRecords); }
BENCHMARK(BM_NtxBuildOneRun)->Unit(benchmark::kMillisecond);

struct Entry {
  std::array<char, kKey> key;
  std::uint32_t rec;
};

// The yardstick: the same entries sorted in memory, nothing written.
void BM_StableSortInMemory(benchmark::State& state) {
  std::vector<Entry> base(kRecords);
  for (std::size_t i = 0; i < kRecords; ++i) {
    std::memcpy(base[i].key.data(), keys().data() + i * kKey, kKey);
    base[i].rec = static_cast<std::uint32_t>(i + 1);
  }
  for (auto _ : state) {
    std::vector<Entry> v = base;
    std::stable_sort(v.begin(), v.end(), [](const Entry& a, const Entry& b) {
      return std::memcmp(a.key.data(), b.key.data(), kKey) < 0;
    });
    benchmark::DoNotOptimize(v.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kRecords));
}
BENCHMARK(BM_StableSortInMemory)->Unit(benchmark::kMillisecond);

}  // namespace
