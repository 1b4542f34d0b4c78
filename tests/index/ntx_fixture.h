// Shared pieces of the index tests: a fresh temporary directory, an error handler that
// records errors and breaks the way the run's handler does, an entry source over a
// vector, and an independent reader of NTX bytes that walks a tree and checks its rules.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "index/ntx_build.h"
#include "runtime/error.h"
#include "runtime/runtime.h"
#include "tests/support/temp_dir.h"

namespace lum::testing {

// A fresh temporary directory, removed afterwards; file() names a file in it.
struct TempDir : test::TempDir {
  std::string file(const std::string& name) const { return (path() / name).string(); }
};

// Thrown by the test handler where the run's handler would end the run.
struct RunBroken : std::runtime_error {
  RunBroken() : std::runtime_error("run broken by an error") {}
};

// Records every error; answers "default" when the error allows it, else breaks.
class ErrorLog {
 public:
  explicit ErrorLog(Runtime& rt) {
    rt.install_handler([this](ErrorObject& e) -> Value {
      errors_.push_back(e);
      if (e.can_default) return Value::logical(false);
      throw RunBroken();
    });
  }
  const std::vector<ErrorObject>& errors() const { return errors_; }
  bool empty() const { return errors_.empty(); }
  const ErrorObject& last() const { return errors_.back(); }
  void clear() { errors_.clear(); }

 private:
  std::vector<ErrorObject> errors_;
};

// Entries (key text, record number) handed out in the order given.
class VectorSource : public NtxKeySource {
 public:
  VectorSource(std::vector<std::string> keys, int key_size) : key_size_(key_size) {
    for (std::size_t i = 0; i < keys.size(); ++i) {
      entries_.emplace_back(std::move(keys[i]), static_cast<std::uint32_t>(i + 1));
    }
  }
  std::uint64_t record_count() const override { return entries_.size(); }
  Next next(std::uint8_t* key, std::uint32_t& rec) override {
    if (pos_ == entries_.size()) return Next::End;
    const auto& [k, r] = entries_[pos_++];
    std::memset(key, ' ', static_cast<std::size_t>(key_size_));
    std::memcpy(key, k.data(), std::min(k.size(), static_cast<std::size_t>(key_size_)));
    rec = r;
    return Next::Entry;
  }

 private:
  int key_size_;
  std::vector<std::pair<std::string, std::uint32_t>> entries_;
  std::size_t pos_ = 0;
};

inline std::vector<std::uint8_t> read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void write_bytes(const std::string& path, const std::vector<std::uint8_t>& b) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

inline std::uint16_t le16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint16_t>(b.at(at) | (b.at(at + 1) << 8));
}
inline std::uint32_t le32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint32_t>(le16(b, at)) |
         (static_cast<std::uint32_t>(le16(b, at + 2)) << 16);
}

// One page read straight from the file bytes.
struct RawPage {
  int n = 0;
  std::vector<std::uint32_t> child;  // n + 1 entries
  std::vector<std::uint32_t> rec;    // n + 1 entries (the last one is the rightmost item's)
  std::vector<std::string> key;      // n + 1 entries
};

inline RawPage raw_page(const std::vector<std::uint8_t>& b, std::uint32_t addr) {
  RawPage p;
  int k = le16(b, 14);
  p.n = le16(b, addr);
  for (int i = 0; i <= p.n; ++i) {
    std::size_t item = addr + le16(b, addr + 2 + 2 * i);
    p.child.push_back(le32(b, item));
    p.rec.push_back(le32(b, item + 4));
    p.key.emplace_back(reinterpret_cast<const char*>(&b.at(item + 8)), static_cast<std::size_t>(k));
  }
  return p;
}

// Walks the tree from the root in order, checking that every page holds at most M keys,
// that keys never go backwards, that all leaves lie at one depth and that the rightmost
// items carry zero record and key. Returns the entries in order.
struct TreeWalk {
  std::vector<std::pair<std::string, std::uint32_t>> entries;
  int depth = 0;
  bool ok = true;
  std::string defect;
};

inline void walk_page(const std::vector<std::uint8_t>& b, std::uint32_t addr, int depth,
                      TreeWalk& w) {
  if (!w.ok) return;
  if (addr == 0 || addr % 1024 != 0 || addr + 1024 > b.size() || depth > 32) {
    w.ok = false;
    w.defect = "bad page address " + std::to_string(addr);
    return;
  }
  RawPage p = raw_page(b, addr);
  int m = le16(b, 18);
  if (p.n > m) {
    w.ok = false;
    w.defect = "too many keys";
    return;
  }
  std::string zeros(p.key.back().size(), '\0');
  if (p.rec.back() != 0 || p.key.back() != zeros) {
    w.ok = false;
    w.defect = "rightmost item carries a record or key at " + std::to_string(addr);
  }
  bool leaf = p.child[0] == 0;
  for (int i = 0; i <= p.n; ++i) {
    if ((p.child[i] == 0) != leaf) {
      w.ok = false;
      w.defect = "mixed leaf and branch children at " + std::to_string(addr);
      return;
    }
  }
  if (leaf) {
    if (w.depth == 0) w.depth = depth;
    if (w.depth != depth) {
      w.ok = false;
      w.defect = "leaves at different depths";
    }
  }
  for (int i = 0; i <= p.n; ++i) {
    if (!leaf) walk_page(b, p.child[i], depth + 1, w);
    if (i == p.n) break;
    if (!w.entries.empty() && w.entries.back().first > p.key[i]) {
      w.ok = false;
      w.defect = "keys out of order at " + std::to_string(addr);
    }
    w.entries.emplace_back(p.key[i], p.rec[i]);
  }
}

inline TreeWalk walk_tree(const std::vector<std::uint8_t>& b) {
  TreeWalk w;
  walk_page(b, le32(b, 4), 1, w);
  return w;
}

// A key text padded with blanks to k bytes.
inline std::string padded(std::string s, int k) {
  s.resize(static_cast<std::size_t>(k), ' ');
  return s;
}

}  // namespace lum::testing
