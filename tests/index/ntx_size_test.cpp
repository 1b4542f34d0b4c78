// Index builds at the edges of size: 5,000,000 records, more than the sort area holds,
// so the build spills sorted runs to a temporary file and merges them; it must finish
// with the whole process under 64 MiB. Its own program, so that the peak it measures
// is this build's. The table is written record by record as the build reads it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "index/index_commands.h"
#include "index/ntx_build.h"
#include "index/ntx_tree.h"
#include "runtime/runtime.h"
#include "table/dbcmd.h"
#include "table/names.h"
#include "tests/support/error_recorder.h"
#include "tests/support/temp_dir.h"
#include "tools/sample/dbf_builder.h"

#if defined(__SANITIZE_ADDRESS__)
#define LUM_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LUM_SANITIZED 1
#endif
#endif

namespace lum {
namespace {

constexpr std::uint32_t kRecords = 5000000;
constexpr std::uint32_t kStride = 7919;  // prime to 5,000,000: record i gets key i * 7919 mod N

// The most memory the process has held, in KiB, from the host's own account; 0 where
// the host keeps none that a file shows.
std::uint64_t peak_kib() {
  std::ifstream in("/proc/self/status");
  std::string word;
  while (in >> word) {
    if (word == "VmHWM:") {
      std::uint64_t kib = 0;
      in >> kib;
      return kib;
    }
  }
  return 0;
}

TEST(NtxSize, FiveMillionRecordsSpillAndMergeInUnder64MiB) {
  test::TempDir dir(true);
  Runtime rt;
  rt.settings().hardcommit = false;
  test::ErrorRecorder errors(rt, 0, test::ErrorRecorder::OnBreak::Throw);
  register_ntx_driver();
  {
    sample::DbfLayout layout;
    layout.fields = {{"CODE", 'C', 10}};
    layout.stored_count = kRecords;
    layout.eof_byte = false;
    std::vector<std::uint8_t> head = sample::build_dbf(layout, {});
    std::ofstream out("big.dbf", std::ios::binary);
    out.write(reinterpret_cast<const char*>(head.data()),
              static_cast<std::streamsize>(head.size()));
    std::string block;
    for (std::uint32_t i = 0; i < kRecords; ++i) {
      char rec[16];
      std::snprintf(rec, sizeof rec, " K%09u",
                    static_cast<unsigned>(std::uint64_t{i} * kStride % kRecords));
      block.append(rec, 11);
      if (block.size() >= (1 << 20)) {
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
        block.clear();
      }
    }
    out.write(block.data(), static_cast<std::streamsize>(block.size()));
  }
  ASSERT_LT(ntx_sort_capacity(kRecords, 10), kRecords) << "the build must spill runs";
  const std::uint64_t before = peak_kib();
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(DBUSEAREA(true, {}, Value("big")));
  DBCREATEINDEX(Value("big"), Value("CODE"), [] { return field_get("CODE"); });
  ASSERT_TRUE(errors.empty());
  EXPECT_EQ(1u, RECNO()) << "at the top: key 0, record 1";
  const std::uint64_t peak = peak_kib();
  const auto took = std::chrono::steady_clock::now() - start;
  DBCLOSEALL();
  std::printf(
      "build %lld ms, peak memory %llu KiB (%llu KiB before the build)\n",
      static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()),
      static_cast<unsigned long long>(peak), static_cast<unsigned long long>(before));
#ifndef LUM_SANITIZED
  if (peak != 0) {
    EXPECT_LT(peak, 64u * 1024) << "KiB";
  }
#endif

  // Every record once, in key order: key k belongs to the record i with i * 7919 = k.
  NtxFile f;
  ASSERT_TRUE(f.open("big.ntx", true, false));
  NtxTree t(f);
  std::uint32_t n = 0;
  for (TreeStep s = t.top(); s == TreeStep::Key; s = t.next(), ++n) {
    if (n % 4096 == 0) {
      ASSERT_TRUE(f.trim());  // as the work area does after each move
    }
    char want[16];
    std::snprintf(want, sizeof want, "K%09u", n);
    ASSERT_EQ(want, t.key()) << n;
    ASSERT_EQ(n, (std::uint64_t{t.record()} - 1) * kStride % kRecords) << n;
  }
  EXPECT_EQ(kRecords, n);
  EXPECT_TRUE(errors.empty());
}

}  // namespace
}  // namespace lum
