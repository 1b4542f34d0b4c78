// The B-tree of an NTX file seen as one ordered list of (key, record number) entries: a
// cursor that walks it in key order, the seek of a search key, and single-key insert and
// removal that keep the tree rule, the page layout and the page limits.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "index/ntx_file.h"
#include "index/ntx_key.h"

namespace lum {

// Where a move of the cursor ended.
enum class TreeStep : std::uint8_t {
  Key,     // on a key
  End,     // no key in that direction (the cursor is then not positioned)
  Failed,  // a page could not be read; the error has been raised
};

class NtxTree {
 public:
  // REQUIRES: the file stays open and its header defined while the tree is used.
  explicit NtxTree(NtxFile& file) : f_(file) {}

  TreeStep top();
  TreeStep bottom();
  // REQUIRES: positioned().
  TreeStep next();
  TreeStep prev();

  struct SeekResult {
    TreeStep step = TreeStep::End;  // Key: positioned at the landing key
    bool found = false;
  };
  // Finds the first key (the last one with key.last) whose first key.len bytes equal the
  // search bytes. Found: positioned there. Not found: positioned at the next greater key,
  // or End when there is none.
  SeekResult seek(const SearchKey& key);

  // Positions on the entry (key, rec): `exact` tells whether it exists; otherwise the
  // cursor is on the first entry after it (End when there is none).
  TreeStep locate(const std::uint8_t* key, std::uint32_t rec, bool& exact);

  // Inserts the entry (key, rec) after the equal keys of lower record numbers, splitting
  // full pages upwards. The cursor is left unpositioned.
  bool insert(const std::uint8_t* key, std::uint32_t rec);
  // Removes the entry (key, rec) when present (`removed` tells), refilling pages that
  // fall below half full from a neighbour or merging them; freed pages go to the free
  // chain. The cursor is left unpositioned.
  bool remove(const std::uint8_t* key, std::uint32_t rec, bool& removed);

  // True while the cursor is on a key and no insert or removal happened since.
  bool positioned() const { return !path_.empty() && gen_ == f_.generation(); }
  void invalidate() { path_.clear(); }
  // The current key and its record number. REQUIRES: positioned().
  const std::string& key() const { return key_; }
  std::uint32_t record() const { return rec_; }

 private:
  struct Level {
    NtxAddr page;
    int slot;
  };
  struct Item {
    NtxAddr child;
    std::uint32_t rec;
    std::string key;
  };

  int compare(const std::uint8_t* a, std::size_t la, const std::uint8_t* b, std::size_t lb,
              bool exact) const {
    int c = compare_keys(a, la, b, lb, exact);
    return f_.header().descending ? -c : c;
  }
  NtxPageView view(NtxAddr a, bool& ok);
  // Forgets the position after a failed page read; always TreeStep::Failed.
  TreeStep lost() {
    path_.clear();
    return TreeStep::Failed;
  }
  // The same for insert and removal; always false.
  bool forget() {
    path_.clear();
    return false;
  }
  bool push(NtxAddr a, int slot);
  // Counts one step of a walk in direction `dir` (+1 or -1); false, with the damage
  // reported, once the walk has visited more entries than the file can hold.
  bool count_step(int dir);
  TreeStep descend_left();
  TreeStep descend_right();
  TreeStep settle_forward();
  TreeStep settle_backward();
  TreeStep load_current();
  // Path to the insertion point of (key, rec); the last level is a leaf.
  bool descend_to(const std::uint8_t* key, std::uint32_t rec);
  bool split_insert(std::size_t level, Item item);
  bool fix_underflow(std::size_t level);
  void read_items(const NtxPageView& v, std::vector<Item>& items, NtxAddr& rightmost) const;
  void write_items(NtxPageView& v, const std::vector<Item>& items, std::size_t from, std::size_t to,
                   NtxAddr rightmost) const;

  NtxFile& f_;
  std::array<std::uint8_t, kNtxBlockSize> empty_page_{};
  std::vector<Level> path_;
  std::uint64_t gen_ = 0;
  // The walk since the cursor was last placed: its direction (0: none yet), the entries
  // it has stepped over and the most a sound tree in this file could give it.
  int walk_dir_ = 0;
  std::uint64_t walk_steps_ = 0;
  std::uint64_t walk_bound_ = 0;
  std::string key_;
  std::uint32_t rec_ = 0;
};

// Moves key i of `parent` down to the front of `right` and the last key of `left` up
// into its place: the key going down takes left's rightmost child, the key going up
// keeps `left` as its child, and left's new rightmost child is the old child of the key
// that went up. REQUIRES: left = child i, right = child i + 1, left non-empty, right
// not full.
void ntx_rotate_right(NtxPageView& parent, int i, NtxPageView& left, NtxPageView& right);
// The mirror move: key i of `parent` goes down to the end of `left` (taking left's
// rightmost child) and the first key of `right` goes up, its child becoming left's new
// rightmost child. REQUIRES: right non-empty, left not full.
void ntx_rotate_left(NtxPageView& parent, int i, NtxPageView& left, NtxPageView& right);

}  // namespace lum
