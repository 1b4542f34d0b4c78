// Damaged index files: every defect ends in "Corruption detected" or "Read error" naming
// the file, never in a crash or an endless walk; a file that cannot be created or opened
// is retried as the handler asks.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "index/ntx_build.h"
#include "index/ntx_tree.h"
#include "ntx_fixture.h"

namespace lum {
namespace {

using testing::ErrorLog;
using testing::RunBroken;
using testing::TempDir;
using testing::VectorSource;

// An index of `n` keys of size 10 in a file of its own; returns its bytes.
std::vector<std::uint8_t> make_index(const std::string& path, int n) {
  NtxFile f;
  EXPECT_TRUE(f.create(path, false));
  std::vector<std::string> keys;
  for (int i = 0; i < n; ++i) keys.push_back("key" + std::to_string(i * 7919 % 100003));
  NtxHeader h;
  h.key_expr = "F";
  h.key_size = 10;
  VectorSource src(keys, 10);
  EXPECT_TRUE(create_ntx_index(f, h, src));
  EXPECT_TRUE(f.close());
  return testing::read_bytes(path);
}

// Opens the file and walks and seeks it; returns the errors raised on the way.
std::vector<ErrorObject> exercise(Runtime& rt, const std::string& path, bool write) {
  ErrorLog log(rt);
  try {
    NtxFile f;
    if (f.open(path, false, false)) {
      NtxTree t(f);
      int steps = 0;
      for (TreeStep s = t.top(); s == TreeStep::Key && steps < 20000; s = t.next()) ++steps;
      steps = 0;
      for (TreeStep s = t.bottom(); s == TreeStep::Key && steps < 20000; s = t.prev()) ++steps;
      for (const char* probe : {"key1", "key5", "", "zzz"}) {
        t.seek(make_search_key(Value(probe), 10, 0, false));
        t.seek(make_search_key(Value(probe), 10, 0, true));
      }
      if (write) {
        std::string k = "key77     ";
        bool removed = false;
        t.insert(reinterpret_cast<const std::uint8_t*>(k.data()), 99999);
        t.remove(reinterpret_cast<const std::uint8_t*>(k.data()), 99999, removed);
        f.close();
      }
    }
  } catch (const RunBroken&) {
  }
  return log.errors();
}

TEST(NtxDamage, StatedErrors) {
  Runtime rt;
  TempDir dir;
  std::string path = dir.file("d.ntx");
  const std::vector<std::uint8_t> good = make_index(path, 3000);
  std::uint32_t root = testing::le32(good, 4);
  struct Case {
    const char* what;
    std::function<void(std::vector<std::uint8_t>&)> damage;
    int gencode;
    int subcode;
  } cases[] = {
      {"signature without the index bits", [](auto& b) { b[0] = 0x02; }, 32, 1012},
      {"layout bit 0x1000", [](auto& b) { b[1] = 0x10; }, 32, 1012},
      {"expression starting with a control byte", [](auto& b) { b[22] = 0x01; }, 32, 1012},
      {"no root", [](auto& b) { b[4] = b[5] = b[6] = b[7] = 0; }, 32, 1012},
      {"file cut inside the tree", [](auto& b) { b.resize(4096); }, 23, 1010},
      {"header cut short", [](auto& b) { b.resize(500); }, 23, 1010},
      {"root beyond the end", [](auto& b) { b[7] = 0x10; }, 23, 1010},
      {"root off the block grid", [](auto& b) { b[4] = 0x01; }, 32, 1012},
      {"page count above M", [root](auto& b) { b[root] = 51; }, 32, 1012},
      {"slot outside the page", [root](auto& b) { b[root + 3] = 0x7F; }, 32, 1012},
      {"child loops back to the root",
       [root](auto& b) {
         std::size_t item = root + testing::le16(b, root + 2);
         b[item] = static_cast<std::uint8_t>(root);
         b[item + 1] = static_cast<std::uint8_t>(root >> 8);
         b[item + 2] = static_cast<std::uint8_t>(root >> 16);
       },
       32, 1012},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> b = good;
    c.damage(b);
    testing::write_bytes(path, b);
    std::vector<ErrorObject> errors = exercise(rt, path, false);
    ASSERT_FALSE(errors.empty()) << c.what;
    EXPECT_EQ(c.gencode, errors.front().gencode) << c.what;
    EXPECT_EQ(c.subcode, errors.front().subcode) << c.what;
    EXPECT_EQ("DBFNTX", errors.front().subsystem) << c.what;
    EXPECT_EQ(path, errors.front().filename) << c.what;
  }
  testing::write_bytes(path, good);
  EXPECT_TRUE(exercise(rt, path, true).empty()) << "the undamaged file raises nothing";
}

// Pages shared between parents: every child address of four branch levels names the
// same page below, so that a walk would pass the one leaf 51^4 times. Walking on ends
// in "Corruption detected" once it has stepped over more entries than the file has
// room for (the test's own guard of 20000 steps is never reached).
TEST(NtxDamage, PagesSharedBetweenParentsEndTheWalk) {
  Runtime rt;
  TempDir dir;
  std::string path = dir.file("shared.ntx");
  {
    NtxFile f;
    ASSERT_TRUE(f.create(path, false));
    f.header().key_expr = "F";
    f.header().set_geometry(10, 0);
    ASSERT_TRUE(f.reset());
    NtxAddr pages[5];
    for (NtxAddr& a : pages) a = f.new_page();
    for (int level = 0; level < 5; ++level) {
      NtxPageView v = f.view(f.page(pages[level]));
      const NtxAddr below = level < 4 ? pages[level + 1] : 0;
      for (int i = 0; i < v.max_keys(); ++i) {
        std::string key = "key" + std::to_string(100 + i) + "    ";
        v.insert_slot(i);
        v.set_entry(i, below, static_cast<std::uint32_t>(i + 1),
                    reinterpret_cast<const std::uint8_t*>(key.data()));
      }
      v.set_child(v.count(), below);
      f.touch(pages[level]);
    }
    f.header().root = pages[0];
    f.header_changed(true);
    ASSERT_TRUE(f.close());
  }
  std::vector<ErrorObject> errors = exercise(rt, path, false);
  ASSERT_FALSE(errors.empty());
  EXPECT_EQ(32, errors.front().gencode);
  EXPECT_EQ(1012, errors.front().subcode);
  EXPECT_EQ(path, errors.front().filename);
}

TEST(NtxDamage, RandomByteFlipsNeverCrash) {
  Runtime rt;
  TempDir dir;
  std::string path = dir.file("f.ntx");
  const std::vector<std::uint8_t> good = make_index(path, 1500);
  std::mt19937 rng(7);
  int reported = 0;
  for (int round = 0; round < 300; ++round) {
    std::vector<std::uint8_t> b = good;
    int flips = 1 + static_cast<int>(rng() % 6);
    for (int i = 0; i < flips; ++i) {
      // Mostly pages, sometimes the header's first fields.
      std::size_t at = rng() % 8 == 0 ? rng() % 24 : rng() % b.size();
      b[at] = static_cast<std::uint8_t>(rng());
    }
    testing::write_bytes(path, b);
    for (const ErrorObject& e : exercise(rt, path, round % 2 == 0)) {
      ++reported;
      EXPECT_TRUE((e.gencode == 32 && e.subcode == 1012) || (e.gencode == 23 && e.subcode == 1010))
          << e.gencode << "/" << e.subcode;
    }
  }
  EXPECT_GT(reported, 0);
}

// A file that cannot be created (its directory is missing) or opened (it is missing):
// each retry tries again with the same error object, so TRIES counts the retries; a
// retry after the cause is gone succeeds.
TEST(NtxFileErrors, CreateAndOpenAreRetriedWithOneErrorObject) {
  struct Case {
    const char* what;
    bool create;
    int gencode, subcode, oscode;
  } cases[] = {
      {"create", true, kErrCreate, 1006, kOsPathNotFound},
      {"open", false, kErrOpen, 1001, kOsFileNotFound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Runtime rt;
    TempDir dir;
    const std::string path = dir.file(c.create ? "later/x.ntx" : "x.ntx");
    std::vector<ErrorObject> seen;
    int retries = 2;
    rt.install_handler([&](ErrorObject& e) {
      seen.push_back(e);
      return Value::logical(retries-- > 0);  // two retries, then the default
    });
    NtxFile f;
    EXPECT_FALSE(c.create ? f.create(path, false) : f.open(path, false, false));
    ASSERT_EQ(3u, seen.size());
    for (std::size_t i = 0; i < seen.size(); ++i) {
      EXPECT_EQ(c.gencode, seen[i].gencode);
      EXPECT_EQ(c.subcode, seen[i].subcode);
      EXPECT_EQ("DBFNTX", seen[i].subsystem);
      EXPECT_EQ(path, seen[i].filename);
      EXPECT_EQ(c.oscode, seen[i].oscode);
      EXPECT_EQ(kCanRetry | kCanDefault, seen[i].flags());
      EXPECT_EQ(static_cast<int>(i), seen[i].tries);
    }

    // The handler removes the cause and retries: the second attempt succeeds.
    seen.clear();
    rt.install_handler([&](ErrorObject& e) {
      seen.push_back(e);
      if (c.create) {
        std::filesystem::create_directories(dir.path() / "later");
      } else {
        make_index(path, 5);
      }
      return Value::logical(true);
    });
    NtxFile g;
    EXPECT_TRUE(c.create ? g.create(path, false) : g.open(path, false, false));
    EXPECT_EQ(1u, seen.size());
    g.close();
  }
}

}  // namespace
}  // namespace lum
