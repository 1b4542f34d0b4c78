// The tree as an ordered list, checked against a std::multimap model: walks in both
// directions, seeks of every kind, single-key insert and removal with page splits,
// merges and the free chain, and flushing with the version counter.
#include "index/ntx_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "index/ntx_build.h"
#include "ntx_fixture.h"

namespace lum {
namespace {

using testing::ErrorLog;
using testing::padded;
using testing::TempDir;
using testing::VectorSource;

using Model = std::multimap<std::string, std::uint32_t>;
using Entries = std::vector<std::pair<std::string, std::uint32_t>>;

Entries model_entries(const Model& m) { return Entries(m.begin(), m.end()); }

// Creates an index over `keys` (records 1..n) and leaves it open in `f`.
void open_built(NtxFile& f, const std::string& path, const std::vector<std::string>& keys, int k,
                std::size_t capacity = 0) {
  ASSERT_TRUE(f.create(path, false));
  NtxHeader h;
  h.key_expr = "F";
  h.key_size = static_cast<std::uint16_t>(k);
  VectorSource src(keys, k);
  ASSERT_TRUE(create_ntx_index(f, h, src, NtxBuildOptions{capacity}));
}

Entries walk_forward(NtxTree& t) {
  Entries out;
  for (TreeStep s = t.top(); s == TreeStep::Key; s = t.next()) {
    out.emplace_back(t.key(), t.record());
  }
  return out;
}

Entries walk_backward(NtxTree& t) {
  Entries out;
  for (TreeStep s = t.bottom(); s == TreeStep::Key; s = t.prev()) {
    out.emplace_back(t.key(), t.record());
  }
  std::reverse(out.begin(), out.end());
  return out;
}

// Free pages reachable through the chain in the file bytes.
std::size_t free_chain_length(const std::vector<std::uint8_t>& b) {
  std::size_t n = 0;
  for (std::uint32_t a = testing::le32(b, 8); a != 0 && n < b.size() / 1024; ++n) {
    a = testing::le32(b, a + testing::le16(b, a + 2));
  }
  return n;
}

TEST(NtxTree, RandomTablesWalkAndSeekLikeTheModel) {
  Runtime rt;
  ErrorLog log(rt);
  TempDir dir;
  std::mt19937 rng(20240611);
  for (int trial = 0; trial < 40; ++trial) {
    int k = 1 + static_cast<int>(rng() % 12);
    if (trial % 5 == 4) k = 60;  // twelve keys a page: deep trees
    int n = static_cast<int>(rng() % (trial % 3 == 0 ? 3000 : 400));
    std::vector<std::string> keys;
    Model model;
    for (int i = 0; i < n; ++i) {
      std::string key;
      int len = 1 + static_cast<int>(rng() % k);
      for (int j = 0; j < len; ++j) key += static_cast<char>('a' + rng() % 3);
      keys.push_back(key);
      model.emplace(padded(key, k), static_cast<std::uint32_t>(i + 1));
    }
    NtxFile f;
    std::size_t capacity = trial % 2 == 0 ? 0 : 1 + rng() % 50;
    open_built(f, dir.file("t.ntx"), keys, k, capacity);
    NtxTree t(f);
    Entries want = model_entries(model);
    ASSERT_EQ(want, walk_forward(t)) << "trial " << trial;
    ASSERT_EQ(want, walk_backward(t)) << "trial " << trial;

    for (int probe = 0; probe < 60 && n > 0; ++probe) {
      // A prefix of an existing key (possibly empty, possibly the whole key).
      const std::string& full = padded(keys[rng() % keys.size()], k);
      std::string prefix = full.substr(0, rng() % (k + 1));
      auto first = model.lower_bound(prefix);
      auto past = std::find_if(first, model.end(), [&](const auto& e) {
        return e.first.compare(0, prefix.size(), prefix) != 0;
      });
      ASSERT_NE(first, past);
      NtxTree::SeekResult r = t.seek(make_search_key(Value(prefix), k, 0, false));
      ASSERT_EQ(TreeStep::Key, r.step);
      EXPECT_TRUE(r.found) << prefix;
      EXPECT_EQ(first->second, t.record()) << "first of '" << prefix << "'";
      r = t.seek(make_search_key(Value(prefix), k, 0, true));
      ASSERT_EQ(TreeStep::Key, r.step);
      EXPECT_TRUE(r.found);
      EXPECT_EQ(std::prev(past)->second, t.record()) << "last of '" << prefix << "'";
    }
    for (int probe = 0; probe < 30; ++probe) {
      // Any text: found when some key starts with it; else on the next greater key.
      std::string text;
      int len = static_cast<int>(rng() % (k + 2));
      for (int j = 0; j < len; ++j) text += static_cast<char>('a' + rng() % 4);
      std::string cut = text.substr(0, static_cast<std::size_t>(k));
      auto at = model.lower_bound(cut);
      bool exists = at != model.end() && at->first.compare(0, cut.size(), cut) == 0;
      NtxTree::SeekResult r = t.seek(make_search_key(Value(text), k, 0, false));
      EXPECT_EQ(exists, r.found) << text;
      if (at == model.end()) {
        EXPECT_EQ(TreeStep::End, r.step) << text;
      } else {
        ASSERT_EQ(TreeStep::Key, r.step) << text;
        EXPECT_EQ(at->second, t.record()) << text;
      }
    }
  }
  EXPECT_TRUE(log.empty());
}

TEST(NtxTree, EmptyIndexHasNoKeys) {
  Runtime rt;
  ErrorLog log(rt);
  TempDir dir;
  NtxFile f;
  open_built(f, dir.file("e.ntx"), {}, 5);
  NtxTree t(f);
  EXPECT_EQ(TreeStep::End, t.top());
  EXPECT_EQ(TreeStep::End, t.bottom());
  NtxTree::SeekResult r = t.seek(make_search_key(Value(""), 5, 0, false));
  EXPECT_EQ(TreeStep::End, r.step);
  EXPECT_FALSE(r.found);
}

TEST(NtxTree, InsertAndRemoveKeepTheTreeAndReuseFreePages) {
  Runtime rt;
  ErrorLog log(rt);
  TempDir dir;
  for (int k : {256, 100, 3}) {
    std::mt19937 rng(k);
    std::string path = dir.file("ins" + std::to_string(k) + ".ntx");
    std::vector<std::string> keys;
    Model model;
    for (int i = 0; i < 120; ++i) {
      keys.push_back(std::string(1, static_cast<char>('a' + rng() % 20)));
      model.emplace(padded(keys.back(), k), static_cast<std::uint32_t>(i + 1));
    }
    NtxFile f;
    open_built(f, path, keys, k);
    f.set_cache_limit(4);  // pages leave the cache and come back between operations
    NtxTree t(f);
    std::uint32_t next_rec = 121;
    bool saw_free_pages = false;
    for (int op = 0; op < 1500; ++op) {
      bool grow = op < 500 ? rng() % 3 != 0 : (op < 1000 ? rng() % 3 == 0 : rng() % 2 == 0);
      if (grow || model.empty()) {
        std::string key =
            padded(std::string(1 + rng() % 2, static_cast<char>('a' + rng() % 20)), k);
        ASSERT_TRUE(t.insert(reinterpret_cast<const std::uint8_t*>(key.data()), next_rec));
        model.emplace(key, next_rec++);
      } else {
        auto it = model.begin();
        std::advance(it, static_cast<long>(rng() % model.size()));
        bool removed = false;
        ASSERT_TRUE(
            t.remove(reinterpret_cast<const std::uint8_t*>(it->first.data()), it->second, removed));
        ASSERT_TRUE(removed);
        model.erase(it);
        // A record that is not there is left alone.
        std::string absent = padded("zz", k);
        ASSERT_TRUE(t.remove(reinterpret_cast<const std::uint8_t*>(absent.data()), 1, removed));
        EXPECT_FALSE(removed);
      }
      ASSERT_TRUE(f.trim());
      if (op % 100 == 99 || op == 1499) {
        ASSERT_TRUE(f.flush());
        auto b = testing::read_bytes(path);
        auto w = testing::walk_tree(b);
        ASSERT_TRUE(w.ok) << "K " << k << " op " << op << ": " << w.defect;
        ASSERT_EQ(model_entries(model), w.entries) << "K " << k << " op " << op;
        ASSERT_EQ(model_entries(model), walk_forward(t));
        // Every page is either in the tree or on the free chain.
        std::size_t free_pages = free_chain_length(b);
        saw_free_pages = saw_free_pages || free_pages > 0;
        std::size_t reachable = 0;
        std::vector<std::uint32_t> todo = {testing::le32(b, 4)};
        while (!todo.empty()) {
          auto p = testing::raw_page(b, todo.back());
          todo.pop_back();
          ++reachable;
          if (todo.size() + reachable > b.size()) break;
          if (p.child[0] != 0) todo.insert(todo.end(), p.child.begin(), p.child.end());
          if (reachable > 1 && p.n < f.header().max_keys / 2) {
            ADD_FAILURE() << "page under half full, K " << k << " op " << op;
          }
        }
        EXPECT_EQ(b.size() / 1024 - 1, reachable + free_pages) << "K " << k << " op " << op;
      }
    }
    EXPECT_TRUE(saw_free_pages) << "K " << k;
    ASSERT_TRUE(f.close());
  }
  EXPECT_TRUE(log.empty());
}

TEST(NtxTree, InsertedEqualKeysFollowRecordOrder) {
  Runtime rt;
  ErrorLog log(rt);
  TempDir dir;
  NtxFile f;
  open_built(f, dir.file("eq.ntx"), {"b", "a", "b"}, 1);
  NtxTree t(f);
  const std::uint8_t b = 'b', a = 'a';
  ASSERT_TRUE(t.insert(&b, 2));  // between records 1 and 3
  ASSERT_TRUE(t.insert(&a, 9));
  ASSERT_TRUE(t.insert(&a, 0));
  Entries want = {{"a", 0}, {"a", 2}, {"a", 9}, {"b", 1}, {"b", 2}, {"b", 3}};
  EXPECT_EQ(want, walk_forward(t));
  bool exact = false;
  ASSERT_EQ(TreeStep::Key, t.locate(&b, 2, exact));
  EXPECT_TRUE(exact);
  EXPECT_EQ(2u, t.record());
  ASSERT_EQ(TreeStep::Key, t.locate(&a, 5, exact));
  EXPECT_FALSE(exact);
  EXPECT_EQ(9u, t.record()) << "the entry after (a, 5)";
}

TEST(NtxTree, FlushWritesTheShortHeaderWithTheNextVersion) {
  Runtime rt;
  ErrorLog log(rt);
  TempDir dir;
  std::string path = dir.file("v.ntx");
  NtxFile f;
  open_built(f, path, {"x", "y"}, 1);
  auto before = testing::read_bytes(path);
  EXPECT_EQ(1, testing::le16(before, 2));
  ASSERT_TRUE(f.flush());
  EXPECT_EQ(before, testing::read_bytes(path)) << "nothing changed, nothing written";
  NtxTree t(f);
  const std::uint8_t z = 'z';
  ASSERT_TRUE(t.insert(&z, 3));
  ASSERT_TRUE(f.flush());
  auto after = testing::read_bytes(path);
  EXPECT_EQ(2, testing::le16(after, 2));
  EXPECT_TRUE(std::equal(before.begin() + 12, before.begin() + 1024, after.begin() + 12));
  ASSERT_TRUE(f.flush());
  EXPECT_EQ(2, testing::le16(testing::read_bytes(path), 2));
  f.header().version = 65535;
  ASSERT_TRUE(f.write_header(false));
  EXPECT_EQ(0, testing::le16(testing::read_bytes(path), 2)) << "the counter wraps at 65536";
}

}  // namespace
}  // namespace lum
