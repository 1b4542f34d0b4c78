// Building index files from entry sources: the exact bytes of small indexes, the
// bottom-up fill with right-edge balancing on leaf and branch levels, unique indexes,
// the sort area, and the spilled-run path that must give the same file as an in-memory
// sort.
#include "index/ntx_build.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "index/ntx_tree.h"
#include "ntx_fixture.h"
#include "platform/file.h"

namespace lum {
namespace {

using testing::ErrorLog;
using testing::padded;
using testing::RawPage;
using testing::TempDir;
using testing::VectorSource;

NtxHeader definition(int k, const std::string& expr = "KEYFIELD", bool unique = false) {
  NtxHeader h;
  h.key_expr = expr;
  h.key_size = static_cast<std::uint16_t>(k);
  h.unique = unique;
  return h;
}

// Builds `keys` (records 1..n) into `path`.
bool build(const std::string& path, const std::vector<std::string>& keys, int k,
           const NtxBuildOptions& opt = {}, NtxBuildStats* stats = nullptr, bool unique = false) {
  NtxFile f;
  if (!f.create(path, false)) return false;
  VectorSource src(keys, k);
  bool ok = create_ntx_index(f, definition(k, "KEYFIELD", unique), src, opt, stats);
  return f.close() && ok;
}

std::string num10(int i) {
  char b[16];
  std::snprintf(b, sizeof b, "K%09d", i);
  return b;
}

TEST(NtxBuild, EmptyTableGivesHeaderAndOneEmptyRoot) {
  Runtime rt;
  ErrorLog log(rt);
  TempDir dir;
  std::string path = dir.file("empty.ntx");
  ASSERT_TRUE(build(path, {}, 10));
  auto b = testing::read_bytes(path);
  ASSERT_EQ(2048u, b.size());
  EXPECT_EQ(0x0006, testing::le16(b, 0));
  EXPECT_EQ(1, testing::le16(b, 2)) << "a newly built index carries version 1";
  EXPECT_EQ(1024u, testing::le32(b, 4));
  EXPECT_EQ(0u, testing::le32(b, 8));
  EXPECT_EQ(18, testing::le16(b, 12));
  EXPECT_EQ(10, testing::le16(b, 14));
  EXPECT_EQ(50, testing::le16(b, 18));
  EXPECT_EQ(25, testing::le16(b, 20));
  EXPECT_EQ(0, testing::le16(b, 1024));
  for (int i = 0; i <= 50; ++i) EXPECT_EQ(104 + 18 * i, testing::le16(b, 1024 + 2 + 2 * i));
  EXPECT_EQ(0u, testing::le32(b, 1024 + 104));
  EXPECT_TRUE(log.empty());
}

TEST(NtxBuild, FiftyOneRecordsBalanceIntoTwoLeaves) {
  Runtime rt;
  ErrorLog log(rt);
  TempDir dir;
  std::string path = dir.file("fifty1.ntx");
  // Records in descending key order, so key order differs from record order.
  std::vector<std::string> keys;
  for (int i = 0; i < 51; ++i) keys.push_back(num10(100 - i));
  ASSERT_TRUE(build(path, keys, 10));
  auto b = testing::read_bytes(path);
  ASSERT_EQ(4096u, b.size());
  EXPECT_EQ(3072u, testing::le32(b, 4)) << "leaf, empty leaf, then the root";
  RawPage root = testing::raw_page(b, 3072);
  ASSERT_EQ(1, root.n);
  EXPECT_EQ(1024u, root.child[0]);
  EXPECT_EQ(2048u, root.child[1]);
  // Key order: record 51 holds the smallest key, record 1 the largest. The 26th
  // smallest is record 26.
  EXPECT_EQ(num10(75), root.key[0]);
  EXPECT_EQ(26u, root.rec[0]);
  RawPage left = testing::raw_page(b, 1024);
  RawPage right = testing::raw_page(b, 2048);
  ASSERT_EQ(25, left.n);
  ASSERT_EQ(25, right.n);
  for (int i = 0; i < 25; ++i) {
    EXPECT_EQ(static_cast<std::uint32_t>(51 - i), left.rec[i]);
    EXPECT_EQ(static_cast<std::uint32_t>(25 - i), right.rec[i]);
    EXPECT_EQ(0u, left.child[i]);
  }
  // The item after the last key holds only the rightmost child; the rest is zero.
  for (const RawPage* p : {&root, &left, &right}) {
    EXPECT_EQ(0u, p->rec.back());
    EXPECT_EQ(std::string(10, '\0'), p->key.back());
  }
  auto walk = testing::walk_tree(b);
  EXPECT_TRUE(walk.ok) << walk.defect;
}

TEST(NtxBuild, FiftyRecordsFitOneLeafWithoutBalancing) {
  Runtime rt;
  ErrorLog log(rt);
  TempDir dir;
  std::string path = dir.file("fifty.ntx");
  std::vector<std::string> keys;
  for (int i = 0; i < 50; ++i) keys.push_back(num10(i));
  NtxBuildStats st;
  ASSERT_TRUE(build(path, keys, 10, {}, &st));
  auto b = testing::read_bytes(path);
  EXPECT_EQ(2048u, b.size());
  EXPECT_EQ(1024u, testing::le32(b, 4));
  EXPECT_EQ(50, testing::le16(b, 1024));
  EXPECT_FALSE(st.balanced);
}

TEST(NtxBuild, ThreeLevelsBalanceBranchPagesWithoutLosingSubtrees) {
  Runtime rt;
  ErrorLog log(rt);
  TempDir dir;
  for (int n : {2601, 3000, 5101, 7651}) {
    std::string path = dir.file("three" + std::to_string(n) + ".ntx");
    std::vector<std::string> keys;
    std::mt19937 rng(n);
    for (int i = 0; i < n; ++i) keys.push_back(num10(static_cast<int>(rng() % 100000)));
    NtxBuildStats st;
    ASSERT_TRUE(build(path, keys, 10, {}, &st));
    auto b = testing::read_bytes(path);
    auto walk = testing::walk_tree(b);
    ASSERT_TRUE(walk.ok) << n << ": " << walk.defect;
    EXPECT_EQ(3, walk.depth) << n;
    // Every record exactly once, in key order, equal keys by record number.
    std::vector<std::pair<std::string, std::uint32_t>> want;
    for (int i = 0; i < n; ++i) want.emplace_back(keys[i], static_cast<std::uint32_t>(i + 1));
    std::stable_sort(want.begin(), want.end(),
                     [](const auto& x, const auto& y) { return x.first < y.first; });
    ASSERT_EQ(want, walk.entries) << n;
    // After balancing no page on the right edge below the root is under half full.
    std::uint32_t a = testing::le32(b, 4);
    for (int level = 1; level < 3; ++level) {
      a = testing::raw_page(b, a).child.back();
      EXPECT_GE(testing::raw_page(b, a).n, 25) << n << " level " << level;
    }
  }
}

TEST(NtxBuild, EqualKeysKeepRecordOrderAndUniqueKeepsTheFirst) {
  Runtime rt;
  ErrorLog log(rt);
  TempDir dir;
  {
    std::string path = dir.file("uniq.ntx");
    ASSERT_TRUE(build(path, {"A", "A", "B"}, 1, {}, nullptr, true));
    auto b = testing::read_bytes(path);
    EXPECT_EQ(1, b[278]);
    auto walk = testing::walk_tree(b);
    ASSERT_TRUE(walk.ok);
    std::vector<std::pair<std::string, std::uint32_t>> want = {{"A", 1}, {"B", 3}};
    EXPECT_EQ(want, walk.entries);
  }
  {
    std::string path = dir.file("dups.ntx");
    ASSERT_TRUE(build(path, {"B", "A", "B", "A", "A"}, 1));
    auto walk = testing::walk_tree(testing::read_bytes(path));
    std::vector<std::pair<std::string, std::uint32_t>> want = {
        {"A", 2}, {"A", 4}, {"A", 5}, {"B", 1}, {"B", 3}};
    EXPECT_EQ(want, walk.entries);
  }
}

TEST(NtxBuild, BinaryKeyBytesSortAsUnsignedBytes) {
  Runtime rt;
  ErrorLog log(rt);
  TempDir dir;
  std::string path = dir.file("bin.ntx");
  ASSERT_TRUE(build(path,
                    {std::string("\x90\x01", 2), std::string("\x12\x3C", 2),
                     std::string("\x00\x0D", 2), std::string("\xFF\xFF", 2)},
                    2));
  auto walk = testing::walk_tree(testing::read_bytes(path));
  std::vector<std::uint32_t> recs;
  for (auto& e : walk.entries) recs.push_back(e.second);
  EXPECT_EQ((std::vector<std::uint32_t>{3, 2, 1, 4}), recs);
}

TEST(NtxBuild, SortAreaCapacity) {
  struct Case {
    std::uint64_t n;
    int k;
    std::size_t c;
  } cases[] = {
      {1, 10, 1},
      {51, 10, 51},
      {1000000, 10, 137216},   // 128 * 268 = 34304, doubled twice to reach 74898
      {50000, 10, 50000},      // 7680 doubled to 122880, capped at N
      {100000, 10, 87040},     // 128 * 85 doubled three times: two runs
      {10000000, 10, 108288},  // 128 * 846, already above the floor
  };
  for (const Case& c : cases) EXPECT_EQ(c.c, ntx_sort_capacity(c.n, c.k)) << c.n;
}

TEST(NtxBuild, SpilledRunsGiveTheSameFileAsOneSortInMemory) {
  Runtime rt;
  ErrorLog log(rt);
  TempDir dir;
  std::mt19937 rng(42);
  for (int n : {0, 1, 7, 60, 500, 3001}) {
    std::vector<std::string> keys;
    for (int i = 0; i < n; ++i) {
      // Few distinct keys, so runs carry equal keys that must stay in record order.
      keys.push_back(padded(std::string(1 + rng() % 3, static_cast<char>('a' + rng() % 4)), 10));
    }
    for (bool unique : {false, true}) {
      std::string one = dir.file("one.ntx"), many = dir.file("many.ntx");
      NtxBuildStats s1, s2;
      ASSERT_TRUE(build(one, keys, 10, {}, &s1, unique));
      ASSERT_TRUE(build(many, keys, 10, NtxBuildOptions{7}, &s2, unique));
      EXPECT_EQ(0u, s1.runs);
      if (n > 7) {
        EXPECT_EQ(static_cast<std::size_t>((n + 6) / 7), s2.runs) << n;
      }
      EXPECT_EQ(testing::read_bytes(one), testing::read_bytes(many)) << n << " unique " << unique;
    }
  }
  EXPECT_TRUE(log.empty());
}

TEST(NtxBuild, SpillingWithOneEntryPerRunStillMerges) {
  Runtime rt;
  ErrorLog log(rt);
  TempDir dir;
  std::vector<std::string> keys = {"d", "b", "a", "c", "b", "a"};
  NtxBuildStats st;
  ASSERT_TRUE(build(dir.file("tiny.ntx"), keys, 1, NtxBuildOptions{1}, &st));
  EXPECT_EQ(6u, st.runs);
  auto walk = testing::walk_tree(testing::read_bytes(dir.file("tiny.ntx")));
  std::vector<std::pair<std::string, std::uint32_t>> want = {{"a", 3}, {"a", 6}, {"b", 2},
                                                             {"b", 5}, {"c", 4}, {"d", 1}};
  EXPECT_EQ(want, walk.entries);
}

TEST(NtxBuild, TemporaryFileWriteFailureIsReported) {
  Runtime rt;
  ErrorLog log(rt);
  TempDir dir;
  std::string temp;
  set_io_fault_hook(
      [&temp](IoOp op, const std::string& path, std::uint64_t, std::size_t, IoFault& fault) {
        if (op != IoOp::Write || path.find("lumntx") == std::string::npos) return false;
        temp = path;
        fault.allow = 3;
        fault.oscode = kOsDiskFull;
        return true;
      });
  std::vector<std::string> keys(40, "x");
  EXPECT_THROW(build(dir.file("fail.ntx"), keys, 1, NtxBuildOptions{8}), testing::RunBroken);
  set_io_fault_hook(nullptr);
  ASSERT_EQ(1u, log.errors().size());
  EXPECT_EQ(kErrWrite, log.last().gencode);
  EXPECT_EQ(1061, log.last().subcode);
  EXPECT_EQ("DBFNTX", log.last().subsystem);
  EXPECT_EQ(kOsDiskFull, log.last().oscode);
  // The temporary file is gone.
  ASSERT_FALSE(temp.empty());
  EXPECT_FALSE(std::filesystem::exists(temp)) << temp;
}

TEST(NtxBuild, IndexWriteFailureIsReported) {
  Runtime rt;
  ErrorLog log(rt);
  TempDir dir;
  std::string path = dir.file("wfail.ntx");
  set_io_fault_hook(
      [](IoOp op, const std::string& p, std::uint64_t off, std::size_t, IoFault& fault) {
        if (op != IoOp::Write || p.find("wfail") == std::string::npos || off == 0) return false;
        fault.allow = 100;
        fault.oscode = kOsDiskFull;
        return true;
      });
  std::vector<std::string> keys(200, "y");
  NtxFile f;
  ASSERT_TRUE(f.create(path, false));
  VectorSource src(keys, 1);
  EXPECT_THROW(create_ntx_index(f, definition(1), src), testing::RunBroken);
  set_io_fault_hook(nullptr);
  ASSERT_EQ(1u, log.errors().size());
  EXPECT_EQ(kErrWrite, log.last().gencode);
  EXPECT_EQ(1011, log.last().subcode);
  EXPECT_EQ(path, log.last().filename);
}

}  // namespace
}  // namespace lum
